#include "sys/env.h"

#include <ctime>

namespace brindle {

namespace {

// Every name of the table; each context holds all of them, empty until a value is known.
const wchar_t* const kNames[] = {
    L"$ProgFolder$", L"$ProgFolder64$", L"$WinFolder$",   L"$SysFolder$", L"$SysFolder64$",
    L"$SysDrive$",   L"$InsFolder$",    L"$UninsParam$",  L"$Region$",    L"$LangCode$",
    L"$PvkURL$",     L"$UninsVer$",     L"$UninsFolder$", L"$UninsExe$",  L"$UninsWrapperExe$",
};

const wchar_t kUninsExe[] = L"$UninsExe$";
const wchar_t kUninstallCommand[] = L"$UninsExe$ $UninsParam$";
const wchar_t kUninstallerSubfolder[] = L"\\Tamek\\ZNQ\\";

}  // namespace

const wchar_t kInstallTimeName[] = L"$InstallTime$";

const std::vector<std::wstring>& VariableNames() {
  static const std::vector<std::wstring> names = [] {
    std::map<std::wstring, bool> sorted;
    for (const wchar_t* name : kNames) sorted[name] = true;
    std::vector<std::wstring> list;
    for (const auto& entry : sorted) list.push_back(entry.first);
    return list;
  }();
  return names;
}

CQXEnv::CQXEnv() : CQXEnv(ReadMachineFolders()) {}

CQXEnv::CQXEnv(const MachineFolders& machine) : CQXEnv(machine, nullptr, nullptr) {}

CQXEnv::CQXEnv(const MachineFolders& machine, const ApplicationRows* application,
               const std::wstring* uninstallerVersion) {
  for (const wchar_t* name : kNames) values_[name] = std::wstring();
  FillMachine(machine);
  if (application) FillApplication(*application);
  if (uninstallerVersion) FillUninstaller(machine, *uninstallerVersion);
}

void CQXEnv::FillMachine(const MachineFolders& machine) {
  values_[L"$ProgFolder$"] = machine.progFolder;
  values_[L"$ProgFolder64$"] = machine.progFolder64;
  values_[L"$WinFolder$"] = machine.winFolder;
  values_[L"$SysFolder$"] = machine.sysFolder;
  values_[L"$SysFolder64$"] = machine.sysFolder64;
  values_[L"$SysDrive$"] = machine.sysDrive.substr(0, 2);
}

void CQXEnv::FillApplication(const ApplicationRows& application) {
  values_[L"$InsFolder$"] = application.insFolder;
  values_[L"$UninsParam$"] = L"\"" + application.uninstLog + L"\"";
  values_[L"$Region$"] = application.region;
  values_[L"$LangCode$"] = application.langCode;
  values_[L"$PvkURL$"] = application.pvkURL;
}

void CQXEnv::FillUninstaller(const MachineFolders& machine, const std::wstring& uninstallerVersion) {
  values_[L"$UninsVer$"] = uninstallerVersion;
  // Without the common-files folder the uninstaller's place is unknown: the names stay empty
  // rather than becoming a path relative to whatever the current folder is.
  if (machine.commonFiles.empty()) return;
  const std::wstring uninstallerRoot = machine.commonFiles + kUninstallerSubfolder;
  values_[L"$UninsFolder$"] = uninstallerRoot + values_[L"$UninsVer$"];
  values_[L"$UninsExe$"] = values_[L"$UninsFolder$"] + L"\\Uninst.exe";
  values_[L"$UninsWrapperExe$"] = uninstallerRoot + L"UninstallWrapper.exe";
}

std::wstring CQXEnv::Expand(const std::wstring& text) const { return ExpandSkipping(text, false); }

std::wstring CQXEnv::ExpandKeepingSystemFolders(const std::wstring& text) const {
  return ExpandSkipping(text, true);
}

// Names are walked in ascending order. After each replacement the search goes on behind the
// inserted value, so a value that holds its own name (an install folder read from the install
// log could) is inserted once and the walk always ends; a name inserted by an earlier value is
// still replaced when its own turn comes later in the walk.
std::wstring CQXEnv::ExpandSkipping(const std::wstring& text, bool keepSystemFolders) const {
  std::wstring result = text;
  for (const auto& [name, value] : values_) {
    if (keepSystemFolders && (name == L"$SysFolder$" || name == L"$SysFolder64$")) continue;
    size_t pos = result.find(name);
    while (pos != std::wstring::npos) {
      // The uninstall command alone: the uninstaller's path is quoted like the log's path.
      const std::wstring inserted =
          (name == kUninsExe && result == kUninstallCommand) ? L"\"" + value + L"\"" : value;
      result.replace(pos, name.size(), inserted);
      pos = result.find(name, pos + inserted.size());
    }
  }
  return result;
}

std::wstring CQXEnv::Lookup(const std::wstring& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? std::wstring() : it->second;
}

std::wstring ReplaceInstallTime(const std::wstring& text) {
  return ReplaceInstallTimeWith(text, static_cast<std::uint32_t>(std::time(nullptr)));
}

std::wstring ReplaceInstallTimeWith(const std::wstring& text, std::uint32_t seconds) {
  std::wstring result = text;
  const size_t pos = result.find(kInstallTimeName);
  if (pos != std::wstring::npos) {
    result.replace(pos, sizeof(kInstallTimeName) / sizeof(wchar_t) - 1, std::to_wstring(seconds));
  }
  return result;
}

}  // namespace brindle
