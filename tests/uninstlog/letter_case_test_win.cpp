// The uninstall log's entries matched with the package's paths as Windows compares paths, with
// the real Brindle.exe: a line in other letter case, a path with a doubled separator, a file the
// update puts in place that the log does not list. And the upper case used for the matching is
// the one the system's ordinal comparison without case uses, for every UTF-16 unit.
#include <gtest/gtest.h>

#include "support/patch_fixture_win.h"
#include "support/scratch.h"
#include "sys/text.h"
#include "uninstlog/path_key.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

namespace {

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace

TEST(PathKeys, UpperCaseIsTheSystemsOrdinalUpperCase) {
  size_t differing = 0;
  for (unsigned u = 1; u < 0x10000; ++u) {
    const std::wstring c(1, static_cast<wchar_t>(u));
    const std::wstring upper = UpperOrdinal(c);
    ASSERT_EQ(upper.size(), 1u);
    // The folded unit compares equal to the unit; two units with one folded form compare equal.
    ASSERT_EQ(CompareStringOrdinal(c.c_str(), 1, upper.c_str(), 1, TRUE), CSTR_EQUAL) << u;
    if (upper != c) ++differing;
  }
  EXPECT_GT(differing, 500u) << "letters beyond ASCII are folded too";
  EXPECT_EQ(FilePathKey(L"C:\\Donn\u00e9es\\\u0101"), FilePathKey(L"c:/DONN\u00c9ES//\u0100"));
}

TEST_F(PatchFixture, UninstallLogLinesAreFoundWhateverTheirLetterCase) {
  ASSERT_TRUE(WriteFileText(app_ + L"\\keep.txt", "keep"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\old.txt", "old"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\bin\\tool.txt", "tool 1.0"));
  const std::string a = Utf8FromWide(app_);
  const std::string upperA = Utf8FromWide(Upper(app_));
  const std::string folder = "UIFLDR=\"" + Logged(a) + "\" INST_REQ INST_CRE INST_DEL \r\n";
  // The installer logged tool.txt in upper case; the package names it in lower case.
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" + folder +
                                                        "[Files]\r\nUIFILE=\"" +
                                                        Logged(upperA + "\\BIN\\TOOL.TXT") +
                                                        "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
                                                        "UIFILE=\"" +
                                                        Logged(a + "\\old.txt") +
                                                        "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
                                                        "UIFILE=\"" +
                                                        Logged(a + "\\keep.txt") +
                                                        "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
                                                        "[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n"
                                                        "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\tool.txt", "tool 1.1"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\new.txt", "new"));
  auto file = [](const std::string& delInfo, const std::string& path, const std::string& name) {
    return "<File COM=\"INST_NOREG\" DelInfo=\"" + delInfo + "\" WOW=\"INST_32BIT\"><FullPath>" + path +
           "</FullPath>" + (name.empty() ? "" : "<FileName>" + name + "</FileName>") + "</File>";
  };
  // old.txt is named in other letter case and with a doubled separator; tool.txt is updated and
  // becomes a held file; data\new.txt is updated but was never logged.
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute>"
      "<GeneralInfo><Version>1.1</Version></GeneralInfo><DeleteObjects>" +
      file("INST_DEL", "$InsFolder$\\\\OLD.TXT", "") + "</DeleteObjects><UpdateObjects>" +
      file("INST_HLD", "$InsFolder$\\bin\\tool.txt", "tool.txt") +
      file("INST_DEL", "$InsFolder$\\data\\new.txt", "new.txt") + "</UpdateObjects></DiffDistribute>");
  ASSERT_EQ(RunBrindle(list, L"/non_notification"), 200);

  EXPECT_FALSE(FileExists(app_ + L"\\old.txt"));
  EXPECT_EQ(FileText(app_ + L"\\bin\\tool.txt"), "tool 1.1");
  EXPECT_EQ(FileText(app_ + L"\\data\\new.txt"), "new");
  // tool.txt's line keeps its letter case and takes the new delete flag; old.txt's line is
  // gone; new.txt has a line and its folder one, so the uninstaller removes it.
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" + folder +
                                                  "[Files]\r\nUIFILE=\"" +
                                                  Logged(upperA + "\\BIN\\TOOL.TXT") +
                                                  "\" INST_REQ INST_REQ INST_HLD INST_NOREG\r\n"
                                                  "[Folders]\r\n" +
                                                  folder + "[Files]\r\nUIFILE=\"" + Logged(a + "\\keep.txt") +
                                                  "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
                                                  "[Folders]\r\nUIFLDR=\"" +
                                                  Logged(a + "\\data") +
                                                  "\" INST_REQ INST_CRE INST_DEL \r\n"
                                                  "[Files]\r\nUIFILE=\"" +
                                                  Logged(a + "\\data\\new.txt") +
                                                  "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
                                                  "[Startup]\r\nVersion=\"1.1\"\r\n[Uninst Info]\r\n"
                                                  "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n");
}
