#include "apply/wrapper_actions_win.h"

#include "apply/file_actions_win.h"
#include "apply/package_context.h"
#include "apply/sub_updater.h"
#include "logs/application_env.h"
#include "logs/install_log.h"
#include "logs/program_wait.h"
#include "logs/service_log.h"
#include "package/uninstaller_files.h"
#include "sys/child_wait.h"
#include "sys/env.h"
#include "sys/file_replace_win.h"
#include "sys/file_util.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/safe_names.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace brindle {

const wchar_t kWrapperSharedKey[] = L"SOFTWARE\\Tamek_Inc_RW\\Ostrel Shared";

namespace {

const wchar_t kMarrowgateKey[] = L"SOFTWARE\\Tamek_Inc_RW\\Marrowgate Shared";
// The maker's keys are the 32-bit program's: both builds use that view.
const REGSAM kWrapperView = KEY_WOW64_32KEY;
const wchar_t kResultValue[] = L"Result Value";
const wchar_t kParentAppName[] = L"ParentAppName";
const wchar_t kParentInsFolder[] = L"ParentInsFolder";
// A REG_SZ text of the exchange fits 1000 bytes with its terminator.
const size_t kMaxSharedText = 499;

// The exchange key for one wrapper run: created before the run, deleted as a whole after it.
class SharedKey {
 public:
  bool Create() {
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWrapperSharedKey, 0, nullptr, 0,
                           KEY_ALL_ACCESS | kWrapperView, nullptr, key_.Receive(), nullptr) == ERROR_SUCCESS;
  }
  // Values an earlier run may have left behind (a wrapper that was killed): they must not be
  // taken for this run's.
  void DeleteExchangeValues() { DeleteExchangeValuesOf(key_.Get()); }
  bool WriteText(const wchar_t* name, const std::wstring& text) {
    if (text.size() > kMaxSharedText) return false;
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes) ==
           ERROR_SUCCESS;
  }
  // The wrapper's answer, read from the key as it is now (the wrapper may have made it anew).
  bool ReadResult(DWORD& value) const {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWrapperSharedKey, 0, KEY_READ | kWrapperView, key.Receive()) !=
        ERROR_SUCCESS)
      return false;
    DWORD type = 0, bytes = sizeof(value);
    return RegQueryValueExW(key.Get(), kResultValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                            &bytes) == ERROR_SUCCESS &&
           type == REG_DWORD && bytes == sizeof(value);
  }
  void Delete() {
    key_.Reset();
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWrapperSharedKey, 0, KEY_ALL_ACCESS | kWrapperView,
                      key.Receive()) == ERROR_SUCCESS) {
      DeleteExchangeValuesOf(key.Get());
      key.Reset();
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kWrapperSharedKey, kWrapperView, 0);
  }
  ~SharedKey() {
    if (key_) Delete();
  }

 private:
  static void DeleteExchangeValuesOf(HKEY key) {
    for (const wchar_t* name : {kResultValue, kParentAppName, kParentInsFolder}) RegDeleteValueW(key, name);
  }
  UniqueRegKey key_;
};

// The wrapper's answer after its run: done for a non-zero Result Value, a reported failure for
// zero, failed without one. The key is gone afterwards in every case.
RunProgramResult TakeWrapperAnswer(SharedKey& shared) {
  DWORD value = 0;
  const bool answered = shared.ReadResult(value);
  shared.Delete();
  if (!answered) return RunProgramResult::kFailed;
  return value != 0 ? RunProgramResult::kDone : RunProgramResult::kReportedFailure;
}

// Starts the program hidden, by its full path, from its own folder (where the wrapper finds its
// files), and waits for it (false when it could not be started, or the run was cancelled or
// timed out meanwhile). parameters follow the quoted path as given.
bool RunHiddenAndWait(const std::wstring& program, const std::wstring& parameters) {
  if (program.empty()) return false;
  const ChildStart start = {program, parameters, FolderOfProgram(program)};
  PROCESS_INFORMATION info = {};
  unsigned long error = 0;
  if (!StartChild(start, 0, SW_HIDE, info, error)) return false;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  return WaitForProgram(process.Get(), program, kInstallerWaitMs);
}

