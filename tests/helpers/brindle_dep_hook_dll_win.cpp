// A package hook that imports brindle_hook_dep.dll, shipped beside it: it loads only when its
// own folder is searched for the libraries it needs. Each call appends "<export> <value>" (the
// helper's answer, 42) to the file named by BRINDLE_TEST_HOOK_LOG.
#include <windows.h>

#include <cstdio>

extern "C" __declspec(dllimport) int BrindleHookDependency();

namespace {

int Record(const char* function) {
  wchar_t logPath[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"BRINDLE_TEST_HOOK_LOG", logPath, MAX_PATH)) return 0;
  FILE* out = _wfopen(logPath, L"ab");
  if (!out) return 0;
  std::fprintf(out, "%s %d\n", function, BrindleHookDependency());
  std::fclose(out);
  return 0;
}

}  // namespace

extern "C" __declspec(dllexport) int __stdcall Update_BeforeUpdate(unsigned char* restart) {
  return Record("Update_BeforeUpdate");
}

extern "C" __declspec(dllexport) int __stdcall Update_AfterUpdate(unsigned char* restart) {
  return Record("Update_AfterUpdate");
}
