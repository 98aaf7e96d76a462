// The undo of the file family's journal records: old files put back from their backups, new
// files and folders removed, removed folders and changed attributes restored, moves queued for
// the restart taken out of the queue, and COM servers whose registry state was not journaled
// registered or unregistered again (the registry family gives back the state of the others). Each
// record holds all it needs: the same code undoes a failed package and, at the next run, one
// whose process died.
#include "apply/file_actions_win.h"

#include "apply/file_changes.h"
#include "apply/undo_journal.h"
#include "apply/win_machine_files_win.h"
#include "sys/com_registration_win.h"
#include "sys/paths.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"

#include <windows.h>

#include <string>
#include <vector>

namespace brindle {

namespace {

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

// ---- files, folders and COM servers -------------------------------------------------------------

// Opened for its attributes only: no sharing mode of another program's handle stands in the way.
UniqueFile OpenForAttributes(const std::wstring& path) {
  return UniqueFile(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The backup and the file are links to one file (a backup kept by a hard link to a file that was
// never replaced). A backup that has one name only is not: the usual answer needs only the
// backup's own facts, not the volume's or the other file's.
bool SameFile(const std::wstring& backup, const std::wstring& path) {
  const UniqueFile first = OpenForAttributes(backup);
  FILE_STANDARD_INFO standard = {};
  if (!first || !GetFileInformationByHandleEx(first.Get(), FileStandardInfo, &standard, sizeof(standard)) ||
      standard.NumberOfLinks < 2)
    return false;
  BY_HANDLE_FILE_INFORMATION one = {}, other = {};
  const UniqueFile second = OpenForAttributes(path);
  return second && GetFileInformationByHandle(first.Get(), &one) &&
         GetFileInformationByHandle(second.Get(), &other) &&
         one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
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

// What only Windows knows of a file put back from its backup: a backup kept by a link to a file
// that was never replaced is that file (moving the link over it would fail while another
// program holds it open, although nothing is to be undone); a backup kept by a copy gets its
// file's security back first. kNothingLeft when there is nothing more to do.
const DWORD kNothingLeft = ~DWORD(0);
DWORD PrepareMovedFile(const UndoRecord& record) {
  if (!PathExists(record.other)) return kNothingLeft;  // it never left its place
  if (SameFile(record.other, record.path)) return kNothingLeft;
  return RestoreSecurity(record);
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

// The file records are taken back by their inverses (UndoFileRecord) on the machine's files,
// in the view each record names.
unsigned long CFileActions::Undo(const UndoRecord& record) {
  switch (record.kind) {
    case UndoKind::ComUnregistered: return RegisterAgain(record);
    case UndoKind::ComRegistered: return UnregisterAgain(record);
    default: break;
  }
  RedirectionScope scope(record.is64Bit);
  if (record.kind == UndoKind::FileMovedAside) {
    const DWORD prepared = PrepareMovedFile(record);
    if (prepared == kNothingLeft) return 0;
    if (prepared != 0) return prepared;
  }
  WinMachineFiles files;
  return UndoFileRecord(files, record);
}

}  // namespace brindle
