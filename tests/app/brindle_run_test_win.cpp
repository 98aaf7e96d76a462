// Whole runs of Brindle.exe as the update service starts it, watched from outside: the launcher
// window (a stand-in registering the launcher's class), the service log, the exit code, the
// list file and the temporary folders.
#include <gtest/gtest.h>

#include "app/coordination.h"
#include "support/install_log_fixture_win.h"
#include "support/launcher_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "sys/paths.h"

using namespace brindle;
using namespace brindle::test;

namespace {

struct RunOutcome {
  int exitCode = -1;
  double wallSeconds = 0;
  double cpuSeconds = 0;
};

RunOutcome RunBrindle(const std::wstring& arguments) {
  RunOutcome outcome;
  const ULONGLONG start = GetTickCount64();
  StartedProcess run = StartProgram(ProgramPath(L"Brindle.exe"), arguments);
  outcome.exitCode = WaitForExit(run, 60000);
  outcome.wallSeconds = (GetTickCount64() - start) / 1000.0;
  FILETIME created, ended, kernel, user;
  if (run.process && GetProcessTimes(run.process.Get(), &created, &ended, &kernel, &user)) {
    auto seconds = [](FILETIME t) {
      return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    outcome.cpuSeconds = seconds(kernel) + seconds(user);
  }
  return outcome;
}

std::wstring WriteActionList(const ScratchFolder& folder, const std::string& actions) {
  const std::wstring path = folder.File(L"actions.xml");
  EXPECT_TRUE(
      WriteBytes(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ActionList ParentAppName=\"Viewer\">" +
                           actions + "</ActionList>"));
  return path;
}

bool TempFolderExists(const std::wstring& sub) { return FileExists(JoinPath(UserTempFolder(), sub)); }

}  // namespace

TEST(BrindleRun, ComponentPassesReachTheLauncherWithKindsCountsAndResults) {
  ScratchFolder folder;
  InstallLogGuard installLog;
  Launcher launcher(folder);
  ASSERT_TRUE(launcher.Running());
  const std::string longId(300, 'L');
  const std::wstring list = WriteActionList(
      folder,
      "<Action ID=\"d1\" Action=\"DELETE\"/><Action ID=\"u1\" Action=\"UPDATE\" Path=\"C:\\src\\u1\"/>"
      "<Action ID=\"" +
          longId + "\" Action=\"ADD\" Path=\"C:\\src\\a\"/>");
  ASSERT_TRUE(CreateFolderChain(JoinPath(UserTempFolder(), L"Tamek_Inc_RW/Brindle/temp1")));
  ServiceLogTail log;
  const RunOutcome run = RunBrindle(L"\"" + ToBackslashes(list) + L"\" /component_install");
  // The component flows cannot run here (no installer wrapper): every item reports 5.
  EXPECT_EQ(run.exitCode, 100);
  const std::string cut(255, 'L');
  const std::vector<std::string> expected = {"ready",
                                             "record 1 3 1 0 0 552 ok d1",
                                             "record 1 3 1 1 5 552 ok d1",
                                             "record 1 4 1 0 0 552 ok u1",
                                             "record 1 4 1 1 5 552 ok u1",
                                             "record 1 5 1 0 0 552 ok " + cut,
                                             "record 1 5 1 1 5 552 ok " + cut,
                                             "end"};
  EXPECT_EQ(launcher.Lines(), expected);
  EXPECT_FALSE(FileExists(list));
  EXPECT_FALSE(TempFolderExists(L"Tamek_Inc_RW/Brindle"));
  EXPECT_FALSE(TempFolderExists(L"Tamek_Inc_RW/Pollwick"));
  EXPECT_EQ(log.Details(L"START_COMPONENT_INSTALLATION"),
            (std::vector<std::wstring>{L"-,d1,3", L"-,u1,4", L"-," + std::wstring(300, L'L') + L",5"}));
  // The main thread waits for messages instead of spinning while the worker runs: a spinning
  // thread would burn about the whole wall time. The margin leaves room for Wine's own start-up
  // work on a busy machine.
  EXPECT_GT(run.wallSeconds, 5.5);
  EXPECT_LT(run.cpuSeconds, run.wallSeconds * 0.6) << "cpu " << run.cpuSeconds << " s";
}

TEST(BrindleRun, ACancelRequestBetweenItemsSkipsTheRestButStillEndsTheRun) {
  ScratchFolder folder;
  InstallLogGuard installLog;
  Launcher launcher(folder, L"cancel-after 1");
  ASSERT_TRUE(launcher.Running());
  const std::wstring list = WriteActionList(
      folder,
      "<Action ID=\"d1\" Action=\"DELETE\"/><Action ID=\"d2\" Action=\"DELETE\"/>"
      "<Action ID=\"u1\" Action=\"UPDATE\" Path=\"C:\\src\\u1\"/><Action ID=\"a1\" Action=\"ADD\" Path=\"C:\\a\"/>");
  ServiceLogTail log;
  EXPECT_EQ(RunBrindle(L"\"" + ToBackslashes(list) + L"\" /component_install").exitCode, 100);
  EXPECT_EQ(launcher.Lines(),
            (std::vector<std::string>{"ready", "record 1 3 2 0 0 552 ok d1", "record 1 3 2 1 5 552 ok d1",
                                      "cancel-sent", "record 1 3 2 1 0 552 ok d2", "end"}));
  EXPECT_EQ(log.Details(L"USER_CANCEL"), std::vector<std::wstring>{L"-"});
  EXPECT_EQ(log.Details(L"START_COMPONENT_INSTALLATION"), (std::vector<std::wstring>{L"-,d1,3", L"-,d2,3"}));
  EXPECT_EQ(log.Details(L"PROCESS_END"), std::vector<std::wstring>{L"-,100"});
}

TEST(BrindleRun, AnUnreadableComponentListIsReportedToTheLauncher) {
  ScratchFolder folder;
  Launcher launcher(folder);
  ASSERT_TRUE(launcher.Running());
  const std::wstring list = folder.File(L"actions.xml");
  ASSERT_TRUE(WriteBytes(list, "not xml at all"));
  ServiceLogTail log;
  EXPECT_EQ(RunBrindle(L"\"" + ToBackslashes(list) + L"\" /component_install").exitCode, 100);
  EXPECT_EQ(launcher.Lines(), (std::vector<std::string>{"ready", "record 0 0 0 0 10 552 ok "}));
  EXPECT_EQ(log.Details(L"THROW_MSG"), std::vector<std::wstring>{L"-,10"});
  EXPECT_FALSE(FileExists(list));
}

TEST(BrindleRun, AnotherUpdateOrAnyInstallerMutexMakesTheRunBusy) {
  ScratchFolder folder;
  InstallLogGuard installLog;
  ASSERT_TRUE(installLog.WriteWithApps({L"A"}));
  const std::string before = installLog.Bytes();
  const std::vector<std::wstring> holders = {L"Tamek_Inc_RW_QX_BR_v1", L"Tamek_ZNQ_Inst_v1",
                                             L"Tamek_ZNQ_UnInst_v1", L"Tamek_ZNQ_UninstWrapper_v1"};
  for (const std::wstring& name : holders) {
    StartedProcess holder = StartProgram(ProgramPath(L"brindle_probe.exe"), L"mutex " + name + L" 30000");
    for (int i = 0; i < 100; ++i) {
      HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
      if (h) {
        CloseHandle(h);
        break;
      }
      Sleep(50);
    }
    const std::wstring list = folder.File(L"list.xml");
    ASSERT_TRUE(WriteBytes(list,
                           "<DiffLocalList><Package Order=\"1\"><FileName>a.diff</FileName>"
                           "<AppName>A</AppName><DisplayName>Alpha</DisplayName></Package></DiffLocalList>"));
    StartedProcess run =
        StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /normal_install");
    HWND box = FindDialog(L"Alpha", 20000, run.processId);
    ASSERT_NE(box, nullptr) << "no busy message with " << std::string(name.begin(), name.end());
    EXPECT_EQ(StaticTexts(box),
              L"Un autre logiciel est en cours d'installation.\nEffectuez un contr\u00f4le "
              L"de derni\u00e8re version \u00e0 l'issue de l'installation.");
    PressButton(box, L"OK");
    EXPECT_EQ(WaitForExit(run, 20000), 100);
    EXPECT_EQ(installLog.Bytes(), before);
    EXPECT_FALSE(FileExists(list));
    TerminateProcess(holder.process.Get(), 0);
    WaitForSingleObject(holder.process.Get(), 5000);
  }
  // In the component mode the launcher hears of it instead.
  Launcher launcher(folder);
  StartedProcess holder = StartProgram(ProgramPath(L"brindle_probe.exe"), L"mutex Tamek_ZNQ_UnInst_v1 30000");
  for (int i = 0; i < 200; ++i) {  // waits for the mutex, however long the start takes
    HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, L"Tamek_ZNQ_UnInst_v1");
    if (h) {
      CloseHandle(h);
      break;
    }
    Sleep(50);
  }
  const std::wstring list = WriteActionList(folder, "<Action ID=\"d1\" Action=\"DELETE\"/>");
  ServiceLogTail log;
  EXPECT_EQ(RunBrindle(L"\"" + ToBackslashes(list) + L"\" /component_install").exitCode, 100);
  EXPECT_EQ(launcher.Lines(), (std::vector<std::string>{"ready", "record 0 0 0 0 1 552 ok "}));
  EXPECT_EQ(log.Details(L"THROW_MSG"), std::vector<std::wstring>{L"-,1"});
  TerminateProcess(holder.process.Get(), 0);
}
