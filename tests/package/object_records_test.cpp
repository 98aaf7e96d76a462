#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/object_records.h"
#include "support/tree_picture.h"

using namespace brindle;
using brindle::test::Parse;
using brindle::test::Picture;

namespace {

template <typename Record>
Record Read(const std::wstring& xml) {
  Record record;
  auto document = Parse(xml);
  EXPECT_EQ(record.FromXML(document->GetRoot()), 0);
  return record;
}

template <typename Record>
std::wstring RoundTrip(const std::wstring& xml) {
  return Picture(Read<Record>(xml).ToXML().get());
}

}  // namespace

TEST(FileRecord, DefaultsAndTokensReadAndWriteBack) {
  CQXFile bare = Read<CQXFile>(L"<File/>");
  EXPECT_EQ(bare.com, kComNoRegister);
  EXPECT_EQ(bare.delInfo, kDelInfoDelete);
  EXPECT_EQ(bare.wow.wow, kWow32);
  EXPECT_EQ(bare.fullPath, nullptr);
  EXPECT_EQ(bare.fileName, nullptr);
  EXPECT_EQ(Picture(bare.ToXML().get()), L"<File COM=INST_NOREG DelInfo=INST_DEL WOW=INST_32BIT></File>");

  EXPECT_EQ(Read<CQXFile>(L"<File DelInfo=\"INST_HLD\"/>").delInfo, kDelInfoHold);
  EXPECT_EQ(Read<CQXFile>(L"<File DelInfo=\"INST_REF\"/>").delInfo, kDelInfoReference);
  EXPECT_EQ(Read<CQXFile>(L"<File DelInfo=\"inst_hld\"/>").delInfo, kDelInfoDelete);
  EXPECT_EQ(Read<CQXFile>(L"<File DelInfo=\"\"/>").delInfo, kDelInfoDelete);
  EXPECT_EQ(Read<CQXFile>(L"<File COM=\"INST_REG\"/>").com, kComRegister);
  EXPECT_EQ(Read<CQXFile>(L"<File COM=\"YES\"/>").com, kComNoRegister);
  EXPECT_EQ(Read<CQXFile>(L"<File WOW=\"INST_64BIT\"/>").wow.wow, kWow64);
  EXPECT_EQ(Read<CQXFile>(L"<File WOW=\"INST_64bit\"/>").wow.wow, kWow32);

  EXPECT_EQ(RoundTrip<CQXFile>(L"<File WOW=\"INST_64BIT\" Extra=\"x\" DelInfo=\"INST_REF\" COM=\"INST_REG\">"
                               L"<FileName Type=\"BeforeUpdate\">hook.dll</FileName><Other/>"
                               L"<FullPath>$SysFolder$\\a.ocx</FullPath></File>"),
            L"<File COM=INST_REG DelInfo=INST_REF WOW=INST_64BIT><FullPath>[$SysFolder$\\a.ocx]</FullPath>"
            L"<FileName Type=BeforeUpdate>[hook.dll]</FileName></File>");

  // Codes no token stands for are written as empty values.
  CQXFile odd;
  odd.com = 5;
  odd.delInfo = 7;
  EXPECT_EQ(Picture(odd.ToXML().get()), L"<File COM= DelInfo= WOW=INST_32BIT></File>");
}

TEST(FileRecord, RepeatedAttributesAndChildrenLastOneWins) {
  auto element = NewElement(L"File");
  AppendAttribute(element.get(), L"DelInfo", L"INST_HLD");
  AppendAttribute(element.get(), L"DelInfo", L"INST_REF");
  AppendChild(NewTextElement(L"FullPath", L"first"), element.get());
  AppendChild(NewTextElement(L"FullPath", L"second"), element.get());
  CQXFile file;
  file.FromXML(element.get());
  EXPECT_EQ(file.delInfo, kDelInfoReference);
  ASSERT_NE(file.fullPath, nullptr);
  EXPECT_EQ(file.fullPath->path, L"second");
  EXPECT_EQ(file.FromXML(nullptr), 3);

  CQXFile copy(file);
  file.fullPath->path = L"changed";
  EXPECT_EQ(copy.fullPath->path, L"second");
}

TEST(FullPathRecord, TypeTokensAndWrittenForm) {
  FullPathValue value;
  auto target = Parse(L"<FullPath Type=\"SCTarget\">$ProgFolder$\\app.exe</FullPath>");
  ReadFullPath(target->GetRoot(), value);
  EXPECT_EQ(value.type, kPathShortcutTarget);
  EXPECT_EQ(value.path, L"$ProgFolder$\\app.exe");
  auto untyped = Parse(L"<FullPath>C:/forward/slashes</FullPath>");
  ReadFullPath(untyped->GetRoot(), value);
  EXPECT_EQ(value.type, kPathShortcutTarget);  // a missing Type leaves the kind
  EXPECT_EQ(value.path, L"C:/forward/slashes");
  auto other = Parse(L"<FullPath Type=\"workfolder\"/>");
  ReadFullPath(other->GetRoot(), value);
  EXPECT_EQ(value.type, kPathNone);
  EXPECT_EQ(value.path, L"");

  EXPECT_EQ(Picture(FullPathToXML({kPathNone, L""}).get()), L"<FullPath>[]</FullPath>");
  EXPECT_EQ(Picture(FullPathToXML({kPathWorkFolder, L"w"}).get()),
            L"<FullPath Type=WorkFolder>[w]</FullPath>");
  EXPECT_EQ(Picture(FullPathToXML({8, L"p"}).get()), L"<FullPath Type=>[p]</FullPath>");
}

