// Brindle.exe started the way the update service starts it, checked from the outside: its
// dialogs, its exit code and the lines it leaves in the service log.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "support/process_win.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "sys/system_util.h"

using namespace brindle;
using namespace brindle::test;

namespace {

const wchar_t kStartRefused[] = L"Impossible de d\u00e9marrer directement ce logiciel.";

// Runs Brindle.exe and answers the start-refused box with its OK button.
int RunAndAnswerStartRefused(const std::wstring& arguments, std::wstring& shownText) {
  StartedProcess run = StartProgram(ProgramPath(L"Brindle.exe"), arguments);
  EXPECT_TRUE(run.process);
  HWND box = FindDialog(L"Ostrel Service", 20000, run.processId);
  EXPECT_NE(box, nullptr) << "no start-refused box";
  if (box) {
    shownText = StaticTexts(box);
    EXPECT_TRUE(PressButton(box, L"OK"));
  }
  return WaitForExit(run, 20000);
}

}  // namespace

TEST(BrindleExe, WithoutArgumentsItRefusesToStartAndExitsWith100) {
  ServiceLogTail log;
  std::wstring text;
  EXPECT_EQ(RunAndAnswerStartRefused(L"", text), 100);
  EXPECT_EQ(text, kStartRefused);
  EXPECT_EQ(log.Details(L"CHECK_PARAMETER"), std::vector<std::wstring>{L"-"});
  EXPECT_EQ(log.Details(L"PROCESS_END"), std::vector<std::wstring>{L"-,100"});
  const auto lines = log.NewLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].tag, L"BR");
  EXPECT_EQ(lines[0].key, L"CHECK_PARAMETER");
  EXPECT_EQ(lines[1].key, L"PROCESS_END");
}

TEST(BrindleExe, WithOneArgumentItStillRefuses) {
  ServiceLogTail log;
  std::wstring text;
  EXPECT_EQ(RunAndAnswerStartRefused(L"C:\\a\\list.xml", text), 100);
  EXPECT_EQ(text, kStartRefused);
  EXPECT_EQ(log.Details(L"CHECK_PARAMETER"), std::vector<std::wstring>{L"-"});
}

TEST(BrindleExe, ArgumentsAreLoggedWithForwardSlashesAndAFourthIsLeftOut) {
  {
    ServiceLogTail log;
    StartedProcess run =
        StartProgram(ProgramPath(L"Brindle.exe"), L"C:\\a\\b\\list.xml /component_install X");
    EXPECT_EQ(WaitForExit(run, 30000), 100);  // no such list: the run fails
    EXPECT_EQ(log.Details(L"CHECK_PARAMETER"),
              std::vector<std::wstring>{L"-,C:/a/b/list.xml,/component_install,X"});
    EXPECT_EQ(log.Details(L"PROCESS_END"), std::vector<std::wstring>{L"-,100"});
  }
  {
    ServiceLogTail log;
    StartedProcess run =
        StartProgram(ProgramPath(L"Brindle.exe"), L"\"C:\\a b\\list.xml\" /component_install X Y");
    EXPECT_EQ(WaitForExit(run, 30000), 100);
    EXPECT_EQ(log.Details(L"CHECK_PARAMETER"),
              std::vector<std::wstring>{L"-,C:/a b/list.xml,/component_install"});
  }
}

namespace {
// A system utility that only records whether a restart was asked for.
class RebootRecorder : public CWinQXSystemUtil {
 public:
  bool Reboot() override {
    ++reboots;
    return true;
  }
  int reboots = 0;
};
}  // namespace

TEST(FinishRun, AcceptedRestartGives200AndOneRestartRequestFailureGives100WithNone) {
  {
    RebootRecorder system;
    ServiceLogTail log;
    EXPECT_EQ(FinishRun(RunResult::kDoneReboot, system), 200);
    EXPECT_EQ(system.reboots, 1);
    EXPECT_EQ(log.Details(L"PROCESS_END"), std::vector<std::wstring>{L"-,200"});
  }
  {
    RebootRecorder system;
    ServiceLogTail log;
    EXPECT_EQ(FinishRun(RunResult::kDone, system), 200);
    EXPECT_EQ(FinishRun(RunResult::kFailed, system), 100);
    EXPECT_EQ(system.reboots, 0);
    EXPECT_EQ(log.Details(L"PROCESS_END"), (std::vector<std::wstring>{L"-,200", L"-,100"}));
  }
}
