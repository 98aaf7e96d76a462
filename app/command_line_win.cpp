#include "app/command_line.h"

#include "app/update_driver.h"
#include "apply/win_sub_updater_win.h"
#include "sys/system_util.h"
#include "sys/wow64_redirection.h"
#include "ui/messages.h"
#include "ui/resource.h"

namespace brindle {

RunResult RunFromCommandLine(const std::vector<std::wstring>& arguments) {
  const CommandLineRequest request = ReadCommandLine(arguments);
  WriteServiceLog(request.logFields, L"BR", L"CHECK_PARAMETER");
  if (!request.complete) {
    ShowMessageBox(kButtonsOk, LoadMessage(IDS_SERVICE_CAPTION), LoadMessage(IDS_START_REFUSED), kIconError);
    return RunResult::kFailed;
  }
  CWinQXSubUpdater subUpdater;
  CWinQXSystemUtil system;
  return RunUpdate(request.listPath, &system, &subUpdater, request.mode);
}

int FinishRun(RunResult runResult, CQXSystemUtil& system) {
  const int exitCode = ExitCodeForResult(runResult);
  if (runResult == RunResult::kDoneReboot) system.Reboot();  // a failed request is not checked
  CQXWow64Redirection::Release();
  WriteServiceLog({L"-", std::to_wstring(exitCode)}, L"BR", L"PROCESS_END");
  return exitCode;
}

}  // namespace brindle
