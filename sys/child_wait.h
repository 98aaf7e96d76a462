// Waiting for a program this one started. No wait is without an end: it ends when the program
// ends, when the run is cancelled, or after a time-out; a program still running then is left
// running (the caller names it in the service log) and the step that waited for it fails.
#pragma once
#include <string>

#include <windows.h>

#include "sys/win_handles.h"

namespace brindle {

enum class ChildWait { Ended, Cancelled, TimedOut, Failed };

// Time-outs, generous enough for the slowest machine the programs run on.
const unsigned long kInstallerWaitMs = 2ul * 60 * 60 * 1000;  // installer wrapper, setup
const unsigned long kRegistrationWaitMs = 10ul * 60 * 1000;   // registration tool, servers

// Waits for the process handle to be signalled, for the run's cancel request, or for the
// time-out to pass.
ChildWait WaitForChild(HANDLE process, unsigned long timeoutMs);
// How a wait that did not see the program end is written in the service log.
const wchar_t* DescribeWait(ChildWait wait);

// Where a wait that did not see its program end is told, so that the layer that keeps the
// service log can name the program there; nothing is told until one is set.
using UnendedWaitReport = void (*)(const std::wstring& program, ChildWait wait, unsigned long timeoutMs);
void SetUnendedWaitReport(UnendedWaitReport report);
// Waits as WaitForChild does: true when the program ended; otherwise the report is told and
// the answer is false.
bool WaitForProgramEnd(HANDLE process, const std::wstring& program, unsigned long timeoutMs);

// How every program this one starts is started: by its full path as the application name (the
// system searches no folder for it), with a command line that begins with that path in quotes,
// and in a current folder this program chose (the program's own folder or the system folder),
// never the one this program was started in. program must be a full path.
struct ChildStart {
  std::wstring program;    // full path
  std::wstring arguments;  // after the quoted path, separated from it by one space
  std::wstring folder;     // the current folder the program runs in
};
// "<program>" <arguments>, or "<program>" alone without arguments.
std::wstring ChildCommandLine(const ChildStart& start);
// The folder of a full path, without its trailing separator.
std::wstring FolderOfProgram(const std::wstring& program);
// The system folder ("C:\Windows\System32"); empty when the system does not say.
std::wstring SystemFolderPath();
// Starts the program with the given creation flags and window state; false, with the system's
// error, when it cannot be started (a program or folder that is not a full path is refused).
bool StartChild(const ChildStart& start, DWORD flags, WORD show, PROCESS_INFORMATION& info,
                unsigned long& error);

// A program started by this one and tied to it: should this process end before the program
// does (killed, crashed), the system ends the program with it, so that no program started for
// a package outlives the run whose undo it would disturb (a registration left waiting would
// hold its program file against the undo, or register the server once the undo is done).
// Programs the program itself starts are not tied.
class CQXTiedProgram {
 public:
  // Starts the command line at normal priority; false, with the system's error, when it cannot
  // be started. Where the system cannot tie it (this process runs in a job that forbids it),
  // it runs untied.
  bool Start(const ChildStart& start, unsigned long& error);
  HANDLE Process() const { return process_.Get(); }
  bool IsTied() const { return job_.Valid(); }
  // From now on the program may outlive this process (one left running after its wait).
  void Untie();

 private:
  UniqueHandle process_;
  UniqueHandle job_;  // closed once the program has ended (or been untied): it then ends nothing
};

// The run's cancel request, for waits on any thread: set by the cancel message and cleared
// only when a new run starts.
void SignalCancel();
void ClearCancel();
bool CancelSignalled();

}  // namespace brindle
