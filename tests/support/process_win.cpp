#include "support/process_win.h"

#include <vector>

namespace brindle::test {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring ProgramPath(const std::wstring& exeName) { return ProgramFolder() + L"\\" + exeName; }

StartedProcess StartProgram(const std::wstring& exePath, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exePath + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  StartedProcess started;
  if (!CreateProcessW(exePath.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info))
    return started;
  CloseHandle(info.hThread);
  started.process.Reset(info.hProcess);
  started.processId = info.dwProcessId;
  return started;
}

StartedProcess StartWhenReady(const std::wstring& exePath, const std::wstring& arguments, unsigned timeoutMs,
                              bool& ready) {
  static LONG counter = 0;
  const std::wstring name = L"BrindleTestReady." + std::to_wstring(GetCurrentProcessId()) + L"." +
                            std::to_wstring(InterlockedIncrement(&counter));
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  StartedProcess started = StartProgram(exePath, arguments + L" " + name);
  ready = false;
  if (!event || !started.process) return started;
  const HANDLE waits[] = {event.Get(), started.process.Get()};  // a helper that ends is not ready
  ready = WaitForMultipleObjects(2, waits, FALSE, timeoutMs) == WAIT_OBJECT_0;
  if (!ready) {
    TerminateProcess(started.process.Get(), 1);
    WaitForSingleObject(started.process.Get(), 5000);
  }
  return started;
}

int WaitForExit(StartedProcess& started, unsigned timeoutMs) {
  if (!started.process) return -1;
  if (WaitForSingleObject(started.process.Get(), timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(started.process.Get(), 1);
    WaitForSingleObject(started.process.Get(), 5000);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(started.process.Get(), &code);
  return static_cast<int>(code);
}

}  // namespace brindle::test
