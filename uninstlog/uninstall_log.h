// The uninstall log of the application being updated, as the updater changes it: loaded through
// the file model (ini_file.h), changed by one operation per kind of change that the sub-updater
// records (files, folders, shortcuts, registry values, the Startup keys, uninstall targets and
// the uninstaller's custom-function library), and written back whole in a fixed section order.
// The uninstaller later removes exactly what this log lists, so every change the updater makes
// on the machine is mirrored here.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "uninstlog/ini_file.h"
#include "uninstlog/profile.h"

namespace brindle {

class CQXInstallLog;
class CQXDiffDistribute;
class CQXFile;
class CQXRegistry;
class CQXUninstallTarget;
class CQXUninstallCustomFunction;
class CEntryLookup;
class CQXEnv;
struct MachineFolders;

class CQXUninstallLog {
 public:
  // The four values from which every $Variable$ of a package path is expanded.
  CQXUninstallLog(const std::wstring& productKey, const CQXInstallLog* installLog,
                  const CQXDiffDistribute* package, const std::wstring& uninstallerVersion);
  ~CQXUninstallLog();
  CQXUninstallLog(const CQXUninstallLog&) = delete;
  CQXUninstallLog& operator=(const CQXUninstallLog&) = delete;

  // Facts about the machine that the rules need; set by the sub-updater before use.
  // The all-users desktop folder: a shortcut there gets no folder entry.
  void SetCommonDesktop(const std::wstring& folder) { commonDesktop_ = folder; }
  // Whether Files64, Folders64, Registry64 and RegistryKey64 are written back (64-bit Windows).
  void SetWrite64BitSections(bool write) { write64_ = write; }

  // Loads one file and merges it into the working model; false for an empty path or a file
  // that cannot be loaded.
  bool Load(const std::wstring& path);

  // File, folder and registry-key entries are found by their path as Windows compares it
  // (path_key.h), through lookups built once per log, not by a scan of their section.
  bool RemoveFileEntry(const CQXFile& file);
  bool RemoveFileEntryByPath(const std::wstring& sectionName, const std::wstring& path);
  bool AddFileEntry(const CQXFile& file, bool existedBefore);
  // Changes the delete and registration flags of the file's entry; a file the log does not
  // list gets its entry (and its folder's) as an added file.
  bool UpdateFileEntry(const CQXFile& file);
  // Whether the log has a file entry for the file's path.
  bool ListsFile(const CQXFile& file);
  bool AddShortcutEntry(const std::wstring& linkPath);
  bool AddRegistryEntries(const CQXRegistry& registry);
  bool RemoveRegistryEntry(const CQXRegistry& registry);
  bool SetStartupVersion(const std::wstring& text);
  bool SetStartupAppName(const std::wstring& text);
  bool AddUninstallTargets(const CQXUninstallTarget& targets);
  bool RemoveUninstallTargets(const CQXUninstallTarget& targets);
  bool WriteUninstallCustomFunction(const CQXUninstallCustomFunction& record);

  // Writes the whole working model through the writer, which must have been opened on the
  // output file; closes the writer after the last line. The sections this program changes are
  // written in a fixed order (one the log lacks is left out, not invented); every other section,
  // every line before the first header and every plain key the update did not change are
  // written as they were read. False at the first line that cannot be written.
  bool WriteAll();
  CProfile& Writer() { return writer_; }

  // Saves the log to path: written whole to the temporary file beside it (its name with "_tmp"
  // before the extension; a stale one is removed first), then put in place of the old log in
  // one step. On any failure the old log stays as it was and the temporary file is removed.
  bool Save(const std::wstring& path);
  // The temporary file's name for a log path.
  static std::wstring TemporaryPath(const std::wstring& path);

  const CIniFile& Model() const { return model_; }

 private:
  std::wstring ExpandPath(const std::wstring& text) const;
  // The lookup of the entries of a kind in the sections of a name (made on first use).
  CEntryLookup& Lookup(const std::wstring& section, KeyKind kind);
  // Adds a line through the model and keeps the lookup of its section and kind in step.
  bool AddEntryLine(const std::wstring& section, KeyKind kind, const std::vector<std::wstring>& keyFields);
  // Adds the folder entry unless the section already has one with exactly this path.
  bool AddFolderEntryFor(const std::wstring& section, const std::wstring& folder,
                         const std::wstring& deleteName);
  // The steps of WriteAll.
  bool WritePlainSection(const std::wstring& name);
  bool WriteFilesWithFolders(const std::wstring& filesName, const std::wstring& foldersName);
  bool WriteValuesWithKeys(const std::wstring& valuesName, const std::wstring& keysName);
  bool WriteCustomFunctionSection();
  // Step 0 to 8 of WriteAll: Language, the file pairs, the registry pairs, their 64-bit twins,
  // Startup, Uninst Info, UninstTarget, UninstallCustomFunction.
  bool WriteStep(int step);
  // A section this program does not model, every line as read.
  bool WriteAsRead(const CSection& section);
  // A key of a list section that is not an entry of it: as read, or in its own line shape.
  bool WriteOtherKey(const CKey& key);

  std::wstring productKey_;
  const CQXInstallLog* installLog_;
  const CQXDiffDistribute* package_;
  std::wstring uninstallerVersion_;
  std::wstring commonDesktop_;
  bool write64_ = true;
  // The expansion table, made at the first expansion from the machine's folders and the four
  // values above: none of them changes while a log is being updated, and every entry's path
  // is expanded.
  mutable std::unique_ptr<CQXEnv> env_;
  std::vector<std::unique_ptr<CIniFile>> loaded_;
  CIniFile model_;
  CProfile writer_;
  std::map<std::pair<std::wstring, KeyKind>, std::unique_ptr<CEntryLookup>> lookups_;
};

// The folder of a file's path as the log records it: the drive and folder part without leading
// and trailing backslashes (C:\App\bin for C:\App\bin\a.dll); empty when the path
// names no folder.
std::wstring FolderOfPath(const std::wstring& path);

// Platform side of a save: put the finished temporary file in place of the log in one step
// (the old log stays whole when that fails); remove a file. Both true on success.
bool ReplaceFileInOneStep(const std::wstring& temporaryPath, const std::wstring& path);
bool RemoveFileIfPresent(const std::wstring& path);

}  // namespace brindle
