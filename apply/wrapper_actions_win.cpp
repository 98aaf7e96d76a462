#include "apply/wrapper_actions_win.h"

#include "apply/file_actions_win.h"
#include "apply/win_sub_updater_win.h"
#include "logs/install_log.h"
#include "sys/env.h"
#include "sys/paths.h"
#include "sys/safe_names.h"
#include "sys/text.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

namespace brindle {

namespace {

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

// The first whitespace-delimited word of the file, read as bytes of the ANSI code page.
bool ReadFirstWord(const std::wstring& path, std::wstring& word) {
  HANDLE raw = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return false;
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(raw, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    bytes.append(buffer, read);
    if (bytes.size() > 65536) break;  // a version file is a few bytes: read no further
  }
  CloseHandle(raw);
  std::wstring text;
  if (!WideFromAnsi(bytes, text)) return false;
  std::wistringstream stream(text);
  stream >> word;
  return true;
}

}  // namespace

std::wstring LanguageFolderOf(const std::wstring& code) {
  static const std::map<std::wstring, std::wstring> kFolders = {
      {L"ja", L"JAPANESE"}, {L"en", L"ENGLISH"}, {L"fr", L"FRENCH"},
      {L"it", L"ITALIAN"},  {L"de", L"GERMAN"},  {L"es", L"SPANISH"},
      {L"ru", L"RUSSIAN"},  {L"zh_CN", L"SIMPCHIN"}, {L"ko", L"KOREAN"}};
  const auto found = kFolders.find(code);
  return found == kFolders.end() ? std::wstring() : found->second;
}

bool CWrapperActions::UpdateUninstallerFiles(const std::wstring& cabinetFolder) {
  if (!updater_.installLog) return false;
  const std::wstring appName = updater_.AppName();
  InstallLogEntry* entry = FindEntry(*updater_.installLog, appName);
  if (!entry && appName == kQuorlenKey) entry = AddQuorlenEntry(*updater_.installLog);
  if (!entry) return false;

  const std::wstring install = ToBackslashes(cabinetFolder) + L"\\ZNQ\\INSTALL";
  std::wstring languageFolder = LanguageFolderOf(entry->Lang.code);
  std::wstring languagePath = languageFolder.empty() ? install : install + L"\\" + languageFolder;
  if (!IsFolder(languagePath)) {
    languageFolder = L"ENGLISH";
    languagePath = install + L"\\ENGLISH";
  }
  // The files in ascending ordinal order of their names.
  std::map<std::wstring, std::wstring> sources = {
      {L"setup.dll", install + L"\\COMMON\\setup.dll"},
      {L"Uninst.exe", install + L"\\COMMON\\Uninst.exe"},
      {L"UninsVer.txt", install + L"\\COMMON\\UninsVer.txt"},
      {L"UninstRsc.dll", languagePath + L"\\UninstRsc.dll"}};
  for (const auto& source : sources)
    if (!IsFile(source.second)) return false;

  std::wstring version;
  if (!ReadFirstWord(sources[L"UninsVer.txt"], version)) return false;
  // The version word becomes a folder name below the common files: it must be one plain name.
  if (!IsSafeSingleName(version, 64)) return false;
  updater_.uninstallerVersion = version;

  const std::wstring folder = ToBackslashes(updater_.MakeEnv().Lookup(L"$UninsFolder$"));
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
