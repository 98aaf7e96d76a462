#include <gtest/gtest.h>

#include "support/scratch.h"
#include "uninstlog/ini_file.h"

#include <memory>

using namespace brindle;
using namespace brindle::test;

namespace {

// Loads text as file bytes; null when the load fails.
std::unique_ptr<CIniFile> Read(const std::string& bytes) {
  auto ini = std::make_unique<CIniFile>();
  if (ini->LoadFromBytes(bytes) != IniLoadResult::kLoaded) return nullptr;
  return ini;
}

std::vector<std::wstring> Fields(const std::wstring& line) {
  std::vector<std::wstring> f;
  EXPECT_TRUE(CParse::SplitFields(line, f)) << "line fails to split";
  return f;
}

bool Splits(const std::wstring& line) {
  std::vector<std::wstring> f;
  return CParse::SplitFields(line, f);
}

const std::wstring& OnlyText(const CIniFile& ini, const wchar_t* section) {
  static const std::wstring none = L"<none>";
  const CSection* s = ini.FindSection(section);
  if (!s || s->Keys().size() != 1 || !s->Keys()[0]->Entry().text) return none;
  return *s->Keys()[0]->Entry().text;
}

}  // namespace

TEST(UninstLogRead, HeadersNameSectionsAndRepeatedHeadersContinueThem) {
  auto ini = Read(
      "[Uninst Info]\r\nA=1\r\n[Files] x\r\nUIFILE=\"C:\\\\a\" INST_REQ INST_REQ "
      "INST_DEL INST_REG\r\n[Uninst Info]\r\nB=2\r\n[Files]\r\nK=v\r\n");
  ASSERT_TRUE(ini);
  ASSERT_EQ(ini->Sections().size(), 2u);
  EXPECT_EQ(ini->Sections()[0]->Name(), L"Uninst Info");
  EXPECT_EQ(ini->Sections()[1]->Name(), L"Files");
  const CSection* info = ini->FindSection(L"Uninst Info");
  ASSERT_EQ(info->Keys().size(), 2u);
  EXPECT_EQ(info->Keys()[0]->Name(), L"A");
  EXPECT_EQ(info->Keys()[1]->Name(), L"B");
  ASSERT_EQ(ini->FindSection(L"Files")->Keys().size(), 2u);
  EXPECT_EQ(ini->FindSection(L"Files")->Keys()[1]->Name(), L"K");
  EXPECT_EQ(ini->FindSection(L"files"), nullptr) << "names are case-sensitive";
}

TEST(UninstLogRead, EmptyFilesBlankLinesAndCommentsAddNothing) {
  auto empty = Read("");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->Sections().empty());
  auto only = Read("\r\n' a comment\r\n   \r\n\t\r\n");
  ASSERT_TRUE(only);
  EXPECT_TRUE(only->Sections().empty());
  auto ini = Read("[S]\r\nKey = \"a b\" ' trailing comment\r\n' Other=1\r\n");
  ASSERT_TRUE(ini);
  EXPECT_EQ(OnlyText(*ini, L"S"), L"a b");
  // A file without a final line break still has its last line.
  ini = Read("[S]\nK=last");
  ASSERT_TRUE(ini);
  EXPECT_EQ(OnlyText(*ini, L"S"), L"last");
}

TEST(UninstLogRead, MalformedLinesFailTheWholeLoad) {
  EXPECT_FALSE(Read("[S]\r\nKey\r\n")) << "a key without a value";
  EXPECT_FALSE(Read("[S]\r\n;note\r\n")) << "';' is no comment";
  EXPECT_FALSE(Read("K=v\r\n")) << "a key before any header";
  EXPECT_FALSE(Read("[S]\r\nK=v\\\r\n")) << "a lone backslash at the end";
  EXPECT_FALSE(Read("[S]\r\nK=\"open\r\n")) << "an unclosed quote";
  EXPECT_FALSE(Read("[S\r\n")) << "an unclosed bracket";
  EXPECT_FALSE(Read("[]\r\nK=v\r\n")) << "a header naming nothing";
  EXPECT_FALSE(Read("[S]\r\nK=v\r\nUninstall_End=yes\r\n[T]\r\nA=b\r\n")) << "one bad line fails everything";
  CIniFile ini;
  EXPECT_EQ(ini.LoadFromBytes("[S]\r\nA=1\r\nB\r\n"), IniLoadResult::kMalformedLine);
  EXPECT_EQ(ini.FailedLine(), 3u);
}

