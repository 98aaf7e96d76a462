#include "app/coordination.h"

#include "logs/service_log.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shellapi.h>

namespace brindle {

bool IsUpdateRunning() {
  UniqueHandle mutex(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kInstanceMutexName));
  return mutex.Valid();
}

bool IsInstallerBusy(const std::vector<std::wstring>& names) {
  for (const std::wstring& name : names) {
    UniqueHandle mutex(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
    if (mutex) return true;
  }
  return false;
}

void* CreateInstanceMutex() {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  // Another copy created it between its busy check and this call: that copy runs, not this one.
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return nullptr;
  }
  return mutex;
}

namespace {
bool SendToLauncher(HWND launcher, UINT message, WPARAM w, LPARAM l, unsigned timeoutMs) {
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(launcher, message, w, l, SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs,
                          &answer))
    return true;
  // A launcher that does not answer must not hold up the update: the message is given up.
  WriteServiceLog({L"-", std::to_wstring(message), std::to_wstring(GetLastError())}, L"BR",
                  L"GATEWATCH_NO_ANSWER");
  return false;
}
}  // namespace

void NotifyGatewatch(const std::wstring& name, int kind, int total, int done, int result,
                     const std::wstring& windowClass, unsigned timeoutMs) {
  HWND own = windowClass.empty() ? nullptr : FindWindowW(windowClass.c_str(), nullptr);
  // Window handles are 32-bit values on every Windows, so the record's 4 bytes hold them whole.
  std::vector<std::uint8_t> record = BuildProgressRecord(
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(own)), kind, name, total, done, result);
  HWND gatewatch = FindWindowW(kGatewatchWindowClass, nullptr);
  if (!gatewatch) return;
  COPYDATASTRUCT copy = {};
  copy.dwData = kProgressRecordMessageId;
  copy.cbData = static_cast<DWORD>(record.size());
  copy.lpData = record.data();
  SendToLauncher(gatewatch, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), timeoutMs);
}

void SendEndOfRun(unsigned timeoutMs) {
  HWND gatewatch = FindWindowW(kGatewatchWindowClass, nullptr);
  if (gatewatch) SendToLauncher(gatewatch, kEndOfRunMessage, 0, 0, timeoutMs);
}

std::wstring UserTempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  std::wstring folder = ToForwardSlashes(temp);
  while (folder.size() > 3 && folder.back() == L'/') folder.pop_back();
  return folder;
}

namespace {

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes a junction or symbolic link itself, never what it points to.
void RemoveLink(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(path.c_str());
  else DeleteFileW(path.c_str());
}

// Deletes the folder's files and sub-folders, then the folder; what cannot be deleted stays.
// A junction or symbolic link met anywhere, the folder itself included, is removed as a link
// and never entered: these folders are writable without elevation, and a planted link must
// not make this program empty another folder.
void DeleteTree(const std::wstring& folder) {
  const DWORD own = GetFileAttributesW(folder.c_str());
  if (own == INVALID_FILE_ATTRIBUTES) return;
  if (IsReparsePoint(own) || !(own & FILE_ATTRIBUTE_DIRECTORY)) {
    RemoveLink(folder, own);
    return;
  }
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (find) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      const DWORD attributes = found.dwFileAttributes;
      if (IsReparsePoint(attributes)) {
        RemoveLink(path, attributes);
      } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(path);
      } else {
        if (attributes & FILE_ATTRIBUTE_READONLY)
          SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find.Get(), &found));
  }
  find.Reset();
  RemoveDirectoryW(folder.c_str());
}

std::vector<std::wstring> PathParts(const std::wstring& subPath) {
  std::vector<std::wstring> parts;
  std::wstring part;
  for (wchar_t c : subPath + L"/") {
    if (c != L'/' && c != L'\\') {
      part += c;
    } else if (!part.empty()) {
      parts.push_back(part);
      part.clear();
    }
  }
  return parts;
}

// Walks from the temporary folder down to the folder: a link on the way is removed as a link
// and the walk stops there (nothing behind it is this program's to delete). True when every
// component is a real folder or missing.
bool NoLinkOnTheWay(const std::wstring& temp, const std::wstring& subPath) {
  std::wstring path = ToBackslashes(temp);
  for (const std::wstring& part : PathParts(subPath)) {
    path += L"\\" + part;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (IsReparsePoint(attributes)) {
      RemoveLink(path, attributes);
      return false;
    }
  }
  return true;
}

}  // namespace

void RemoveTempFolder(const std::wstring& subPath) {
  const std::wstring temp = UserTempFolder();
  if (temp.empty()) return;  // never fall back to a relative folder
  if (!NoLinkOnTheWay(temp, subPath)) return;
  const std::wstring folder = JoinPath(temp, subPath);
  CreateFolderChain(folder);
  DeleteTree(ToBackslashes(folder));
}

}  // namespace brindle
