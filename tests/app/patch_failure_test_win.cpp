// The patch flow's failure paths through the real Brindle.exe: a package without diff.xml or
// with its cabinet cut short, the running-program box answered each way, a hook library that
// cannot be loaded, an uninstall log that cannot be read or saved, the update group's display
// name and a component's entry reaching the logs as they should, and two packages of one run
// each unpacked into a work folder of its own.
#include <gtest/gtest.h>

#include "logs/install_log.h"
#include "support/patch_fixture_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {

const char kPlainFile[] = "COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"";
const wchar_t kRunningMessage[] =
    L"Le logiciel suivant ne peut pas \u00eatre mis \u00e0 jour parce qu'il est en cours d'ex\u00e9cution.";

// A person at the screen during one run: every box titled caption is read and handed to the
// answer, which presses its buttons; the texts of the boxes are kept in order.
class Person {
 public:
  Person(std::wstring caption, std::function<void(HWND box, int index)> answer)
      : thread_([this, caption, answer] {
          for (int index = 0; !stop_; ++index) {
            HWND box = nullptr;
            while (!stop_ && !box) box = FindDialog(caption, 200);
            if (!box) return;
            texts_.push_back(StaticTexts(box));
            controls_.push_back(ReadControls(box));
            answer(box, index);
            WaitWindowGone(box, 10000);
          }
        }) {}
  ~Person() { Stop(); }
  // Call after the run.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::wstring> texts_;
  std::vector<std::vector<ControlInfo>> controls_;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The names in a folder (files and folders, "." and ".." left out), in the order listed.
std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found = {};
  UniqueFind search(FindFirstFileW(ToBackslashes(folder + L"/*").c_str(), &found));
  if (!search) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search.Get(), &found));
  return names;
}

// A list of first.diff (Order 1) and second.diff (Order 2) for the test application, the second
// written first where asked.
std::string TwoPackageList(bool secondWrittenFirst) {
  const std::string first =
      "<DiffLocal Order=\"1\"><FileName>first.diff</FileName><AppName>SampleApp</AppName>"
      "<DisplayName>Sample Application</DisplayName></DiffLocal>";
  const std::string second =
      "<DiffLocal Order=\"2\"><FileName>second.diff</FileName><AppName>SampleApp</AppName>"
      "<DisplayName>Sample Application</DisplayName></DiffLocal>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList>" +
         (secondWrittenFirst ? second + first : first + second) + "</DiffLocalList>";
}

// The hook library's record of its calls while the test runs.
class HookLog {
 public:
  explicit HookLog(const ScratchFolder& scratch) : path_(ToBackslashes(scratch.File(L"hooks.log"))) {
    SetEnvironmentVariableW(L"BRINDLE_TEST_HOOK_LOG", path_.c_str());
  }
  ~HookLog() { SetEnvironmentVariableW(L"BRINDLE_TEST_HOOK_LOG", nullptr); }
  // The "folder <path>" lines, the path in lower case.
  std::vector<std::string> Folders() const {
    std::string text;
    ReadBytes(path_, text);
    std::vector<std::string> folders;
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (line.rfind("folder ", 0) == 0) {
        for (char& c : line) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        folders.push_back(line.substr(7));
      }
      start = end + 1;
    }
    return folders;
  }

 private:
  std::wstring path_;
};

bool ShowsText(const std::vector<ControlInfo>& controls, const std::wstring& text) {
  for (const ControlInfo& c : controls)
    if (c.text == text) return true;
  return false;
}

