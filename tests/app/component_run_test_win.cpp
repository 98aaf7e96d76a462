// Component runs of the real Brindle.exe: the installer wrapper's programs are played by
// fake_wrapper.exe, which records its command line and what it finds in the shared key, and
// answers through "Result Value" as the test asks. Checked after the run: the launcher's
// records, the command lines, the copies of Install.exe, the service log and the shared key.
#include <gtest/gtest.h>

#include "logs/install_log.h"
#include "support/folder_link_win.h"
#include "support/install_log_fixture_win.h"
#include "support/launcher_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "sys/paths.h"
#include "sys/system_util.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <sstream>
#include <tlhelp32.h>

using namespace brindle;
using namespace brindle::test;

namespace {

const wchar_t kSharedKey[] = L"SOFTWARE\\Tamek_Inc_RW\\Ostrel Shared";
const wchar_t kMarrowgateKey[] = L"SOFTWARE\\Tamek_Inc_RW\\Marrowgate Shared";

std::wstring ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

bool CopyHelper(const std::wstring& helper, const std::wstring& target) {
  CreateFolderChain(ParentFolder(target));
  return CopyFileW(ProgramPath(helper).c_str(), ToBackslashes(target).c_str(), FALSE) != 0;
}

std::vector<std::string> FileLines(const std::wstring& path) {
  std::string text;
  if (!ReadBytes(path, text)) return {"<missing>"};
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Ends the test's own stand-in programs that the updater left running.
void KillProcessesNamed(const std::wstring& exeName) {
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (!EqualsIgnoreAsciiCase(entry.szExeFile, exeName)) continue;
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (process) {
      TerminateProcess(process.Get(), 1);
      WaitForSingleObject(process.Get(), 5000);
    }
  }
}

bool SharedKeyExists(REGSAM view) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedKey, 0, KEY_READ | view, key.Receive()) == ERROR_SUCCESS;
}

void SetString(const wchar_t* keyPath, const wchar_t* name, const std::wstring& text) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                            nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void SetNumber(const wchar_t* keyPath, const wchar_t* name, DWORD value) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                            nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

std::unique_ptr<InstallLogEntry> Entry(const std::wstring& appName, const std::wstring& fullPath) {
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = appName;
  entry->DisplayName.name = appName;
  entry->applicationVersion.text = L"1.0";
  entry->uninstallerVersion.text = L"7.0";
  entry->FullPath = fullPath;
  return entry;
}

class ComponentRun : public ::testing::Test {
 protected:
  void SetUp() override {
    version_ = L"9.1." + std::to_wstring(GetCurrentProcessId());
    wrapperFolder_ = ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86) + L"\\Tamek\\ZNQ\\" + version_;
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMarrowgateKey, KEY_WOW64_32KEY, 0);
  }
  void TearDown() override {
    RemoveTree(wrapperFolder_);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMarrowgateKey, KEY_WOW64_32KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSharedKey, KEY_WOW64_32KEY, 0);
    DeleteFileW(L"C:\\Install.exe");
    DeleteFileW(L"C:\\setup.dll");
  }

  ScratchFolder folder_;
  InstallLogGuard installLog_;
  std::wstring version_, wrapperFolder_;
};

}  // namespace

