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
const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                            READ_CONTROL | SYNCHRONIZE;
const DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

class SecurityDescriptor {
 public:
  SecurityDescriptor() {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedAccessList, SDDL_REVISION_1,
                                                         &descriptor_, nullptr);
  }
  ~SecurityDescriptor() { LocalFree(descriptor_); }
  SecurityDescriptor(const SecurityDescriptor&) = delete;
  SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
  PSECURITY_DESCRIPTOR Get() const { return descriptor_; }
  PACL Dacl() const {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!descriptor_ || !GetSecurityDescriptorDacl(descriptor_, &present, &dacl, &defaulted) ||
        !present)
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
  BY_HANDLE_FILE_INFORMATION info = {};
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ApplyAccessList(HANDLE folder, const SecurityDescriptor& descriptor) {
  PACL dacl = descriptor.Dacl();
  if (!dacl) return false;
  return SetSecurityInfo(folder, SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// Opens one folder of the chain, creating it with the protected access list when missing.
// The parent is held open already, so the path leads through checked folders only.
ProtectedFolderStatus OpenOne(const std::wstring& path, bool last, ProtectedFolder::Mode mode,
                              const SecurityDescriptor& descriptor, UniqueFile& handle) {
  const bool createNew = last && mode == ProtectedFolder::Mode::CreateNew;
  // A link planted where a folder of the chain belongs is removed and the folder made anew;
  // a few tries, in case someone keeps planting.
  for (int attempt = 0; attempt < 3; ++attempt) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    const bool created = CreateDirectoryW(path.c_str(), &attributes) != FALSE;
    if (!created && GetLastError() != ERROR_ALREADY_EXISTS) return ProtectedFolderStatus::CannotCreate;
    if (!created && createNew) {
      const DWORD found = GetFileAttributesW(path.c_str());
      if (found == INVALID_FILE_ATTRIBUTES || !(found & FILE_ATTRIBUTE_REPARSE_POINT))
        return ProtectedFolderStatus::AlreadyExists;
    }
    handle = OpenFolderNoFollow(path, last ? WRITE_DAC : 0);
    if (!handle) return ProtectedFolderStatus::CannotCreate;
    const HandleIdentity identity = IdentifyHandle(handle.Get(), path);
    if (identity == HandleIdentity::Elsewhere) return ProtectedFolderStatus::Link;
    if (identity == HandleIdentity::Link) {
      handle.Reset();
      if (!RemoveLinkNoFollow(path)) return ProtectedFolderStatus::Link;
      continue;
    }
    if (!IsFolderByHandle(handle.Get())) return ProtectedFolderStatus::NotAFolder;
    // A folder made by someone else keeps no access list of theirs once this program uses it.
    if (last && !created && !ApplyAccessList(handle.Get(), descriptor))
      return ProtectedFolderStatus::CannotProtect;
    return ProtectedFolderStatus::Ready;
  }
  return ProtectedFolderStatus::Link;
}

}  // namespace

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

ProtectedFolderStatus ProtectedFolder::Open(const std::wstring& base, const std::wstring& subPath,
                                            Mode mode) {
  Close();
  const std::wstring root = WithoutTrailingSeparator(base);
  const std::vector<std::wstring> names = SplitNames(subPath);
  if (root.empty() || names.empty() || !IsSafeRelativePath(subPath))
    return ProtectedFolderStatus::NoBase;
  // The base itself is the administrators' folder; it must be a folder and not a link.
  UniqueFile baseHandle = OpenFolderNoFollow(root, 0);
  if (!baseHandle) return ProtectedFolderStatus::NoBase;
  if (IdentifyHandle(baseHandle.Get(), root) != HandleIdentity::Object)
    return ProtectedFolderStatus::Link;
  if (!IsFolderByHandle(baseHandle.Get())) return ProtectedFolderStatus::NotAFolder;

  const SecurityDescriptor descriptor;
  if (!descriptor.Get()) return ProtectedFolderStatus::CannotProtect;
  std::vector<UniqueFile> chain;
  chain.push_back(std::move(baseHandle));
  std::wstring path = root;
  for (size_t i = 0; i < names.size(); ++i) {
    path += L"\\" + names[i];
    UniqueFile handle;
    const ProtectedFolderStatus status =
        OpenOne(path, i + 1 == names.size(), mode, descriptor, handle);
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
  const ProtectedFolderStatus status = OpenOne(path, true, mode, descriptor, handle);
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

bool OpenFolderChainNoFollow(const std::wstring& path, bool create, std::vector<UniqueFile>& chain) {
  chain.clear();
  const std::wstring full = WithoutTrailingSeparator(path);
  // The root: "C:\" or "\\server\share\"; everything below it is checked.
  size_t start = 0;
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
    start = 3;
  } else if (full.compare(0, 2, L"\\\\") == 0) {
    const size_t server = full.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
    if (share == std::wstring::npos) return false;
    start = share + 1;
  } else {
    return false;  // not absolute
  }
  std::vector<UniqueFile> held;
  std::wstring prefix = full.substr(0, start);
  for (const std::wstring& name : SplitNames(full.substr(start))) {
    const std::wstring folder = prefix + name;
    prefix = folder + L"\\";
    if (name == L"." || name == L"..") return false;
    if (create && !CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
    UniqueFile handle = OpenFolderNoFollow(folder, 0);
    if (!handle || IdentifyHandle(handle.Get(), folder) != HandleIdentity::Object ||
        !IsFolderByHandle(handle.Get()))
      return false;
    held.push_back(std::move(handle));
  }
  chain = std::move(held);
  return true;
}

std::wstring CommonAppDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return std::wstring();
  return WithoutTrailingSeparator(folder);
}

HandleIdentity IdentifyHandle(HANDLE handle, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info = {};
  const std::wstring final = FinalPathOfHandle(handle);
  if (!GetFileInformationByHandle(handle, &info) || final.empty() || !SamePath(final, path))
    return HandleIdentity::Elsewhere;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? HandleIdentity::Link
                                                                 : HandleIdentity::Object;
}

std::wstring FinalPathOfHandle(HANDLE handle) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(handle, &buffer[0],
                                                   static_cast<DWORD>(buffer.size()),
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
