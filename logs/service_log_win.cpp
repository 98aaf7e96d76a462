#include "logs/service_log.h"

#include "sys/folder_removal.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/system_util.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <winternl.h>
#include <shlobj.h>

#include <mutex>
#include <vector>

namespace brindle {

std::wstring LogTimeStamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return FormatLogTimeStamp(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
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
// the file is opened relative to it, by its name alone, so no path is looked up again between
// check and use. The file must be itself: no folder, no link, no other name (a hard link would
// make this program append to another file), and at its own path as the system reports it, its
// folder too (a folder of the chain renamed or replaced since shows there; the chain is then
// walked anew). The two paths are asked for when the file at the path is one not checked before;
// one already checked is known by its number (a folder moved away with the checked file still
// gets the lines, which go to that same file). Otherwise the line is lost: logging is best
// effort, and writing elsewhere with administrator rights is not.
class LogFolder {
 public:
  HANDLE Get(const std::wstring& folder) {
    if (folder_ != folder || !handle_) Walk(folder);
    return handle_ ? handle_.Get() : nullptr;
  }
  bool StillInPlace() const {
    return handle_ && IdentifyHandle(handle_.Get(), folder_) == HandleIdentity::Object;
  }
  void Forget() { handle_.Reset(); }

 private:
  void Walk(const std::wstring& folder) {
    handle_.Reset();
    folder_ = folder;
    std::vector<UniqueFile> chain;
    if (!OpenFolderChainNoFollow(folder, false, chain)) return;
    // Kept with every sharing, so the user may still rename or remove the folder: a change is
    // seen by the check of the next file not seen before.
    UniqueFile kept(
        CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
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

// What the system says of an opened file, asked in small questions: the whole file information
// of GetFileInformationByHandle asks the volume too, which costs far more (under Wine, a request
// to the mount manager, another process).
struct LogFileFacts {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  FILE_STANDARD_INFO standard = {};
  LONGLONG id = 0;  // the file's number on its volume (the volume is the kept folder's)
};

using NtQueryInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
constexpr ULONG kFileInternalInformation = 6;

bool FileNumber(HANDLE file, LONGLONG& id) {
  static const NtQueryInformationFileFn query = reinterpret_cast<NtQueryInformationFileFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  IO_STATUS_BLOCK status = {};
  LARGE_INTEGER number = {};
  if (!query || query(file, &status, &number, sizeof number, kFileInternalInformation) < 0) return false;
  id = number.QuadPart;
  return true;
}

bool ReadFacts(HANDLE file, LogFileFacts& facts) {
  facts.attributes = AttributesOfHandle(file);
  return facts.attributes != INVALID_FILE_ATTRIBUTES &&
         GetFileInformationByHandleEx(file, FileStandardInfo, &facts.standard, sizeof facts.standard) &&
         FileNumber(file, facts.id);
}

// The file last found to be the log at its path, by its identity on its volume. Asking the
// system for a handle's path costs several requests to it: it is asked only for a file not
// seen before, which is then remembered.
class CheckedFile {
 public:
  bool Is(const std::wstring& path, LONGLONG id) const { return known_ && id == id_ && path == path_; }
  void Remember(const std::wstring& path, LONGLONG id) {
    known_ = true;
    path_ = path;
    id_ = id;
  }
  // The folder is walked anew: numbers of the old one's volume mean nothing there.
  void Forget() { known_ = false; }

 private:
  bool known_ = false;
  std::wstring path_;
  LONGLONG id_ = 0;
};

// Opened relative to the folder's kept handle, by its name alone, never through a link. Shared
// for reading, writing and deleting, so that no other program is refused while a line is
// written. facts receives what the system says of the file (its size among it).
UniqueFile OpenLogFileNoFollow(const std::wstring& file, LogFolder& folders, CheckedFile& checked,
                               LogFileFacts& facts) {
  const size_t slash = file.find_last_of(L'\\');
  if (slash == std::wstring::npos) return UniqueFile();
  const std::wstring folderPath = file.substr(0, slash), name = file.substr(slash + 1);
  const DWORD access = GENERIC_READ | FILE_APPEND_DATA;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // A second attempt walks the folder chain anew (the kept folder moved away).
  for (int attempt = 0; attempt < 2; ++attempt) {
    const HANDLE folder = folders.Get(folderPath);
    if (!folder) return UniqueFile();
    // An existing file is opened, else a new one made; never "open or create", which would
    // create a file where a dangling link points on a file system that follows links anyway.
    UniqueFile log = OpenInFolder(folder, name, access, share);
    if (!log) log = OpenInFolder(folder, name, access, share, true);
    if (!log || !ReadFacts(log.Get(), facts) ||
        (facts.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        facts.standard.Directory || facts.standard.NumberOfLinks != 1)
      return UniqueFile();
    if (checked.Is(file, facts.id)) return log;
    if (folders.StillInPlace() && IdentifyHandle(log.Get(), file) == HandleIdentity::Object) {
      checked.Remember(file, facts.id);
      return log;
    }
    folders.Forget();
    checked.Forget();
  }
  return UniqueFile();
}

// The full path of the last log path asked for, worked out once.
const std::wstring& CachedFullPath(const std::wstring& path) {
  static std::wstring asked, full;
  if (path != asked) {
    asked = path;
    full = FullLogPath(path);
  }
  return full;
}

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

// Each line opens the file, appends and closes it: between two lines this program holds nothing
// on the file, so the maker's other programs may collect, rename or delete it, and the next line
// then starts a new file at its path. The folder's checked handle is kept (see LogFolder).
bool AppendServiceLogLine(const std::wstring& path, const std::wstring& line) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  static LogFolder folders;    // used under the lock only
  static CheckedFile checked;  // likewise
  const std::wstring& full = CachedFullPath(path);
  if (full.empty()) return false;
  LogFileFacts facts;
  const UniqueFile file = OpenLogFileNoFollow(full, folders, checked, facts);
  if (!file) return false;
  // Other programs append too: the size and the first bytes are read for every line.
  const unsigned long long size = static_cast<unsigned long long>(facts.standard.EndOfFile.QuadPart);
  char head[2] = {};
  DWORD got = 0;
  if (size > 0 && !ReadFile(file.Get(), head, sizeof head, &got, nullptr)) got = 0;
  const std::string bytes = EncodeServiceLogLine(line, DetectLogFileEncoding(std::string(head, got), size));
  // Opened for appending only: every write goes to the end, after what others appended.
  DWORD written = 0;
  return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace brindle
