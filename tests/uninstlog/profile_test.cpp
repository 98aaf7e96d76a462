#include <gtest/gtest.h>

#include "support/scratch.h"
#include "uninstlog/ini_file.h"
#include "uninstlog/profile.h"

using namespace brindle;
using namespace brindle::test;

namespace {

// A writer on a scratch file, closed again at the end of the test.
struct Written {
  ScratchFolder dir;
  std::wstring path = dir.File(L"Uninst.log");
  CProfile profile{1252};
  Written() { EXPECT_TRUE(profile.Open(path)); }
  ~Written() { profile.Close(); }
  std::string Bytes() {
    std::string b;
    ReadBytes(path, b);
    return b;
  }
};

}  // namespace

TEST(UninstLogWrite, LineShapesAreExactWithCrLfAndTheFolderEntrysFixedFlags) {
  Written w;
  EXPECT_TRUE(w.profile.WriteSection(L"Files"));
  EXPECT_TRUE(w.profile.WriteSection(L"Files")) << "a repeated header is written once";
  EXPECT_TRUE(w.profile.WriteText(L"UNInfo", L"Target One"));
  EXPECT_TRUE(w.profile.WriteNumber(L"Uninstall_End", -16));
  EXPECT_TRUE(w.profile.WriteFolderEntry(L"C:\\A"));
  EXPECT_TRUE(w.profile.WriteFileEntry(1, L"C:\\A\\a.dll", 4, 2, true));
  EXPECT_TRUE(w.profile.WriteFileEntry(0, L"C:\\A\\b.txt", 2, 0, false));
  EXPECT_TRUE(w.profile.WriteRegistryKeyEntry(kRootLocalMachine, L"Software\\X", 1, 1, 1));
  EXPECT_TRUE(w.profile.WriteRegistryValueEntry(kRootClassesRoot, L"CLSID\\{1}", L"", 2, 1, 0));
  EXPECT_TRUE(w.profile.WriteSection(L"Uninst Info"));
  EXPECT_EQ(w.Bytes(),
            "[Files]\r\n"
            "UNInfo=\"Target One\"\r\n"
            "Uninstall_End=-16\r\n"
            "UIFLDR=\"C:\\\\A\" INST_REQ INST_CRE INST_DEL \r\n"
            "UIFILE=\"C:\\\\A\\\\a.dll\" INST_REQ INST_VER INST_REF INST_REG\r\n"
            "UIFILE=\"C:\\\\A\\\\b.txt\" INST_NON INST_CRE INST_HLD INST_NOREG\r\n"
            "UIREGIKEY=HLM \"Software\\\\X\" INST_REQ INST_REQ INST_DEL\r\n"
            "UIREGI=HCR \"CLSID\\\\{1}\" \"\" INST_CRE INST_REQ INST_HLD\r\n"
            "[Uninst Info]\r\n");
}

TEST(UninstLogWrite, RefusedLinesWriteNothing) {
  Written w;
  EXPECT_FALSE(w.profile.WriteFileEntry(3, L"C:\\a", 1, 1, false)) << "3 has no install name";
  EXPECT_FALSE(w.profile.WriteFileEntry(1, L"C:\\a", 1, 4, false)) << "4 is not a delete flag";
  EXPECT_FALSE(w.profile.WriteRegistryKeyEntry(0x80000004, L"S", 1, 1, 1)) << "no such root";
  EXPECT_FALSE(w.profile.WriteFolderEntry(L""));
  EXPECT_FALSE(w.profile.WriteRegistryValueEntry(kRootUsers, L"", L"v", 1, 1, 1));
  EXPECT_FALSE(w.profile.WriteText(L"", L"v"));
  EXPECT_FALSE(w.profile.WriteSection(L""));
  EXPECT_FALSE(w.profile.WriteText(L"K", L"\u65e5")) << "not in the code page";
  EXPECT_FALSE(w.profile.WriteFolderEntry(L"C:\\\u0100pp")) << "no look-alike (A) instead";
  // What no line can carry: a TAB reads back as a blank, a zero or Ctrl-Z ends the read text.
  EXPECT_FALSE(w.profile.WriteText(L"K", L"a\tb"));
  EXPECT_FALSE(w.profile.WriteText(L"K", std::wstring(L"a\0b", 3)));
  EXPECT_FALSE(w.profile.WriteFileEntry(1, L"C:\\a\x1a", 1, 1, false));
  EXPECT_FALSE(w.profile.WriteRegistryValueEntry(kRootUsers, L"S", L"v\tw", 1, 1, 1));
  EXPECT_FALSE(w.profile.WriteText(L"K\tL", L"v"));
  EXPECT_FALSE(w.profile.WriteSection(L"S\x1a"));
  EXPECT_FALSE(w.profile.WriteText(L"[", L"v")) << "reads as a header";
  // Names the reader decodes by their kind: a line it could not read back is not written.
  EXPECT_FALSE(w.profile.WriteText(L"UIFILE", L"C:\\a"));
  EXPECT_FALSE(w.profile.WriteNumber(L"UIREGI", 1));
  EXPECT_FALSE(w.profile.WriteText(L"Uninstall_End", L"soon"));
  // The 4,096-unit line buffer holds the line, its line feed and a terminating zero.
  const std::wstring fits(4094 - 4, L'v');  // K="..." is 4 units more
  EXPECT_TRUE(w.profile.WriteText(L"K", fits));
  EXPECT_FALSE(w.profile.WriteText(L"K", fits + L"v"));
  EXPECT_FALSE(w.profile.WriteFolderEntry(std::wstring(5000, L'p')));
  EXPECT_EQ(w.Bytes(), "K=\"" + std::string(fits.size(), 'v') + "\"\r\n");
  CIniFile odd;
  ASSERT_EQ(odd.LoadFromBytes("[F]\r\nUIFILE=\"C:\\\\a\" INST_REQ INST_REQ INST_DEL INST_CRE\r\n"),
            IniLoadResult::kLoaded);
  std::wstring line;
  EXPECT_FALSE(CProfile::FormatKey(*odd.Sections()[0]->Keys()[0], line))
      << "a registration flag of 2 would come back as INST_NOREG";
}

