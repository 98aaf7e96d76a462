// The update driver: carries out one run for a list file and returns the run result.
#pragma once
#include <string>

namespace brindle {

class CQXSystemUtil;
class CQXSubUpdater;

// Run results.
enum RunResult { kRunDone = 0, kRunDoneReboot = 1, kRunFailed = 2 };

int RunUpdate(const std::wstring& listPath, CQXSystemUtil* system, CQXSubUpdater* subUpdater,
              int mode);

}  // namespace brindle
