#include <gtest/gtest.h>

#include "package/version.h"
#include "support/tree_picture.h"

using namespace brindle;
using brindle::test::Parse;
using brindle::test::Picture;

namespace {
int Compare(const wchar_t* a, const wchar_t* b) { return CQXVersion(a).Compare(CQXVersion(b)); }
}  // namespace

TEST(Version, FieldsCompareAsNumbers) {
  EXPECT_EQ(Compare(L"2.0", L"10.0"), -1);
  EXPECT_EQ(Compare(L"10.0", L"2.0"), 1);
  EXPECT_EQ(Compare(L"1.0.10", L"1.0.9"), 1);
  EXPECT_EQ(Compare(L"1.2.3.4", L"1.2.3.5"), -1);
  EXPECT_EQ(Compare(L"1.2.3.4.5.6", L"1.2.3.4.5.7"), -1);  // any number of fields
}

TEST(Version, SeparatorsPrefixesLeadingZerosAndMissingFieldsDoNotMatter) {
  EXPECT_EQ(Compare(L"1.2", L"1.2.0"), 0);
  EXPECT_TRUE(CQXVersion(L"1.2").Equals(CQXVersion(L"1.2.0.0")));
  EXPECT_EQ(Compare(L"1.2.3", L"1-2 3"), 0);
  EXPECT_EQ(Compare(L"v1.5", L"1.5"), 0);
  EXPECT_EQ(Compare(L"1.02", L"1.2"), 0);
  EXPECT_EQ(Compare(L"", L"0.0"), 0);
  EXPECT_EQ(Compare(L"", L""), 0);
  EXPECT_EQ(Compare(L"", L"0.0.1"), -1);
  EXPECT_EQ(Compare(L"beta", L"0"), 0);
  EXPECT_EQ(Compare(L"1.2a3", L"1.2.3"), 0);
  EXPECT_EQ(Compare(L"1.2.1", L"1.2"), 1);
}

TEST(Version, LongDigitRunsCompareByTheirWholeValue) {
  EXPECT_EQ(Compare(L"1.4294967296", L"1.0"), 1);  // would wrap to 0 in 32 bits
  EXPECT_EQ(Compare(L"99999999999999999999", L"99999999999999999998"), 1);
  EXPECT_EQ(Compare(L"0000000000000000000000012", L"12"), 0);
  EXPECT_EQ(Compare(L"2147483648", L"2147483647"), 1);
}

TEST(Version, AssignClearEmptyAndTheXmlForm) {
  CQXVersion version(L"1.2.0");
  CQXVersion other;
  EXPECT_TRUE(other.IsEmpty());
  other.Assign(version);
  EXPECT_EQ(other.text, L"1.2.0");
  other.Assign(other);
  EXPECT_EQ(other.text, L"1.2.0");
  other.Clear();
  EXPECT_TRUE(other.IsEmpty());

  EXPECT_EQ(Picture(version.ToXML().get()), L"<Version>[1.2.0]</Version>");
  EXPECT_EQ(version.FromXML(nullptr), 3);
  EXPECT_EQ(version.text, L"1.2.0");
  auto empty = Parse(L"<Version/>");
  EXPECT_EQ(version.FromXML(empty->GetRoot()), 0);
  EXPECT_TRUE(version.IsEmpty());
}

TEST(VersionWithType, TypeTokensReadAndWriteBack) {
  CQXVersionWithType version;
  auto install = Parse(L"<Version Type=\"Install\">3.1</Version>");
  ASSERT_EQ(version.FromXML(install->GetRoot()), 0);
  EXPECT_EQ(version.type, kVersionInstall);
  EXPECT_EQ(version.text, L"3.1");
  EXPECT_EQ(Picture(version.ToXML().get()), L"<Version Type=Install>[3.1]</Version>");

  auto noType = Parse(L"<Version>4.0</Version>");
  version.FromXML(noType->GetRoot());
  EXPECT_EQ(version.type, kVersionInstall);  // a missing Type leaves the kind
  auto uninstall = Parse(L"<Version Type=\"Uninstall\">1</Version>");
  version.FromXML(uninstall->GetRoot());
  EXPECT_EQ(version.type, kVersionUninstall);
  EXPECT_EQ(Picture(version.ToXML().get()), L"<Version Type=Uninstall>[1]</Version>");
  auto other = Parse(L"<Version Type=\"install\">1</Version>");
  version.FromXML(other->GetRoot());
  EXPECT_EQ(version.type, kVersionApplication);
  version.type = 9;
  EXPECT_EQ(Picture(version.ToXML().get()), L"<Version Type=Application>[1]</Version>");

  // The kind takes no part in comparison.
  EXPECT_TRUE(
      CQXVersionWithType(L"1.0", kVersionInstall).Equals(CQXVersionWithType(L"1", kVersionUninstall)));
}

TEST(LangCode, CodesMapToLanguageIdentifiersCaseSensitively) {
  const std::pair<const wchar_t*, const wchar_t*> table[] = {
      {L"en", L"1033"}, {L"ja", L"1041"},    {L"fr", L"1036"}, {L"de", L"1031"}, {L"it", L"1040"},
      {L"es", L"1034"}, {L"zh_CN", L"2052"}, {L"ru", L"1049"}, {L"ko", L"1042"}};
  for (const auto& row : table) EXPECT_EQ(LanguageIdOfCode(row.first), row.second) << row.second;
  EXPECT_EQ(LanguageIdOfCode(L"EN"), L"");
  EXPECT_EQ(LanguageIdOfCode(L"zh_cn"), L"");
  EXPECT_EQ(LanguageIdOfCode(L""), L"");

  auto element = Parse(L"<Lang Code=\"fr\" Region=\"EU\" FullPath=\"C:\\App\"/>");
  CQXLangCode code;
  code.FromXML(FindAttribute(element->GetRoot(), L"Code"));
  EXPECT_EQ(code.code, L"fr");
  EXPECT_EQ(code.languageId, L"1036");
  CQXRegion region;
  region.ReadFrom(*element->GetRoot());
  CQXItem item;
  item.ReadFrom(*element->GetRoot());
  EXPECT_EQ(region.region, L"EU");
  EXPECT_EQ(item.path, L"C:\\App");

  auto written = NewElement(L"Lang");
  code.WriteTo(*written);
  region.WriteTo(*written);
  item.WriteTo(*written);
  EXPECT_EQ(Picture(written.get()), L"<Lang Code=fr Region=EU FullPath=C:\\App></Lang>");

  code.FromXML(nullptr);
  EXPECT_EQ(code.code, L"");
  EXPECT_EQ(code.languageId, L"");
  auto capital = Parse(L"<Lang Code=\"EN\"/>");
  code.FromXML(FindAttribute(capital->GetRoot(), L"Code"));
  EXPECT_EQ(code.code, L"EN");
  EXPECT_EQ(code.languageId, L"");
}

TEST(DisplayName, IsTheTextOfItsElement) {
  CQXDisplayName name;
  EXPECT_TRUE(name.IsEmpty());
  auto element = Parse(L"<DisplayName>Suite \u00e9dition 2</DisplayName>");
  EXPECT_EQ(name.FromXML(element->GetRoot()), 0);
  EXPECT_EQ(name.name, L"Suite \u00e9dition 2");
  EXPECT_EQ(Picture(name.ToXML().get()), L"<DisplayName>[Suite \u00e9dition 2]</DisplayName>");
  EXPECT_EQ(name.FromXML(nullptr), 3);
}
