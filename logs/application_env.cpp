#include "logs/application_env.h"

#include "logs/install_log.h"

namespace brindle {

CQXEnv ApplicationEnv(const MachineFolders& machine, const std::wstring& appName,
                      const CQXInstallLog* installLog, const CQXDiffDistribute* package,
                      const std::wstring& uninstallerVersion) {
  if (installLog == nullptr || appName.empty()) return CQXEnv(machine);
  const InstallLogEntry* entry = FindEntry(*installLog, appName);
  ApplicationRows rows;
  if (entry) {
    rows.insFolder = entry->FullPath;
    rows.uninstLog = entry->UninstLog;
    rows.region = entry->Region.region;
    rows.langCode = entry->Lang.languageId;
    rows.pvkURL = entry->PvkURL;
  }
  return CQXEnv(machine, entry ? &rows : nullptr, package ? &uninstallerVersion : nullptr);
}

CQXEnv ApplicationEnv(const std::wstring& appName, const CQXInstallLog* installLog,
                      const CQXDiffDistribute* package, const std::wstring& uninstallerVersion) {
  return ApplicationEnv(ReadMachineFolders(), appName, installLog, package, uninstallerVersion);
}

}  // namespace brindle