TEST_F(ComponentRun, WrapperRunsAnswerThroughTheSharedKeyAndEveryResultReachesTheLauncher) {
  const std::wstring parentFolder = L"C:\\Viewer Home";
  // The installed wrapper (Install.exe, setup.dll) and the registered uninstall wrapper, in a
  // folder whose name has a blank.
  ASSERT_TRUE(CopyHelper(L"fake_wrapper.exe", wrapperFolder_ + L"\\Install.exe"));
  ASSERT_TRUE(WriteBytes(wrapperFolder_ + L"\\setup.dll", "setup"));
  const std::wstring uninst = ToBackslashes(folder_.File(L"Uninstall wrapper/Uninst.exe"));
  ASSERT_TRUE(CopyHelper(L"fake_wrapper.exe", uninst));
  ASSERT_TRUE(WriteBytes(uninst + L".answers",
                         "d1__for__Viewer 1\nd2__for__Viewer 0\ne__for__Viewer 1\n"
                         "u1__for__Viewer 1\nu2__for__Viewer 1\nu3__for__Viewer 0\n"));
  SetString(kMarrowgateKey, L"UninstallWrapperPath", uninst);
  // The new components' folders, each with the answer Install.exe gives there.
  const std::wstring sources = ToBackslashes(folder_.File(L"sources"));
  const std::vector<std::pair<std::wstring, std::string>> answers = {
      {L"u1", "* 1"}, {L"u2", "* 0"}, {L"a1", "* 1"}, {L"a2", "* 0"}, {L"a3", "* none"}, {L"e", "* 1"}};
  for (const auto& [id, answer] : answers) {
    ASSERT_TRUE(CreateFolderChain(sources + L"\\" + id));
    ASSERT_TRUE(WriteBytes(sources + L"\\" + id + L"\\Install.exe.answers", answer + "\n"));
  }

  CQXInstallLog log;
  auto parent = Entry(L"Viewer", parentFolder);
  parent->installerVersion.text = version_;
  log.entries.push_back(std::move(parent));
  for (const wchar_t* id : {L"d1", L"d2", L"e", L"u1", L"u2", L"u3"})
    log.entries.push_back(Entry(std::wstring(id) + L"__for__Viewer", parentFolder + L"\\" + id));
  CreateFolderChain(ParentFolder(installLog_.Path()));
  ASSERT_TRUE(SaveInstallLog(log, installLog_.Path()));
  const std::string logBefore = installLog_.Bytes();

  // What an earlier, killed wrapper run left behind must not be read as an answer.
  SetNumber(kSharedKey, L"Result Value", 1);
  SetString(kSharedKey, L"ParentAppName", L"Stale");
  SetString(kSharedKey, L"ParentInsFolder", L"C:\\Stale");

  const std::string s = Utf8FromWide(sources);
  // "e" is listed for deletion first, without a folder, so its later ADD finds no folder.
  const std::wstring list = folder_.File(L"actions.xml");
  ASSERT_TRUE(WriteBytes(list,
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ActionList ParentAppName=\"Viewer\">"
                         "<Action ID=\"a1\" Action=\"ADD\" Path=\"" +
                             s +
                             "\\a1\"/>"
                             "<Action ID=\"d1\" Action=\"DELETE\"/><Action ID=\"d2\" Action=\"DELETE\"/>"
                             "<Action ID=\"d3\" Action=\"DELETE\"/><Action ID=\"e\" Action=\"DELETE\"/>"
                             "<Action ID=\"u1\" Action=\"UPDATE\" Path=\"" +
                             s +
                             "\\u1\"/>"
                             "<Action ID=\"u2\" Action=\"UPDATE\" Path=\"" +
                             s +
                             "\\u2\"/>"
                             "<Action ID=\"u3\" Action=\"UPDATE\" Path=\"" +
                             s +
                             "\\u3\"/>"
                             "<Action ID=\"a2\" Action=\"ADD\" Path=\"" +
                             s +
                             "\\a2\"/>"
                             "<Action ID=\"a3\" Action=\"ADD\" Path=\"" +
                             s +
                             "\\a3\"/>"
                             "<Action ID=\"e\" Action=\"ADD\" Path=\"" +
                             s +
                             "\\e\"/>"
                             "</ActionList>"));

  Launcher launcher(folder_);
  ASSERT_TRUE(launcher.Running());
  ServiceLogTail tail;
  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /component_install");
  // A quiet end (d2) and failures: the run as a whole did not succeed.
  EXPECT_EQ(WaitForExit(run, 120000), 100);

  EXPECT_EQ(launcher.Lines(), (std::vector<std::string>{"ready",
                                                        "record 1 3 4 0 0 552 ok d1",
                                                        "record 1 3 4 1 200 552 ok d1",
                                                        "record 1 3 4 1 0 552 ok d2",
                                                        "record 1 3 4 2 6 552 ok d2",
                                                        "record 1 3 4 2 0 552 ok d3",
                                                        "record 1 3 4 3 5 552 ok d3",
                                                        "record 1 3 4 3 0 552 ok e",
                                                        "record 1 3 4 4 200 552 ok e",
                                                        "record 1 4 3 0 0 552 ok u1",
                                                        "record 1 4 3 1 200 552 ok u1",
                                                        "record 1 4 3 1 0 552 ok u2",
                                                        "record 1 4 3 2 8 552 ok u2",
                                                        "record 1 4 3 2 0 552 ok u3",
                                                        "record 1 4 3 3 8 552 ok u3",
                                                        "record 1 5 4 0 0 552 ok a1",
                                                        "record 1 5 4 1 200 552 ok a1",
                                                        "record 1 5 4 1 0 552 ok a2",
                                                        "record 1 5 4 2 7 552 ok a2",
                                                        "record 1 5 4 2 0 552 ok a3",
                                                        "record 1 5 4 3 5 552 ok a3",
                                                        "record 1 5 4 3 0 552 ok e",
                                                        "record 1 5 4 4 5 552 ok e",
                                                        "end"}));

  // The uninstall wrapper: once per deletion with an install-log entry, in order, each time
  // with no value of an earlier run left in the shared key.
  const std::string w = " \"";
  const std::string tailArgs = "__for__Viewer\" /Ostrel /Update /quiet] parent=- folder=- stale=-";
  EXPECT_EQ(FileLines(uninst + L".log"),
            (std::vector<std::string>{"[" + w + "d1" + tailArgs, "[" + w + "d2" + tailArgs,
                                      "[" + w + "e" + tailArgs, "[" + w + "u1" + tailArgs,
                                      "[" + w + "u2" + tailArgs, "[" + w + "u3" + tailArgs}));
  // Install.exe: copied with setup.dll into each component's folder and started there, the
  // parent named in the shared key.
  const std::string installLine = "[  /quiet /Ostrel] parent=Viewer folder=C:\\Viewer Home stale=-";
  for (const wchar_t* id : {L"u1", L"u2", L"a1", L"a2", L"a3"}) {
    const std::wstring component = sources + L"\\" + id;
    EXPECT_EQ(FileLines(component + L"\\Install.exe.log"), std::vector<std::string>{installLine}) << id;
    std::string setup;
    EXPECT_TRUE(ReadBytes(component + L"\\setup.dll", setup) && setup == "setup") << id;
    // Started by its full path, quoted, from its own folder, never from Brindle's.
    EXPECT_EQ(FileLines(component + L"\\Install.exe.place"),
              (std::vector<std::string>{Utf8FromWide(component),
                                        "\"" + Utf8FromWide(component) + "\\Install.exe\"  /quiet /Ostrel"}))
        << id;
  }
  const std::vector<std::string> uninstPlace = FileLines(uninst + L".place");
  ASSERT_EQ(uninstPlace.size(), 12u);
  EXPECT_EQ(uninstPlace[0], Utf8FromWide(ToBackslashes(ParentFolder(uninst))));
  EXPECT_EQ(uninstPlace[1], "\"" + Utf8FromWide(uninst) + "\" \"d1__for__Viewer\" /Ostrel /Update /quiet");
  // u3's removal failed: its new version was not installed. e had no folder: nothing was
  // copied or started anywhere.
  EXPECT_FALSE(FileExists(sources + L"\\u3\\Install.exe"));
  EXPECT_FALSE(FileExists(sources + L"\\e\\Install.exe"));
  EXPECT_FALSE(FileExists(L"C:\\Install.exe"));
  EXPECT_FALSE(FileExists(L"C:\\setup.dll"));

  // The shared key lives only while a wrapper program runs.
  EXPECT_FALSE(SharedKeyExists(KEY_WOW64_32KEY));
  EXPECT_FALSE(SharedKeyExists(KEY_WOW64_64KEY));
  // The component flows never write the install log.
  EXPECT_EQ(installLog_.Bytes(), logBefore);

  EXPECT_EQ(
      tail.Details(L"DELETE_COMPONENT"),
      (std::vector<std::wstring>{
          L"-," + uninst + L",Viewer,d1__for__Viewer", L"-,200", L"-," + uninst + L",Viewer,d2__for__Viewer",
          L"-,6", L"-,5", L"-," + uninst + L",Viewer,e__for__Viewer", L"-,200",
          L"-," + uninst + L",Viewer,u1__for__Viewer", L"-,200", L"-," + uninst + L",Viewer,u2__for__Viewer",
          L"-,200", L"-," + uninst + L",Viewer,u3__for__Viewer", L"-,6"}));
  const std::vector<std::wstring> adds = tail.Details(L"ADD_COMPONENT");
  ASSERT_EQ(adds.size(), 12u);
  EXPECT_EQ(adds[0], L"-," + sources + L"\\u1,Viewer," + parentFolder + L",u1");
  EXPECT_EQ(adds[1], L"-,200");
  EXPECT_EQ(adds[3], L"-,7");
  EXPECT_EQ(adds[9], L"-,5");
  EXPECT_EQ(adds[10], L"-,,Viewer," + parentFolder + L",e");
  EXPECT_EQ(adds[11], L"-,5");
}

