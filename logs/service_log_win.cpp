#include "logs/service_log.h"

#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/system_util.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>

#include <mutex>
#include <vector>

namespace brindle {

std::wstring LogTimeStamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return FormatLogTimeStamp(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                            t.wMilliseconds);
}

namespace {
std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return L"";
  return path;
}
}  // namespace

namespace {
std::wstring FindServiceLogFolder() {
  std::wstring base = SpecialFolder(CSIDL_APPDATA);
  CWinQXSystemUtil system;
  std::wstring sessionUser;
  if (!base.empty() && !system.IsSessionUserAdmin() && GetSessionUserName(sessionUser) &&
      !EqualsIgnoreAsciiCase(sessionUser, system.GetUserName())) {
    base = SubstituteProfileUser(base, SpecialFolder(CSIDL_PROFILE), sessionUser);
  }
  return JoinPath(ToForwardSlashes(base), kServiceLogSubfolder);
}
}  // namespace

// The folder is found once per process: every step of a run writes a line, and asking the
// shell and the session for it each time made logging a large share of an update's time.
std::wstring ServiceLogFolder() {
  static const std::wstring folder = FindServiceLogFolder();
  return folder;
}

namespace {

// The log lies in the session user's profile, where that user can plant links. The file is
// opened only through its folder chain held open and checked link by link, is itself no link
// and has no other name (a hard link would make this program append to another file), and its
// path as the system reports it for the handle is the one asked for. Otherwise the line is lost:
// logging is best effort, and writing elsewhere with administrator rights is not.
UniqueFile OpenLogFileNoFollow(const std::wstring& path, std::vector<UniqueFile>& chain) {
  wchar_t full[MAX_PATH * 2] = {};
  const DWORD length = GetFullPathNameW(ToBackslashes(path).c_str(), MAX_PATH * 2, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 2) return UniqueFile();
  const std::wstring file = full;
  const size_t slash = file.find_last_of(L'\\');
  if (slash == std::wstring::npos || !OpenFolderChainNoFollow(file.substr(0, slash), false, chain))
    return UniqueFile();
  // An existing file is opened, else a new one made; never "open or create", which would
  // create a file where a dangling link points on a file system that follows links anyway.
  auto open = [&](DWORD disposition) {
    return UniqueFile(CreateFileW(file.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  };
  UniqueFile log = open(OPEN_EXISTING);
  if (!log && GetLastError() == ERROR_FILE_NOT_FOUND) log = open(CREATE_NEW);
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!log || IdentifyHandle(log.Get(), file) != HandleIdentity::Object ||
      !GetFileInformationByHandle(log.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || info.nNumberOfLinks > 1)
    return UniqueFile();
  return log;
}

}  // namespace

bool CreateServiceLogFolder(const std::wstring& folder) {
  // Usually there: then the append's own walk down the chain checks it, once per line.
  const DWORD attributes = GetFileAttributesW(ToBackslashes(folder).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  wchar_t full[MAX_PATH * 2] = {};
  const DWORD length = GetFullPathNameW(ToBackslashes(folder).c_str(), MAX_PATH * 2, full, nullptr);
  std::vector<UniqueFile> chain;
  return length != 0 && length < MAX_PATH * 2 && OpenFolderChainNoFollow(full, true, chain);
}

bool AppendServiceLogLine(const std::wstring& path, const std::wstring& line) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  std::vector<UniqueFile> chain;
  UniqueFile file = OpenLogFileNoFollow(path, chain);
  if (!file) return false;
  LARGE_INTEGER size = {};
  GetFileSizeEx(file.Get(), &size);
  char head[2] = {};
  DWORD got = 0;
  if (size.QuadPart > 0) ReadFile(file.Get(), head, sizeof head, &got, nullptr);
  const std::string bytes = EncodeServiceLogLine(
      line, DetectLogFileEncoding(std::string(head, got), static_cast<unsigned long long>(size.QuadPart)));
  DWORD written = 0;
  return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace brindle