class PatchFailure : public PatchFixture {
 protected:
  // The installed application 1.0 (keep.txt, its uninstall log, its install-log entry) and the
  // wrapper's files; the package's files keep.txt 1.1 and new.txt in the source folder.
  void InstallVersion10() {
    ASSERT_TRUE(WriteFileText(app_ + L"\\keep.txt", "keep 1.0"));
    ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", UninstallLog10()));
    WriteInstallLog(L"en");
    WriteWrapperFiles({L"ENGLISH"});
    ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\keep.txt", "keep 1.1"));
    ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\new.txt", "new"));
  }
  // Runs the list with a person who answers every box with OK: the run fails (100) and the one
  // box says so.
  void RunAndExpectTheFailureBox(const std::wstring& list) {
    Person person(L"Sample Application", [](HWND box, int) { PressButton(box, L"OK"); });
    EXPECT_EQ(RunBrindle(list, L"/normal_install"), 100);
    person.Stop();
    ASSERT_EQ(person.texts_.size(), 1u);
    EXPECT_EQ(person.texts_[0],
              L"Une erreur s'est produite pendant la mise \u00e0 jour de Sample Application.");
  }
  std::string UninstallLog10() const {
    return "[Language]\r\nLang=\"en\"\r\n[Files]\r\nUIFILE=\"" + Logged(AppPath(L"keep.txt")) +
           "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n[Startup]\r\nVersion=\"1.0\"\r\n"
           "AppName=\"Sample Application\"\r\n[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n";
  }
  // Package 1.1: keep.txt updated, new.txt added; generalInfo and updateExtra go into their
  // elements, customFunction into CustomFunction.
  std::wstring Package11(const std::string& generalInfo = "", const std::string& updateExtra = "",
                         const std::string& customFunction = "") {
    return BuildPackage(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>" +
        generalInfo + "</GeneralInfo><UpdateObjects><File " + kPlainFile +
        "><FullPath>$InsFolder$\\keep.txt</FullPath><FileName>keep.txt</FileName></File>" + updateExtra +
        "</UpdateObjects><AddObjects><File " + kPlainFile +
        "><FullPath>$InsFolder$\\new.txt</FullPath><FileName>new.txt</FileName></File></AddObjects>" +
        (customFunction.empty() ? "" : "<CustomFunction>" + customFunction + "</CustomFunction>") +
        "</DiffDistribute>");
  }
  std::wstring ApplicationVersion(const std::wstring& appName = L"SampleApp") {
    auto log = LoadInstallLog(installLog_.Path());
    if (!log) return L"<no log>";
    InstallLogEntry* entry = FindEntry(*log, appName);
    return entry ? entry->applicationVersion.text : L"<no entry>";
  }
  // Nothing of package 1.1 reached the machine or the logs.
  void ExpectUnchanged(const std::string& installLogBefore) {
    EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.0");
    EXPECT_FALSE(FileExists(app_ + L"\\new.txt"));
    EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), UninstallLog10());
    EXPECT_EQ(installLog_.Bytes(), installLogBefore);
  }
  // Package 1.1 was applied completely.
  void ExpectApplied() {
    EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.1");
    EXPECT_EQ(FileText(app_ + L"\\new.txt"), "new");
    EXPECT_EQ(ApplicationVersion(), L"1.1");
  }
};

// The program the package names as one that must not run: a window titled "Probe Running",
// up for two minutes unless closed; ready once it has its window.
StartedProcess StartRunningProbe(bool& ready) {
  return StartWhenReady(ProgramPath(L"brindle_probe.exe"), L"window \"Probe Running\" 120000", 30000, ready);
}

}  // namespace

TEST_F(PatchFailure, APackageWithoutDiffXmlFailsAndChangesNothing) {
  InstallVersion10();
  const std::wstring list = Package11();
  // The same package with its description left out.
  DeleteFileW(ToBackslashes(packageSource_ + L"\\diff.xml").c_str());
  ASSERT_TRUE(MakeCabinet(lists_ + L"/package.diff", packageSource_));
  const std::string before = installLog_.Bytes();
  RunAndExpectTheFailureBox(list);
  ExpectUnchanged(before);
}

TEST_F(PatchFailure, TheRunningProgramBoxAnsweredAbortStopsBeforeAnyChange) {
  InstallVersion10();
  const std::wstring list = Package11("<CheckAppName>brindle_probe.exe</CheckAppName>");
  bool ready = false;
  StartedProcess probe = StartRunningProbe(ready);
  ASSERT_TRUE(ready);
  const std::string before = installLog_.Bytes();
  Person person(L"Sample Application",
                [](HWND box, int index) { PressButton(box, index == 0 ? L"Abandonner" : L"OK"); });
  EXPECT_EQ(RunBrindle(list, L"/normal_install"), 100);
  person.Stop();
  TerminateProcess(probe.process.Get(), 0);
  ASSERT_EQ(person.texts_.size(), 2u);
  EXPECT_EQ(person.texts_[0].find(kRunningMessage), 0u) << Utf8FromWide(person.texts_[0]);
  EXPECT_TRUE(ShowsText(person.controls_[0], L"Probe Running"));  // the running program's title
  EXPECT_EQ(person.texts_[1], L"Mise \u00e0 jour logicielle abandonn\u00e9e.");
  ExpectUnchanged(before);
}

