#include "app/coordination.h"

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

void* CreateInstanceMutex() { return CreateMutexW(nullptr, TRUE, kInstanceMutexName); }

void NotifyGatewatch(const std::wstring& name, int kind, int total, int done, int result,
                     const std::wstring& windowClass) {
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
  SendMessageW(gatewatch, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
}

void SendEndOfRun() {
  HWND gatewatch = FindWindowW(kGatewatchWindowClass, nullptr);
  if (gatewatch) SendMessageW(gatewatch, kEndOfRunMessage, 0, 0);
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
// Deletes the folder's files and sub-folders, then the folder; what cannot be deleted stays.
void DeleteTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (find) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        DeleteTree(path);
      } else {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
          SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(path.c_str());
        else DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find.Get(), &found));
  }
  find.Reset();
  RemoveDirectoryW(folder.c_str());
}
}  // namespace

void RemoveTempFolder(const std::wstring& subPath) {
  const std::wstring temp = UserTempFolder();
  if (temp.empty()) return;  // never fall back to a relative folder
  const std::wstring folder = JoinPath(temp, subPath);
  CreateFolderChain(folder);
  DeleteTree(ToBackslashes(folder));
}

}  // namespace brindle
