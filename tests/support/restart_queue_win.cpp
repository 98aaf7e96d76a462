#include "support/restart_queue_win.h"

#include "sys/win_handles.h"

namespace brindle::test {

namespace {
const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const wchar_t kPendingKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
}  // namespace

bool SharedCount(const std::wstring& path, DWORD& count) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) !=
      ERROR_SUCCESS)
    return false;
  DWORD type = 0, bytes = sizeof(count);
  return RegQueryValueExW(key.Get(), path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&count), &bytes) ==
         ERROR_SUCCESS;
}

void SetSharedCount(const std::wstring& path, DWORD count) {
  UniqueRegKey key;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr,
                  key.Receive(), nullptr);
  RegSetValueExW(key.Get(), path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), 4);
}

void RemoveSharedCount(const std::wstring& path) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, key.Receive()) ==
      ERROR_SUCCESS)
    RegDeleteValueW(key.Get(), path.c_str());
}

std::wstring PendingRenames() {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return L"";
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &bytes) !=
      ERROR_SUCCESS)
    return L"";
  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, &type,
                   reinterpret_cast<BYTE*>(&data[0]), &bytes);
  for (wchar_t& c : data)
    if (c == L'\0') c = L'|';
  return data;
}

}  // namespace brindle::test