TEST_F(PatchFailure, TheRunningProgramBoxAnsweredIgnoreGoesOnWhileTheProgramRuns) {
  InstallVersion10();
  const std::wstring list = Package11("<CheckAppName>brindle_probe.exe</CheckAppName>");
  bool ready = false;
  StartedProcess probe = StartRunningProbe(ready);
  ASSERT_TRUE(ready);
  Person person(L"Sample Application", [](HWND box, int) { PressButton(box, L"Ignorer"); });
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  person.Stop();
  EXPECT_EQ(WaitForSingleObject(probe.process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still running
  TerminateProcess(probe.process.Get(), 0);
  ASSERT_EQ(person.texts_.size(), 1u);  // asked once; no message after a quiet success
  EXPECT_EQ(person.texts_[0].find(kRunningMessage), 0u);
  ExpectApplied();
}

TEST_F(PatchFailure, TheRunningProgramBoxAnsweredRetryAsksAgainUntilTheProgramHasEnded) {
  InstallVersion10();
  const std::wstring list = Package11("<CheckAppName>brindle_probe.exe</CheckAppName>");
  bool ready = false;
  StartedProcess probe = StartRunningProbe(ready);
  ASSERT_TRUE(ready);
  // The first Retry comes while the program still runs, so the box comes back; the program is
  // then closed as its user would close it, and the second Retry goes on.
  Person person(L"Sample Application", [&probe](HWND box, int index) {
    if (index == 1) {
      PostMessageW(FindDialog(L"Probe Running", 5000), WM_CLOSE, 0, 0);
      WaitForSingleObject(probe.process.Get(), 10000);
    }
    PressButton(box, L"R\u00e9essayer");
  });
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  person.Stop();
  TerminateProcess(probe.process.Get(), 0);
  ASSERT_EQ(person.texts_.size(), 2u);
  EXPECT_EQ(person.texts_[0].find(kRunningMessage), 0u);
  EXPECT_EQ(person.texts_[1].find(kRunningMessage), 0u);
  ExpectApplied();
}

TEST_F(PatchFailure, AHookLibraryThatExistsButCannotBeLoadedFailsTheUpdate) {
  InstallVersion10();
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\CUSTOM\\broken.dll", "MZ but not a library"));
  const std::wstring list = Package11("", "", "<FileName Type=\"BeforeUpdate\">broken.dll</FileName>");
  const std::string before = installLog_.Bytes();
  Person person(L"Sample Application", [](HWND box, int) { PressButton(box, L"OK"); });
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 100);
  person.Stop();
  ASSERT_EQ(person.texts_.size(), 1u);
  EXPECT_NE(person.texts_[0].find(L"erreur"), std::wstring::npos);
  ExpectUnchanged(before);
}

TEST_F(PatchFailure, AnUninstallLogThatCannotBeSavedIsLoggedAsAnErrorAndKeptWhole) {
  InstallVersion10();
  const std::wstring list = Package11();
  bool holding = false;
  StartedProcess holder = StartWhenReady(ProgramPath(L"brindle_probe.exe"),
                                         L"file \"" + app_ + L"\\uninst.ini\" 120000", 30000, holding);
  ASSERT_TRUE(holding);
  ServiceLogTail tail;
  Person person(L"Sample Application", [](HWND box, int) {
    const std::vector<std::wstring> buttons = VisibleButtons(box);
    if (!buttons.empty()) PressButton(box, buttons.back());
  });
  RunBrindle(list, L"/non_notification");
  person.Stop();
  TerminateProcess(holder.process.Get(), 0);
  WaitForSingleObject(holder.process.Get(), 5000);
  EXPECT_EQ(tail.Details(L"UPDATE_ZNQ_UNINSTLOG"),
            std::vector<std::wstring>{L"-," + app_ + L"\\uninst.ini,error,0"});
  // Whatever became of the package, the uninstaller's log is the old one, whole.
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), UninstallLog10());
  // It never changed: taking the package back found nothing to do there and succeeded, so no
  // journal was kept aside as one that could not be undone.
  const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
  ASSERT_EQ(undone.size(), 2u);
  EXPECT_NE(undone[1].find(L",success"), std::wstring::npos) << undone[1];
  const std::vector<std::wstring> restored = tail.Details(L"UNDO_FILE_RESTORE");
  ASSERT_FALSE(restored.empty());
  EXPECT_EQ(restored.front(), L"-," + app_ + L"\\uninst.ini,success,0");
}

