#include "sys/system_util.h"

#include "sys/library_loading.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <lm.h>
#include <process.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <memory>
#include <vector>

namespace brindle {

namespace {

struct WtsMemoryDeleter {
  void operator()(wchar_t* p) const { WTSFreeMemory(p); }
};
struct NetBufferDeleter {
  void operator()(void* p) const { NetApiBufferFree(p); }
};

// The real version: the version functions of kernel32 answer what the program's manifest
// claims compatibility with, so the kernel's own answer is asked first.
bool ReadVersion(OSVERSIONINFOEXW& info) {
  info = {};
  info.dwOSVersionInfoSize = sizeof info;
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (rtlGetVersion && rtlGetVersion(&info) == 0) return true;
  }
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
#pragma GCC diagnostic pop
}

}  // namespace

bool CWinQXSystemUtil::GetOSVersionText(std::wstring& text) {
  OSVERSIONINFOEXW info;
  if (ReadVersion(info))
    text += std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion);
  return true;
}

bool CWinQXSystemUtil::GetOSVersion(int& major, int& minor, int& servicePackMajor) {
  OSVERSIONINFOEXW info;
  if (!ReadVersion(info)) return false;
  major = static_cast<int>(info.dwMajorVersion);
  minor = static_cast<int>(info.dwMinorVersion);
  servicePackMajor = info.wServicePackMajor;
  return true;
}

int CWinQXSystemUtil::GetServicePackMajor() {
  OSVERSIONINFOEXW info;
  return ReadVersion(info) ? info.wServicePackMajor : -1;
}

std::wstring CWinQXSystemUtil::GetSystemLocaleId() { return std::to_wstring(GetSystemDefaultLCID()); }

bool CWinQXSystemUtil::IsSessionUserAdmin() {
  std::wstring user;
  if (!GetSessionUserName(user)) return false;
  LPBYTE raw = nullptr;
  if (NetUserGetInfo(nullptr, user.c_str(), 1, &raw) != NERR_Success || raw == nullptr) return false;
  std::unique_ptr<void, NetBufferDeleter> owned(raw);
  return reinterpret_cast<USER_INFO_1*>(raw)->usri1_priv == USER_PRIV_ADMIN;
}

bool CWinQXSystemUtil::HasFreeSpace(std::uint64_t requiredBytes, const std::wstring& folder) {
  ULARGE_INTEGER available = {};
  std::wstring path = folder;
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) return false;
  return available.QuadPart > requiredBytes;
}

bool CWinQXSystemUtil::IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID raw = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                0, &raw))
    return false;
  std::unique_ptr<void, decltype(&FreeSid)> sid(raw, &FreeSid);
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, sid.get(), &member) && member;
}

void CWinQXSystemUtil::Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

namespace {
struct ThreadStart {
  CQXSystemUtil::ThreadFunction function;
  void* argument;
};
unsigned __stdcall ThreadTrampoline(void* p) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(p));
  return start->function(start->argument);
}
}  // namespace

unsigned CWinQXSystemUtil::StartThread(ThreadFunction function, void* argument) {
  auto* start = new ThreadStart{function, argument};
  unsigned id = 0;
  uintptr_t handle = _beginthreadex(nullptr, 0, &ThreadTrampoline, start, 0, &id);
  if (handle == 0) {
    delete start;
    return 0;
  }
  CloseHandle(reinterpret_cast<HANDLE>(handle));  // the caller keeps the identifier only
  return id;
}

int CWinQXSystemUtil::WaitForThread(unsigned threadId) {
  UniqueHandle thread(OpenThread(THREAD_ALL_ACCESS, FALSE, threadId));
  if (!thread) return 0;
  WaitForSingleObject(thread.Get(), INFINITE);
  return 1;
}

bool CWinQXSystemUtil::Reboot() {
  UniqueHandle token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive())) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
      privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
  }
  return ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED) != FALSE;
}

