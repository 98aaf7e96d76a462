#include "logs/program_wait.h"

#include "logs/service_log.h"

namespace brindle {

bool WaitForProgram(HANDLE process, const std::wstring& program, unsigned long timeoutMs) {
  const ChildWait wait = WaitForChild(process, timeoutMs);
  if (wait == ChildWait::Ended) return true;
  WriteServiceLog({L"-", program, DescribeWait(wait), std::to_wstring(timeoutMs / 1000)}, L"BR",
                  L"WAIT_PROGRAM");
  return false;
}

}  // namespace brindle