TEST_F(PatchFailure, TheUpdateGroupsDisplayNameReachesTheInstallLogAndTheUninstallLog) {
  InstallVersion10();
  const std::wstring list = Package11("", "<DisplayName>Sample Application Deluxe</DisplayName>");
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  ExpectApplied();
  auto log = LoadInstallLog(installLog_.Path());
  ASSERT_TRUE(log);
  ASSERT_NE(FindEntry(*log, L"SampleApp"), nullptr);
  EXPECT_EQ(FindEntry(*log, L"SampleApp")->DisplayName.name, L"Sample Application Deluxe");
  const std::string uninst = FileText(app_ + L"\\uninst.ini");
  EXPECT_NE(uninst.find("[Startup]\r\nVersion=\"1.1\"\r\nAppName=\"Sample Application Deluxe\"\r\n"),
            std::string::npos)
      << uninst;
}

// A component's entry ("<ID>__for__<parent>") gets its versions in the install log, but the
// uninstall log's [Startup] stays the parent application's.
TEST_F(PatchFailure, AComponentsPackageLeavesTheUninstallLogsStartupAlone) {
  InstallVersion10();
  CQXInstallLog log;
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = L"Help__for__SampleApp";
  entry->DisplayName.name = L"Sample Help";
  entry->applicationVersion.text = L"1.0";
  entry->uninstallerVersion.text = L"7.0";
  entry->FullPath = app_;
  entry->Lang.SetCode(L"en");
  entry->UninstLog = app_ + L"\\uninst.ini";
  log.entries.push_back(std::move(entry));
  ASSERT_TRUE(SaveInstallLog(log, installLog_.Path()));
  Package11("", "<DisplayName>Sample Help Deluxe</DisplayName>");
  const std::wstring list = lists_ + L"/list.xml";
  ASSERT_TRUE(
      WriteFileText(list,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
                    "<FileName>package.diff</FileName><AppName>Help__for__SampleApp</AppName>"
                    "<DisplayName>Sample Help</DisplayName></DiffLocal></DiffLocalList>"));
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.1");
  EXPECT_EQ(ApplicationVersion(L"Help__for__SampleApp"), L"1.1");
  const std::string uninst = FileText(app_ + L"\\uninst.ini");
  EXPECT_NE(uninst.find("[Startup]\r\nVersion=\"1.0\"\r\nAppName=\"Sample Application\"\r\n"),
            std::string::npos)
      << uninst;
}

// An uninstall log that another program holds open, letting nobody read it: the package fails
// before any change, with the "OPEN_ZNQ_UNINSTLOG" error line and the failure box.
TEST_F(PatchFailure, AnUninstallLogThatCannotBeReadFailsThePackageBeforeAnyChange) {
  InstallVersion10();
  const std::wstring list = Package11();
  const std::string before = installLog_.Bytes();
  bool holding = false;
  StartedProcess holder = StartWhenReady(ProgramPath(L"brindle_probe.exe"),
                                         L"lock \"" + app_ + L"\\uninst.ini\" 120000", 30000, holding);
  ASSERT_TRUE(holding);
  ServiceLogTail tail;
  RunAndExpectTheFailureBox(list);
  TerminateProcess(holder.process.Get(), 0);
  WaitForSingleObject(holder.process.Get(), 5000);
  EXPECT_EQ(tail.Details(L"OPEN_ZNQ_UNINSTLOG"),
            std::vector<std::wstring>{L"-," + app_ + L"\\uninst.ini,error,0"});
  EXPECT_TRUE(tail.Details(L"UPDATE_ZNQ_UNINSTLOG").empty());
  ExpectUnchanged(before);
}

