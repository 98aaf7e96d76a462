// The installer wrapper's side of an update. The uninstaller's own files (Uninst.exe,
// UninsVer.txt, UninstRsc.dll, setup.dll) travel in a ZNQ folder beside each package and are
// copied into the common-files folder when they are newer, so the uninstaller can always read
// the uninstall log the update writes. Components of a parent application are removed by the
// registered uninstall wrapper and installed by the wrapper's Install.exe; both are run hidden
// and answer through the shared key "SOFTWARE\Tamek_Inc_RW\Ostrel Shared", which exists only
// while one of them runs.
#pragma once
#include <string>

#include "apply/sub_updater.h"

namespace brindle {

struct PackageContext;

class CWrapperActions {
 public:
  // The application and package of the context; the uninstaller version read goes into it,
  // with the variable table that depends on it.
  explicit CWrapperActions(PackageContext& context) : context_(context) {}

  // Copies the wrapper files found below the cabinet's folder into $UninsFolder$ and takes the
  // uninstaller version from UninsVer.txt. False when the application has no install-log entry,
  // a wrapper file is missing, the version cannot be read or is not a plain name, the folder
  // cannot be determined, or a copy fails.
  bool UpdateUninstallerFiles(const std::wstring& cabinetFolder);

  // The registered uninstall wrapper (Marrowgate Shared, UninstallWrapperPath), or empty text.
  static std::wstring GetUninstallWrapperPath();
  // Common files\Tamek\ZNQ\<version>; empty text when the common-files folder is unknown or
  // the version is not one plain folder name.
  static std::wstring GetWrapperFolder(const std::wstring& wrapperVersion);
  // Removes the component <componentName>__for__<parentName> with the uninstall wrapper:
  // done, failed (not run or no answer), or the wrapper reported a failure.
  static RunProgramResult RunWrapperUpdate(const std::wstring& wrapperPath, const std::wstring& parentName,
                                           const std::wstring& componentName);
  // Installs the component found in componentFolder with the wrapper's Install.exe, copied
  // there with setup.dll: done, failed (not run or no answer), or the installer reported a
  // failure.
  // A component folder that is not a full path fails at once: nothing is copied or started.
  static RunProgramResult InstallWrapper(const std::wstring& wrapperFolder,
                                         const std::wstring& componentFolder, const std::wstring& parentName,
                                         const std::wstring& parentFolder);

 private:
  PackageContext& context_;
};

// The language folder below ZNQ\INSTALL for a language code ("fr" gives "FRENCH"); empty text
// for a code the table does not know.
std::wstring LanguageFolderOf(const std::wstring& code);

// The key through which the wrapper programs and this program exchange the parent application
// and the result (below HKLM, in the 32-bit program's view).
extern const wchar_t kWrapperSharedKey[];

}  // namespace brindle
