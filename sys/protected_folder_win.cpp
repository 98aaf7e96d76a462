#include "sys/protected_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "sys/folder_removal.h"
#include "sys/safe_names.h"

namespace brindle {

namespace {

// Full control for SYSTEM and Administrators, passed on to files and sub-folders; protected,
// so nothing is inherited from the folders above.
const wchar_t kProtectedAccessList[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// What a folder of the chain is opened with: enough to list it, read its attributes and its
// access list. No delete sharing: while the handle is held, nobody renames or removes the
// folder, so the path through it keeps leading to what was checked.
const DWORD kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
const DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

class SecurityDescriptor {
 public:
  SecurityDescriptor() {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedAccessList, SDDL_REVISION_1, &descriptor_,
                                                         nullptr);
  }
  ~SecurityDescriptor() { LocalFree(descriptor_); }
  SecurityDescriptor(const SecurityDescriptor&) = delete;
  SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
  PSECURITY_DESCRIPTOR Get() const { return descriptor_; }
  PACL Dacl() const {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!descriptor_ || !GetSecurityDescriptorDacl(descriptor_, &present, &dacl, &defaulted) || !present)
      return nullptr;
    return dacl;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

std::vector<std::wstring> SplitNames(const std::wstring& subPath) {
  std::vector<std::wstring> names;
  std::wstring name;
  for (wchar_t c : subPath + L"\\") {
    if (c == L'/' || c == L'\\') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name += c;
    }
  }
  return names;
}

std::wstring WithoutTrailingSeparator(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

UniqueFile OpenFolderNoFollow(const std::wstring& path, DWORD extraAccess) {
  return UniqueFile(CreateFileW(path.c_str(), kFolderAccess | extraAccess, kFolderShare, nullptr,
                                OPEN_EXISTING, kNoFollow, nullptr));
}

bool IsFolderByHandle(HANDLE handle) {
  const DWORD attributes = AttributesOfHandle(handle);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ApplyAccessList(HANDLE folder, const SecurityDescriptor& descriptor) {
  PACL dacl = descriptor.Dacl();
  if (!dacl) return false;
  return SetSecurityInfo(folder, SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                         dacl, nullptr) == ERROR_SUCCESS;
}

bool HasTrustedOwner(HANDLE folder) {
  std::vector<BYTE> owner = OwnerOfHandle(folder);
  return !owner.empty() && IsTrustedOwner(owner.data());
}

// Gives the folder to Administrators with the protected access list, and empties it: what
// its former owner put there is not this program's.
bool TakeOver(HANDLE folder, const SecurityDescriptor& descriptor) {
  PACL dacl = descriptor.Dacl();
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  if (!dacl || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) return false;
  if (SetSecurityInfo(
          folder, SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
          administrators, nullptr, dacl, nullptr) != ERROR_SUCCESS)
    return false;
  return EmptyFolderNoFollow(folder);
}

// Opens one folder of the chain inside its parent, held open already, by the parent's handle:
// a missing folder is made there and the handle of the folder made is the one kept, so no
// other folder can be put in its place between making and using it. own: the folder is this
// program's (made with the protected access list; an existing one owned by anyone but
// Administrators, SYSTEM or the owner this program gives is taken over and emptied); otherwise a shared
// folder, made with what its parent hands down and left as it is.
ProtectedFolderStatus OpenOne(HANDLE parent, const std::wstring& path, const std::wstring& name, bool last,
                              bool own, ProtectedFolder::Mode mode, const SecurityDescriptor& descriptor,
                              UniqueFile& handle) {
  const bool createNew = last && mode == ProtectedFolder::Mode::CreateNew;
  const DWORD access = kFolderAccess | (own ? WRITE_DAC | WRITE_OWNER : 0);
  // A link planted where a folder of the chain belongs is removed and the folder made anew;
  // a few tries, in case someone keeps planting.
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool exists = false;
    handle = MakeFolderIn(parent, name, access, kFolderShare, own ? descriptor.Get() : nullptr, exists);
    const bool created = handle.Valid();
    if (!created && !exists) return ProtectedFolderStatus::CannotCreate;
    if (!created) handle = OpenInFolder(parent, name, access, kFolderShare);
    if (!handle) return ProtectedFolderStatus::CannotCreate;
    const HandleIdentity identity = IdentifyHandle(handle.Get(), path);
    if (identity == HandleIdentity::Elsewhere) return ProtectedFolderStatus::Link;
    if (identity == HandleIdentity::Link) {
      handle.Reset();
      if (!RemoveLinkNoFollow(path)) return ProtectedFolderStatus::Link;
      continue;
    }
    if (!IsFolderByHandle(handle.Get())) return ProtectedFolderStatus::NotAFolder;
    if (created || !own) return ProtectedFolderStatus::Ready;
    if (createNew) return ProtectedFolderStatus::AlreadyExists;
    if (!HasTrustedOwner(handle.Get())) {
      if (!TakeOver(handle.Get(), descriptor)) return ProtectedFolderStatus::CannotProtect;
    } else if (last && !ApplyAccessList(handle.Get(), descriptor)) {
      // A folder made by someone else keeps no access list of theirs once this program uses it.
      return ProtectedFolderStatus::CannotProtect;
    }
    return ProtectedFolderStatus::Ready;
  }
  return ProtectedFolderStatus::Link;
}

// The owner of the system folder, as a SID's bytes; empty when it cannot be read.
std::vector<BYTE> OwnerOfSystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  UniqueFile handle(CreateFileW(folder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle ? OwnerOfHandle(handle.Get()) : std::vector<BYTE>();
}

}  // namespace

std::vector<unsigned char> OwnerOfHandle(void* handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return {};
  const UniqueLocal held(descriptor);
  if (!owner || !IsValidSid(owner)) return {};
  const BYTE* first = static_cast<const BYTE*>(owner);
  return std::vector<unsigned char>(first, first + GetLengthSid(owner));
}

bool IsTrustedOwner(void* owner) {
  if (!owner || !IsValidSid(owner)) return false;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
    return true;
  // The system's installer service, which owns the system's own folders.
  PSID installer = nullptr;
  if (ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer)) {
    const UniqueLocal held(installer);
    const bool same = EqualSid(installer, owner) != FALSE;
    if (same) return true;
  }
  // Whoever owns the system's own folder controls the machine already.
  static const std::vector<BYTE> systemFolderOwner = OwnerOfSystemFolder();
  if (!systemFolderOwner.empty() && EqualSid(const_cast<BYTE*>(systemFolderOwner.data()), owner)) return true;
  // The owner this program gives to what it makes: what it made itself is as trusted as the
  // program. Elevated, that is Administrators, never the user's own account, whose unelevated
  // programs make what they make under that account.
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  UniqueHandle held(token);
  BYTE buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenOwner, buffer, sizeof buffer, &size)) return false;
  return EqualSid(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner, owner) != FALSE;
}

