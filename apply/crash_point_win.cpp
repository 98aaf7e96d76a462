#include "apply/crash_point.h"

// Compiled into the test build of the program only (see crash_point.h); the shipped program's
// copy of this file is empty.
#ifdef BRINDLE_CRASH_POINTS

#include <windows.h>

#include "sys/win_handles.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace brindle {

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// Appends the point's kind to the log, through to the disk before the process may end.
void LogPoint(const std::wstring& log, const char* kind) {
  UniqueFile file(CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const std::string line = std::string(kind) + "\n";
  DWORD written = 0;
  WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  FlushFileBuffers(file.Get());
}

}  // namespace

void CrashPoint(const char* kind) {
  static const unsigned long crashAt = std::wcstoul(Variable(L"BRINDLE_CRASH_AT").c_str(), nullptr, 10);
  static const std::wstring log = Variable(L"BRINDLE_CRASH_LOG");
  static unsigned long count = 0;
  ++count;
  if (!log.empty()) LogPoint(log, kind);
  if (crashAt != 0 && count == crashAt) TerminateProcess(GetCurrentProcess(), kCrashPointExitCode);
}

}  // namespace brindle

#endif
