// The command line of the update service: list-file path, mode switch, and an optional third
// argument that is only logged.
#pragma once
#include <string>
#include <vector>

#include "app/update_driver.h"
#include "logs/service_log.h"

namespace brindle {

class CQXSystemUtil;
class CQXSubUpdater;

// The mode of a switch, compared exactly and case-sensitively; unknown for anything else.
UpdateMode ModeFromSwitch(const std::wstring& argument);

// What the command line asks for: whether it has the two arguments, the list path with forward
// slashes, the mode, and the fields of the "CHECK_PARAMETER" line.
struct CommandLineRequest {
  bool complete = false;
  std::wstring listPath;
  UpdateMode mode = UpdateMode::kUnknown;
  LogFields logFields;
};
CommandLineRequest ReadCommandLine(const std::vector<std::wstring>& arguments);

// The process's exit code for how the run ended: 200 when it was done (with or without a
// restart), 100 otherwise.
int ExitCodeForResult(RunResult runResult);

// Logs "CHECK_PARAMETER", refuses a start without arguments with the start-refused box, or runs
// the driver; returns the run result. The arguments exclude the program path.
RunResult RunFromCommandLine(const std::vector<std::wstring>& arguments);

// The end of a run: the exit code, a restart request when the user accepted one, the release
// of the redirection guard and the "PROCESS_END" line. Returns the exit code.
int FinishRun(RunResult runResult, CQXSystemUtil& system);

}  // namespace brindle
