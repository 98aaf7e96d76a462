#include "support/scratch.h"

#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <string>

namespace brindle::test {

ScratchFolder::ScratchFolder() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  for (;;) {
    std::wstring candidate = std::wstring(temp) + L"brindle-test-" +
                             std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(counter++);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = ToForwardSlashes(candidate);
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  UniqueFile f(CreateFileW(ToBackslashes(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  DWORD written = 0;
  return WriteFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool ReadBytes(const std::wstring& path, std::string& bytes) {
  UniqueFile f(CreateFileW(ToBackslashes(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(f.Get(), &size)) return false;
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      !ReadFile(f.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
    return false;
  bytes.resize(read);
  return true;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(ToBackslashes(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveTree(const std::wstring& path) {
  if (path.empty()) return false;
  std::wstring from = ToBackslashes(path);
  from.push_back(L'\0');  // the operation takes a double-terminated list
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  return SHFileOperationW(&op) == 0;
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& f) {
    return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) |
                               f.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace brindle::test
