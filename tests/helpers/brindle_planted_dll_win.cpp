// A library planted where an elevated program must never take one from: copied under a system
// library's name (cabinet.dll) beside a copy of Brindle.exe. Loading it appends "loaded by
// <program path>" to the file named by BRINDLE_TEST_PLANTED_LOG; it exports nothing.
#include <windows.h>

#include <cstdio>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t logPath[MAX_PATH] = {}, program[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"BRINDLE_TEST_PLANTED_LOG", logPath, MAX_PATH)) return TRUE;
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (FILE* out = _wfopen(logPath, L"ab")) {
    std::fprintf(out, "loaded by %ls\n", program);
    std::fclose(out);
  }
  return TRUE;
}