// A full path: a drive with its root ("C:\...") or a network share ("\\server\...").
bool IsFullPath(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
      ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')))
    return true;
  return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

const wchar_t kQuorlenKey[] = L"Quorlen30__for__Galvane";

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The component entry of the older installer that lacks one: made from its parent's entry.
InstallLogEntry* AddQuorlenEntry(CQXInstallLog& log) {
  InstallLogEntry* parent = FindEntry(log, L"Galvane");
  if (!parent) return nullptr;
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = kQuorlenKey;
  entry->DisplayName.name = L"Quorlen30";
  entry->applicationVersion.text = L"3.8.0.5";
  entry->FullPath = parent->FullPath;
  entry->Region = parent->Region;
  entry->PvkOnly = parent->PvkOnly;
  entry->PvkURL = parent->PvkURL;
  entry->Lang = parent->Lang;
  entry->UninstLog = parent->UninstLog;
  entry->uninstallerVersion.text = parent->uninstallerVersion.text;
  log.entries.push_back(std::move(entry));
  return log.entries.back().get();
}

// The uninstaller version named by the file (its first word, a plain folder name).
bool ReadUninstallerVersion(const std::wstring& path, std::wstring& version) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    bytes.append(buffer, read);
    if (bytes.size() > kUninstallerVersionFileLimit) break;
  }
  return UninstallerVersionFromText(bytes, version);
}

}  // namespace

std::wstring LanguageFolderOf(const std::wstring& code) { return UninstallerLanguageFolder(code); }

bool CWrapperActions::UpdateUninstallerFiles(const std::wstring& cabinetFolder) {
  if (!context_.installLog) return false;
  const std::wstring& appName = context_.appName;
  InstallLogEntry* entry = FindEntry(*context_.installLog, appName);
  if (!entry && appName == kQuorlenKey) entry = AddQuorlenEntry(*context_.installLog);
  if (!entry) return false;

  const std::wstring install = ToBackslashes(cabinetFolder) + L"\\ZNQ\\INSTALL";
  std::wstring languageFolder = LanguageFolderOf(entry->Lang.code);
  std::wstring languagePath = languageFolder.empty() ? install : install + L"\\" + languageFolder;
  if (!IsFolder(languagePath)) {
    languageFolder = kUninstallerFallbackLanguage;
    languagePath = install + L"\\" + languageFolder;
  }
  // The files in ascending ordinal order of their names.
  std::map<std::wstring, std::wstring> sources = {
      {kUninstallerLanguageFile, languagePath + L"\\" + kUninstallerLanguageFile}};
  for (const std::wstring& name : UninstallerCommonFiles()) sources[name] = install + L"\\COMMON\\" + name;
  for (const auto& source : sources)
    if (!IsFile(source.second)) return false;

  std::wstring version;
  if (!ReadUninstallerVersion(sources[L"UninsVer.txt"], version)) return false;
  context_.uninstallerVersion = version;
  context_.env = ApplicationEnv(context_.machine, appName, context_.installLog, context_.package, version);

  const std::wstring folder = ToBackslashes(context_.env.Lookup(L"$UninsFolder$"));
  if (folder.empty()) return false;
  if (!IsFolder(folder) && !CreateFolderChain(folder)) return false;

  auto placeIfNewer = [](const std::wstring& source, const std::wstring& destination) {
    if (IsFile(destination) && !CFileActions::IsSourceNewer(source, destination)) return true;
    return CopyFileW(source.c_str(), destination.c_str(), FALSE) != FALSE;
  };
  for (const auto& source : sources) {
    if (!placeIfNewer(source.second, folder + L"\\" + source.first)) return false;
    if (EqualsIgnoreAsciiCase(source.first, L"UninstRsc.dll")) {
      const std::wstring copyName = L"UninstRsc_" + languageFolder + L".dll";
      if (!placeIfNewer(source.second, folder + L"\\" + copyName)) return false;
    }
  }
  return true;
}

}  // namespace brindle

