#include "uninstlog/uninstall_log.h"

// Placeholder until the update rules land: nothing can be loaded or saved.

namespace brindle {

CQXUninstallLog::CQXUninstallLog(const std::wstring& productKey, const CQXInstallLog* installLog,
                                 const CQXDiffDistribute* package,
                                 const std::wstring& uninstallerVersion)
    : productKey_(productKey), installLog_(installLog), package_(package),
      uninstallerVersion_(uninstallerVersion) {}
CQXUninstallLog::~CQXUninstallLog() = default;
bool CQXUninstallLog::Load(const std::wstring&) { return false; }
bool CQXUninstallLog::Save(const std::wstring&) { return false; }

}  // namespace brindle
