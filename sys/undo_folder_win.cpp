#include "sys/undo_folder_win.h"

#include "sys/win_handles.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

namespace brindle {

namespace {

// Full control for SYSTEM and the Administrators group, inherited by everything below, and
// nothing inherited from above.
const wchar_t kProtectedAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The maker's folder is shared with its other programs and keeps its own access list; the
// program's folders below it are protected.
const wchar_t kMakerFolder[] = L"Tamek_Inc_RW";
const wchar_t kUndoSubfolders[][16] = {L"Brindle", L"Undo"};

// The folder opened by handle, without following a link at its place.
UniqueFile OpenFolderNoFollow(const std::wstring& folder) {
  return UniqueFile(CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
}

}  // namespace

bool CreateProtectedFolder(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedAccess, SDDL_REVISION_1, &raw,
                                                            nullptr))
    return false;
  UniqueLocal descriptor(raw);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
  const bool created = CreateDirectoryW(folder.c_str(), &attributes) != FALSE;
  if (!created && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  UniqueFile handle = OpenFolderNoFollow(folder);
  if (!handle) return false;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(handle.Get(), &info)) return false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  if (created) return true;
  // A folder that was there already gets the protected list again, through the handle checked
  // above.
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(raw, &present, &dacl, &defaulted)) return false;
  // Owned by the Administrators group, so that no user who made the folder first keeps the
  // owner's right to change its list again.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                0, 0, &administrators))
    return false;
  SetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, administrators, nullptr,
                  nullptr, nullptr);
  FreeSid(administrators);
  return SetSecurityInfo(handle.Get(), SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

std::wstring OpenUndoFolder() {
  wchar_t base[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)) || !base[0])
    return std::wstring();
  std::wstring folder = std::wstring(base) + L"\\" + kMakerFolder;
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return std::wstring();
  for (const wchar_t* name : kUndoSubfolders) {
    folder += L"\\";
    folder += name;
    if (!CreateProtectedFolder(folder)) return std::wstring();
  }
  return folder;
}

}  // namespace brindle
