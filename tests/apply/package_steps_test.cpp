// The actions of a package in the order the program applies them, built from its records: what
// the program runs and what a preview of the package lists.
#include <gtest/gtest.h>

#include "apply/package_steps.h"
#include "package/diff_distribute.h"
#include "package/object_records.h"
#include "support/package_action_text.h"
#include "support/tree_picture.h"

#include <string>
#include <vector>

using namespace brindle;
using brindle::test::DescribeAction;
using brindle::test::FileRecordXml;
using brindle::test::Parse;
using brindle::test::ShortcutRecordXml;
using brindle::test::ValueRecordXml;

TEST(PackageSteps, EachGroupsRecordsComeInTheProgramsPassOrder) {
  auto document =
      Parse(L"<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo><DeleteObjects>" +
            FileRecordXml(L"d1") + FileRecordXml(L"dcom", L"", true) + ValueRecordXml(L"dv") +
            ShortcutRecordXml(L"ds") + L"</DeleteObjects><UpdateObjects>" +
            FileRecordXml(L"ucom", L"u", true) + ValueRecordXml(L"uv") + ShortcutRecordXml(L"us") +
            L"</UpdateObjects><AddObjects>" + ShortcutRecordXml(L"as") + ValueRecordXml(L"av") +
            FileRecordXml(L"a1", L"a") + L"</AddObjects></DiffDistribute>");
  CQXDiffDistribute package;
  ASSERT_EQ(package.FromXML(document->GetRoot()), 0);
  std::vector<std::wstring> plan;
  for (const PackageAction& action : PlanPackageActions(package)) plan.push_back(DescribeAction(action));
  EXPECT_EQ(plan,
            (std::vector<std::wstring>{L"UNREGISTER_COM dcom", L"DELETE_SHORTCUT ds", L"DELETE_REG dv",
                                       L"DELETE_FILE d1", L"DELETE_FILE dcom", L"(log)",  // uninstall targets
                                       L"UNREGISTER_COM ucom", L"UPDATE_FILE_DELETE ucom",
                                       L"UPDATE_FILE_ADD ucom", L"(log) ucom", L"UPDATE_REG_DELETE uv",
                                       L"UPDATE_REG_ADD uv", L"UPDATE_SHORTCUT_DELETE us",
                                       L"UPDATE_SHORTCUT_ADD us", L"(log)",  // uninstall custom function
                                       L"ADD_FILE a1", L"ADD_REG av", L"ADD_SHORTCUT as", L"(log)"}));
  // The program runs the same passes, section by section.
  size_t passes = 0;
  for (PackageSection section : PackageSections()) passes += PassesOf(section).size();
  EXPECT_EQ(passes, PackageSteps().size());
}