TEST(UninstLogWrite, TheSharedStreamIsOpenOnOneFileAtATime) {
  ScratchFolder dir;
  CProfile first, second;
  EXPECT_FALSE(first.WriteSection(L"S")) << "nothing is open";
  EXPECT_FALSE(first.Open(L""));
  ASSERT_TRUE(first.Open(dir.File(L"a.log")));
  EXPECT_TRUE(second.Open(dir.File(L"a.log"))) << "the same path: already open";
  EXPECT_FALSE(second.Open(dir.File(L"b.log")));
  EXPECT_TRUE(second.WriteText(L"K", L"v"));
  first.Close();
  EXPECT_FALSE(second.WriteText(L"K", L"w"));
  // Reopening appends and forgets the last header written.
  ASSERT_TRUE(first.Open(dir.File(L"a.log")));
  EXPECT_TRUE(first.WriteSection(L"S"));
  first.Close();
  ASSERT_TRUE(first.Open(dir.File(L"a.log")));
  EXPECT_TRUE(first.WriteSection(L"S"));
  first.Close();
  std::string bytes;
  ASSERT_TRUE(ReadBytes(dir.File(L"a.log"), bytes));
  EXPECT_EQ(bytes, "K=\"v\"\r\n[S]\r\n[S]\r\n");
  EXPECT_FALSE(FileExists(dir.File(L"b.log")));
}

TEST(UninstLogWrite, EveryTextReadsBackUnchanged) {
  // Values the reader would otherwise turn into line breaks, quotes or cut fields.
  const std::wstring texts[] = {L"C:\\new",    L"say \"hi\"", L"line\nbreak",  L"ends with \\",
                                L"it's = [x]", L"",           L"\\\\server\\n"};
  Written w;
  ASSERT_TRUE(w.profile.WriteSection(L"S"));
  for (const auto& t : texts) ASSERT_TRUE(w.profile.WriteText(L"K", t));
  ASSERT_TRUE(w.profile.WriteFileEntry(1, L"C:\\new\\a\"b", 1, 1, false));
  ASSERT_TRUE(w.profile.WriteRegistryValueEntry(kRootCurrentUser, L"Soft\\n", L"v \"q\"", 1, 1, 1));
  w.profile.Close();
  CIniFile ini;
  ASSERT_TRUE(ini.Load(w.path, 1252));
  const auto& keys = ini.FindSection(L"S")->Keys();
  ASSERT_EQ(keys.size(), std::size(texts) + 2);
  for (size_t i = 0; i < std::size(texts); ++i) EXPECT_EQ(*keys[i]->Entry().text, texts[i]);
  EXPECT_EQ(*keys[std::size(texts)]->Entry().path, L"C:\\new\\a\"b");
  EXPECT_EQ(*keys[std::size(texts) + 1]->Entry().path, L"Soft\\n");
  EXPECT_EQ(*keys[std::size(texts) + 1]->Entry().valueName, L"v \"q\"");
}

