// The file rules no other end-to-end run reaches, applied by the real Brindle.exe: shared
// libraries whose count is 1, missing or ignored by the update group, equal file times, the next
// free temporary name for a file in use, empty folders under the Windows folder; what the
// uninstall log and the service log keep for the programs that share them.
#include <gtest/gtest.h>

#include "logs/service_log.h"
#include "support/patch_fixture_win.h"
#include "support/process_win.h"
#include "support/restart_queue_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {

std::string FileRecord(const std::string& delInfo, const std::string& target, const std::string& name = "") {
  return "<File COM=\"INST_NOREG\" DelInfo=\"" + delInfo + "\" WOW=\"INST_32BIT\"><FullPath>" + target +
         "</FullPath>" + (name.empty() ? "" : "<FileName>" + name + "</FileName>") + "</File>";
}

std::string Package(const std::string& deletes, const std::string& updates, const std::string& adds) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
         "</GeneralInfo><DeleteObjects>" +
         deletes + "</DeleteObjects><UpdateObjects>" + updates + "</UpdateObjects><AddObjects>" + adds +
         "</AddObjects></DiffDistribute>";
}

// The file's last-write time set to noon of 1 June of the year (an even second, as a cabinet
// stores it).
bool SetWriteYear(const std::wstring& path, WORD year) {
  SYSTEMTIME st = {};
  st.wYear = year;
  st.wMonth = 6;
  st.wDay = 1;
  st.wHour = 12;
  FILETIME local, utc;
  SystemTimeToFileTime(&st, &local);
  LocalFileTimeToFileTime(&local, &utc);
  UniqueFile file(
      CreateFileW(ToBackslashes(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return file.Valid() && SetFileTime(file.Get(), &utc, &utc, &utc);
}

class FileRules : public PatchFixture {
 protected:
  // The installed application: its files (relative name, text) and an uninstall log listing
  // them with the DelInfo given.
  void Install(const std::vector<std::pair<std::wstring, std::string>>& files, const std::string& delInfo) {
    std::string entries;
    for (const auto& [name, text] : files) {
      ASSERT_TRUE(WriteFileText(app_ + L"\\" + name, text));
      entries += "UIFILE=\"" + Logged(AppPath(name)) + "\" INST_REQ INST_REQ " + delInfo + " INST_NOREG\r\n";
    }
    ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", "[Language]\r\nLang=\"en\"\r\n[Files]\r\n" + entries +
                                                          "[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n"
                                                          "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
    WriteInstallLog(L"en");
    WriteWrapperFiles({L"ENGLISH"});
  }
  void TearDown() override {
    for (const std::wstring& path : counted_) RemoveSharedCount(path);
    PatchFixture::TearDown();
  }
  void Count(const std::wstring& path, DWORD count) {
    counted_.push_back(path);
    SetSharedCount(path, count);
  }
  std::string CountOf(const std::wstring& path) {
    DWORD count = 0;
    return SharedCount(path, count) ? std::to_string(count) : "none";
  }

  std::vector<std::wstring> counted_;
};

}  // namespace

TEST_F(FileRules, DeletingASharedLibraryWhoseCountIsOneOrMissingRemovesItAndItsCount) {
  Install({{L"one.dll", "one"}, {L"none.dll", "none"}, {L"three.dll", "three"}}, "INST_REF");
  Count(app_ + L"\\one.dll", 1);
  counted_.push_back(app_ + L"\\none.dll");
  RemoveSharedCount(app_ + L"\\none.dll");
  Count(app_ + L"\\three.dll", 3);
  const std::wstring list = BuildPackage(Package(FileRecord("INST_REF", "$InsFolder$\\one.dll") +
                                                     FileRecord("INST_REF", "$InsFolder$\\none.dll") +
                                                     FileRecord("INST_REF", "$InsFolder$\\three.dll"),
                                                 "", ""));
  ServiceLogTail tail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_FALSE(FileExists(app_ + L"\\one.dll"));
  EXPECT_EQ(CountOf(app_ + L"\\one.dll"), "none");
  EXPECT_FALSE(FileExists(app_ + L"\\none.dll"));
  EXPECT_EQ(CountOf(app_ + L"\\none.dll"), "none");
  EXPECT_EQ(FileText(app_ + L"\\three.dll"), "three");  // still used by two installations
  EXPECT_EQ(CountOf(app_ + L"\\three.dll"), "2");
  EXPECT_EQ(tail.Details(L"DELETE_FILE"),
            (std::vector<std::wstring>{L"-," + app_ + L"\\one.dll,success,0",
                                       L"-," + app_ + L"\\none.dll,success,0",
                                       L"-," + app_ + L"\\three.dll,success,0"}));
}

TEST_F(FileRules, TheUpdateGroupReplacesASharedLibraryWhateverItsCountAndKeepsTheCount) {
  Install({{L"lib.dll", "lib 1.0"}}, "INST_REF");
  Count(app_ + L"\\lib.dll", 3);
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\lib.dll", "lib 1.1"));
  const std::wstring list =
      BuildPackage(Package("", FileRecord("INST_REF", "$InsFolder$\\lib.dll", "lib.dll"), ""));
  ServiceLogTail tail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_EQ(FileText(app_ + L"\\lib.dll"), "lib 1.1");
  EXPECT_EQ(CountOf(app_ + L"\\lib.dll"), "3");
  EXPECT_EQ(tail.Details(L"UPDATE_FILE_DELETE"),
            std::vector<std::wstring>{L"-," + app_ + L"\\lib.dll,success,0"});
  EXPECT_EQ(tail.Details(L"UPDATE_FILE_ADD"),
            std::vector<std::wstring>{L"-," + app_ + L"\\lib.dll,success,0"});
}

// Without version resources the later write time wins; an equal time keeps the installed file,
// with no line and no change.
TEST_F(FileRules, AnAddedFileWithTheInstalledFilesTimeIsNotCopied) {
  Install({{L"same.txt", "installed"}, {L"older.txt", "installed"}}, "INST_DEL");
  ASSERT_TRUE(SetWriteYear(app_ + L"\\same.txt", 2015));
  ASSERT_TRUE(SetWriteYear(app_ + L"\\older.txt", 2014));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\same.txt", "packaged"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\older.txt", "packaged"));
  ASSERT_TRUE(SetWriteYear(packageSource_ + L"\\INST\\same.txt", 2015));
  ASSERT_TRUE(SetWriteYear(packageSource_ + L"\\INST\\older.txt", 2015));
  const std::wstring list =
      BuildPackage(Package("", "",
                           FileRecord("INST_DEL", "$InsFolder$\\same.txt", "same.txt") +
                               FileRecord("INST_DEL", "$InsFolder$\\older.txt", "older.txt")));
  ServiceLogTail tail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_EQ(FileText(app_ + L"\\same.txt"), "installed");
  EXPECT_EQ(FileText(app_ + L"\\older.txt"), "packaged");
  EXPECT_EQ(tail.Details(L"ADD_FILE"), std::vector<std::wstring>{L"-," + app_ + L"\\older.txt,success,0"});
}

