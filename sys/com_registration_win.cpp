#include "sys/com_registration_win.h"

#include "sys/child_wait.h"
#include "sys/env.h"
#include "sys/library_loading.h"
#include "sys/paths.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"

#include <windows.h>
#include <objbase.h>

namespace brindle {

const wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

namespace {

// Exit code standing for a registration tool that could not be started.
const DWORD kToolNotStarted = 99;
// The tool or server was still running when the run was cancelled or the wait timed out.
const DWORD kToolDidNotEnd = ERROR_TIMEOUT;

// The short (8.3) form of a path, or empty text when the system has none (the file is missing).
std::wstring ShortPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return buffer;
}

std::wstring FolderPart(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring NamePart(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A copy of the file waits beside it to be moved in at the next restart ("<path>.tmpNNNN",
// made when the file was in use).
bool HasCopyAwaitingRestart(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((path + L".tmp????").c_str(), &found));
  return find.Valid();
}

// The server's path as the registration tool gets it: the short form of its folder and its
// own name. A server that is only put in place at the next restart has no short path yet; its
// folder has one, and the registration queued for the next logon finds the file there.
bool ServerShortPath(const std::wstring& path, std::wstring& serverPath) {
  std::wstring shortPath = ShortPath(path);
  if (shortPath.empty()) shortPath = ShortPath(path + L".tmp");
  if (shortPath.empty() && HasCopyAwaitingRestart(path)) {
    const std::wstring folder = ShortPath(FolderPart(path));
    if (!folder.empty()) shortPath = folder + L"\\" + NamePart(path);
  }
  if (shortPath.empty()) return false;
  serverPath = FolderPart(shortPath) + L"\\" + NamePart(path);
  return true;
}

// Starts the program at normal priority, tied to this process (it ends should this process be
// ended while it runs), and waits for it; kToolNotStarted (and the system's error in
// startError) when it cannot be started, kToolDidNotEnd when it was still running at the end of
// the wait (it is left running and named in the service log by commandLine).
DWORD RunAndWait(const ChildStart& start, const std::wstring& commandLine, DWORD* startError = nullptr) {
  CQXTiedProgram program;
  unsigned long error = 0;
  if (!program.Start(start, error)) {
    if (startError) *startError = error;
    return kToolNotStarted;
  }
  if (!WaitForProgramEnd(program.Process(), commandLine, kRegistrationWaitMs)) {
    program.Untie();
    return kToolDidNotEnd;
  }
  DWORD exitCode = kToolNotStarted;
  if (!GetExitCodeProcess(program.Process(), &exitCode)) exitCode = kToolNotStarted;
  return exitCode;
}

// The registration tool of a command line made by MakeRegsvr32CommandLine, started from the
// system folder.
ChildStart Regsvr32Start(const std::wstring& commandLine, bool is64Bit) {
  ChildStart start;
  start.program = CComRegistration::RegistrationTool(is64Bit);
  if (commandLine.compare(0, start.program.size() + 1, start.program + L" ") == 0)
    start.arguments = commandLine.substr(start.program.size() + 1);
  start.folder = SystemFolderPath();
  return start;
}

// The registration waits for the next logon: a RunOnce value named by the server's path.
bool QueueForNextLogon(const std::wstring& serverPath, const std::wstring& commandLine) {
  UniqueRegKey key;
  // The 32-bit program's view, so that both builds queue where the shipped program does.
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                      nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
    return false;
  const DWORD bytes = static_cast<DWORD>((commandLine.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.Get(), serverPath.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(commandLine.c_str()), bytes) == ERROR_SUCCESS;
}

void SwitchRedirectionOff() {
  if (CQXWow64Redirection* guard = CQXWow64Redirection::Get()) guard->Disable();
}

void SwitchRedirectionBack() {
  if (CQXWow64Redirection* guard = CQXWow64Redirection::Get()) guard->Revert();
}

bool CallServerExport(const std::wstring& path, const char* exportName) {
  CComInitialization com;
  if (!com.Usable()) return false;
  bool ok = false;
  {
    // The library's own folder is searched for its dependencies.
    UniqueModule library = LoadLibraryWithItsFolder(path);
    if (library) {
      using ServerFunction = HRESULT(STDAPICALLTYPE*)();
      auto function = reinterpret_cast<ServerFunction>(
          reinterpret_cast<void*>(GetProcAddress(library.Get(), exportName)));
      if (function) ok = function() == S_OK;
    }
  }
  return ok;
}

}  // namespace

CComInitialization::CComInitialization() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

CComInitialization::~CComInitialization() {
  if (SUCCEEDED(result_)) CoUninitialize();
}

bool CComInitialization::Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

bool CComRegistration::IsLocalServer(const std::wstring& path) { return HasExeExtension(path); }

std::wstring CComRegistration::RegistrationTool(bool is64Bit) {
  std::wstring folder = CQXEnv().Lookup(is64Bit ? L"$SysFolder64$" : L"$SysFolder$");
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  const std::wstring tool = folder + L"regsvr32.exe";
  const std::wstring shortTool = ShortPath(tool);
  return shortTool.empty() ? tool : shortTool;
}

bool CComRegistration::RunLocalServer(const std::wstring& path, const std::wstring& switchText) {
  if (path.empty() || switchText.empty()) {
    OutputDebugStringW(L"MyExeRegisterServer");
    return false;
  }
  // Its exit code is not examined; a server that does not end in time fails the step.
  // Started from its own folder, as it would be by the system's COM service.
  const size_t first = switchText.find_first_not_of(L' ');
  const ChildStart start = {path, first == std::wstring::npos ? std::wstring() : switchText.substr(first),
                            FolderOfProgram(path)};
  return RunAndWait(start, L"\"" + path + L"\"" + switchText) != kToolDidNotEnd;
}

bool CComRegistration::RegisterInProcess(const std::wstring& path) {
  return CallServerExport(path, "DllRegisterServer");
}

bool CComRegistration::UnregisterInProcess(const std::wstring& path) {
  return CallServerExport(path, "DllUnregisterServer");
}

bool CComRegistration::MakeRegsvr32CommandLine(const std::wstring& path, bool doRegister, bool is64Bit,
                                               std::wstring& commandLine, std::wstring& serverPath) {
  if (!ServerShortPath(path, serverPath)) {
    OutputDebugStringW(L"MakeRegsvr32ComdLine");
    SwitchRedirectionBack();
    return false;
  }
  commandLine = RegistrationTool(is64Bit) + (doRegister ? L" /s " : L" /s /u ") + L"\"" + serverPath + L"\"";
  return true;
}

bool CComRegistration::Register32(const std::wstring& path, unsigned char* restart) {
  if (IsLocalServer(path)) {
    return RunLocalServer(path, L" /regserver");
  }
  if (RegisterInProcess(path)) return true;
  std::wstring commandLine, serverPath;
  if (!MakeRegsvr32CommandLine(path, true, false, commandLine, serverPath)) {
    OutputDebugStringW(L"FileCopyWithLog(3)");
    return false;
  }
  if (!QueueForNextLogon(serverPath, commandLine)) return false;
  if (restart) *restart = 1;
  return true;
}

bool CComRegistration::Register64(const std::wstring& path, unsigned char* restart) {
  if (IsLocalServer(path)) {
    return RunLocalServer(path, L" /regserver");
  }
  SwitchRedirectionOff();
  std::wstring commandLine, serverPath;
  if (!MakeRegsvr32CommandLine(path, true, true, commandLine, serverPath)) {
    SwitchRedirectionBack();
    return false;
  }
  const DWORD exitCode = RunAndWait(Regsvr32Start(commandLine, true), commandLine);
  if (exitCode != 0) OutputDebugStringW(commandLine.c_str());
  SwitchRedirectionBack();
  if (exitCode == 0) return true;
  if (exitCode == kToolDidNotEnd) return false;  // a tool that hangs now would hang at logon too
  if (!QueueForNextLogon(serverPath, commandLine)) return false;
  if (restart) *restart = 1;
  return true;
}

bool CComRegistration::Unregister(const std::wstring& path, bool is64Bit, unsigned long* code) {
  unsigned long failure = 0;
  const bool ok = UnregisterNow(path, is64Bit, failure);
  if (code) *code = ok ? 0 : failure;
  return ok;
}

bool CComRegistration::UnregisterNow(const std::wstring& path, bool is64Bit, unsigned long& code) {
  if (IsLocalServer(path)) return RunLocalServer(path, L" /unregserver");
  if (!is64Bit) return UnregisterInProcess(path);
  SwitchRedirectionOff();
  std::wstring commandLine, serverPath;
  if (!MakeRegsvr32CommandLine(path, false, true, commandLine, serverPath)) {
    SwitchRedirectionBack();
    return false;
  }
  DWORD startError = 0;
  const DWORD exitCode = RunAndWait(Regsvr32Start(commandLine, true), commandLine, &startError);
  SwitchRedirectionBack();
  if (startError != 0) {
    code = startError;
    return false;
  }
  if (exitCode != 0) {
    OutputDebugStringW(commandLine.c_str());
    code = exitCode;
    return false;
  }
  return true;
}

}  // namespace brindle
