// The shortcut delete pass on this machine's program menu, driven directly: every record is
// tried, a link that cannot be deleted keeps its uninstall-log entry and fails the pass after
// the loop, a link that is gone leaves the log.
#include <gtest/gtest.h>

#include "apply/shortcut_actions_win.h"
#include "apply/sub_updater.h"
#include "apply/win_sub_updater_win.h"
#include "package/diff_distribute.h"
#include "package/object_records.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "sys/paths.h"
#include "uninstlog/uninstall_log.h"

#include <windows.h>
#include <shlobj.h>

using namespace brindle;
using namespace brindle::test;

namespace {

std::wstring ProgramMenu() {
  wchar_t buffer[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

std::unique_ptr<CQXShortCut> MenuLink(const std::wstring& name) {
  auto record = std::make_unique<CQXShortCut>();
  record->name.type = kShortcutGroup;
  record->name.name = name;
  record->target.path = L"C:\\windows\\notepad.exe";
  return record;
}

std::string Logged(const std::wstring& path) {
  std::string out;
  for (wchar_t c : path) {
    out += static_cast<char>(c);
    if (c == L'\\') out += '\\';
  }
  return out;
}

}  // namespace

TEST(ShortcutDeletePass, ALinkThatCannotBeDeletedKeepsItsLogEntryAndFailsThePassAfterTheOthers) {
  ScratchFolder scratch;
  const std::wstring menu = ProgramMenu();
  ASSERT_FALSE(menu.empty());
  const std::wstring group = L"BrindleDel" + std::to_wstring(GetCurrentProcessId());
  const std::wstring folder = menu + L"\\" + group;
  const std::wstring gone = folder + L"\\Gone.lnk";
  const std::wstring stuck = folder + L"\\Stuck.lnk";  // a folder of that name: no file deletion removes it
  ASSERT_TRUE(CreateFolderChain(stuck));
  ASSERT_TRUE(WriteBytes(gone, "link"));

  const std::wstring logPath = scratch.File(L"uninst.ini");
  const std::string tail =
      "[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\nProduct=\"P\"\r\n"
      "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n";
  const std::string folderLine = "UIFLDR=\"" + Logged(folder) + "\" INST_REQ INST_CRE INST_DEL \r\n";
  auto fileLine = [](const std::wstring& path) {
    return "UIFILE=\"" + Logged(path) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
  };
  ASSERT_TRUE(WriteBytes(logPath, "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" + folderLine + "[Files]\r\n" +
                                      fileLine(gone) + fileLine(stuck) + tail));

  CWinQXSubUpdater updater;
  ASSERT_TRUE(updater.OpenUninstallLog(logPath));
  ASSERT_TRUE(updater.BeginPackage(L"shortcuts.cab"));
  CQXDeleteObjects deletions;
  deletions.shortCuts.push_back(MenuLink(group + L"\\Stuck"));
  deletions.shortCuts.push_back(MenuLink(group + L"\\Gone"));
  deletions.shortCuts.push_back(MenuLink(group + L"\\Missing"));

  ServiceLogTail lines;
  EXPECT_THROW(updater.ApplyDeleteObjects(deletions), CUpdaterException);
  const std::vector<std::wstring> details = lines.Details(L"DELETE_SHORTCUT");
  ASSERT_EQ(details.size(), 3u);
  EXPECT_EQ(details[0].rfind(L"-," + ToForwardSlashes(stuck) + L",error,", 0), 0u) << details[0];
  EXPECT_NE(details[0], L"-," + ToForwardSlashes(stuck) + L",error,0");
  EXPECT_EQ(details[1], L"-," + ToForwardSlashes(gone) + L",success,0");
  EXPECT_EQ(details[2], L"-," + ToForwardSlashes(folder + L"\\Missing.lnk") + L",success,0");

  EXPECT_FALSE(FileExists(gone));
  EXPECT_TRUE(FileExists(stuck));
  ASSERT_TRUE(updater.SaveUninstallLog(logPath));
  std::string saved;
  ASSERT_TRUE(ReadBytes(logPath, saved));
  EXPECT_EQ(saved, "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" + folderLine + "[Files]\r\n" +
                       fileLine(stuck) + tail);
  updater.CommitPackage();
  RemoveTree(folder);
}
