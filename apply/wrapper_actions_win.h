// The installer wrapper's side of a patch: the uninstaller's own files (Uninst.exe,
// UninsVer.txt, UninstRsc.dll, setup.dll) travel in a ZNQ folder beside each package and are
// copied into the common-files folder when they are newer, so the uninstaller can always read
// the uninstall log the update writes.
#pragma once
#include <string>

namespace brindle {

class CWinQXSubUpdater;

class CWrapperActions {
 public:
  explicit CWrapperActions(CWinQXSubUpdater& updater) : updater_(updater) {}

  // Copies the wrapper files found below the cabinet's folder into $UninsFolder$ and takes the
  // uninstaller version from UninsVer.txt. False when the application has no install-log entry,
  // a wrapper file is missing, the version cannot be read or is not a plain name, the folder
  // cannot be determined, or a copy fails.
  bool UpdateUninstallerFiles(const std::wstring& cabinetFolder);

 private:
  CWinQXSubUpdater& updater_;
};

// The language folder below ZNQ\INSTALL for a language code ("fr" gives "FRENCH"); empty text
// for a code the table does not know.
std::wstring LanguageFolderOf(const std::wstring& code);

}  // namespace brindle
