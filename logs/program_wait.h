// Waiting for a program this one started, with its end in the service log when the program
// did not end: "WAIT_PROGRAM" with the program, "cancelled", "timeout" or "wait failed", and
// the time-out in seconds. The program is left running, never killed silently.
#pragma once
#include <string>

#include "sys/child_wait.h"

namespace brindle {

// True when the program ended; false when the run was cancelled, the time-out passed or the
// wait failed (the line is written then).
bool WaitForProgram(HANDLE process, const std::wstring& program, unsigned long timeoutMs);
// Has the waits of the lower layers (registration tools, local servers) write the same line.
void ReportUnendedWaitsInServiceLog();

}  // namespace brindle