const wchar_t* DescribeStatus(ProtectedFolderStatus status) {
  switch (status) {
    case ProtectedFolderStatus::Ready: return L"ready";
    case ProtectedFolderStatus::NoBase: return L"no base folder";
    case ProtectedFolderStatus::CannotCreate: return L"cannot create";
    case ProtectedFolderStatus::Link: return L"link";
    case ProtectedFolderStatus::NotAFolder: return L"not a folder";
    case ProtectedFolderStatus::AlreadyExists: return L"already exists";
    case ProtectedFolderStatus::CannotProtect: return L"cannot protect";
  }
  return L"unknown";
}

ProtectedFolderStatus ProtectedFolder::Open(const std::wstring& base, const std::wstring& subPath, Mode mode,
                                            size_t sharedNames) {
  Close();
  const std::wstring root = WithoutTrailingSeparator(base);
  const std::vector<std::wstring> names = SplitNames(subPath);
  if (root.empty() || names.size() <= sharedNames || !IsSafeRelativePath(subPath))
    return ProtectedFolderStatus::NoBase;
  // The base itself is the administrators' folder; it must be a folder and not a link.
  UniqueFile baseHandle = OpenFolderNoFollow(root, 0);
  if (!baseHandle) return ProtectedFolderStatus::NoBase;
  if (IdentifyHandle(baseHandle.Get(), root) != HandleIdentity::Object) return ProtectedFolderStatus::Link;
  if (!IsFolderByHandle(baseHandle.Get())) return ProtectedFolderStatus::NotAFolder;

  const SecurityDescriptor descriptor;
  if (!descriptor.Get()) return ProtectedFolderStatus::CannotProtect;
  std::vector<UniqueFile> chain;
  chain.push_back(std::move(baseHandle));
  std::wstring path = root;
  for (size_t i = 0; i < names.size(); ++i) {
    path += L"\\" + names[i];
    UniqueFile handle;
    const ProtectedFolderStatus status = OpenOne(chain.back().Get(), path, names[i], i + 1 == names.size(),
                                                 i >= sharedNames, mode, descriptor, handle);
    if (status != ProtectedFolderStatus::Ready) return status;
    chain.push_back(std::move(handle));
  }
  chain_ = std::move(chain);
  path_ = path;
  return ProtectedFolderStatus::Ready;
}