TEST_F(FileRules, AFileInUseWhoseFirstTemporaryNameIsTakenGoesToTheNextOne) {
  Install({{L"busy.txt", "busy 1.0"}}, "INST_DEL");
  ASSERT_TRUE(WriteFileText(app_ + L"\\busy.txt.tmp0001", "left over"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\busy.txt", "busy 1.1"));
  const std::wstring list =
      BuildPackage(Package("", FileRecord("INST_DEL", "$InsFolder$\\busy.txt", "busy.txt"), ""));
  bool holding = false;
  StartedProcess holder = StartWhenReady(ProgramPath(L"brindle_probe.exe"),
                                         L"file \"" + app_ + L"\\busy.txt\" 60000", 30000, holding);
  ASSERT_TRUE(holding);
  std::wstring question;
  std::thread answer([&] {
    HWND box = FindDialog(L"Sample Application", 90000);
    if (!box) return;
    question = StaticTexts(box);
    PressButton(box, L"Non");
  });
  const int exitCode = RunBrindle(list, L"/non_notification");
  answer.join();
  TerminateProcess(holder.process.Get(), 0);
  WaitForSingleObject(holder.process.Get(), 5000);
  EXPECT_EQ(exitCode, 200);
  EXPECT_NE(question.find(L"red\u00e9marr"), std::wstring::npos);
  EXPECT_EQ(FileText(app_ + L"\\busy.txt"), "busy 1.0");
  EXPECT_EQ(FileText(app_ + L"\\busy.txt.tmp0001"), "left over");
  EXPECT_EQ(FileText(app_ + L"\\busy.txt.tmp0002"), "busy 1.1");
  std::wstring queued = app_ + L"\\busy.txt.tmp0002";
  wchar_t shortName[MAX_PATH] = {};
  if (GetShortPathNameW(queued.c_str(), shortName, MAX_PATH)) queued = shortName;
  std::wstring pending = PendingRenames();
  CharUpperW(&pending[0]);
  CharUpperW(&queued[0]);
  EXPECT_NE(pending.find(L"\\??\\" + queued + L"|!"), std::wstring::npos);
}

TEST_F(FileRules, DeletingTheLastFileOfAFolderUnderTheWindowsFolderRemovesThatFolderOnly) {
  wchar_t windows[MAX_PATH] = {};
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring name = Unique(L"BrindleRules");
  const std::wstring folder = std::wstring(windows) + L"\\" + name;
  extraFolders_.push_back(folder);
  ASSERT_TRUE(WriteFileText(folder + L"\\last.txt", "last"));
  Install({}, "INST_DEL");
  const std::wstring list = BuildPackage(
      Package(FileRecord("INST_DEL", "$WinFolder$\\" + Utf8FromWide(name) + "\\last.txt"), "", ""));
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_FALSE(PathExists(folder));
  EXPECT_TRUE(PathExists(windows));
  EXPECT_TRUE(PathExists(std::wstring(windows) + L"\\system32"));
}

// The uninstall log is the uninstaller's: what this program does not model stays as it was
// written, and a log that lacks a section this program writes is saved without it.
TEST_F(FileRules, TheUninstallLogKeepsWhatTheUpdaterDoesNotModel) {
  Install({{L"lib.txt", "lib 1.0"}}, "INST_DEL");
  const std::string fileLine =
      "UIFILE=\"" + Logged(AppPath(L"lib.txt")) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n"
                            "[Extra Info]\r\nChannel = beta ' read by the uninstaller\r\nMirror=\"a b\" c\r\n"
                            "[Files]\r\n" +
                                fileLine +
                                "[Startup]\r\nVersion=\"1.0\"\r\nCookie = c1 c2\r\n[Uninst Info]\r\n"
                                "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\lib.txt", "lib 1.1"));
  const std::wstring list =
      BuildPackage(Package("", FileRecord("INST_DEL", "$InsFolder$\\lib.txt", "lib.txt"), ""));
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1");
  const std::string log = FileText(app_ + L"\\uninst.ini");
  EXPECT_EQ(log.rfind("[Language]\r\nLang=\"en\"\r\n"
                      "[Extra Info]\r\nChannel = beta ' read by the uninstaller\r\nMirror=\"a b\" c\r\n"
                      "[Files]\r\n" +
                          fileLine + "[Startup]\r\nVersion=",
                      0),
            0u)
      << log;
  EXPECT_NE(log.find("\r\nCookie = c1 c2\r\n[Uninst Info]\r\n[UninstallCustomFunction]\r\n"),
            std::string::npos)
      << log;
}

