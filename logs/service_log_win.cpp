#include "logs/service_log.h"

#include "sys/folder_removal.h"
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

// The log lies in the session user's profile, where that user can plant links. Its folder is
// found by walking the chain from the drive down, each folder opened without following a link
// and checked by its handle (see OpenFolderChainNoFollow); the folder's handle is then kept, and
// the file is opened relative to it, so no path is looked up again between check and use. The
// folder is checked again before each line (still no link, still at its path: a folder of the
// chain renamed or replaced since shows there) and walked anew when it fails. The file must be
// itself: no link, no other name (a hard link would make this program append to another file),
// and at its own path as the system reports it. Otherwise the line is lost: logging is best
// effort, and writing elsewhere with administrator rights is not.
class LogFolder {
 public:
  HANDLE Verified(const std::wstring& folder) {
    if (folder_ != folder || !handle_ || !StillInPlace()) Walk(folder);
    return handle_ ? handle_.Get() : nullptr;
  }

 private:
  bool StillInPlace() const { return IdentifyHandle(handle_.Get(), folder_) == HandleIdentity::Object; }
  void Walk(const std::wstring& folder) {
    handle_.Reset();
    folder_ = folder;
    std::vector<UniqueFile> chain;
    if (!OpenFolderChainNoFollow(folder, false, chain)) return;
    // Kept with every sharing, so the user may still rename or remove the folder between runs
    // of lines: a change is seen by the check before the next line.
    UniqueFile kept(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                    SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    if (kept && IdentifyHandle(kept.Get(), folder) == HandleIdentity::Object) handle_ = std::move(kept);
  }

  std::wstring folder_;
  UniqueFile handle_;
};

UniqueFile OpenLogFileNoFollow(const std::wstring& path, LogFolder& folders) {
  wchar_t full[MAX_PATH * 2] = {};
  const DWORD length = GetFullPathNameW(ToBackslashes(path).c_str(), MAX_PATH * 2, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 2) return UniqueFile();
  const std::wstring file = full;
  const size_t slash = file.find_last_of(L'\\');
  if (slash == std::wstring::npos) return UniqueFile();
  const HANDLE folder = folders.Verified(file.substr(0, slash));
  if (!folder) return UniqueFile();
  // An existing file is opened, else a new one made; never "open or create", which would
  // create a file where a dangling link points on a file system that follows links anyway.
  const std::wstring name = file.substr(slash + 1);
  const DWORD access = GENERIC_READ | FILE_APPEND_DATA, share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  UniqueFile log = OpenInFolder(folder, name, access, share);
  if (!log) log = OpenInFolder(folder, name, access, share, true);
  FILE_STANDARD_INFO standard = {};
  if (!log || IdentifyHandle(log.Get(), file) != HandleIdentity::Object ||
      !GetFileInformationByHandleEx(log.Get(), FileStandardInfo, &standard, sizeof standard) ||
      standard.Directory || standard.NumberOfLinks > 1)
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
  static LogFolder folders;  // used under the lock only
  UniqueFile file = OpenLogFileNoFollow(path, folders);
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
