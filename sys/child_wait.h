// Waiting for a program this one started. No wait is without an end: it ends when the program
// ends, when the run is cancelled, or after a time-out; a program still running then is left
// running (the caller names it in the service log) and the step that waited for it fails.
#pragma once
#include <string>

#include <windows.h>

namespace brindle {

enum class ChildWait { Ended, Cancelled, TimedOut, Failed };

// Time-outs, generous enough for the slowest machine the programs run on.
const unsigned long kInstallerWaitMs = 2ul * 60 * 60 * 1000;      // installer wrapper, setup
const unsigned long kRegistrationWaitMs = 10ul * 60 * 1000;       // registration tool, servers

// Waits for the process handle to be signalled, for the run's cancel request, or for the
// time-out to pass.
ChildWait WaitForChild(HANDLE process, unsigned long timeoutMs);
// How a wait that did not see the program end is written in the service log.
const wchar_t* DescribeWait(ChildWait wait);

// Where a wait that did not see its program end is told, so that the layer that keeps the
// service log can name the program there; nothing is told until one is set.
using UnendedWaitReport = void (*)(const std::wstring& program, ChildWait wait,
                                   unsigned long timeoutMs);
void SetUnendedWaitReport(UnendedWaitReport report);
// Waits as WaitForChild does: true when the program ended; otherwise the report is told and
// the answer is false.
bool WaitForProgramEnd(HANDLE process, const std::wstring& program, unsigned long timeoutMs);

// The run's cancel request, for waits on any thread: set by the cancel message and cleared
// only when a new run starts.
void SignalCancel();
void ClearCancel();
bool CancelSignalled();

}  // namespace brindle
