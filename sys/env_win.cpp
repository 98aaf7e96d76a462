#include "sys/env.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"

namespace brindle {

namespace {

const wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// A string value of HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion in the given view, read
// with a buffer of maxBytes; empty when the key or value is missing, is not a string, or does
// not fit.
std::wstring ReadCurrentVersionString(const wchar_t* valueName, REGSAM view, DWORD maxBytes) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_QUERY_VALUE | view, key.Receive()) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  std::vector<wchar_t> buffer(maxBytes / sizeof(wchar_t) + 1, L'\0');
  DWORD type = 0;
  DWORD size = maxBytes;
  if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::wstring();
  buffer[size / sizeof(wchar_t)] = L'\0';  // a stored value need not end with a terminator
  return std::wstring(buffer.data());
}

// A folder from one of the GetXxxDirectoryW calls, which answer the length they need when the
// buffer is too small and 0 on failure.
template <typename Fn>
std::wstring SystemFolder(Fn call) {
  std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
  UINT length = call(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(length + 1, L'\0');
    length = call(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length >= buffer.size()) return std::wstring();
  }
  return std::wstring(buffer.data(), length);
}

// The folder that a 32-bit program knows as "Program Files\Common Files".
std::wstring CommonFilesFolder() {
#ifdef _WIN64
  const int folderId = CSIDL_PROGRAM_FILES_COMMONX86;
#else
  const int folderId = CSIDL_PROGRAM_FILES_COMMON;
#endif
  wchar_t path[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, folderId, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0] != L'\0') {
    return path;
  }
  // The registry's own record, limited to 129 characters and the terminator.
  return ReadCurrentVersionString(L"CommonFilesDir", KEY_WOW64_32KEY, 260);
}

}  // namespace

MachineFolders ReadMachineFolders() {
  MachineFolders folders;
  const DWORD kProgramFilesBytes = 2 * (MAX_PATH + 1);
  folders.progFolder = ReadCurrentVersionString(L"ProgramFilesDir", KEY_WOW64_32KEY, kProgramFilesBytes);
  folders.progFolder64 =
      IsWow64Windows() ? ReadCurrentVersionString(L"ProgramFilesDir", KEY_WOW64_64KEY, kProgramFilesBytes)
                       : folders.progFolder;
  folders.winFolder = SystemFolder(GetWindowsDirectoryW);
  folders.sysFolder64 = SystemFolder(GetSystemDirectoryW);
  SetLastError(ERROR_SUCCESS);
  folders.sysFolder = SystemFolder(GetSystemWow64DirectoryW);
  if (folders.sysFolder.empty() && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
    folders.sysFolder = folders.sysFolder64;  // 32-bit Windows has one system folder
  }
  folders.sysDrive = folders.sysFolder64.substr(0, 2);
  folders.commonFiles = CommonFilesFolder();
  return folders;
}

}  // namespace brindle
