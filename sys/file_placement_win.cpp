#include "sys/file_placement_win.h"

#include <aclapi.h>

#include <cstring>

namespace brindle {

std::wstring SystemPathName(const std::wstring& path) {
  const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
                     ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
  if (drive) return L"\\??\\" + path;
  if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() > 4) return L"\\??\\" + path.substr(4);
  // A network path: "\\server\share\...", but no device path ("\\.\").
  if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'.' && path[2] != L'?' &&
      path[2] != L'\\')
    return L"\\??\\UNC\\" + path.substr(2);
  return std::wstring();
}

bool RenameOpenFile(HANDLE file, const std::wstring& path, bool replaceExisting) {
  const std::wstring name = SystemPathName(path);
  if (name.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  const size_t nameBytes = name.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(info->FileName, name.data(), nameBytes);
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

UniqueFile OpenToMove(const std::wstring& path, DWORD moreAccess) {
  return UniqueFile(CreateFileW(path.c_str(), DELETE | SYNCHRONIZE | moreAccess,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool MoveFileThroughHandle(const std::wstring& from, const std::wstring& to, bool replaceExisting) {
  if (SystemPathName(to).empty())
    return MoveFileExW(from.c_str(), to.c_str(), replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0) != FALSE;
  UniqueFile file = OpenToMove(from);
  if (!file || !RenameOpenFile(file.Get(), to, replaceExisting)) {
    const DWORD error = GetLastError();
    file.Reset();
    SetLastError(error);
    return false;
  }
  return true;
}

namespace {

// Lets the system work the list out: an empty list of its own, unprotected, so that the file
// keeps only what its folder hands down.
bool InheritFromFolder(HANDLE file) {
  ACL empty;
  if (!InitializeAcl(&empty, sizeof(empty), ACL_REVISION)) return false;
  const DWORD result =
      SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, &empty, nullptr);
  SetLastError(result);
  return result == ERROR_SUCCESS;
}

// The file's access list as a self-relative descriptor; empty when it cannot be read. Most lists
// fit the first read; a larger one is read again at its size.
std::vector<unsigned char> ReadAccessList(HANDLE file) {
  std::vector<unsigned char> descriptor(1024);
  DWORD needed = 0;
  if (GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data(),
                              static_cast<DWORD>(descriptor.size()), &needed)) {
    descriptor.resize(GetSecurityDescriptorLength(descriptor.data()));
    return descriptor;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return {};
  descriptor.assign(needed, 0);
  if (!GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed))
    return {};
  return descriptor;
}

}  // namespace

bool CQXInheritedAccess::Give(HANDLE file, const std::wstring& folderKey) {
  const auto known = lists_.find(folderKey);
  if (known != lists_.end())
    return SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, known->second.data()) != FALSE;
  if (!InheritFromFolder(file)) return false;
  std::vector<unsigned char> learnt = ReadAccessList(file);
  if (!learnt.empty()) lists_.emplace(folderKey, std::move(learnt));
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace brindle