// Two packages in one run: the first is unpacked into temp1, the second into temp2 (the number
// goes on although temp1 was removed in between), and while the second is applied its folder is
// the only one left. Each package's files come from its own folder; at the end the work folder
// is gone.
TEST_F(PatchFailure, TheSecondPackageOfARunIsUnpackedIntoAFolderOfItsOwn) {
  HookLog hooks(scratch_);
  InstallVersion10();
  ASSERT_TRUE(CreateFolderChain(packageSource_ + L"/CUSTOM"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_hook.dll").c_str(),
                        ToBackslashes(packageSource_ + L"\\CUSTOM\\report_hook.dll").c_str(), FALSE));
  const std::string hook = "<FileName Type=\"BeforeUpdate\">report_hook.dll</FileName>";
  Package11("", "", hook);
  ASSERT_TRUE(MoveFileW(ToBackslashes(lists_ + L"/package.diff").c_str(),
                        ToBackslashes(lists_ + L"/first.diff").c_str()));
  // The second package: keep.txt again, other text, and two.txt added; it waits for the
  // running-program answer, so the work folder can be looked at while it is applied.
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\keep.txt", "keep 1.2"));
  ASSERT_TRUE(DeleteFileW(ToBackslashes(packageSource_ + L"\\INST\\new.txt").c_str()));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\two.txt", "two"));
  BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.2</Version>"
      "<CheckAppName>brindle_probe.exe</CheckAppName></GeneralInfo><UpdateObjects><File " +
      std::string(kPlainFile) +
      "><FullPath>$InsFolder$\\keep.txt</FullPath><FileName>keep.txt</FileName></File></UpdateObjects>"
      "<AddObjects><File " +
      std::string(kPlainFile) +
      "><FullPath>$InsFolder$\\two.txt</FullPath><FileName>two.txt</FileName></File></AddObjects>"
      "<CustomFunction>" +
      hook + "</CustomFunction></DiffDistribute>");
  ASSERT_TRUE(MoveFileW(ToBackslashes(lists_ + L"/package.diff").c_str(),
                        ToBackslashes(lists_ + L"/second.diff").c_str()));
  const std::wstring list = lists_ + L"/list.xml";
  // Listed second first: the order comes from Order.
  ASSERT_TRUE(WriteFileText(list, TwoPackageList(true)));
  bool ready = false;
  StartedProcess probe = StartRunningProbe(ready);
  ASSERT_TRUE(ready);
  const std::wstring workRoot = JoinPath(CommonAppDataFolder(), L"Tamek_Inc_RW/Brindle");
  std::vector<std::wstring> duringSecond;
  std::string secondKeep;
  Person person(L"Sample Application", [&](HWND box, int index) {
    if (index == 0) {
      duringSecond = NamesIn(workRoot);
      secondKeep = FileText(workRoot + L"/temp2/INST/keep.txt");
      PressButton(box, L"Ignorer");
    } else {
      PressButton(box, L"OK");
    }
  });
  const int exitCode = RunBrindle(list, L"/normal_install");
  person.Stop();
  TerminateProcess(probe.process.Get(), 0);
  EXPECT_EQ(exitCode, 200);
  ASSERT_EQ(person.texts_.size(), 2u);
  EXPECT_EQ(person.texts_[0].find(kRunningMessage), 0u) << Utf8FromWide(person.texts_[0]);
  EXPECT_EQ(person.texts_[1], L"Mise \u00e0 jour logicielle termin\u00e9e.");
  EXPECT_EQ(duringSecond, std::vector<std::wstring>{L"temp2"});
  EXPECT_EQ(secondKeep, "keep 1.2");
  // Each package's hook ran from its own folder.
  std::string root = Utf8FromWide(ToBackslashes(workRoot));
  for (char& c : root) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(hooks.Folders(), (std::vector<std::string>{root + "\\temp1\\custom", root + "\\temp2\\custom"}));
  // Both applied: the first package's added file, the second's text and file, its version.
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.2");
  EXPECT_EQ(FileText(app_ + L"\\new.txt"), "new");
  EXPECT_EQ(FileText(app_ + L"\\two.txt"), "two");
  EXPECT_EQ(ApplicationVersion(), L"1.2");
  const std::string uninst = FileText(app_ + L"\\uninst.ini");
  for (const wchar_t* name : {L"keep.txt", L"new.txt", L"two.txt"})
    EXPECT_NE(uninst.find("\"" + Logged(AppPath(name)) + "\""), std::string::npos) << uninst;
  EXPECT_NE(uninst.find("[Startup]\r\nVersion=\"1.2\"\r\n"), std::string::npos) << uninst;
  EXPECT_FALSE(FileExists(workRoot));
}

