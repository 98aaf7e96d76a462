// The $Variable$ table of an installed application, built from its install-log entry.
#pragma once
#include <string>

#include "sys/env.h"

namespace brindle {

class CQXInstallLog;
class CQXDiffDistribute;

// The table of the application named appName: its install-log entry, when found, fills the
// application rows; a package being applied (package given) fills the uninstaller rows. With no
// install log or no name only the machine rows are filled.
CQXEnv ApplicationEnv(const MachineFolders& machine, const std::wstring& appName,
                      const CQXInstallLog* installLog, const CQXDiffDistribute* package,
                      const std::wstring& uninstallerVersion);
// The same with the machine's folders read from the system.
CQXEnv ApplicationEnv(const std::wstring& appName, const CQXInstallLog* installLog,
                      const CQXDiffDistribute* package, const std::wstring& uninstallerVersion);

}  // namespace brindle
