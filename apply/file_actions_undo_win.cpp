// The undo of the file family's journal records: old files put back from their backups, new
// files and folders removed, removed folders and changed attributes restored, moves queued for
// the restart taken out of the queue, and COM servers whose registry state was not journaled
// registered or unregistered again (the registry family gives back the state of the others). Each
// record holds all it needs: the same code undoes a failed package and, at the next run, one
// whose process died.
#include "apply/file_actions_win.h"

#include "apply/undo_journal.h"
#include "sys/com_registration_win.h"
#include "sys/paths.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"

#include <windows.h>

#include <string>
#include <vector>

namespace brindle {

namespace {

const wchar_t kPendingKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// File-system redirection switched off for the scope when a 64-bit file is handled.
class RedirectionScope {
 public:
  explicit RedirectionScope(bool is64Bit) {
    guard_ = is64Bit ? CQXWow64Redirection::Get() : nullptr;
    if (guard_) wasOff_ = !guard_->Disable();
  }
  ~RedirectionScope() {
    if (guard_ && !wasOff_) guard_->Revert();
  }

 private:
  CQXWow64Redirection* guard_ = nullptr;
  bool wasOff_ = false;
};

// ---- the restart queue -----------------------------------------------------------------------

std::wstring WithoutPrefix(std::wstring text) {
  if (!text.empty() && text[0] == L'!') text.erase(0, 1);
  if (text.compare(0, 4, L"\\??\\") == 0) text.erase(0, 4);
  return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Removes the last queued move from source to destination that the system recorded.
DWORD RemoveRestartMove(const std::wstring& source, const std::wstring& destination) {
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

// ---- files, folders and COM servers -------------------------------------------------------------

// The two names are links to one file (a backup kept by a hard link to a file that was never
// replaced).
bool SameFile(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION first = {}, second = {};
  auto read = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    // Attributes only: no sharing mode of another program's handle stands in the way.
    UniqueFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file && GetFileInformationByHandle(file.Get(), &info);
  };
  return read(a, first) && read(b, second) && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

// Gives a backup kept by a copy the owner, group and access list its file had (the copy got
// the backup folder's); an owner that cannot be given leaves the administrators' in place.
DWORD RestoreSecurity(const UndoRecord& record) {
  if (record.data.size() < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) return 0;
  std::string descriptor = record.data;
  auto* sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(&descriptor[0]);
  if (!IsValidSecurityDescriptor(sd)) return ERROR_INVALID_SECURITY_DESCR;
  if (SetFileSecurityW(record.other.c_str(),
                       OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                       sd))
    return 0;
  return SetFileSecurityW(record.other.c_str(), DACL_SECURITY_INFORMATION, sd) ? 0 : GetLastError();
}

DWORD RestoreMovedFile(const UndoRecord& record) {
  RedirectionScope scope(record.is64Bit);
  if (!PathExists(record.other)) return 0;  // it never left its place
  // Kept by a link and never replaced: the file in place is the old one. (Moving the link over
  // it would fail while another program holds it open, although nothing is to be undone.)
  if (SameFile(record.other, record.path)) return 0;
  if (const DWORD error = RestoreSecurity(record)) return error;
  if (MoveFileExW(record.other.c_str(), record.path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return 0;
  DWORD error = GetLastError();
  if (error == ERROR_NOT_SAME_DEVICE &&
      MoveFileExW(record.other.c_str(), record.path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
    return 0;
  if (error == ERROR_ACCESS_DENIED) {
    // A read-only file in the way (one the package made) is not the old one: it goes.
    SetFileAttributesW(record.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExW(record.other.c_str(), record.path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    error = GetLastError();
  }
  return error;
}

DWORD RemoveCreatedFile(const UndoRecord& record) {
  RedirectionScope scope(record.is64Bit);
  const DWORD attributes = GetFileAttributesW(record.path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_DIRECTORY;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(record.path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (DeleteFileW(record.path.c_str())) return 0;
  const DWORD error = GetLastError();
  return IsMissingPathError(error) ? 0 : error;
}

DWORD RemoveCreatedFolder(const UndoRecord& record) {
  RedirectionScope scope(record.is64Bit);
  if (RemoveDirectoryW(record.path.c_str())) return 0;
  const DWORD error = GetLastError();
  return IsMissingPathError(error) ? 0 : error;
}

DWORD RestoreFolder(const UndoRecord& record) {
  RedirectionScope scope(record.is64Bit);
  if (!CreateDirectoryW(record.path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return GetLastError();
  const DWORD kept = record.attributes & ~FILE_ATTRIBUTE_DIRECTORY;
  if (kept != 0 && !SetFileAttributesW(record.path.c_str(), kept)) return GetLastError();
  return 0;
}

DWORD RestoreAttributes(const UndoRecord& record) {
  RedirectionScope scope(record.is64Bit);
  if (!PathExists(record.path)) return 0;
  return SetFileAttributesW(record.path.c_str(), record.attributes) ? 0 : GetLastError();
}

// A record whose registry state is kept (existed) is taken back by the registry records that
// follow it: nothing of the server is run. Only one without them (a local server, a server of
// the other bitness, or one whose trial registration told nothing) is registered or
// unregistered again.
DWORD RegisterAgain(const UndoRecord& record) {
  if (record.existed) return 0;
  unsigned char restart = 0;
  const bool ok = record.is64Bit ? CComRegistration::Register64(record.path, &restart)
                                 : CComRegistration::Register32(record.path, &restart);
  return ok ? 0 : ERROR_GEN_FAILURE;
}

DWORD UnregisterAgain(const UndoRecord& record) {
  if (record.existed) return 0;
  RedirectionScope scope(record.is64Bit);
  if (!PathExists(record.path)) return 0;
  return CComRegistration::Unregister(record.path, record.is64Bit) ? 0 : ERROR_GEN_FAILURE;
}

}  // namespace

bool CFileActions::Undoes(UndoKind kind) {
  switch (kind) {
    case UndoKind::FileMovedAside:
    case UndoKind::FileCreated:
    case UndoKind::FolderCreated:
    case UndoKind::FolderRemoved:
    case UndoKind::AttributesChanged:
    case UndoKind::RestartMoveQueued:
    case UndoKind::ComUnregistered:
    case UndoKind::ComRegistered: return true;
    case UndoKind::PackageBegun:
    case UndoKind::RegistryValue:
    case UndoKind::RegistryKeyCreated:
    case UndoKind::RegistryKeyRemoved:
    case UndoKind::StepUndone: break;
  }
  return false;
}

unsigned long CFileActions::Undo(const UndoRecord& record) {
  switch (record.kind) {
    case UndoKind::FileMovedAside: return RestoreMovedFile(record);
    case UndoKind::FileCreated: return RemoveCreatedFile(record);
    case UndoKind::FolderCreated: return RemoveCreatedFolder(record);
    case UndoKind::FolderRemoved: return RestoreFolder(record);
    case UndoKind::AttributesChanged: return RestoreAttributes(record);
    case UndoKind::RestartMoveQueued: return RemoveRestartMove(record.path, record.other);
    case UndoKind::ComUnregistered: return RegisterAgain(record);
    case UndoKind::ComRegistered: return UnregisterAgain(record);
    default: break;
  }
  return ERROR_INVALID_PARAMETER;
}

}  // namespace brindle