// A hard link named setup.dll, planted in the component's folder before the run, shares its data
// with a file elsewhere: the copy replaces the name, so that file keeps its bytes and the
// component is installed all the same. A component folder reached through a link is refused
// with a line saying so: nothing is copied where the link leads, and nothing is started.
TEST_F(ComponentRun, AHardLinkNamedSetupDllInTheComponentFolderLeavesTheLinkedFileAlone) {
  ASSERT_TRUE(CopyHelper(L"fake_wrapper.exe", wrapperFolder_ + L"\\Install.exe"));
  ASSERT_TRUE(WriteBytes(wrapperFolder_ + L"\\setup.dll", "setup"));
  const std::wstring component = ToBackslashes(folder_.File(L"sources/a1"));
  ASSERT_TRUE(CreateFolderChain(component));
  ASSERT_TRUE(WriteBytes(component + L"\\Install.exe.answers", "* 1\n"));
  const std::wstring outside = ToBackslashes(folder_.File(L"elsewhere/system.dll"));
  ASSERT_TRUE(CreateFolderChain(ParentFolder(outside)));
  ASSERT_TRUE(WriteBytes(outside, "precious"));
  ASSERT_TRUE(CreateHardLinkW((component + L"\\setup.dll").c_str(), outside.c_str(), nullptr));
  // a2's folder lies below a link to the folder elsewhere.
  ASSERT_TRUE(
      MakeFolderLink(ToBackslashes(folder_.File(L"linked")), ToBackslashes(folder_.File(L"elsewhere"))));
  ASSERT_TRUE(CreateFolderChain(folder_.File(L"elsewhere/a2")));
  ASSERT_TRUE(WriteBytes(folder_.File(L"elsewhere/a2/Install.exe.answers"), "* 1\n"));
  const std::wstring linked = ToBackslashes(folder_.File(L"linked/a2"));

  CQXInstallLog log;
  auto parent = Entry(L"Viewer", L"C:\\Viewer Home");
  parent->installerVersion.text = version_;
  log.entries.push_back(std::move(parent));
  CreateFolderChain(ParentFolder(installLog_.Path()));
  ASSERT_TRUE(SaveInstallLog(log, installLog_.Path()));
  const std::wstring list = folder_.File(L"actions.xml");
  ASSERT_TRUE(WriteBytes(list,
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ActionList ParentAppName=\"Viewer\">"
                         "<Action ID=\"a1\" Action=\"ADD\" Path=\"" +
                             Utf8FromWide(component) +
                             "\"/>"
                             "<Action ID=\"a2\" Action=\"ADD\" Path=\"" +
                             Utf8FromWide(linked) +
                             "\"/>"
                             "</ActionList>"));
  Launcher launcher(folder_);
  ASSERT_TRUE(launcher.Running());
  ServiceLogTail tail;
  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /component_install");
  EXPECT_EQ(WaitForExit(run, 120000), 100);
  EXPECT_EQ(launcher.Lines(),
            (std::vector<std::string>{"ready", "record 1 5 2 0 0 552 ok a1", "record 1 5 2 1 200 552 ok a1",
                                      "record 1 5 2 1 0 552 ok a2", "record 1 5 2 2 5 552 ok a2", "end"}));
  std::string bytes;
  EXPECT_TRUE(ReadBytes(outside, bytes));
  EXPECT_EQ(bytes, "precious");
  EXPECT_TRUE(ReadBytes(component + L"\\setup.dll", bytes));
  EXPECT_EQ(bytes, "setup");
  EXPECT_EQ(FileLines(component + L"\\Install.exe.log").size(), 1u);
  EXPECT_FALSE(FileExists(folder_.File(L"elsewhere/a2/Install.exe")));
  EXPECT_FALSE(FileExists(folder_.File(L"elsewhere/a2/setup.dll")));
  const std::vector<std::wstring> lines = tail.Details(L"INSTALL_ZNQ");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], L"-");
  EXPECT_EQ(lines[1].rfind(L"-," + linked + L",error,", 0), 0u) << lines[1];
  RemoveFolderLink(ToBackslashes(folder_.File(L"linked")));
}