std::wstring CWinQXSystemUtil::GetInstalledWrapperVersion(const std::wstring& componentName) {
  const std::wstring path = L"SOFTWARE\\Tamek_Inc_RW\\" + componentName;
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WRITE | KEY_WOW64_32KEY,
                    key.Receive()) != ERROR_SUCCESS)
    return std::wstring();
  wchar_t value[1040] = {};
  DWORD size = sizeof value - sizeof(wchar_t);  // room for a terminator the value may lack
  DWORD type = 0;
  if (RegQueryValueExW(key.Get(), L"InstVersion_forZNQ", nullptr, &type, reinterpret_cast<BYTE*>(value),
                       &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::wstring();
  return std::wstring(value, wcsnlen(value, size / sizeof(wchar_t)));
}

std::wstring CWinQXSystemUtil::GetUserName() {
  wchar_t name[261] = {};
  DWORD size = 261;
  if (!::GetUserNameW(name, &size)) return std::wstring();
  return name;
}

// ---- processes -------------------------------------------------------------------------------

namespace {

using TaskEnumProcEx = BOOL(WINAPI*)(DWORD threadId, WORD module16, WORD task16, PSZ moduleName, PSZ fileName,
                                     LPARAM data);
using VdmEnumTaskWowExFn = INT(WINAPI*)(DWORD processId, TaskEnumProcEx callback, LPARAM data);

struct TaskWalk {
  ProcessCallback callback;
  void* data;
  unsigned long processId;
  bool stopped;
};

BOOL WINAPI OnTask(DWORD, WORD, WORD task16, PSZ, PSZ fileName, LPARAM data) {
  auto* walk = reinterpret_cast<TaskWalk*>(data);
  std::wstring name;
  if (fileName) WideFromAnsi(fileName, name);
  if (!walk->callback(walk->processId, task16, name, walk->data)) {
    walk->stopped = true;
    return TRUE;  // TRUE ends the task enumeration
  }
  return FALSE;
}

// Reports one process, and its 16-bit tasks when it is a virtual DOS machine. The task
// library is loaded only when such a process is met, so that a system without it still
// enumerates its ordinary processes. False when the enumeration must stop.
class ProcessReporter {
 public:
  ProcessReporter(ProcessCallback callback, void* data) : callback_(callback), data_(data) {}
  bool Report(unsigned long processId, const std::wstring& exeName) {
    if (!callback_(processId, 0, exeName, data_)) return false;
    if (!EqualsIgnoreAsciiCase(exeName, L"NTVDM.EXE")) return true;
    if (!enumTasks_) {
      vdm_ = LoadSystemLibrary(L"VDMDBG.DLL");
      if (vdm_)
        enumTasks_ = reinterpret_cast<VdmEnumTaskWowExFn>(
            reinterpret_cast<void*>(GetProcAddress(vdm_.Get(), "VDMEnumTaskWOWEx")));
      if (!enumTasks_) {
        failed_ = true;
        return false;
      }
    }
    TaskWalk walk{callback_, data_, processId, false};
    enumTasks_(processId, &OnTask, reinterpret_cast<LPARAM>(&walk));
    return !walk.stopped;
  }
  bool Failed() const { return failed_; }

 private:
  ProcessCallback callback_;
  void* data_;
  UniqueModule vdm_;
  VdmEnumTaskWowExFn enumTasks_ = nullptr;
  bool failed_ = false;
};

bool EnumerateWithToolhelp(ProcessReporter& reporter) {
  HMODULE kernel = GetModuleHandleW(L"Kernel32.DLL");
  if (!kernel) return false;
  using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
  using WalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);
  auto snapshotFn = reinterpret_cast<SnapshotFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
  auto first = reinterpret_cast<WalkFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "Process32FirstW")));
  auto next = reinterpret_cast<WalkFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "Process32NextW")));
  if (!snapshotFn || !first || !next) return false;
  UniqueFile snapshot(snapshotFn(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = first(snapshot.Get(), &entry); more; more = next(snapshot.Get(), &entry)) {
    if (!reporter.Report(entry.th32ProcessID, entry.szExeFile)) break;
  }
  return !reporter.Failed();
}

