// The patch flow's failure paths through the real Brindle.exe: a package without diff.xml, the
// running-program box answered each way, a hook library that cannot be loaded, an uninstall log
// that cannot be saved, and the update group's display name and a component's entry reaching
// the logs as they should.
#include <gtest/gtest.h>

#include "logs/install_log.h"
#include "support/patch_fixture_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/text.h"

#include <windows.h>

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

}  // namespace

TEST_F(PatchFailure, APackageWithoutDiffXmlFailsAndChangesNothing) {
  InstallVersion10();
  const std::wstring list = Package11();
  // The same package with its description left out.
  DeleteFileW(ToBackslashes(packageSource_ + L"\\diff.xml").c_str());
  ASSERT_TRUE(MakeCabinet(lists_ + L"/package.diff", packageSource_));
  const std::string before = installLog_.Bytes();
  Person person(L"Sample Application", [](HWND box, int) { PressButton(box, L"OK"); });
  EXPECT_EQ(RunBrindle(list, L"/normal_install"), 100);
  person.Stop();
  ASSERT_EQ(person.texts_.size(), 1u);
  EXPECT_EQ(person.texts_[0], L"Une erreur s'est produite pendant la mise \u00e0 jour de Sample Application.");
  ExpectUnchanged(before);
}

TEST_F(PatchFailure, TheRunningProgramBoxAnsweredAbortStopsBeforeAnyChange) {
  InstallVersion10();
  const std::wstring list = Package11("<CheckAppName>brindle_probe.exe</CheckAppName>");
  bool ready = false;
  StartedProcess probe = StartWhenReady(ProgramPath(L"brindle_probe.exe"), L"window \"Probe Running\" 120000",
                                        30000, ready);
  ASSERT_TRUE(ready);
  const std::string before = installLog_.Bytes();
  Person person(L"Sample Application", [](HWND box, int index) {
    PressButton(box, index == 0 ? L"Abandonner" : L"OK");
  });
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
  StartedProcess probe = StartWhenReady(ProgramPath(L"brindle_probe.exe"), L"window \"Probe Running\" 120000",
                                        30000, ready);
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
  StartedProcess probe = StartWhenReady(ProgramPath(L"brindle_probe.exe"), L"window \"Probe Running\" 120000",
                                        30000, ready);
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
  ASSERT_TRUE(WriteFileText(list,
                            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
                            "<FileName>package.diff</FileName><AppName>Help__for__SampleApp</AppName>"
                            "<DisplayName>Sample Help</DisplayName></DiffLocal></DiffLocalList>"));
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.1");
  EXPECT_EQ(ApplicationVersion(L"Help__for__SampleApp"), L"1.1");
  const std::string uninst = FileText(app_ + L"\\uninst.ini");
  EXPECT_NE(uninst.find("[Startup]\r\nVersion=\"1.0\"\r\nAppName=\"Sample Application\"\r\n"), std::string::npos)
      << uninst;
}
