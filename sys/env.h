// The $Variable$ table of one action: folders of this machine and, for an application context,
// the installed application's folder, uninstall log, region, language and the uninstaller's
// folder. Each action builds a fresh table, expands its texts and drops it.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace brindle {

// The machine's folders as the table needs them. A value that cannot be determined is empty.
struct MachineFolders {
  std::wstring progFolder;    // ProgramFilesDir (32-bit view)
  std::wstring progFolder64;  // ProgramFilesDir of the 64-bit view; progFolder on 32-bit Windows
  std::wstring winFolder;     // the Windows directory
  std::wstring sysFolder;     // the WOW64 system directory, or the system directory
  std::wstring sysFolder64;   // the system directory
  std::wstring sysDrive;      // "C:"
  std::wstring commonFiles;   // the (32-bit) common-files folder
};

// Reads them from the system (Windows build); the native build answers empty folders.
MachineFolders ReadMachineFolders();

// The rows of an installed application, as its install-log entry gives them.
struct ApplicationRows {
  std::wstring insFolder;  // the application's folder
  std::wstring uninstLog;  // the path of its uninstall log
  std::wstring region;
  std::wstring langCode;
  std::wstring pvkURL;
};

class CQXEnv {
 public:
  // Machine context: only the machine rows are filled, from the system.
  CQXEnv();
  // The same with the machine's folders given.
  explicit CQXEnv(const MachineFolders& machine);
  // Application context: the application's rows when they are known, and the uninstaller's rows
  // when a package is being applied (uninstallerVersion given). An application context is built
  // from the install log by ApplicationEnv (logs/application_env.h).
  CQXEnv(const MachineFolders& machine, const ApplicationRows* application,
         const std::wstring* uninstallerVersion);
  virtual ~CQXEnv() = default;

  // Every $Name$ of the table replaced by its value; names walked in ascending order, each
  // occurrence replaced once (an inserted value is not searched again for the same name).
  std::wstring Expand(const std::wstring& text) const;
  // The same, leaving $SysFolder$ and $SysFolder64$ in the text.
  std::wstring ExpandKeepingSystemFolders(const std::wstring& text) const;
  // The value of one name ("$InsFolder$"), or empty text when it is not in the table.
  std::wstring Lookup(const std::wstring& name) const;

 private:
  void FillMachine(const MachineFolders& machine);
  void FillApplication(const ApplicationRows& application);
  void FillUninstaller(const MachineFolders& machine, const std::wstring& uninstallerVersion);
  std::wstring ExpandSkipping(const std::wstring& text, bool keepSystemFolders) const;

  std::map<std::wstring, std::wstring> values_;
};

// Every $Name$ of the table, in its walking order; a name outside it stays in a text as it is.
const std::vector<std::wstring>& VariableNames();
// The one name outside the table: the registry actions alone replace it, in their data.
extern const wchar_t kInstallTimeName[];

// The first "$InstallTime$" replaced by the current time in seconds since 1970 (UTC).
std::wstring ReplaceInstallTime(const std::wstring& text);
// The same with a given time.
std::wstring ReplaceInstallTimeWith(const std::wstring& text, std::uint32_t seconds);

}  // namespace brindle
