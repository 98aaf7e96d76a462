// A COM local server (a program) for the tests. "/regserver" writes
// HKLM\SOFTWARE\Classes\BrindleTestServer.<file name>\LocalServer32 (default value: the
// program's path); "/unregserver" removes that key. A server that takes its time to register:
// when the event "BrindleLocalServerHold.<file name>" exists, "/regserver" first signals the
// event "BrindleLocalServerWaiting.<file name>" (when it exists) and waits until the hold event
// is signalled (two minutes at most) before it writes anything.
#include "sys/win_handles.h"

#include <windows.h>

#include <string>

namespace {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring NameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ServerKey() { return L"SOFTWARE\\Classes\\BrindleTestServer." + NameOf(OwnPath()); }

bool SameSwitch(const wchar_t* argument, const wchar_t* name) {
  return (argument[0] == L'/' || argument[0] == L'-') && lstrcmpiW(argument + 1, name) == 0;
}

void WaitWhileHeld() {
  const std::wstring name = NameOf(OwnPath());
  brindle::UniqueHandle hold(OpenEventW(SYNCHRONIZE, FALSE, (L"BrindleLocalServerHold." + name).c_str()));
  if (!hold) return;
  brindle::UniqueHandle waiting(
      OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"BrindleLocalServerWaiting." + name).c_str()));
  if (waiting) SetEvent(waiting.Get());
  WaitForSingleObject(hold.Get(), 120000);
}

int Register() {
  WaitWhileHeld();
  const std::wstring path = OwnPath();
  brindle::UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (ServerKey() + L"\\LocalServer32").c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
    return 1;
  const LONG written =
      RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                     static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  return written == ERROR_SUCCESS ? 0 : 1;
}

int Unregister() {
  const std::wstring key = ServerKey();
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, (key + L"\\LocalServer32").c_str());
  const LONG removed = RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (SameSwitch(argv[i], L"regserver")) return Register();
    if (SameSwitch(argv[i], L"unregserver")) return Unregister();
  }
  return 2;  // started as a server: nothing to serve in the tests
}