namespace {

// The most threads any running Brindle.exe had, looked at every millisecond or so while it is
// watched.
class ThreadCountWatch {
 public:
  ThreadCountWatch()
      : thread_([this] {
          while (!stop_) {
            Look();
            Sleep(1);
          }
        }) {}
  ~ThreadCountWatch() { Stop(); }
  int Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return most_;
  }
  bool SawTheProgram() const { return seen_; }

 private:
  void Look() {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
      if (_wcsicmp(entry.szExeFile, L"Brindle.exe") != 0) continue;
      seen_ = true;
      most_ = std::max(most_, static_cast<int>(entry.cntThreads));
    }
  }
  std::atomic<bool> stop_{false};
  int most_ = 0;
  bool seen_ = false;
  std::thread thread_;
};

}  // namespace

// Two packages of many files each in one run: the program never works on more than two threads
// at once (the dialogs' and the packages'); the old files of the kept first package are removed
// by the thread that applies the packages, not by a third one beside it (three threads at work
// crash a 32-bit Wine process under the qemu-i386 emulation). Both packages apply.
TEST_F(PatchFailure, TwoPackagesOfManyFilesRunOnTwoThreadsAndBothApply) {
  InstallVersion10();
  const int kFiles = 300;
  std::string records;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    ASSERT_TRUE(WriteFileText(app_ + L"\\" + WideFromUtf8(name), "old " + name));
    ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\" + WideFromUtf8(name), "first " + name));
    records += "<File " + std::string(kPlainFile) + "><FullPath>$InsFolder$\\" + name +
               "</FullPath><FileName>" + name + "</FileName></File>";
  }
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>";
  BuildPackage(head + "1.1</Version></GeneralInfo><UpdateObjects>" + records +
               "</UpdateObjects></DiffDistribute>");
  ASSERT_TRUE(MoveFileW(ToBackslashes(lists_ + L"/package.diff").c_str(),
                        ToBackslashes(lists_ + L"/first.diff").c_str()));
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\" + WideFromUtf8(name), "second " + name));
  }
  BuildPackage(head + "1.2</Version></GeneralInfo><UpdateObjects>" + records +
               "</UpdateObjects></DiffDistribute>");
  ASSERT_TRUE(MoveFileW(ToBackslashes(lists_ + L"/package.diff").c_str(),
                        ToBackslashes(lists_ + L"/second.diff").c_str()));
  const std::wstring list = lists_ + L"/list.xml";
  ASSERT_TRUE(WriteFileText(list, TwoPackageList(false)));
  ThreadCountWatch threads;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  const int most = threads.Stop();
  ASSERT_TRUE(threads.SawTheProgram());
  EXPECT_LE(most, 2);
  EXPECT_EQ(ApplicationVersion(), L"1.2");
  for (int i = 0; i < kFiles; i += 37) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    EXPECT_EQ(FileText(app_ + L"\\" + WideFromUtf8(name)), "second " + name);
  }
}

// A cabinet cut short (a download that stopped early) fails the package before anything
// changes, with its line, and the person is told.
TEST_F(PatchFailure, ACabinetCutShortFailsBeforeAnyChange) {
  InstallVersion10();
  const std::wstring list = Package11();
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\new.txt", std::string(200000, 'n')));
  const std::wstring cabinet = lists_ + L"/package.diff";
  ASSERT_TRUE(MakeCabinet(cabinet, packageSource_));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(cabinet, bytes));
  ASSERT_TRUE(WriteBytes(cabinet, bytes.substr(0, bytes.size() - 50000)));
  const std::string before = installLog_.Bytes();
  ServiceLogTail tail;
  RunAndExpectTheFailureBox(list);
  const std::vector<std::wstring> extracted = tail.Details(L"EXTRACT_PACKAGE");
  ASSERT_EQ(extracted.size(), 1u);
  EXPECT_NE(extracted[0].find(L"package.diff,error,0"), std::wstring::npos) << extracted[0];
  EXPECT_TRUE(tail.Details(L"START_PATCH_INSTALLATION").empty());
  ExpectUnchanged(before);
}
