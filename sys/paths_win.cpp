#include "sys/paths.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

namespace brindle {

std::wstring ParentFolder(const std::wstring& path) {
  std::vector<wchar_t> buffer(path.size() + 2, L'\0');
  std::wstring back = ToBackslashes(path);
  std::copy(back.begin(), back.end(), buffer.begin());
  PathRemoveFileSpecW(buffer.data());
  return ToForwardSlashes(buffer.data());
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  // PathAppendW works on MAX_PATH buffers; longer joins are done by hand with the same rule.
  std::wstring a = ToBackslashes(folder), b = ToBackslashes(name);
  if (a.size() + b.size() + 2 < MAX_PATH) {
    wchar_t buffer[MAX_PATH] = {};
    std::copy(a.begin(), a.end(), buffer);
    if (PathAppendW(buffer, b.c_str())) return ToForwardSlashes(buffer);
  }
  while (!b.empty() && b.front() == L'\\') b.erase(0, 1);
  if (!a.empty() && a.back() != L'\\' && !b.empty()) a += L'\\';
  return ToForwardSlashes(a + b);
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(ToBackslashes(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsMissingPathError(unsigned long error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool CreateFolderChain(const std::wstring& folder) {
  std::wstring path = ToBackslashes(folder);
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':') {
    if (!CreateFolderChain(path.substr(0, slash))) return false;
  }
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace brindle
