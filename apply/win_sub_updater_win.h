// The Windows sub-updater: its state for the run and the group passes, each a section of the
// package's action list that the executor (package_executor.h) runs, handing every action to
// the action class of its family (file_actions_win.h, registry_actions_win.h,
// shortcut_actions_win.h, uninstall_log_actions.h); the hooks and the installer wrapper have
// theirs too (hook_actions_win.h, wrapper_actions_win.h).
#pragma once
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "apply/package_context.h"
#include "apply/sub_updater.h"
#include "package/package_passes.h"

namespace brindle {

class CQXFile;
class CQXBaseObjects;
class CQXUninstallTarget;
class CQXUninstallCustomFunction;
class CQXUninstallLog;
class CQXEnv;
class CPackageJournal;
struct MachineFolders;

class CWinQXSubUpdater : public CQXSubUpdater {
 public:
  CWinQXSubUpdater();
  ~CWinQXSubUpdater() override;

  RunProgramResult RunSetupProgram(const std::wstring& path, const DiffLocalEntry* application) override;
  std::wstring GetUninstallWrapperPath(const std::wstring& uninstallerVersion) override;
  std::wstring GetWrapperFolder(const std::wstring& wrapperVersion) override;
  RunProgramResult RunWrapperUpdate(const std::wstring& wrapperPath, const std::wstring& parentName,
                                    const std::wstring& componentName) override;
  RunProgramResult InstallWrapper(const std::wstring& wrapperFolder, const std::wstring& componentFolder,
                                  const std::wstring& parentName, const std::wstring& parentFolder) override;
  void ExtractPackage(const std::wstring& cabinetPath) override;
  HookVerdict RunBeforeUpdate(const CQXCustomFunction& hooks, unsigned char* restart) override;
  HookVerdict RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart) override;
  void ApplyDeleteObjects(const CQXDeleteObjects& group) override;
  void ApplyAddObjects(const CQXAddObjects& group) override;
  void ApplyUpdateObjects(const CQXUpdateObjects& group) override;
  void RegisterPendingComServers() override;
  bool CreateFolderPath(const std::wstring& path) override;
  bool OpenUninstallLog(const std::wstring& path) override;
  bool SaveUninstallLog(const std::wstring& path) override;
  bool SetStartupVersion(const std::wstring& version) override;
  bool SetStartupAppName(const std::wstring& name) override;
  bool UpdateUninstallerFiles(const std::wstring& cabinetFolder) override;
  virtual bool IsProcessRunning(const std::wstring& exeName);

  // The package's all-or-nothing bracket. BeginPackage starts the undo journal of the
  // package (false when it cannot be made: nothing may then be changed); from then on every
  // change of the stages is journaled before it is made. PreserveForUndo keeps a file that is
  // about to be replaced (the install log). CommitPackage keeps everything; UndoPackage takes
  // every journaled change back, last first. Both end the journal.
  bool BeginPackage(const std::wstring& packageFile) override;
  void PreserveForUndo(const std::wstring& path) override;
  void CommitPackage() override;
  bool UndoPackage() override;
  void RecoverInterruptedPackage() override;
  void RemoveKeptLeftovers() override;

  // For the action classes: the package's inputs and shared state, with one variable table
  // that is built again only when the application, package or uninstaller version changes.
  // The machine's folders are read once per updater: they cannot change during a run, and
  // reading them from the registry and the shell for every record made large packages slow.
  PackageContext& Context();
  // The COM servers queued by the package, registered after its last section.
  std::vector<const CQXFile*>& ComQueue() { return comQueue_; }

 private:
  // A fresh expansion table for the current application.
  CQXEnv MakeEnv() const;
  // The section's slice of the package's action list, run by the executor: each action by
  // the action class of its family.
  void RunPasses(PackageSection section, const CQXBaseObjects& group, const CQXUninstallTarget* targets,
                 const CQXUninstallCustomFunction* customFunction);

  std::set<std::wstring> pendingDeletions_;
  std::vector<const CQXFile*> comQueue_;
  std::unique_ptr<CQXUninstallLog> uninstallLog_;
  mutable std::unique_ptr<MachineFolders> machineFolders_;
  std::unique_ptr<PackageContext> context_;
  std::unique_ptr<CPackageJournal> journal_;
};

}  // namespace brindle