namespace brindle {

std::wstring CWrapperActions::GetUninstallWrapperPath() {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMarrowgateKey, 0, KEY_READ | kWrapperView, key.Receive()) !=
      ERROR_SUCCESS)
    return std::wstring();
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key.Get(), L"UninstallWrapperPath", nullptr, &type, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || bytes == 0)
    return std::wstring();
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key.Get(), L"UninstallWrapperPath", nullptr, &type, reinterpret_cast<BYTE*>(&text[0]),
                       &bytes) != ERROR_SUCCESS)
    return std::wstring();
  text.resize(wcsnlen(text.c_str(), bytes / sizeof(wchar_t)));
  return text;
}

std::wstring CWrapperActions::GetWrapperFolder(const std::wstring& wrapperVersion) {
  // The version names a folder below the common files; it must be one plain name.
  if (!IsSafeSingleName(wrapperVersion, 64)) return std::wstring();
  std::wstring commonFiles;
  if (!CFileActions::GetSpecialFolder(CSIDL_PROGRAM_FILES_COMMON, commonFiles) || commonFiles.empty())
    return std::wstring();
  return WithoutTrailingSeparators(commonFiles) + L"\\Tamek\\ZNQ\\" + wrapperVersion;
}

RunProgramResult CWrapperActions::RunWrapperUpdate(const std::wstring& wrapperPath,
                                                   const std::wstring& parentName,
                                                   const std::wstring& componentName) {
  SharedKey shared;
  if (!shared.Create()) return RunProgramResult::kFailed;
  shared.DeleteExchangeValues();
  const std::wstring parameters =
      L"\"" + componentName + L"__for__" + parentName + L"\"" + L" /Ostrel" + L" /Update" + L" /quiet";
  if (!RunHiddenAndWait(ToBackslashes(wrapperPath), parameters)) {
    shared.Delete();
    return RunProgramResult::kFailed;
  }
  return TakeWrapperAnswer(shared);
}

RunProgramResult CWrapperActions::InstallWrapper(const std::wstring& wrapperFolder,
                                                 const std::wstring& componentFolder,
                                                 const std::wstring& parentName,
                                                 const std::wstring& parentFolder) {
  // Without both folders the copies and the start would happen relative to the current folder.
  const std::wstring source = WithoutTrailingSeparators(ToBackslashes(wrapperFolder));
  const std::wstring target = WithoutTrailingSeparators(ToBackslashes(componentFolder));
  if (!IsFullPath(source) || !IsFullPath(target)) {
    WriteServiceLog({L"-", componentFolder, L"error", L"0"}, L"BR", L"INSTALL_ZNQ");
    return RunProgramResult::kFailed;
  }
  const std::wstring installer = target + L"\\Install.exe";
  // The component folder is the user's: its chain is opened (made where missing) without
  // following a link and held, the copies replace the names there without writing into an
  // existing file, and they stay held, unchangeable, while Install.exe runs.
  std::vector<UniqueFile> chain;
  UniqueFile placedInstaller, placedSetup;
  // (A drive's root is no component's folder: the chain is then empty and nothing is copied.)
  if (!OpenFolderChainNoFollow(target, true, chain) || chain.empty() ||
      !ReplaceFileInFolder(chain.back().Get(), target, L"Install.exe", source + L"\\Install.exe",
                           placedInstaller) ||
      !ReplaceFileInFolder(chain.back().Get(), target, L"setup.dll", source + L"\\setup.dll", placedSetup)) {
    WriteServiceLog({L"-", componentFolder, L"error", std::to_wstring(GetLastError())}, L"BR",
                    L"INSTALL_ZNQ");
    return RunProgramResult::kFailed;
  }
  WriteServiceLog({L"-"}, L"BR", L"INSTALL_ZNQ");

  SharedKey shared;
  if (!shared.Create()) return RunProgramResult::kFailed;
  shared.DeleteExchangeValues();
  if (!shared.WriteText(kParentAppName, parentName) || !shared.WriteText(kParentInsFolder, parentFolder) ||
      !RunHiddenAndWait(installer, L" /quiet /Ostrel")) {
    shared.Delete();
    return RunProgramResult::kFailed;
  }
  return TakeWrapperAnswer(shared);
}

}  // namespace brindle
