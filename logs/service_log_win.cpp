#include "logs/service_log.h"

#include "sys/paths.h"
#include "sys/system_util.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>

#include <mutex>

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

bool AppendServiceLogLine(const std::wstring& path, const std::wstring& line) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  UniqueFile file(CreateFileW(ToBackslashes(path).c_str(), GENERIC_READ | FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
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
