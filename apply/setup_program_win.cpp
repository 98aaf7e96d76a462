#include "apply/setup_program_win.h"

#include "logs/program_wait.h"
#include "package/package_kind.h"
#include "sys/child_wait.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

namespace brindle {

const wchar_t kSetupProtocolKey[] = L"SOFTWARE\\tamek\\Zentor Master Setup";

namespace {

// The key is the 32-bit program's, so both builds talk to the same setup programs.
const REGSAM kView = KEY_WOW64_32KEY;
const wchar_t* const kAnswerValues[] = {L"Status", L"Return Value", L"RebootNeeded"};

bool ReadDword(HKEY key, const wchar_t* name, DWORD& value) {
  DWORD type = 0, bytes = sizeof(value);
  return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) ==
             ERROR_SUCCESS &&
         type == REG_DWORD && bytes == sizeof(value);
}

// Removes the answer values (a missing one counts as removed; another error stops), then the
// key itself when nothing else is in it.
void CleanUp(HKEY key) {
  for (const wchar_t* name : kAnswerValues) {
    const LONG result = RegDeleteValueW(key, name);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return;
  }
  UniqueRegKey parent;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tamek", 0, KEY_READ | KEY_WRITE | kView,
                    parent.Receive()) != ERROR_SUCCESS)
    return;
  DWORD subKeys = 0, values = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return;
  if (subKeys == 0 && values == 0) RegDeleteKeyExW(parent.Get(), L"Zentor Master Setup", kView, 0);
}

// Started by its full path from its own folder (where a setup program finds what it installs),
// never from this program's current folder.
bool StartAndWait(const std::wstring& path) {
  const ChildStart start = {path, std::wstring(), FolderOfProgram(path)};
  PROCESS_INFORMATION process = {};
  unsigned long error = 0;
  if (!StartChild(start, 0, SW_SHOWDEFAULT, process, error)) return false;
  UniqueHandle processHandle(process.hProcess);
  UniqueHandle threadHandle(process.hThread);
  return WaitForProgram(processHandle.Get(), path, kInstallerWaitMs);
}

}  // namespace

RunProgramResult CSetupProgram::Run(const std::wstring& givenPath) {
  const std::wstring path = ToBackslashes(givenPath);
  if (PackageKindOf(path) != PackageKind::kSetupExe) return RunProgramResult::kFailed;
  UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSetupProtocolKey, 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr,
                      key.Receive(), nullptr) != ERROR_SUCCESS)
    return RunProgramResult::kFailed;
  // Answers left by an earlier run that was stopped half-way must not be read as this one's.
  RegDeleteValueW(key.Get(), L"Return Value");
  RegDeleteValueW(key.Get(), L"RebootNeeded");
  RunProgramResult result = RunProgramResult::kFailed;
  const DWORD zero = 0;
  if (RegSetValueExW(key.Get(), L"Status", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                     sizeof(zero)) == ERROR_SUCCESS &&
      StartAndWait(path)) {
    DeleteFileW(path.c_str());
    DWORD status = 0;
    if (ReadDword(key.Get(), L"Status", status) && status == 2) {
      DWORD returnValue = 0;
      if (!ReadDword(key.Get(), L"Return Value", returnValue) || returnValue != 2) {
        result = RunProgramResult::kReportedFailure;
      } else {
        wchar_t text[33] = {};
        DWORD type = 0, bytes = 64;
        if (RegQueryValueExW(key.Get(), L"RebootNeeded", nullptr, &type, reinterpret_cast<BYTE*>(text),
                             &bytes) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
          text[32] = 0;
          if (std::wstring(text) != L"FALSE") reboot_ = true;
        }
        result = RunProgramResult::kDone;
      }
    }
  }
  CleanUp(key.Get());
  return result;
}

}  // namespace brindle
