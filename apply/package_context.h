// The inputs of one package's actions, given once: where the package was unpacked, the package
// itself, the application's install-log entry, the uninstaller version, the machine's folders
// and the one variable table built from them; and what the actions share while they run: the
// uninstall log, the deletions queued for the restart, the restart flag and the undo journal.
#pragma once
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sys/env.h"

namespace brindle {

class CQXDiffDistribute;
class CQXInstallLog;
class CQXUninstallLog;
class PackageNotes;
class CQXFile;

struct PackageContext {
  std::wstring packageFolder;  // holds diff.xml, INST and CUSTOM
  const CQXDiffDistribute* package = nullptr;
  CQXInstallLog* installLog = nullptr;
  std::wstring appName;
  std::wstring uninstallerVersion;
  MachineFolders machine;
  CQXEnv env;  // the package's variable table

  CQXUninstallLog* uninstallLog = nullptr;             // null before the log is opened
  std::set<std::wstring>* pendingDeletions = nullptr;  // expanded targets deleted at restart
  bool* rebootNeeded = nullptr;
  std::vector<const CQXFile*>* comQueue = nullptr;  // servers registered after the last section
  PackageNotes* journal = nullptr;  // the package's journal: every package has one while its actions run

  void SetRebootNeeded() const {
    if (rebootNeeded) *rebootNeeded = true;
  }
};

}  // namespace brindle
