#include "app/coordination.h"

#include "logs/service_log.h"
#include "sys/folder_removal.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shellapi.h>

namespace brindle {

const wchar_t kWorkRootSubPath[] = L"Tamek_Inc_RW/Brindle";

namespace {

// A mutex exists when it can be opened with the least access there is. One whose access list
// refuses even that exists too: "access denied" is an answer about a mutex that is there.
bool MutexExists(const wchar_t* name) {
  UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name));
  return mutex.Valid() || GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

bool IsUpdateRunning() { return MutexExists(kInstanceMutexName); }

bool IsInstallerBusy(const std::vector<std::wstring>& names) {
  for (const std::wstring& name : names) {
    if (MutexExists(name.c_str())) return true;
  }
  return false;
}

void* CreateInstanceMutex() {
  UniqueHandle mutex(CreateMutexW(nullptr, TRUE, kInstanceMutexName));
  // Another copy created it between its busy check and this call: that copy runs, not this one.
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) return nullptr;
  return mutex.Release();
}

namespace {
bool SendToLauncher(HWND launcher, UINT message, WPARAM w, LPARAM l, unsigned timeoutMs) {
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(launcher, message, w, l, SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs, &answer))
    return true;
  // A launcher that does not answer must not hold up the update: the message is given up.
  WriteServiceLog({L"-", std::to_wstring(message), std::to_wstring(GetLastError())}, L"BR",
                  L"GATEWATCH_NO_ANSWER");
  return false;
}
}  // namespace

void NotifyGatewatch(const std::wstring& name, NoticeKind kind, int total, int done, int result,
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
// (where the system can) and the walk stops there: nothing behind it is this program's.
void RemoveLinksOnTheWay(const std::wstring& temp, const std::wstring& subPath) {
  std::wstring path = ToBackslashes(temp);
  for (const std::wstring& part : PathParts(subPath)) {
    path += L"\\" + part;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      RemoveLinkNoFollow(path);
      return;
    }
  }
}

}  // namespace

void RemoveTempFolder(const std::wstring& subPath) {
  const std::wstring temp = UserTempFolder();
  if (temp.empty()) return;  // never fall back to a relative folder
  const std::wstring folder = ToBackslashes(JoinPath(temp, subPath));
  // The folders above it are made where missing and held open, each checked by its handle to be
  // itself and no link, so the path keeps leading where it was checked; everything inside is
  // then deleted through handles that never follow a link.
  std::vector<UniqueFile> above;
  if (!OpenFolderChainNoFollow(ToBackslashes(ParentFolder(folder)), true, above)) {
    RemoveLinksOnTheWay(temp, subPath);
    return;
  }
  RemoveTreeNoFollow(folder);
}

ProtectedFolderStatus OpenWorkRoot(ProtectedFolder& root) {
  // "Tamek_Inc_RW" is shared with the installer and its programs: made, where missing, with
  // what the common application data hands down; only "Brindle" below it is this program's.
  return root.Open(CommonAppDataFolder(), kWorkRootSubPath, ProtectedFolder::Mode::OpenOrCreate, 1);
}

void RemoveWorkRoot() {
  const std::wstring base = CommonAppDataFolder();
  if (base.empty()) return;
  const std::wstring root = ToBackslashes(JoinPath(base, kWorkRootSubPath));
  std::vector<UniqueFile> above;
  if (OpenFolderChainNoFollow(ToBackslashes(ParentFolder(root)), false, above)) RemoveTreeNoFollow(root);
}

}  // namespace brindle
