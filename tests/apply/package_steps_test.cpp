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
using brindle::test::Parse;

TEST(PackageSteps, EachGroupsRecordsComeInTheProgramsPassOrder) {
  const std::wstring file = L"<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>";
  const std::wstring com = L"<File COM=\"INST_REG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>";
  auto value = [](const std::wstring& name) {
    return L"<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">Software\\T</RegKeyPath><RegValueName>" +
           name + L"</RegValueName><RegData Type=\"REG_SZ\">x</RegData></Registry>";
  };
  auto link = [](const std::wstring& name) {
    return L"<ShortCut><SCName Type=\"INST_DSC\">" + name + L"</SCName></ShortCut>";
  };
  auto document = Parse(
      L"<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo><DeleteObjects>" + file + L"d1</FullPath></File>" +
      com + L"dcom</FullPath></File>" + value(L"dv") + link(L"ds") + L"</DeleteObjects><UpdateObjects>" + com +
      L"ucom</FullPath><FileName>u</FileName></File>" + value(L"uv") + link(L"us") + L"</UpdateObjects><AddObjects>" +
      link(L"as") + value(L"av") + file + L"a1</FullPath><FileName>a</FileName></File></AddObjects></DiffDistribute>");
  CQXDiffDistribute package;
  ASSERT_EQ(package.FromXML(document->GetRoot()), 0);
  std::vector<std::wstring> plan;
  for (const PackageAction& action : PlanPackageActions(package)) plan.push_back(DescribeAction(action));
  EXPECT_EQ(plan, (std::vector<std::wstring>{
                      L"UNREGISTER_COM dcom", L"DELETE_SHORTCUT ds", L"DELETE_REG dv", L"DELETE_FILE d1",
                      L"DELETE_FILE dcom", L"(log)",  // uninstall targets
                      L"UNREGISTER_COM ucom", L"UPDATE_FILE_DELETE ucom", L"UPDATE_FILE_ADD ucom", L"(log) ucom",
                      L"UPDATE_REG_DELETE uv", L"UPDATE_REG_ADD uv", L"UPDATE_SHORTCUT_DELETE us",
                      L"UPDATE_SHORTCUT_ADD us", L"(log)",  // uninstall custom function
                      L"ADD_FILE a1", L"ADD_REG av", L"ADD_SHORTCUT as", L"(log)"}));
  // The program runs the same passes, section by section.
  size_t passes = 0;
  for (PackageSection section : PackageSections()) passes += PassesOf(section).size();
  EXPECT_EQ(passes, PackageSteps().size());
}
