// A shortcut that cannot be saved, created by the real Brindle.exe: its line says error, the
// uninstall log does not list it, and the package goes on with the next shortcut.
#include <gtest/gtest.h>

#include "support/patch_fixture_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "sys/paths.h"
#include "sys/text.h"

#include <windows.h>
#include <shlobj.h>

using namespace brindle;
using namespace brindle::test;

namespace {

std::string ProgramMenuShortcut(const std::wstring& name, const std::string& target) {
  return "<ShortCut><SCName Type=\"INST_GSC\">" + Utf8FromWide(name) +
         "</SCName><FullPath Type=\"SCTarget\">" + target + "</FullPath></ShortCut>";
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TEST_F(PatchFixture, AShortcutThatCannotBeSavedIsAnErrorLineAndTheNextOneIsStillMade) {
  const std::wstring programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
  ASSERT_FALSE(programs.empty());
  const std::wstring blocked = Unique(L"BrindleBlocked"), fine = Unique(L"BrindleFine");
  // A folder where the first shortcut's file would go: the save cannot write it.
  const std::wstring blocker = programs + L"\\" + blocked + L".lnk";
  ASSERT_TRUE(CreateFolderChain(blocker));
  extraFolders_.push_back(blocker);
  extraFolders_.push_back(programs + L"\\" + fine + L".lnk");
  ASSERT_TRUE(WriteFileText(app_ + L"\\app.exe", "program"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n"
                            "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
      "</GeneralInfo><AddObjects>" +
      ProgramMenuShortcut(blocked, "$InsFolder$\\app.exe") +
      ProgramMenuShortcut(fine, "$InsFolder$\\app.exe") + "</AddObjects></DiffDistribute>");

  ServiceLogTail tail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  const std::vector<std::wstring> lines = tail.Details(L"ADD_SHORTCUT");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(blocked + L".lnk,error,"), std::wstring::npos) << Utf8FromWide(lines[0]);
  EXPECT_FALSE(EndsWith(lines[0], L",error,0")) << Utf8FromWide(lines[0]);  // the save's own code
  EXPECT_TRUE(EndsWith(lines[1], fine + L".lnk,success,0")) << Utf8FromWide(lines[1]);
  EXPECT_TRUE(PathExists(programs + L"\\" + fine + L".lnk"));
  const std::string uninst = FileText(app_ + L"\\uninst.ini");
  EXPECT_EQ(uninst.find(Utf8FromWide(blocked)), std::string::npos) << uninst;
  EXPECT_NE(uninst.find(Utf8FromWide(fine) + ".lnk"), std::string::npos) << uninst;
}