TEST(FileNameRecord, TypeIsResetOnEachRead) {
  CQXFileName name = Read<CQXFileName>(L"<FileName Type=\"AfterUpdate\">after.dll</FileName>");
  EXPECT_EQ(name.type, kFileNameAfterUpdate);
  auto untyped = Parse(L"<FileName>plain.dll</FileName>");
  name.FromXML(untyped->GetRoot());
  EXPECT_EQ(name.type, kFileNameNone);
  EXPECT_EQ(name.name, L"plain.dll");
  EXPECT_EQ(Picture(name.ToXML().get()), L"<FileName>[plain.dll]</FileName>");
  EXPECT_EQ(Read<CQXFileName>(L"<FileName Type=\"Before\">x</FileName>").type, kFileNameNone);
}

TEST(RegistryRecord, TokensDefaultsAndChildOrder) {
  const std::pair<const wchar_t*, int> types[] = {
      {L"REG_DW", 0},    {L"REG_SZ", 1},       {L"REG_NONE", 2},     {L"REG_BINARY", 3},
      {L"REG_QWORD", 4}, {L"REG_MULTI_SZ", 5}, {L"REG_EXPAND_SZ", 6}};
  for (const auto& row : types) {
    const std::wstring xml = std::wstring(L"<RegData Type=\"") + row.first + L"\">d</RegData>";
    CQXRegistryData data = Read<CQXRegistryData>(xml);
    EXPECT_EQ(data.type, row.second) << row.second;
    EXPECT_EQ(Picture(data.ToXML().get()), std::wstring(L"<RegData Type=") + row.first + L">[d]</RegData>");
  }
  EXPECT_EQ(Read<CQXRegistryData>(L"<RegData Type=\"reg_sz\">x</RegData>").type, kRegDword);
  EXPECT_EQ(Read<CQXRegistryData>(L"<RegData Type=\"\">x</RegData>").type, kRegDword);
  CQXRegistryData outOfRange;
  outOfRange.type = 12;
  EXPECT_EQ(Picture(outOfRange.ToXML().get()), L"<RegData Type=REG_DW>[]</RegData>");

  EXPECT_EQ(Read<CQXRegistryKeyPath>(L"<RegKeyPath RegRoot=\"REG_HLM\">S</RegKeyPath>").root,
            kRegRootLocalMachine);
  EXPECT_EQ(Read<CQXRegistryKeyPath>(L"<RegKeyPath RegRoot=\"REG_HCU\">S</RegKeyPath>").root,
            kRegRootCurrentUser);
  EXPECT_EQ(RoundTrip<CQXRegistryKeyPath>(L"<RegKeyPath RegRoot=\"HKLM\">Software\\Tamek</RegKeyPath>"),
            L"<RegKeyPath RegRoot=REG_HCR>[Software\\Tamek]</RegKeyPath>");

  EXPECT_EQ(RoundTrip<CQXRegistry>(L"<Registry WOW=\"INST_64BIT\"><RegData Type=\"REG_SZ\">v</RegData>"
                                   L"<RegValueName>Name</RegValueName>"
                                   L"<RegKeyPath RegRoot=\"REG_HCU\">K</RegKeyPath></Registry>"),
            L"<Registry WOW=INST_64BIT><RegKeyPath RegRoot=REG_HCU>[K]</RegKeyPath>"
            L"<RegValueName>[Name]</RegValueName><RegData Type=REG_SZ>[v]</RegData></Registry>");
  EXPECT_EQ(RoundTrip<CQXRegistry>(L"<Registry/>"),
            L"<Registry WOW=INST_32BIT><RegKeyPath RegRoot=REG_HCR>[]</RegKeyPath>"
            L"<RegValueName>[]</RegValueName><RegData Type=REG_DW>[]</RegData></Registry>");
}

