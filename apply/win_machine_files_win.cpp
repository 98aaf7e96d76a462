#include "apply/win_machine_files_win.h"

#include "apply/crash_point.h"
#include "sys/file_util.h"
#include "sys/paths.h"
#include "sys/win_handles.h"
#include "uninstlog/path_key.h"

#include <cwchar>
#include <vector>

namespace brindle {

namespace {

unsigned long LastError() {
  const DWORD error = GetLastError();
  return error ? error : ERROR_GEN_FAILURE;
}

unsigned long Answer(BOOL ok) { return ok ? 0 : LastError(); }

const wchar_t kPendingKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::wstring WithoutPrefix(std::wstring text) {
  if (!text.empty() && text[0] == L'!') text.erase(0, 1);
  if (text.compare(0, 4, L"\\??\\") == 0) text.erase(0, 4);
  return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

unsigned long WinMachineFiles::Look(const std::wstring& path, bool, PathState& state) {
  state = PathState();
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return IsMissingPathError(error) ? 0 : (error ? error : ERROR_GEN_FAILURE);
  }
  state.exists = true;
  state.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  state.attributes = attributes;
  return 0;
}

unsigned long WinMachineFiles::Facts(const std::wstring& path, bool, FileFacts& facts) {
  facts = FileFacts();
  std::uint32_t high = 0, low = 0;
  facts.hasVersion = GetFileVersion(path, high, low);
  if (facts.hasVersion) facts.version = FileVersionNumber(high, low);
  if (!GetFileWriteTime(path, facts.writeTime)) facts.writeTime = 0;
  return 0;
}

// A move aside (no replace) is a rename through one handle on the file's own volume; across
// volumes the old file is copied there whole, then removed here (a copy whose source stayed is
// not kept). A file put back (replace) goes over the file that stands in its place (a read-only
// one refuses: the undo clears it and asks again) and reaches the disk before the call returns.
unsigned long WinMachineFiles::RenameFile(const std::wstring& from, const std::wstring& to, bool,
                                          bool replace) {
  if (replace) return PutBack(from, to);
  if (MoveFileThroughHandle(from, to, false)) {
    CrashPoint("file-moved-aside");
    return 0;
  }
  DWORD error = LastError();
  if (error != ERROR_NOT_SAME_DEVICE) return error;
  if (CopyWholeThenName(from, to)) {
    const DWORD attributes = GetFileAttributesW(from.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      SetFileAttributesW(from.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (::DeleteFileW(from.c_str())) {
      CrashPoint("file-moved-aside");
      return 0;
    }
    error = LastError();
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(from.c_str(), attributes);
  } else {
    error = LastError();
  }
  ::DeleteFileW(to.c_str());
  return error;
}

unsigned long WinMachineFiles::PutBack(const std::wstring& from, const std::wstring& to) {
  const DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (MoveFileExW(from.c_str(), to.c_str(), kFlags)) return 0;
  const DWORD error = LastError();
  if (error == ERROR_NOT_SAME_DEVICE && MoveFileExW(from.c_str(), to.c_str(), kFlags | MOVEFILE_COPY_ALLOWED))
    return 0;
  return error;
}

// The file is opened once: the rename and the new access list act on the very file that was
// unpacked, whatever happens to the names meanwhile. It keeps the work folder's access list
// (administrators only) until the target folder's is set, and is not left in place with it.
WinMachineFiles::Move WinMachineFiles::MoveIntoPlace(const std::wstring& source, const std::wstring& target,
                                                     bool is64Bit, unsigned long& error) {
  UniqueFile file = OpenToMove(source, READ_CONTROL | WRITE_DAC);
  if (!file || !RenameOpenFile(file.Get(), target, true)) return Move::kNotMoved;
  if (inheritedAccess_.Give(file.Get(), FolderKey(target, is64Bit))) return Move::kPlaced;
  error = LastError();
  if (RenameOpenFile(file.Get(), source, false)) return Move::kNotMoved;
  file.Reset();
  ::DeleteFileW(target.c_str());
  return Move::kLost;
}

// Moving is renaming on one volume: no byte is written again, and the work folder has one file
// fewer to remove at the end. What cannot be moved (another volume, a target in use, a source
// that another record still needs) is copied, with the copy's outcome.
unsigned long WinMachineFiles::PlaceFile(const std::wstring& source, const std::wstring& target, bool is64Bit,
                                         bool mayMove) {
  if (mayMove) {
    unsigned long error = 0;
    const Move moved = MoveIntoPlace(source, target, is64Bit, error);
    if (moved == Move::kPlaced) return 0;
    if (moved == Move::kLost) return error;
  }
  return Answer(CopyFileW(source.c_str(), target.c_str(), FALSE));
}

unsigned long WinMachineFiles::RemoveFile(const std::wstring& path, bool) {
  return Answer(::DeleteFileW(path.c_str()));
}

unsigned long WinMachineFiles::SetAttributes(const std::wstring& path, bool, std::uint32_t attributes) {
  return Answer(SetFileAttributesW(path.c_str(), attributes));
}

unsigned long WinMachineFiles::CreateFolder(const std::wstring& path, bool) {
  return Answer(CreateDirectoryW(path.c_str(), nullptr));
}

unsigned long WinMachineFiles::RemoveFolder(const std::wstring& path, bool) {
  return Answer(RemoveDirectoryW(path.c_str()));
}

unsigned long WinMachineFiles::IsFolderEmpty(const std::wstring& path, bool, bool& empty) {
  empty = true;
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((path + L"\\*.*").c_str(), &found));
  if (!find) return 0;  // a folder that cannot be listed counts as empty
  do {
    const wchar_t* name = found.cFileName;
    if (wcscmp(name, L".") != 0 && wcscmp(name, L"..") != 0) {
      empty = false;
      return 0;
    }
  } while (FindNextFileW(find.Get(), &found));
  return 0;
}

// The short (8.3) form of a path, or the path itself when the system has none for it.
std::wstring WinMachineFiles::RestartName(const std::wstring& path, bool) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return path;
  return buffer;
}

unsigned long WinMachineFiles::QueueRestartMove(const std::wstring& source, const std::wstring& destination) {
  if (destination.empty()) return Answer(MoveFileExW(source.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  return Answer(MoveFileExW(source.c_str(), destination.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
}

unsigned long WinMachineFiles::UnqueueRestartMove(const std::wstring& source,
                                                  const std::wstring& destination) {
  return RemoveRestartMove(source, destination);
}

bool CopyWholeThenName(const std::wstring& path, const std::wstring& backup) {
  const std::wstring partial = backup + L".part";
  FILETIME created = {}, accessed = {}, written = {};
  bool copied = false;
  {
    UniqueFile source(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    copied = source && GetFileTime(source.Get(), &created, &accessed, &written);
  }
  copied = copied && CopyFileW(path.c_str(), partial.c_str(), FALSE) != FALSE;
  if (copied) {
    // A read-only copy is opened for the flush with its attribute lifted for the moment.
    const DWORD attributes = GetFileAttributesW(partial.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesW(partial.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    {
      UniqueFile file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      // The copy keeps the file's times (a copy is made now), so the file put back has them.
      copied = file && SetFileTime(file.Get(), &created, &accessed, &written) && FlushFileBuffers(file.Get());
    }
    if (readOnly) SetFileAttributesW(partial.c_str(), attributes);
  }
  if (copied &&
      MoveFileExW(partial.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  const DWORD error = GetLastError();
  ::DeleteFileW(partial.c_str());
  SetLastError(error);
  return false;
}

// Removes the last queued move from source to destination that the system recorded.
unsigned long RemoveRestartMove(const std::wstring& source, const std::wstring& destination) {
  UniqueRegKey key;
  LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_READ | KEY_WRITE, key.Receive());
  if (status != ERROR_SUCCESS) return IsMissingPathError(status) ? 0 : static_cast<DWORD>(status);
  DWORD type = 0, bytes = 0;
  status = RegQueryValueExW(key.Get(), kPendingValue, nullptr, &type, nullptr, &bytes);
  if (status == ERROR_FILE_NOT_FOUND) return 0;
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  std::wstring data(bytes / sizeof(wchar_t), L'\0');
  if (!data.empty() && RegQueryValueExW(key.Get(), kPendingValue, nullptr, &type,
                                        reinterpret_cast<BYTE*>(&data[0]), &bytes) != ERROR_SUCCESS)
    return ERROR_READ_FAULT;
  data.resize(bytes / sizeof(wchar_t));
  // A flat list of strings: source, destination (empty for a deletion), source, ...
  std::vector<std::wstring> strings;
  size_t start = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] != L'\0') continue;
    strings.push_back(data.substr(start, i - start));
    start = i + 1;
  }
  while (strings.size() % 2 != 0 && !strings.empty() && strings.back().empty()) strings.pop_back();
  size_t found = strings.size();
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    if (SamePath(WithoutPrefix(strings[i]), source) && SamePath(WithoutPrefix(strings[i + 1]), destination))
      found = i;
  }
  if (found == strings.size()) return 0;  // the system never recorded it
  strings.erase(strings.begin() + found, strings.begin() + found + 2);
  if (strings.empty()) return static_cast<DWORD>(RegDeleteValueW(key.Get(), kPendingValue));
  std::wstring joined;
  for (const std::wstring& s : strings) {
    joined += s;
    joined += L'\0';
  }
  joined += L'\0';
  return static_cast<DWORD>(RegSetValueExW(key.Get(), kPendingValue, 0, REG_MULTI_SZ,
                                           reinterpret_cast<const BYTE*>(joined.data()),
                                           static_cast<DWORD>(joined.size() * sizeof(wchar_t))));
}

}  // namespace brindle