TEST(UninstLogRead, LinesLongerThanTheLineLimitAreRefusedNotCut) {
  const std::string value(CParse::kMaxLineBytes - 2, 'v');
  auto fits = Read("[S]\r\nK=" + value + "\r\n");  // exactly 65,535 bytes
  ASSERT_TRUE(fits);
  EXPECT_EQ(OnlyText(*fits, L"S").size(), value.size());
  CIniFile ini;
  EXPECT_EQ(ini.LoadFromBytes("[S]\r\nK=" + value + "x\r\nL=1\r\n"), IniLoadResult::kLineTooLong);
  EXPECT_EQ(ini.FailedLine(), 2u);
  EXPECT_EQ(ini.LoadFromBytes("[S]\nK=" + value + "xy"), IniLoadResult::kLineTooLong)
      << "also the last line, without a line break";
}

TEST(UninstLogRead, QuotesBracketsAndEscapesAssembleFields) {
  EXPECT_EQ(Fields(L"Key = \"a b\""), (std::vector<std::wstring>{L"Key", L"a b"}));
  EXPECT_EQ(Fields(L"Key=\"\""), (std::vector<std::wstring>{L"Key", L""}));
  EXPECT_EQ(Fields(L"K=\"a'b=c[d]\""), (std::vector<std::wstring>{L"K", L"a'b=c[d]"}));
  EXPECT_EQ(Fields(L"[Uninst Info]"), (std::vector<std::wstring>{L"[", L"Uninst Info"}));
  EXPECT_EQ(Fields(L"[a'b]"), (std::vector<std::wstring>{L"[", L"a'b"})) << "' inside brackets";
  EXPECT_EQ(Fields(L"[a=b]"), (std::vector<std::wstring>{L"[", L"a", L"b"})) << "= splits there";
  EXPECT_EQ(Fields(L"K\tV"), (std::vector<std::wstring>{L"K", L"V"}));
  EXPECT_EQ(Fields(L"K=\"a\tb\""), (std::vector<std::wstring>{L"K", L"a b"})) << "a tab is a blank";
  EXPECT_EQ(Fields(L"Name=it\\'s"), (std::vector<std::wstring>{L"Name", L"it's"}));
  EXPECT_EQ(Fields(L"Name=a \\' b"), (std::vector<std::wstring>{L"Name", L"a"}))
      << "a lone escaped apostrophe still starts a comment";
  EXPECT_EQ(Fields(L"P=C:\\new"), (std::vector<std::wstring>{L"P", L"C:\new"}))
      << "backslash-n is a line feed";
  EXPECT_EQ(Fields(L"P=\"C:\\\\new\""), (std::vector<std::wstring>{L"P", L"C:\\new"}));
  EXPECT_EQ(Fields(L"P=\"say \\\"hi\\\"\""), (std::vector<std::wstring>{L"P", L"say \"hi\""}));
  EXPECT_EQ(Fields(L"P=C:\\x\\y"), (std::vector<std::wstring>{L"P", L"C:\\x\\y"}))
      << "other escapes keep the backslash";
  EXPECT_EQ(Fields(L"P=a\\=b"), (std::vector<std::wstring>{L"P", L"a\\", L"b"}))
      << "the character after a kept backslash is read normally";
  EXPECT_EQ(Fields(L"a\"b\"c"), (std::vector<std::wstring>{L"a", L"b", L"c"}));
  EXPECT_FALSE(Splits(L"K=\"a\" \"b"));
  EXPECT_FALSE(Splits(L"[a]b[c"));
}