// A wrapper that never ends: the launcher's cancel request ends the wait at once, the item fails
// and the run ends, with a service-log line naming the program left running (never killed by
// the updater; the test ends it afterwards).
TEST_F(ComponentRun, AWrapperThatNeverEndsIsLeftByTheCancelAndTheRunEnds) {
  const std::wstring uninst = ToBackslashes(folder_.File(L"Uninstall wrapper/Uninst.exe"));
  ASSERT_TRUE(CopyHelper(L"fake_wrapper.exe", uninst));
  ASSERT_TRUE(WriteBytes(uninst + L".answers", "d1__for__Viewer hang\n"));
  SetString(kMarrowgateKey, L"UninstallWrapperPath", uninst);
  CQXInstallLog log;
  log.entries.push_back(Entry(L"Viewer", L"C:\\Viewer Home"));
  log.entries.push_back(Entry(L"d1__for__Viewer", L"C:\\Viewer Home\\d1"));
  log.entries.push_back(Entry(L"d2__for__Viewer", L"C:\\Viewer Home\\d2"));
  CreateFolderChain(ParentFolder(installLog_.Path()));
  ASSERT_TRUE(SaveInstallLog(log, installLog_.Path()));
  const std::wstring list = folder_.File(L"actions.xml");
  ASSERT_TRUE(WriteBytes(list,
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ActionList ParentAppName=\"Viewer\">"
                         "<Action ID=\"d1\" Action=\"DELETE\"/><Action ID=\"d2\" Action=\"DELETE\"/>"
                         "</ActionList>"));
  Launcher launcher(folder_);
  ASSERT_TRUE(launcher.Running());
  ServiceLogTail tail;
  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /component_install");
  // Once the wrapper runs (its first act is a line in its log), the launcher's cancel arrives.
  bool started = false;
  for (int i = 0; i < 300 && !started; ++i, Sleep(100)) started = FileExists(uninst + L".log");
  ASSERT_TRUE(started) << "the wrapper was never started";
  HWND updater = nullptr;
  for (int i = 0; i < 100 && !updater; ++i, Sleep(100))
    updater = FindWindowW(L"Tamek.RW.Ostrel.StartBrindle", nullptr);
  ASSERT_NE(updater, nullptr);
  ASSERT_TRUE(PostMessageW(updater, 2030, 0, 0));
  const int exitCode = WaitForExit(run, 30000);
  // The stand-in is still running: the updater did not kill it.
  const bool wrapperStillRunning = IsProcessRunning(L"Uninst.exe");
  KillProcessesNamed(L"Uninst.exe");
  EXPECT_EQ(exitCode, 100);
  EXPECT_TRUE(wrapperStillRunning);
  EXPECT_EQ(tail.Details(L"USER_CANCEL"), std::vector<std::wstring>{L"-"});
  EXPECT_EQ(tail.Details(L"WAIT_PROGRAM"), std::vector<std::wstring>{L"-," + uninst + L",cancelled,7200"});
  // The item failed (the launcher hears 5); the next one was never run; the run's end was sent.
  EXPECT_EQ(tail.Details(L"DELETE_COMPONENT"),
            (std::vector<std::wstring>{L"-," + uninst + L",Viewer,d1__for__Viewer", L"-,5"}));
  const std::vector<std::string> lines = launcher.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "record 1 3 2 1 5 552 ok d1"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "end"), 1);
}