TEST_F(FileRules, AnUninstallLogWithoutTheCustomFunctionSectionTakesTheAddedFile) {
  Install({}, "INST_DEL");
  const std::string head = "[Language]\r\nLang=\"en\"\r\n[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n";
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", head));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\new.txt", "new"));
  const std::wstring list =
      BuildPackage(Package("", "", FileRecord("INST_DEL", "$InsFolder$\\new.txt", "new.txt")));
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_EQ(FileText(app_ + L"\\new.txt"), "new");
  const std::string log = FileText(app_ + L"\\uninst.ini");
  EXPECT_NE(
      log.find("UIFILE=\"" + Logged(AppPath(L"new.txt")) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"),
      std::string::npos)
      << log;
  EXPECT_EQ(log.find("[UninstallCustomFunction]"), std::string::npos) << log;
  EXPECT_EQ(log.find("DLLPath"), std::string::npos) << log;
}

// A referenced file the update group replaces that the log did not list gets its line, and with
// it a count: the uninstaller lowers the count of every referenced file it lists.
TEST_F(FileRules, AnUnlistedReferencedFileUpdatedGetsItsLineAndOneMoreCount) {
  Install({{L"listed.dll", "listed 1.0"}}, "INST_REF");
  ASSERT_TRUE(WriteFileText(app_ + L"\\unlisted.dll", "unlisted 1.0"));
  Count(app_ + L"\\listed.dll", 2);
  Count(app_ + L"\\unlisted.dll", 1);
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\listed.dll", "listed 1.1"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\unlisted.dll", "unlisted 1.1"));
  const std::wstring list =
      BuildPackage(Package("",
                           FileRecord("INST_REF", "$InsFolder$\\listed.dll", "listed.dll") +
                               FileRecord("INST_REF", "$InsFolder$\\unlisted.dll", "unlisted.dll"),
                           ""));
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_EQ(FileText(app_ + L"\\unlisted.dll"), "unlisted 1.1");
  EXPECT_EQ(CountOf(app_ + L"\\unlisted.dll"), "2");
  EXPECT_EQ(CountOf(app_ + L"\\listed.dll"), "2");
  const std::string log = FileText(app_ + L"\\uninst.ini");
  EXPECT_NE(log.find("UIFILE=\"" + Logged(AppPath(L"unlisted.dll")) +
                     "\" INST_REQ INST_REQ INST_REF INST_NOREG\r\n"),
            std::string::npos)
      << log;
}