TEST(UninstLogRead, TypedEntriesDecodeTheirPathsAndFlags) {
  auto ini = Read(
      "[Files]\r\n"
      "UIFILE=\"C:\\\\App\\\\a.dll\" INST_REQ INST_VER INST_DEL INST_REG\r\n"
      "UIFLDR=\"C:\\\\App\" INST_NON INST_NON INST_HLD\r\n"
      "UIREGIKEY=HCU \"Software\\\\X\" INST_CRE INST_REQ INST_REF\r\n"
      "UIREGI=HLM \"Software\\\\X\" \"\" INST_REQ INST_REQ INST_DEL extra ignored\r\n");
  ASSERT_TRUE(ini);
  const auto& keys = ini->FindSection(L"Files")->Keys();
  ASSERT_EQ(keys.size(), 4u);

  const KeyEntry& file = keys[0]->Entry();
  EXPECT_EQ(keys[0]->Kind(), kKindFile);
  EXPECT_EQ(keys[0]->Class(), kClassEntry);
  EXPECT_EQ(*file.path, L"C:\\App\\a.dll");
  EXPECT_EQ(file.install, 1);
  EXPECT_EQ(file.mode, 4);
  EXPECT_EQ(file.remove, 1);
  EXPECT_EQ(file.registration, 1);
  EXPECT_EQ(keys[0]->Values()[2]->Source(), L"INST_VER");

  EXPECT_EQ(keys[1]->Kind(), kKindFolder);
  EXPECT_EQ(keys[1]->Entry().remove, 0);

  EXPECT_EQ(keys[2]->Kind(), kKindRegistryKey);
  EXPECT_EQ(keys[2]->Entry().root, kRootCurrentUser);
  EXPECT_EQ(*keys[2]->Entry().path, L"Software\\X");
  EXPECT_EQ(keys[2]->Entry().remove, 2);

  const KeyEntry& value = keys[3]->Entry();
  EXPECT_EQ(keys[3]->Kind(), kKindRegistryValue);
  EXPECT_EQ(value.root, kRootLocalMachine);
  ASSERT_TRUE(value.valueName);
  EXPECT_TRUE(value.valueName->empty()) << "the key's default value";
  EXPECT_EQ(keys[3]->Values().size(), 6u) << "extra fields are not kept";
}

TEST(UninstLogRead, TypedEntriesRefuseUnknownFlagsMissingFieldsAndEmptyPaths) {
  EXPECT_FALSE(Read("[F]\r\nUIFILE=\"C:\\\\a\" INST_REQ INST_VER INST_FOO INST_REG\r\n"));
  EXPECT_FALSE(Read("[F]\r\nUIFILE=\"C:\\\\a\" INST_REQ INST_VER INST_DEL\r\n"));
  EXPECT_FALSE(Read("[F]\r\nUIFILE=\"\" INST_REQ INST_VER INST_DEL INST_REG\r\n"));
  EXPECT_FALSE(Read("[F]\r\nUIFLDR=\"C:\\\\a\" inst_req INST_CRE INST_DEL\r\n"));
  EXPECT_FALSE(Read("[F]\r\nUIREGIKEY=HKLM \"S\" INST_REQ INST_REQ INST_DEL\r\n"));
  EXPECT_FALSE(Read("[F]\r\nUIREGI=HLM \"\" \"v\" INST_REQ INST_REQ INST_DEL\r\n"));
  // Only the exact names of the table are typed; a near name is a plain key.
  auto ini = Read("[F]\r\nuifile=anything\r\n");
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->FindSection(L"F")->Keys()[0]->Kind(), kKindPlain);
}

TEST(UninstLogRead, NumberKeysTakeAnyBaseAndRefuseText) {
  auto ini = Read(
      "[U]\r\nUninstall_End=0x10\r\nUninstall_Abort=010\r\nUninstall_StartUp=-5\r\n"
      "Uninstall_CheckRunning=4294967295\r\nUninstall_CheckCondition=12abc\r\n"
      "Uninstall_BeforeUninstall=0XfF\r\nUninstall_AfterUninstall=08\r\n");
  ASSERT_TRUE(ini);
  const auto& keys = ini->FindSection(L"U")->Keys();
  ASSERT_EQ(keys.size(), 7u);
  EXPECT_EQ(keys[0]->Entry().number, 16);
  EXPECT_EQ(keys[1]->Entry().number, 8);
  EXPECT_EQ(keys[2]->Entry().number, -5);
  EXPECT_EQ(keys[3]->Entry().number, -1) << "unsigned 32-bit wraps to -1";
  EXPECT_EQ(keys[4]->Entry().number, 12) << "trailing characters are accepted";
  EXPECT_EQ(keys[5]->Entry().number, 255);
  EXPECT_EQ(keys[6]->Entry().number, 0) << "an octal 0 followed by 8 reads the 0";
  EXPECT_EQ(keys[0]->Values()[0]->Source(), L"0x10");
  EXPECT_EQ(keys[0]->Kind(), kKindEnd);
  EXPECT_FALSE(Read("[U]\r\nUninstall_End=yes\r\n"));
  EXPECT_FALSE(Read("[U]\r\nUninstall_End=\"\"\r\n"));
  EXPECT_FALSE(Read("[U]\r\nUninstall_End=-\r\n"));

  CValue big;
  ASSERT_TRUE(big.SetNumber(L"-99999999999"));
  EXPECT_EQ(big.Number(), INT32_MIN) << "signed overflow clamps";
  CValue twice;
  ASSERT_TRUE(twice.SetNumber(L"1"));
  EXPECT_FALSE(twice.SetText(L"x")) << "a set value must be reset first";
  twice.Reset();
  EXPECT_TRUE(twice.SetText(L"x"));
  EXPECT_EQ(twice.Number(), -1);
}

