#include "support/run_once_win.h"

#include "sys/win_handles.h"

#include <windows.h>

namespace brindle::test {

namespace {
const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
}  // namespace

std::wstring RunOnceValue(const std::wstring& name) {
  wchar_t text[1024] = {};
  DWORD bytes = sizeof(text) - sizeof(wchar_t);
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) !=
          ERROR_SUCCESS ||
      RegGetValueW(key.Get(), nullptr, name.c_str(), RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS)
    return L"<missing>";
  return text;
}

void DeleteRunOnceValue(const std::wstring& name) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, key.Receive()) ==
      ERROR_SUCCESS)
    RegDeleteValueW(key.Get(), name.c_str());
}

}  // namespace brindle::test