// Between two lines the program holds nothing on the service log: a sibling that collects the
// log while an update waits (here at the restart question) deletes it, and the lines after go
// to a new log at its path.
TEST_F(FileRules, ASiblingDeletesTheServiceLogWhileAPackageRuns) {
  Install({{L"busy.txt", "busy 1.0"}}, "INST_DEL");
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\busy.txt", "busy 1.1"));
  const std::wstring list =
      BuildPackage(Package("", FileRecord("INST_DEL", "$InsFolder$\\busy.txt", "busy.txt"), ""));
  bool holding = false;
  StartedProcess holder = StartWhenReady(ProgramPath(L"brindle_probe.exe"),
                                         L"file \"" + app_ + L"\\busy.txt\" 60000", 30000, holding);
  ASSERT_TRUE(holding);
  const std::wstring log = ToBackslashes(JoinPath(ServiceLogFolder(), kServiceLogFileName));
  bool deleted = false;
  DWORD deleteError = 0;
  std::unique_ptr<ServiceLogTail> after;
  std::thread answer([&] {
    HWND box = FindDialog(L"Sample Application", 90000);
    if (!box) return;
    deleted = DeleteFileW(log.c_str()) != FALSE;
    if (!deleted) deleteError = GetLastError();
    after = std::make_unique<ServiceLogTail>();
    PressButton(box, L"Non");
  });
  const int exitCode = RunBrindle(list, L"/non_notification");
  answer.join();
  TerminateProcess(holder.process.Get(), 0);
  WaitForSingleObject(holder.process.Get(), 5000);
  EXPECT_EQ(exitCode, 200);
  EXPECT_TRUE(deleted) << deleteError;
  ASSERT_TRUE(after);
  std::string bytes;
  ASSERT_TRUE(ReadBytes(log, bytes));
  EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF", 0), 0u) << "a new log starts with its byte-order mark";
  EXPECT_EQ(bytes.find("START_PATCH_INSTALLATION"), std::string::npos) << "no line of before the deletion";
  const std::vector<ServiceLogLine> lines = after->NewLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().key, L"PROCESS_END");
  EXPECT_EQ(lines.back().detail, L"-,200");
}
