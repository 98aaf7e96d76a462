// A COM server library for the tests. DllRegisterServer writes
// HKLM\SOFTWARE\Classes\BrindleTestServer.<file name>\InprocServer32 (default value: the
// library's path); DllUnregisterServer removes that key. Copied under a name containing "fail",
// its DllRegisterServer fails (E_FAIL) without writing anything.
#include <windows.h>
#include <olectl.h>

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

std::wstring NameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ServerKey() { return L"SOFTWARE\\Classes\\BrindleTestServer." + NameOf(OwnPath()); }

}  // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
  const std::wstring path = OwnPath();
  if (NameOf(path).find(L"fail") != std::wstring::npos) return E_FAIL;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (ServerKey() + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  const LONG written = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                      static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return written == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
  const std::wstring key = ServerKey();
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, (key + L"\\InprocServer32").c_str());
  const LONG removed = RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
