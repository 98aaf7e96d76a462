// The update driver: carries out one run for a list file and returns the run result.
#pragma once
#include <string>

namespace brindle {

class CQXSystemUtil;
class CQXSubUpdater;

// How the update service asked the run to go: the patch modes with or without the final
// message, or the component mode; unknown for a switch that names none of them.
enum class UpdateMode { kUnknown, kNormal, kNoNotification, kComponent };

// How a run ended: done, done with the restart accepted, or failed (stopped, busy, refused).
// The process's exit code is made from it at the end (ExitCodeForResult).
enum class RunResult { kDone, kDoneReboot, kFailed };

RunResult RunUpdate(const std::wstring& listPath, CQXSystemUtil* system, CQXSubUpdater* subUpdater,
                    UpdateMode mode);

}  // namespace brindle
