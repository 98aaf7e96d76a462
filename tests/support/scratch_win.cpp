#include "support/scratch.h"

#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace brindle::test {

ScratchFolder::ScratchFolder() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  for (;;) {
    std::wstring candidate = std::wstring(temp) + L"brindle-test-" + std::to_wstring(GetCurrentProcessId()) +
                             L"-" + std::to_wstring(counter++);
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
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(f.Get(), &size)) return false;
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(f.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
    return false;
  bytes.resize(read);
  return true;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(ToBackslashes(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Deletes a file or a folder with everything below it, through long-path names so that trees
// deeper than MAX_PATH are removed too (the shell's delete operation mishandles those and has
// been seen to delete from the current folder instead).
bool RemoveLongPath(const std::wstring& longPath) {
  const DWORD attributes = GetFileAttributesW(longPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(longPath.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(longPath.c_str()) != 0
                                                   : DeleteFileW(longPath.c_str()) != 0;
  bool all = true;
  WIN32_FIND_DATAW found;
  {
    UniqueFind find(FindFirstFileW((longPath + L"\\*").c_str(), &found));
    if (find) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (!RemoveLongPath(longPath + L"\\" + name)) all = false;
      } while (FindNextFileW(find.Get(), &found));
    }
  }
  return RemoveDirectoryW(longPath.c_str()) != 0 && all;
}

}  // namespace

bool RemoveTree(const std::wstring& path) {
  // Only a full path with a drive: an empty or relative one would name the current folder.
  std::wstring full = ToBackslashes(path);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  if (full.size() < 4 || full[1] != L':' || full[2] != L'\\') return false;
  return RemoveLongPath(L"\\\\?\\" + full);
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& f) {
    return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace brindle::test
