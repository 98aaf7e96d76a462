#include "logs/program_wait.h"

#include "logs/service_log.h"

namespace brindle {

namespace {

void WriteWaitLine(const std::wstring& program, ChildWait wait, unsigned long timeoutMs) {
  WriteServiceLog({L"-", program, DescribeWait(wait), std::to_wstring(timeoutMs / 1000)}, L"BR",
                  L"WAIT_PROGRAM");
}

}  // namespace

bool WaitForProgram(HANDLE process, const std::wstring& program, unsigned long timeoutMs) {
  const ChildWait wait = WaitForChild(process, timeoutMs);
  if (wait == ChildWait::Ended) return true;
  WriteWaitLine(program, wait, timeoutMs);
  return false;
}

void ReportUnendedWaitsInServiceLog() { SetUnendedWaitReport(&WriteWaitLine); }

}  // namespace brindle
