#include "support/folder_link_win.h"

#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

namespace brindle::test {

namespace {

// The reparse data of a junction (mount point): substitute name then print name.
struct MountPointData {
  DWORD tag;
  WORD dataLength;
  WORD reserved;
  WORD substituteOffset, substituteLength, printOffset, printLength;
};

// Sets the junction's reparse data on the folder held by the handle (opened for writing).
bool SetJunction(HANDLE folder, const std::wstring& target) {
  const std::wstring substitute = L"\\??\\" + target;
  const size_t names = (substitute.size() + 1 + target.size() + 1) * sizeof(wchar_t);
  std::vector<char> buffer(sizeof(MountPointData) + names, 0);
  auto* data = reinterpret_cast<MountPointData*>(buffer.data());
  data->tag = IO_REPARSE_TAG_MOUNT_POINT;
  data->substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  data->printOffset = static_cast<WORD>(data->substituteLength + sizeof(wchar_t));
  data->printLength = static_cast<WORD>(target.size() * sizeof(wchar_t));
  data->dataLength = static_cast<WORD>(8 + names);
  char* pathBuffer = buffer.data() + sizeof(MountPointData);
  std::memcpy(pathBuffer, substitute.data(), data->substituteLength);
  std::memcpy(pathBuffer + data->printOffset, target.data(), data->printLength);
  DWORD returned = 0;
  return DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                         nullptr, 0, &returned, nullptr) != FALSE;
}

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  UniqueFile handle(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const bool made = handle && SetJunction(handle.Get(), target);
  handle.Reset();
  if (!made) RemoveDirectoryW(link.c_str());
  return made;
}

// Wine's names of a Windows path on the host, and of a host path on Windows.
using UnixNameFn = char*(__cdecl*)(const wchar_t*);
using DosNameFn = wchar_t*(__cdecl*)(const char*);

std::string UnixName(const std::wstring& path) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto toUnix = reinterpret_cast<UnixNameFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (!toUnix) return std::string();
  char* name = toUnix(path.c_str());
  if (!name) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

std::wstring DosName(const char* path) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto toDos =
      reinterpret_cast<DosNameFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")));
  if (!toDos) return std::wstring();
  wchar_t* name = toDos(path);
  if (!name) return std::wstring();
  std::wstring result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// The host's name of a path whose last component may be a link: the parent's host name and
// the last component, so that the link itself is named, never what it points to.
std::string HostNameOf(const std::wstring& path) {
  const std::wstring forward = ToForwardSlashes(path);
  const std::string parent = UnixName(ToBackslashes(ParentFolder(forward)));
  if (parent.empty()) return std::string();
  return parent + "/" + Utf8FromWide(LastPathComponent(forward));
}

// Wine starts host programs too: runs /bin/<program> with the arguments (each quoted) and
// waits for it. False when it cannot be started.
bool RunHostProgram(const char* program, const std::vector<std::string>& arguments) {
  const std::wstring exe = DosName((std::string("/bin/") + program).c_str());
  if (exe.empty()) return false;
  std::wstring commandLine = L"\"" + exe + L"\"";
  for (const std::string& argument : arguments) commandLine += L" \"" + WideFromUtf8(argument) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  // Named by the command line only: that is how Wine starts a host program.
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info))
    return false;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  WaitForSingleObject(process.Get(), 10000);
  return true;
}

// Waits a little for a host program's effect: its handle may be signalled before it is done.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 100 && !condition(); ++i) Sleep(50);
  return condition();
}

bool MakeHostSymbolicLink(const std::wstring& link, const std::wstring& target) {
  const std::string hostTarget = UnixName(target), hostLink = HostNameOf(link);
  if (hostTarget.empty() || hostLink.empty()) return false;
  if (!RunHostProgram("ln", {"-sT", hostTarget, hostLink})) return false;
  return Eventually([&] { return IsFolderLink(link); });
}

}  // namespace

bool IsFolderLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(ToBackslashes(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
  const std::wstring from = ToBackslashes(link), to = ToBackslashes(target);
  return MakeJunction(from, to) || MakeHostSymbolicLink(from, to);
}

bool MakeFileLink(const std::wstring& link, const std::wstring& target) {
  const std::wstring from = ToBackslashes(link), to = ToBackslashes(target);
  auto there = [&] { return GetFileAttributesW(from.c_str()) != INVALID_FILE_ATTRIBUTES; };
  const DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  // (Wine answers success without making anything.)
  if (CreateSymbolicLinkW(from.c_str(), to.c_str(), kUnprivileged) && there()) return true;
  const std::string hostTarget = UnixName(to), hostLink = HostNameOf(from);
  if (hostTarget.empty() || hostLink.empty()) return false;
  return RunHostProgram("ln", {"-sT", hostTarget, hostLink}) && Eventually(there);
}

bool RemoveFolderLink(const std::wstring& link) {
  const std::wstring path = ToBackslashes(link);
  auto gone = [&] { return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; };
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;  // a real file or folder, no link
  // Under Wine the link is the host's symbolic link, which Wine cannot remove (its removal of
  // a folder would remove an empty folder the link points to instead) and does not even show
  // once what it points to is gone: the host's rm removes the link alone, if there is one.
  // Elsewhere the system removes a junction as a folder.
  const std::string hostLink = HostNameOf(path);
  if (hostLink.empty()) return gone() || (RemoveDirectoryW(path.c_str()) && gone());
  return RunHostProgram("rm", {"-f", hostLink}) && Eventually(gone);
}

bool TurnFolderIntoLink(const std::wstring& folder, const std::wstring& target) {
  const std::wstring path = ToBackslashes(folder), to = ToBackslashes(target);
  UniqueFile handle(CreateFileW(
      path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle && SetJunction(handle.Get(), to)) return true;
  handle.Reset();
  // Under Wine: the host moves the folder away, whatever Windows programs hold it, and puts
  // its own link at the name.
  const std::string hostFolder = HostNameOf(path), hostTarget = UnixName(to);
  if (hostFolder.empty() || hostTarget.empty()) return false;
  if (!RunHostProgram("mv", {"-T", hostFolder, hostFolder + ".moved"})) return false;
  if (!RunHostProgram("ln", {"-sT", hostTarget, hostFolder})) return false;
  return Eventually([&] { return IsFolderLink(path); });
}

}  // namespace brindle::test
