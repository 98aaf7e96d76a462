#include "app/command_line.h"

#include "sys/paths.h"

namespace brindle {

UpdateMode ModeFromSwitch(const std::wstring& argument) {
  if (argument == L"/normal_install") return UpdateMode::kNormal;
  if (argument == L"/non_notification") return UpdateMode::kNoNotification;
  if (argument == L"/component_install") return UpdateMode::kComponent;
  return UpdateMode::kUnknown;
}

CommandLineRequest ReadCommandLine(const std::vector<std::wstring>& arguments) {
  CommandLineRequest request;
  request.logFields = {L"-"};
  if (arguments.size() < 2) return request;
  request.complete = true;
  request.listPath = ToForwardSlashes(arguments[0]);
  request.mode = ModeFromSwitch(arguments[1]);
  request.logFields.push_back(request.listPath);
  request.logFields.push_back(arguments[1]);
  if (arguments.size() == 3) request.logFields.push_back(arguments[2]);
  return request;
}

int ExitCodeForResult(RunResult runResult) {
  switch (runResult) {
    case RunResult::kDone:
    case RunResult::kDoneReboot: return 200;
    case RunResult::kFailed: break;
  }
  return 100;
}

}  // namespace brindle
