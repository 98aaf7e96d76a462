// A package hook library for the tests. What it does depends on the name it is copied under:
// a name containing "veto" returns 1, "restart" sets the restart byte and returns 0, "two"
// returns 2, anything else returns 0. Every call appends "<export> <file name> <restart byte
// received>" to the file named by the environment variable BRINDLE_TEST_HOOK_LOG.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring OwnName() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnName), &self);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring name = path;
  const size_t slash = name.find_last_of(L"\\/");
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

void Record(const char* function, const std::wstring& name, unsigned char received) {
  wchar_t logPath[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"BRINDLE_TEST_HOOK_LOG", logPath, MAX_PATH)) return;
  FILE* out = _wfopen(logPath, L"ab");
  if (!out) return;
  std::fprintf(out, "%s %ls %u\n", function, name.c_str(), received);
  std::fclose(out);
}

int Hook(const char* function, unsigned char* restart) {
  const std::wstring name = OwnName();
  Record(function, name, restart ? *restart : 255);
  if (name.find(L"veto") != std::wstring::npos) return 1;
  if (name.find(L"restart") != std::wstring::npos) {
    if (restart) *restart = 1;
    return 0;
  }
  if (name.find(L"two") != std::wstring::npos) return 2;
  return 0;
}

}  // namespace

extern "C" __declspec(dllexport) int __stdcall Update_BeforeUpdate(unsigned char* restart) {
  return Hook("Update_BeforeUpdate", restart);
}

extern "C" __declspec(dllexport) int __stdcall Update_AfterUpdate(unsigned char* restart) {
  return Hook("Update_AfterUpdate", restart);
}