TEST(UninstLogWrite, NamesTheReaderWouldSplitAreQuotedAndReadBackExactly) {
  const std::wstring keys[] = {L"My Key", L"say \"hi\"", L"C:\\dir",    L"a=b",
                               L"it's",   L"[x]",        L"two\nlines", L"plain"};
  const std::wstring sections[] = {L"Uninst Info", L"a=b", L"[x]", L"q\"\\", L"it's"};
  Written w;
  for (const auto& section : sections) {
    ASSERT_TRUE(w.profile.WriteSection(section));
    for (const auto& key : keys) ASSERT_TRUE(w.profile.WriteText(key, key + L" value"));
    ASSERT_TRUE(w.profile.WriteNumber(L"n m", -7));
  }
  w.profile.Close();
  const std::string bytes = w.Bytes();
  EXPECT_NE(bytes.find("[Uninst Info]\r\n\"My Key\"=\"My Key value\"\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nplain=\"plain value\"\r\n"), std::string::npos)
      << "ordinary names are written as they were";
  EXPECT_NE(bytes.find("[\"a=b\"]\r\n"), std::string::npos);
  CIniFile ini;
  ASSERT_TRUE(ini.Load(w.path, 1252));
  ASSERT_EQ(ini.Sections().size(), std::size(sections));
  for (size_t i = 0; i < std::size(sections); ++i) {
    const CSection* s = ini.Sections()[i];
    EXPECT_EQ(s->Name(), sections[i]);
    ASSERT_EQ(s->Keys().size(), std::size(keys) + 1);
    for (size_t k = 0; k < std::size(keys); ++k) {
      EXPECT_EQ(s->Keys()[k]->Name(), keys[k]);
      EXPECT_EQ(*s->Keys()[k]->Entry().text, keys[k] + L" value");
    }
    EXPECT_EQ(s->Keys().back()->Name(), L"n m");
    EXPECT_EQ(*s->Keys().back()->Entry().text, L"-7");
  }
}

TEST(UninstLogWrite, ALogReadAndWrittenBackKeepsItsLines) {
  // Lines already in the written form come back byte for byte; the others take that form.
  const std::string canonical =
      "[Uninst Info]\r\n"
      "UNInfo=\"Main\"\r\n"
      "Uninstall_End=16\r\n"
      "[Files]\r\n"
      "UIFLDR=\"C:\\\\Program Files\\\\App\" INST_REQ INST_CRE INST_DEL \r\n"
      "UIFILE=\"C:\\\\Program Files\\\\App\\\\a.exe\" INST_REQ INST_VER INST_DEL INST_NOREG\r\n"
      "[Registry]\r\n"
      "UIREGIKEY=HCU \"Software\\\\Tamek\" INST_CRE INST_REQ INST_REF\r\n"
      "UIREGI=HLM \"Software\\\\Tamek\" \"\" INST_REQ INST_REQ INST_DEL\r\n";
  ScratchFolder dir;
  ASSERT_TRUE(WriteBytes(dir.File(L"in.log"), canonical +
                                                  "' a comment\r\n[Files]\r\n"
                                                  "UIFLDR = \"C:\\\\B\"\tINST_NON INST_NON INST_HLD\r\n"
                                                  "Uninstall_Abort=0x20\r\n"));
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.File(L"in.log"), 1252));
  CProfile out(1252);
  ASSERT_TRUE(out.Open(dir.File(L"out.log")));
  EXPECT_TRUE(out.WriteModel(ini));
  out.Close();
  std::string bytes;
  ASSERT_TRUE(ReadBytes(dir.File(L"out.log"), bytes));
  const std::string expected =
      "[Uninst Info]\r\n"
      "UNInfo=\"Main\"\r\n"
      "Uninstall_End=16\r\n"
      "[Files]\r\n"
      "UIFLDR=\"C:\\\\Program Files\\\\App\" INST_REQ INST_CRE INST_DEL \r\n"
      "UIFILE=\"C:\\\\Program Files\\\\App\\\\a.exe\" INST_REQ INST_VER INST_DEL INST_NOREG\r\n"
      "UIFLDR=\"C:\\\\B\" INST_REQ INST_CRE INST_DEL \r\n"
      "Uninstall_Abort=32\r\n"
      "[Registry]\r\n"
      "UIREGIKEY=HCU \"Software\\\\Tamek\" INST_CRE INST_REQ INST_REF\r\n"
      "UIREGI=HLM \"Software\\\\Tamek\" \"\" INST_REQ INST_REQ INST_DEL\r\n";
  EXPECT_EQ(bytes, expected);
}

TEST(UninstLogWrite, DoubleByteCodePagesRoundTripWithoutTreatingTrailBytesAsEscapes) {
  // In code page 932 the second byte of U+8868 is 0x5C, the backslash: lines are converted
  // before they are lexed, so it is no escape, and it is not doubled when written.
  ScratchFolder dir;
  const std::string line =
      "UIFILE=\"C:\\\\\x95\x5c\\\\\x93\xfa.txt\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
  ASSERT_TRUE(WriteBytes(dir.File(L"in.log"), "[Files]\r\n" + line));
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.File(L"in.log"), 932));
  EXPECT_EQ(*ini.FindSection(L"Files")->Keys()[0]->Entry().path, L"C:\\\u8868\\\u65e5.txt");
  CProfile out(932);
  ASSERT_TRUE(out.Open(dir.File(L"out.log")));
  EXPECT_TRUE(out.WriteModel(ini));
  out.Close();
  std::string bytes;
  ASSERT_TRUE(ReadBytes(dir.File(L"out.log"), bytes));
  EXPECT_EQ(bytes, "[Files]\r\n" + line);
}
