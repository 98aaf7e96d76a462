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
// folder is checked again whenever the file is opened (still no link, still at its path: a
// folder of the chain renamed or replaced since shows there) and walked anew when it fails.
// The file must be itself: no link, no other name (a hard link would make this program append
// to another file), and at its own path as the system reports it. Otherwise the line is lost:
// logging is best effort, and writing elsewhere with administrator rights is not.
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
    // Kept with every sharing, so the user may still rename or remove the folder: a change is
    // seen by the check when the file is next opened.
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

// The full path of the log file, backslashes; empty when it cannot be made.
std::wstring FullLogPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 2] = {};
  const DWORD length = GetFullPathNameW(ToBackslashes(path).c_str(), MAX_PATH * 2, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 2) return std::wstring();
  return full;
}

// The file itself: no folder, no second name (a hard link would make this program append to
// another file) and at its own path as the system reports it.
bool IsTheLogFile(HANDLE log, const std::wstring& file) {
  FILE_STANDARD_INFO standard = {};
  return GetFileInformationByHandleEx(log, FileStandardInfo, &standard, sizeof standard) &&
         !standard.Directory && standard.NumberOfLinks == 1 &&
         IdentifyHandle(log, file) == HandleIdentity::Object;
}

UniqueFile OpenLogFileNoFollow(const std::wstring& file, LogFolder& folders) {
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
  if (!log || !IsTheLogFile(log.Get(), file)) return UniqueFile();
  return log;
}

// The log file, opened and checked by its handle at the first line, then held until the
// process ends: opening and checking it again for every line made logging a large share of an
// update's time. Held, it cannot be renamed, removed or replaced meanwhile (no delete sharing),
// so every line goes to the file that was checked; other programs still read and append.
class HeldLogFile {
 public:
  HANDLE For(const std::wstring& path, LogFolder& folders) {
    if (file_ && path == path_) return file_.Get();
    file_.Reset();
    path_ = path;
    const std::wstring full = FullLogPath(path);
    if (!full.empty()) file_ = OpenLogFileNoFollow(full, folders);
    return file_ ? file_.Get() : nullptr;
  }
  // After a failed write the file is opened and checked anew for the next line.
  void Drop() { file_.Reset(); }

 private:
  std::wstring path_;
  UniqueFile file_;
};

}  // namespace

bool CreateServiceLogFolder(const std::wstring& folder) {
  // Usually there: then the append's own walk down the chain checks it when it opens the file.
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
  static HeldLogFile held;    // likewise
  const HANDLE file = held.For(path, folders);
  if (!file) return false;
  // Other programs append too: the size and the first bytes are read for every line.
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  char head[2] = {};
  DWORD got = 0;
  // Read from the start, wherever the last line left the position. The position is moved
  // rather than given in an OVERLAPPED: a read with one is also reported to the completion
  // machinery, a round trip to the system for every line.
  const LARGE_INTEGER start = {};
  if (size.QuadPart > 0 &&
      (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !ReadFile(file, head, sizeof head, &got, nullptr)))
    got = 0;
  const std::string bytes = EncodeServiceLogLine(
      line, DetectLogFileEncoding(std::string(head, got), static_cast<unsigned long long>(size.QuadPart)));
  // Opened for appending only: every write goes to the end, after what others appended.
  DWORD written = 0;
  if (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size())
    return true;
  held.Drop();
  return false;
}

}  // namespace brindle