TEST(UninstLogModel, AddLineAppliesHeaderAndKeyAsTheLoaderDoes) {
  CIniFile ini;
  EXPECT_TRUE(ini.AddLine({L"[", L"Files"}, {L"UIFLDR", L"C:\\A", L"INST_REQ", L"INST_CRE", L"INST_DEL"}));
  EXPECT_TRUE(ini.AddLine({L"[", L"Files"}, {L"K", L"v"}));
  EXPECT_FALSE(ini.AddLine({L"[", L"Other"}, {L"UIFILE", L"C:\\a"}));
  ASSERT_EQ(ini.Sections().size(), 2u) << "a created section stays when its key fails";
  EXPECT_TRUE(ini.FindSection(L"Other")->Keys().empty());
  EXPECT_EQ(ini.FindSection(L"Files")->Keys().size(), 2u);
  EXPECT_FALSE(ini.AddLine({L"Files"}, {L"K", L"v"})) << "no header";
}

TEST(UninstLogModel, MergeFromSharesKeysAndKeepsOrder) {
  auto base = Read("[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
  auto extra = Read("[B]\r\nz=3\r\n[C]\r\nw=4\r\n");
  ASSERT_TRUE(base && extra);
  extra->SetPath(L"C:\\u.log");
  ASSERT_TRUE(base->MergeFrom(*extra));
  ASSERT_EQ(base->Sections().size(), 3u);
  const auto& b = base->FindSection(L"B")->Keys();
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[1], extra->FindSection(L"B")->Keys()[0]) << "the same key object";
  EXPECT_EQ(base->Path(), L"C:\\u.log");
  base.reset();  // deleting the merged model must not free the other's keys
  EXPECT_EQ(extra->FindSection(L"C")->Keys()[0]->Name(), L"w");
}

TEST(UninstLogModel, MergingIntoItselfOrBackAndRemovingLeaveNoDanglingKey) {
  // Run under AddressSanitizer: a walk of a list being appended to, or a key freed while still
  // listed, is reported there.
  auto base = Read("[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n");
  auto other = Read("[A]\r\nw=4\r\n");
  ASSERT_TRUE(base && other);
  EXPECT_TRUE(base->MergeFrom(*base));
  EXPECT_EQ(base->FindSection(L"A")->Keys().size(), 2u) << "a model already holds its own keys";
  ASSERT_TRUE(other->MergeFrom(*base));  // other now lists base's x and y after its own w
  ASSERT_TRUE(base->MergeFrom(*other));  // and base gets back references to its own keys
  CSection* a = base->FindSection(L"A");
  ASSERT_EQ(a->Keys().size(), 5u);  // x y | w x y
  CKey* x = a->Keys()[0];
  EXPECT_TRUE(a->RemoveKey(x));
  for (const CKey* k : a->Keys()) EXPECT_NE(k, x) << "a freed key is listed nowhere in its section";
  ASSERT_EQ(a->Keys().size(), 3u);  // y w y
  EXPECT_EQ(a->Keys()[1]->Name(), L"w");
  EXPECT_TRUE(a->RemoveKey(a->Keys()[1])) << "a shared key leaves the list without being freed";
  EXPECT_EQ(other->FindSection(L"A")->Keys()[0]->Name(), L"w");
  EXPECT_FALSE(a->RemoveKey(x));
  // Sections and keys handed over as raw pointers are owned from then on.
  auto* added = new CSection(L"D");
  base->AppendSection(added);
  EXPECT_TRUE(added->AppendKey(new CKey()));
  EXPECT_FALSE(added->AppendKey(static_cast<CKey*>(nullptr)));
  EXPECT_TRUE(base->RemoveSection(base->FindSection(L"B")));
  EXPECT_EQ(base->Sections().back(), added);
  other.reset();
  base.reset();
}