ProtectedFolderStatus ProtectedFolder::OpenChild(const std::wstring& name, Mode mode,
                                                 ProtectedFolder& child) const {
  child.Close();
  if (!IsOpen() || !IsSafeSingleName(name)) return ProtectedFolderStatus::NoBase;
  const SecurityDescriptor descriptor;
  if (!descriptor.Get()) return ProtectedFolderStatus::CannotProtect;
  const std::wstring path = path_ + L"\\" + name;
  UniqueFile handle;
  const ProtectedFolderStatus status =
      OpenOne(chain_.back().Get(), path, name, true, true, mode, descriptor, handle);
  if (status != ProtectedFolderStatus::Ready) return status;
  // The child holds the whole chain too, so it stays valid when this object is closed first.
  for (const UniqueFile& held : chain_) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), held.Get(), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
      return ProtectedFolderStatus::CannotCreate;
    child.chain_.emplace_back(copy);
  }
  child.chain_.push_back(std::move(handle));
  child.path_ = path;
  return ProtectedFolderStatus::Ready;
}

void ProtectedFolder::Close() {
  // The deepest folder first, so a caller that removes the chain afterwards meets no handle.
  while (!chain_.empty()) chain_.pop_back();
  path_.clear();
}

namespace {
// The length of the path's root, "C:\" or "\\server\share\"; 0 for a path that is not absolute.
size_t RootLength(const std::wstring& full) {
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return 3;
  if (full.compare(0, 2, L"\\\\") != 0) return 0;
  const size_t server = full.find(L'\\', 2);
  const size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
  return share == std::wstring::npos ? 0 : share + 1;
}
}  // namespace

bool OpenFolderChainNoFollow(const std::wstring& path, bool create, std::vector<UniqueFile>& chain) {
  chain.clear();
  const std::wstring full = WithoutTrailingSeparator(path);
  // Everything below the root is checked.
  const size_t start = RootLength(full);
  if (start == 0) return false;  // not absolute
  std::vector<UniqueFile> held;
  std::wstring prefix = full.substr(0, start);
  // Each folder is made or opened relative to its parent's handle; the first relative to the
  // root's, or by its path where the root cannot be opened.
  UniqueFile root = OpenFolderNoFollow(prefix, 0);
  for (const std::wstring& name : SplitNames(full.substr(start))) {
    const std::wstring folder = prefix + name;
    prefix = folder + L"\\";
    if (name == L"." || name == L"..") return false;
    const HANDLE parent = held.empty() ? root.Get() : held.back().Get();
    UniqueFile handle;
    if (parent == INVALID_HANDLE_VALUE) {
      if (create && !CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
      handle = OpenFolderNoFollow(folder, 0);
    } else {
      bool exists = true;
      if (create) handle = MakeFolderIn(parent, name, kFolderAccess, kFolderShare, nullptr, exists);
      if (!handle && !exists) return false;
      if (!handle) handle = OpenInFolder(parent, name, kFolderAccess, kFolderShare);
    }
    if (!handle || IdentifyHandle(handle.Get(), folder) != HandleIdentity::Object ||
        !IsFolderByHandle(handle.Get()))
      return false;
    held.push_back(std::move(handle));
  }
  chain = std::move(held);
  return true;
}

namespace {

enum class FolderLink { Plain, TrustedLink, UntrustedLink, Unopened };

// What the folder held by the handle is now. A link shows as a reparse point through its
// handle, or, on a file system that opens what it leads to all the same, through its path.
FolderLink ClassifyFolder(HANDLE handle, const std::wstring& folder, bool (*trusted)(void* owner)) {
  const DWORD attributes = AttributesOfHandle(handle);
  const DWORD byPath = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FolderLink::UntrustedLink;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      (byPath == INVALID_FILE_ATTRIBUTES || !(byPath & FILE_ATTRIBUTE_REPARSE_POINT)))
    return FolderLink::Plain;
  std::vector<BYTE> owner = OwnerOfHandle(handle);
  return !owner.empty() && trusted(owner.data()) ? FolderLink::TrustedLink : FolderLink::UntrustedLink;
}

// One folder of a target's chain, opened without following it. Held: opened as a folder of a
// protected chain (its listing access makes the system hold others to its sharing, which leaves
// out deleting); else only to read its attributes, every sharing allowed.
FolderLink CheckFolderForLink(const std::wstring& folder, bool held, bool (*trusted)(void* owner),
                              UniqueFile& handle) {
  const DWORD access = held ? kFolderAccess : FILE_READ_ATTRIBUTES | READ_CONTROL;
  const DWORD share = held ? kFolderShare : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  handle.Reset(CreateFileW(folder.c_str(), access, share, nullptr, OPEN_EXISTING, kNoFollow, nullptr));
  return handle ? ClassifyFolder(handle.Get(), folder, trusted) : FolderLink::Unopened;
}

// The folders above target, from below its root down to its own folder; empty for a path that
// is not absolute.
std::vector<std::wstring> FoldersAbove(const std::wstring& target) {
  const std::wstring full = WithoutTrailingSeparator(target);
  const size_t start = RootLength(full);
  if (start == 0) return {};
  std::vector<std::wstring> names = SplitNames(full.substr(start));
  if (!names.empty()) names.pop_back();  // the target itself is opened without following it
  std::vector<std::wstring> folders;
  std::wstring folder = full.substr(0, start);
  for (const std::wstring& name : names) {
    folder += (folder.back() == L'\\' ? L"" : L"\\") + name;
    folders.push_back(folder);
  }
  return folders;
}

}  // namespace

