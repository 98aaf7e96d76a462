// Starting programs from tests: the product and the helper programs built next to the tests.
#pragma once
#include <windows.h>

#include <string>

#include "sys/win_handles.h"

namespace brindle::test {

// The folder of the running test program (where Brindle.exe and the helpers are), backslashes.
std::wstring ProgramFolder();
// Full path of a program in that folder.
std::wstring ProgramPath(const std::wstring& exeName);

struct StartedProcess {
  UniqueHandle process;
  DWORD processId = 0;
};
// Starts exe with the command-line tail (already quoted as needed).
StartedProcess StartProgram(const std::wstring& exePath, const std::wstring& arguments);
// Starts a helper that signals the named event given as its last argument once it is ready
// (brindle_probe.exe: holds its file or mutex and has its window), and waits up to timeoutMs
// for that signal. ready tells whether it came; a helper that never got ready is killed.
StartedProcess StartWhenReady(const std::wstring& exePath, const std::wstring& arguments, unsigned timeoutMs,
                              bool& ready);
// Waits for the process; returns its exit code, or -1 on time-out (the process is then killed).
int WaitForExit(StartedProcess& started, unsigned timeoutMs);

}  // namespace brindle::test