TEST(UninstLogModel, KeyHelpersChangeTheFirstValue) {
  auto ini = Read("[S]\r\nUNInfo=\"old\"\r\nUninstall_End=1\r\n");
  ASSERT_TRUE(ini);
  CKey* text = ini->FindSection(L"S")->Keys()[0];
  ASSERT_TRUE(text->SetFirstText(L"new"));
  EXPECT_EQ(*text->Entry().text, L"new");
  CKey* number = ini->FindSection(L"S")->Keys()[1];
  ASSERT_TRUE(number->SetFirstNumber(L"42"));
  EXPECT_EQ(number->Entry().number, 42);
  EXPECT_EQ(number->Values()[0]->Source(), L"42");
}

TEST(UninstLogFile, PathsAreNormalisedBeforeOpening) {
  EXPECT_EQ(CFilePath::Normalise(L"C:\\a\\\\b\\.\\c\\..\\u.log"), L"C:\\a\\b\\u.log");
  EXPECT_EQ(CFilePath::Normalise(L"C:/a/b/u.log"), L"C:\\a\\b\\u.log");
  EXPECT_EQ(CFilePath::Normalise(L"C:\\..\\u.log"), L"C:\\u.log");
  EXPECT_EQ(CFilePath::Normalise(L"\\\\server\\share\\u.log"), L"\\\\server\\share\\u.log");
  EXPECT_EQ(CFilePath::Normalise(L"rel\\u.log"), L"rel\\u.log");
  EXPECT_EQ(CFilePath::Normalise(L"u.log"), L"u.log");
}

TEST(UninstLogFile, LoadReadsTheFileInTextModeAndFailsWhenMissing) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"sub/../Uninst.log");
  ASSERT_TRUE(WriteBytes(dir.File(L"Uninst.log"), "[Uninst Info]\r\nName=\"caf\xe9\"\r\n\x1a\r\n"));
  CIniFile ini;
  ASSERT_TRUE(ini.Load(path, 1252));
  EXPECT_EQ(ini.Path(), CFilePath::Normalise(dir.File(L"Uninst.log")));
  ASSERT_EQ(ini.Sections().size(), 1u);
  EXPECT_EQ(OnlyText(ini, L"Uninst Info"), L"caf\u00e9");

  ASSERT_TRUE(WriteBytes(dir.File(L"empty.log"), ""));
  CIniFile empty;
  EXPECT_TRUE(empty.Load(dir.File(L"empty.log")));
  EXPECT_TRUE(empty.Sections().empty());
  CIniFile missing;
  EXPECT_FALSE(missing.Load(dir.File(L"missing.log")));
}

TEST(UninstLogFile, TheTextEndsAtCtrlZOrZeroOnlyWhenNothingButPaddingFollows) {
  CIniFile ini;
  EXPECT_EQ(ini.LoadFromBytes(std::string("[S]\r\nK=v\r\n\x1a", 11)), IniLoadResult::kLoaded);
  EXPECT_EQ(ini.LoadFromBytes(std::string("[S]\r\nK=v\r\n\0\0\0\r\n", 15)), IniLoadResult::kLoaded);
  ASSERT_EQ(ini.Sections().size(), 1u);
  // Entries after the end marker would silently disappear on the next write-back.
  EXPECT_EQ(ini.LoadFromBytes(std::string("[S]\r\nK=v\r\n\0K=w\r\n", 16)), IniLoadResult::kDataAfterEnd);
  EXPECT_EQ(ini.LoadFromBytes(std::string("[S]\r\n\x1aUIFLDR=\"C:\\\\A\" INST_REQ INST_CRE INST_DEL\r\n")),
            IniLoadResult::kDataAfterEnd);
}