std::wstring UntrustedLinkAbove(const std::wstring& target, bool (*trusted)(void* owner)) {
  for (const std::wstring& folder : FoldersAbove(target)) {
    UniqueFile handle;
    const FolderLink found = CheckFolderForLink(folder, false, trusted, handle);
    if (found == FolderLink::Unopened) return std::wstring();
    if (found == FolderLink::UntrustedLink) return folder;
  }
  return std::wstring();
}

std::wstring LinkCheckedFolders::UntrustedLinkAbove(const std::wstring& target, bool is64BitView) {
  // Below a link, or below a folder that could not be held, nothing is held: every folder held
  // has all the folders above it held too.
  bool unheldAbove = false;
  for (const std::wstring& folder : FoldersAbove(target)) {
    const std::wstring key = (is64BitView ? L"64|" : L"32|") + folder;
    if (!unheldAbove) {
      // Held since it was found plain, so still that folder at that path: looked at again
      // through the held handle and by its path (an empty folder may have been made a link
      // where it stands), which asks nothing of the wineserver under Wine.
      const auto held = held_.find(key);
      if (held != held_.end()) {
        if (ClassifyFolder(held->second.Get(), folder, trusted_) == FolderLink::Plain) continue;
        held_.erase(held);
      }
    }
    UniqueFile handle;
    FolderLink found = FolderLink::Unopened;
    bool holding = !unheldAbove;
    if (holding) {
      found = CheckFolderForLink(folder, true, trusted_, handle);
      holding = found != FolderLink::Unopened;
      // Missing: nothing below it can be a link yet. Any other refusal (another program holds
      // it for deletion, its list is not to be read) leaves it to the open of the single walk.
      const DWORD error = GetLastError();
      if (!holding && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) return std::wstring();
    }
    if (!holding) found = CheckFolderForLink(folder, false, trusted_, handle);
    if (found == FolderLink::Unopened) return std::wstring();
    if (found == FolderLink::UntrustedLink) return folder;
    if (holding && found == FolderLink::Plain) held_.emplace(key, std::move(handle));
    else unheldAbove = true;
  }
  return std::wstring();
}

std::wstring CommonAppDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return std::wstring();
  return WithoutTrailingSeparator(folder);
}

DWORD AttributesOfHandle(HANDLE handle) {
  // The basic information only: the whole file information asks the volume too, which costs
  // far more and is not needed here.
  FILE_BASIC_INFO basic = {};
  return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ? basic.FileAttributes
                                                                                   : INVALID_FILE_ATTRIBUTES;
}

bool IsLinkByHandle(HANDLE handle) {
  const DWORD attributes = AttributesOfHandle(handle);
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

HandleIdentity IdentifyHandle(HANDLE handle, const std::wstring& path) {
  const DWORD attributes = AttributesOfHandle(handle);
  const std::wstring final = FinalPathOfHandle(handle);
  if (attributes == INVALID_FILE_ATTRIBUTES || final.empty() || !SamePath(final, path))
    return HandleIdentity::Elsewhere;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? HandleIdentity::Link : HandleIdentity::Object;
}

std::wstring FinalPathOfHandle(HANDLE handle) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(handle, &buffer[0], static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::wstring();
    if (length < buffer.size()) {
      buffer.resize(length);
      if (buffer.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + buffer.substr(8);
      if (buffer.compare(0, 4, L"\\\\?\\") == 0) buffer.erase(0, 4);
      return buffer;
    }
    buffer.assign(length + 1, L'\0');
  }
  return std::wstring();
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  const std::wstring left = WithoutTrailingSeparator(a), right = WithoutTrailingSeparator(b);
  return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                              static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace brindle