TEST(ShortCutRecord, OnlyTypedPathsCountAndEveryChildIsWritten) {
  CQXShortCut shortCut = Read<CQXShortCut>(
      L"<ShortCut><SCName Type=\"INST_GSC\">App</SCName>"
      L"<FullPath Type=\"SCTarget\">$ProgFolder$\\app.exe</FullPath>"
      L"<FullPath Type=\"WorkFolder\">$ProgFolder$</FullPath>"
      L"<FullPath>ignored</FullPath><FullPath Type=\"Other\">ignored too</FullPath>"
      L"<CLParameter>/quiet</CLParameter><WindowSize Type=\"INST_MAX\"/><Text>Help</Text></ShortCut>");
  EXPECT_EQ(shortCut.name.type, kShortcutGroup);
  EXPECT_EQ(shortCut.target.path, L"$ProgFolder$\\app.exe");
  EXPECT_EQ(shortCut.workFolder.path, L"$ProgFolder$");
  EXPECT_EQ(shortCut.windowSize.type, kWindowMaximised);
  EXPECT_EQ(Picture(shortCut.ToXML().get()),
            L"<ShortCut><SCName Type=INST_GSC>[App]</SCName>"
            L"<FullPath Type=SCTarget>[$ProgFolder$\\app.exe]</FullPath><CLParameter>[/quiet]</CLParameter>"
            L"<FullPath Type=WorkFolder>[$ProgFolder$]</FullPath><WindowSize Type=INST_MAX></WindowSize>"
            L"<Text>[Help]</Text></ShortCut>");

  EXPECT_EQ(RoundTrip<CQXShortCut>(L"<ShortCut/>"),
            L"<ShortCut><SCName Type=INST_DSC>[]</SCName><FullPath Type=SCTarget>[]</FullPath>"
            L"<CLParameter>[]</CLParameter><FullPath Type=WorkFolder>[]</FullPath>"
            L"<WindowSize Type=INST_NML></WindowSize><Text>[]</Text></ShortCut>");
  EXPECT_EQ(Read<CQXShortCutName>(L"<SCName Type=\"INST_DSC\">d</SCName>").type, kShortcutDesktop);
  EXPECT_EQ(Read<CQXShortCutName>(L"<SCName Type=\"inst_gsc\">d</SCName>").type, kShortcutDesktop);
  EXPECT_EQ(Read<CQXWindowSize>(L"<WindowSize Type=\"INST_MIN\"/>").type, kWindowMinimised);
  EXPECT_EQ(Read<CQXWindowSize>(L"<WindowSize Type=\"INST_NML\"/>").type, kWindowNormal);
  EXPECT_EQ(Read<CQXWindowSize>(L"<WindowSize Type=\"MAX\"/>").type, kWindowNormal);
  CQXWindowSize odd;
  odd.type = 4;
  EXPECT_EQ(Picture(odd.ToXML().get()), L"<WindowSize Type=INST_NML></WindowSize>");
}

TEST(AliasRecord, ReadsAppNameAndPath) {
  EXPECT_EQ(RoundTrip<CQXRecordAliasHandle>(
                L"<RecordAliasHandle><FullPath Type=\"SCTarget\">p</FullPath><KVTAppName>Key</KVTAppName>"
                L"</RecordAliasHandle>"),
            L"<RecordAliasHandle><KVTAppName>[Key]</KVTAppName><FullPath Type=SCTarget>[p]</FullPath>"
            L"</RecordAliasHandle>");
  EXPECT_EQ(RoundTrip<CQXRecordAliasHandle>(L"<RecordAliasHandle/>"),
            L"<RecordAliasHandle><KVTAppName>[]</KVTAppName><FullPath>[]</FullPath></RecordAliasHandle>");
}

TEST(SortOrder, CaseBlindComparisonFoldsOnlyAsciiLetters) {
  EXPECT_EQ(CompareCaseBlind(L"C:\\Prog\\A.DLL", L"c:\\prog\\a.dll"), 0);
  EXPECT_LT(CompareCaseBlind(L"apple", L"Banana"), 0);
  EXPECT_LT(CompareCaseBlind(L"ab", L"abc"), 0);
  EXPECT_GT(CompareCaseBlind(L"b", L"A"), 0);
  // '_' (0x5F) lies between the upper-case (0x41-0x5A) and lower-case letters: after folding
  // every letter sorts before it.
  EXPECT_LT(CompareCaseBlind(L"a", L"_"), 0);
  EXPECT_NE(CompareCaseBlind(L"\u00e9", L"\u00c9"), 0);
  EXPECT_LT(CompareCaseBlind(L"/", L"\\"), 0);
}

TEST(SortOrder, RegistryAndShortcutTiesBreakOnNamesWithCase) {
  CQXRegistry a, b;
  a.keyPath.path = L"Software\\Tamek";
  b.keyPath.path = L"SOFTWARE\\TAMEK";
  a.valueName = L"beta";
  b.valueName = L"Alpha";
  EXPECT_TRUE(RegistrySortsBefore(b, a));
  EXPECT_FALSE(RegistrySortsBefore(a, b));
  b.keyPath.root = kRegRootCurrentUser;  // the root takes no part
  EXPECT_TRUE(RegistrySortsBefore(b, a));

  CQXShortCut x, y;
  x.target.path = L"c:\\app.exe";
  y.target.path = L"C:\\APP.EXE";
  x.name.name = L"app";
  y.name.name = L"App";
  EXPECT_TRUE(ShortCutSortsBefore(y, x));
  y.target.path = L"D:\\app.exe";
  EXPECT_TRUE(ShortCutSortsBefore(x, y));

  CQXFile withPath, without;
  withPath.fullPath = std::make_unique<FullPathValue>();
  withPath.fullPath->path = L"a";
  EXPECT_TRUE(FileSortsBefore(without, withPath));
  EXPECT_FALSE(FileSortsBefore(withPath, without));
}
