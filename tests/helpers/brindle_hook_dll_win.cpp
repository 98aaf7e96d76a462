// A package hook library for the tests. What it does depends on the name it is copied under:
// a name containing "veto" returns 1, "restart" sets the restart byte and returns 0, "two"
// returns 2, anything else returns 0. Every call appends "<export> <file name> <restart byte
// received>" to the file named by the environment variable BRINDLE_TEST_HOOK_LOG; a name
// containing "report" then adds "folder <the folder it was loaded from>" and "access <that
// folder's access list, as security descriptor text>".
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

namespace {

std::wstring OwnPath() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnPath), &self);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(self, path, MAX_PATH);
  return path;
}

std::wstring OwnName() {
  const std::wstring name = OwnPath();
  const size_t slash = name.find_last_of(L"\\/");
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

std::wstring OwnFolder() {
  const std::wstring path = OwnPath();
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The folder's access list as security descriptor text ("D:P(A;OICI;FA;;;SY)..."), or "none".
std::wstring AccessListOf(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return L"none";
  wchar_t* text = nullptr;
  std::wstring result = L"none";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

void Record(const char* function, const std::wstring& name, unsigned char received) {
  wchar_t logPath[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"BRINDLE_TEST_HOOK_LOG", logPath, MAX_PATH)) return;
  FILE* out = _wfopen(logPath, L"ab");
  if (!out) return;
  std::fprintf(out, "%s %ls %u\n", function, name.c_str(), received);
  if (name.find(L"report") != std::wstring::npos) {
    std::fprintf(out, "folder %ls\n", OwnFolder().c_str());
    std::fprintf(out, "access %ls\n", AccessListOf(OwnFolder()).c_str());
  }
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