bool EnumerateWithProcessStatus(ProcessReporter& reporter) {
  UniqueModule psapi = LoadSystemLibrary(L"PSAPI.DLL");
  if (!psapi) return false;
  using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
  using EnumModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
  using BaseNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
  auto enumProcesses = reinterpret_cast<EnumProcessesFn>(
      reinterpret_cast<void*>(GetProcAddress(psapi.Get(), "EnumProcesses")));
  auto enumModules = reinterpret_cast<EnumModulesFn>(
      reinterpret_cast<void*>(GetProcAddress(psapi.Get(), "EnumProcessModules")));
  auto baseName = reinterpret_cast<BaseNameFn>(
      reinterpret_cast<void*>(GetProcAddress(psapi.Get(), "GetModuleBaseNameW")));
  if (!enumProcesses || !enumModules || !baseName) return false;
  std::vector<DWORD> ids(1040 / sizeof(DWORD));
  DWORD used = 0;
  for (;;) {
    if (!enumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &used)) return false;
    if (used < ids.size() * sizeof(DWORD)) break;
    ids.resize(ids.size() * 2);  // the answer filled the buffer: there may be more
  }
  for (DWORD i = 0; i < used / sizeof(DWORD); ++i) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
    wchar_t name[260] = {};
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (process && enumModules(process.Get(), &module, sizeof module, &needed))
      baseName(process.Get(), module, name, 260);
    if (!reporter.Report(ids[i], name)) break;
  }
  return !reporter.Failed();
}

struct ProcessSearch {
  std::wstring name;
  bool skipSelf;
  bool found;
  unsigned long processId;
};

// The executable's file name and extension, without any folder part.
std::wstring FileNameOnly(const std::wstring& exe) {
  size_t slash = exe.find_last_of(L"\\/:");
  return slash == std::wstring::npos ? exe : exe.substr(slash + 1);
}

bool OnProcessForSearch(unsigned long processId, unsigned short, const std::wstring& exeName, void* data) {
  auto* search = static_cast<ProcessSearch*>(data);
  if (search->skipSelf && processId == GetCurrentProcessId()) return true;
  if (lstrcmpiW(FileNameOnly(exeName).c_str(), search->name.c_str()) != 0) return true;
  search->found = true;
  search->processId = processId;
  return false;
}

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM data) {
  auto* pair = reinterpret_cast<std::pair<DWORD, std::vector<HWND>*>*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == pair->first) pair->second->push_back(window);
  return TRUE;
}

}  // namespace

bool EnumerateProcesses(ProcessCallback callback, void* data) {
  OSVERSIONINFOEXW info;
  if (!ReadVersion(info)) return false;
  ProcessReporter reporter(callback, data);
  if (info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion == 4)
    return EnumerateWithProcessStatus(reporter);
  if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ||
      (info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 5))
    return EnumerateWithToolhelp(reporter);
  return false;
}

bool IsProcessRunning(const std::wstring& exeName) {
  ProcessSearch search{exeName, false, false, 0};
  EnumerateProcesses(&OnProcessForSearch, &search);
  return search.found;
}

bool FindRunningProcess(const std::wstring& exeName, std::wstring& title) {
  title.clear();
  ProcessSearch search{exeName, true, false, 0};
  EnumerateProcesses(&OnProcessForSearch, &search);
  if (search.found) GetProcessWindowTitle(search.processId, title);
  return search.found;
}

bool GetProcessWindowTitle(unsigned long processId, std::wstring& title) {
  title.clear();
  std::vector<HWND> windows;
  std::pair<DWORD, std::vector<HWND>*> walk(processId, &windows);
  EnumWindows(&CollectProcessWindow, reinterpret_cast<LPARAM>(&walk));
  for (HWND window : windows) {
    if (!(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE)) continue;
    if (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) continue;
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) continue;
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
    const int got = GetWindowTextW(window, text.data(), length + 1);
    if (got <= 0) continue;
    title.assign(text.data(), static_cast<size_t>(got));
    return true;
  }
  return false;
}

bool RefreshDesktop() {
  HWND progman = FindWindowW(L"Progman", L"Program Manager");
  if (!progman) return false;
  HWND view = FindWindowExW(progman, nullptr, L"SHELLDLL_DefView", nullptr);
  if (!view) return false;
  HWND list = FindWindowExW(view, nullptr, L"SysListView32", nullptr);
  if (!list) return false;
  return PostMessageW(list, WM_KEYDOWN, VK_F5, 0) != FALSE;
}

bool GetSessionUserName(std::wstring& name) {
  name.clear();
  LPWSTR raw = nullptr;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSUserName, &raw,
                                   &bytes) ||
      raw == nullptr)
    return false;
  std::unique_ptr<wchar_t, WtsMemoryDeleter> owned(raw);
  std::wstring user(raw, wcsnlen(raw, 257));
  if (user.empty() || user.size() > 256) return false;
  name = user;
  return true;
}

}  // namespace brindle
