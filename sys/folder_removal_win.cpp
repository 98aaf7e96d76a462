#include "sys/folder_removal.h"

#include <windows.h>
#include <winternl.h>

#include <vector>

#include "sys/protected_folder.h"

namespace brindle {

namespace {

// Options of the system's native open: an existing object, synchronous, the link itself
// rather than what it leads to, folders too.
const ULONG kOpenExisting = 0x00000001;                     // FILE_OPEN
const ULONG kCreateNew = 0x00000002;                        // FILE_CREATE
const ULONG kFileOnly = 0x00000040;                         // FILE_NON_DIRECTORY_FILE
const ULONG kFolderOnly = 0x00000001;                       // FILE_DIRECTORY_FILE
const LONG kNameCollision = static_cast<LONG>(0xC0000035);  // STATUS_OBJECT_NAME_COLLISION
const ULONG kSynchronousIo = 0x00000020;                    // FILE_SYNCHRONOUS_IO_NONALERT
const ULONG kBackupIntent = 0x00004000;                     // FILE_OPEN_FOR_BACKUP_INTENT
const ULONG kOpenLinkItself = 0x00200000;                   // FILE_OPEN_REPARSE_POINT
const ULONG kCaseInsensitive = 0x00000040;                  // OBJ_CASE_INSENSITIVE

const DWORD kListAndDelete =
    DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
// Others may read and write what is being deleted, but nobody renames it meanwhile.
const DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                    PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

NtCreateFileFn NativeOpen() {
  static const NtCreateFileFn function = reinterpret_cast<NtCreateFileFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
  return function;
}

}  // namespace

namespace {

// The native open of name relative to the folder held by parent, never following a link at
// the name; the system's status, and the handle when it succeeded.
LONG OpenRelative(HANDLE parent, const std::wstring& name, DWORD access, DWORD share, ULONG disposition,
                  ULONG options, DWORD fileAttributes, void* descriptor, UniqueFile& opened) {
  opened.Reset();
  NtCreateFileFn open = NativeOpen();
  const LONG kInvalid = static_cast<LONG>(0xC000000D);  // STATUS_INVALID_PARAMETER
  if (!open || name.empty() || name.size() * sizeof(wchar_t) > 0xFFFE) return kInvalid;
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = parent;
  attributes.ObjectName = &text;
  attributes.Attributes = kCaseInsensitive;
  attributes.SecurityDescriptor = descriptor;
  IO_STATUS_BLOCK status = {};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const LONG result =
      open(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, fileAttributes, share, disposition,
           kSynchronousIo | kBackupIntent | kOpenLinkItself | options, nullptr, 0);
  if (result >= 0) opened.Reset(handle);
  return result;
}

}  // namespace

UniqueFile OpenInFolder(HANDLE parent, const std::wstring& name, DWORD access, DWORD share, bool createNew) {
  UniqueFile opened;
  OpenRelative(parent, name, access, share, createNew ? kCreateNew : kOpenExisting, createNew ? kFileOnly : 0,
               createNew ? FILE_ATTRIBUTE_NORMAL : 0, nullptr, opened);
  return opened;
}

UniqueFile MakeFolderIn(HANDLE parent, const std::wstring& name, DWORD access, DWORD share, void* descriptor,
                        bool& exists) {
  UniqueFile made;
  const LONG result = OpenRelative(parent, name, access, share, kCreateNew, kFolderOnly,
                                   FILE_ATTRIBUTE_NORMAL, descriptor, made);
  exists = result == kNameCollision;
  return made;
}

namespace {

DWORD AttributesOf(HANDLE handle) { return AttributesOfHandle(handle); }

bool DeleteByHandle(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// How many names the file has; 0 when it cannot be told.
DWORD LinkCount(HANDLE handle) {
  FILE_STANDARD_INFO standard = {};
  return GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)
             ? standard.NumberOfLinks
             : 0;
}

// Deletes the name of a read-only file without taking the attribute away: the system is asked
// to ignore it (Windows 10 1809 and later). Where it cannot, the name stays.
bool DeleteReadOnlyName(HANDLE handle) {
  // The extended disposition (FileDispositionInfoEx), newer than the system version the
  // program is built for.
  const auto kDispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
  const DWORD kDelete = 0x01, kIgnoreReadOnly = 0x10;
  struct {
    DWORD Flags;
  } disposition = {kDelete | kIgnoreReadOnly};
  return SetFileInformationByHandle(handle, kDispositionEx, &disposition, sizeof disposition) != FALSE;
}

// A read-only file cannot be deleted; its attribute is taken away first.
void ClearReadOnly(HANDLE handle, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;
  FILE_BASIC_INFO basic = {};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return;
  const DWORD kept = attributes & ~FILE_ATTRIBUTE_READONLY;
  basic.FileAttributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
}

// Deletes a file's name. A read-only file's attribute is taken away first, unless the file has
// other names: the attribute belongs to the file, not to the name, and a hard link in a folder
// being removed may lead to a file anywhere on the volume, which must keep its attributes.
bool DeleteFileByHandle(HANDLE handle, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return DeleteByHandle(handle);
  if (LinkCount(handle) != 1) return DeleteReadOnlyName(handle);
  ClearReadOnly(handle, attributes);
  return DeleteByHandle(handle);
}

// One entry of a folder as its listing shows it: a hint only, which may change before the
// entry is opened.
struct ListedEntry {
  std::wstring name;
  DWORD attributes = 0;
};

// The entries of the folder held by the handle, listed through that handle.
std::vector<ListedEntry> ListFolder(HANDLE folder) {
  std::vector<ListedEntry> entries;
  std::vector<unsigned char> buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder, kind, buffer.data(), static_cast<DWORD>(buffer.size()))) {
    kind = FileIdBothDirectoryInfo;
    size_t offset = 0;
    for (;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") entries.push_back({name, entry->FileAttributes});
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
  return entries;
}

// What the short way of removing a plain file came to.
enum class PlainRemoval { kRemoved, kElsewhere, kFullLook };

// The short way for an entry the listing shows as a plain file (most of a tree): opened as a file
// only (a folder or a junction refuses) with no more rights than deleting needs, checked to be
// the entry at its own path (not something a link the file system followed leads to), and its
// name deleted through that handle. kElsewhere: nothing is touched. kFullLook: nothing was done
// (it is no plain file now, or its deletion is refused: read-only, in use), the full look decides.
PlainRemoval RemovePlainFile(HANDLE parent, const std::wstring& path, const std::wstring& name) {
  UniqueFile file;
  if (OpenRelative(parent, name, DELETE | FILE_READ_ATTRIBUTES, kShare | FILE_SHARE_DELETE, kOpenExisting,
                   kFileOnly, 0, nullptr, file) < 0)
    return PlainRemoval::kFullLook;
  const std::wstring final = FinalPathOfHandle(file.Get());
  if (final.empty() || !SamePath(final, path)) return PlainRemoval::kElsewhere;
  return DeleteByHandle(file.Get()) ? PlainRemoval::kRemoved : PlainRemoval::kFullLook;
}

bool EmptyHeldFolder(HANDLE folder, const std::wstring& folderPath, int depth);

// Removes one entry of the held folder: a link as a link, a folder with its contents, a file (one
// the listing shows plain the short way, with one request less to the system under Wine). An
// entry that is not at its own path after opening (the open went through a link the file system
// followed all the same) is left alone.
bool RemoveEntry(HANDLE parent, const std::wstring& parentPath, const ListedEntry& listed, int depth) {
  const std::wstring& name = listed.name;
  const std::wstring path = parentPath + L"\\" + name;
  const DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
  if (!(listed.attributes & kNotPlain)) {
    const PlainRemoval plain = RemovePlainFile(parent, path, name);
    if (plain == PlainRemoval::kRemoved) return true;
    if (plain == PlainRemoval::kElsewhere) return false;
  }
  // A folder the listing shows (no link) is held without delete sharing from the open on; any
  // other entry is first opened sharing everything, and held that way once it is seen a folder.
  const bool listedFolder =
      (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) && !(listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  UniqueFile entry =
      OpenInFolder(parent, name, kListAndDelete, listedFolder ? kShare : kShare | FILE_SHARE_DELETE);
  if (!entry) return false;
  const HandleIdentity identity = IdentifyHandle(entry.Get(), path);
  if (identity == HandleIdentity::Elsewhere) return false;
  if (identity == HandleIdentity::Link) return DeleteByHandle(entry.Get());
  const DWORD attributes = AttributesOf(entry.Get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // Held without delete sharing from here on: its contents go through this very handle.
    if (!listedFolder) {
      entry.Reset();
      entry = OpenInFolder(parent, name, kListAndDelete, kShare);
      if (!entry || IdentifyHandle(entry.Get(), path) != HandleIdentity::Object) return false;
    }
    if (!EmptyHeldFolder(entry.Get(), path, depth + 1)) return false;
    return DeleteByHandle(entry.Get());
  }
  return DeleteFileByHandle(entry.Get(), attributes);
}

bool EmptyHeldFolder(HANDLE folder, const std::wstring& folderPath, int depth) {
  if (depth > 200) return false;  // deeper than any path can reach: something loops
  bool all = true;
  for (const ListedEntry& entry : ListFolder(folder))
    if (!RemoveEntry(folder, folderPath, entry, depth)) all = false;
  return all;
}

std::wstring Backslashes(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

}  // namespace

UniqueFile OpenFolderForRemoval(const std::wstring& path) {
  const std::wstring target = Backslashes(path);
  UniqueFile folder(CreateFileW(target.c_str(), kListAndDelete, kShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) return folder;
  const DWORD attributes = AttributesOf(folder.Get());
  if (IdentifyHandle(folder.Get(), target) != HandleIdentity::Object ||
      attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    folder.Reset();
  return folder;
}

bool RemoveLinkNoFollow(const std::wstring& path) {
  const std::wstring target = Backslashes(path);
  UniqueFile link(CreateFileW(target.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShare | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  // Only a handle on the link itself is used to delete; where the system opened what the link
  // leads to instead, nothing is deleted.
  if (!link || IdentifyHandle(link.Get(), target) != HandleIdentity::Link) return false;
  return DeleteByHandle(link.Get());
}

bool EmptyFolderNoFollow(HANDLE folder) {
  const std::wstring path = FinalPathOfHandle(folder);
  return !path.empty() && EmptyHeldFolder(folder, path, 0);
}

bool RemoveTreeNoFollow(const std::wstring& path) {
  const std::wstring target = Backslashes(path);
  if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  if (RemoveLinkNoFollow(target)) return true;
  UniqueFile folder = OpenFolderForRemoval(target);
  if (folder) return EmptyHeldFolder(folder.Get(), target, 0) && DeleteByHandle(folder.Get());
  // A plain file where a folder was expected goes too; a link that could not be removed as a
  // link stays.
  UniqueFile file(CreateFileW(target.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              kShare | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || IdentifyHandle(file.Get(), target) != HandleIdentity::Object) return false;
  const DWORD attributes = AttributesOf(file.Get());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return DeleteFileByHandle(file.Get(), attributes);
}

}  // namespace brindle
