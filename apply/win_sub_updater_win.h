// The Windows sub-updater: its state for the run and the group passes, which hand every record
// to the action class of its family (file_actions_win.h, registry_actions_win.h,
// shortcut_actions_win.h, hook_actions_win.h, wrapper_actions_win.h).
#pragma once
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "apply/sub_updater.h"
#include "package/package_passes.h"

namespace brindle {

class CQXFile;
class CQXBaseObjects;
class CQXUninstallTarget;
class CQXUninstallCustomFunction;
class CQXUninstallLog;
class CQXEnv;
struct MachineFolders;

class CWinQXSubUpdater : public CQXSubUpdater {
 public:
  CWinQXSubUpdater();
  ~CWinQXSubUpdater() override;

  int RunSetupProgram(const std::wstring& path, const DiffLocalEntry* application) override;
  std::wstring GetUninstallWrapperPath(const std::wstring& uninstallerVersion) override;
  std::wstring GetWrapperFolder(const std::wstring& wrapperVersion) override;
  int RunWrapperUpdate(const std::wstring& wrapperPath, const std::wstring& parentName,
                       const std::wstring& componentName) override;
  int InstallWrapper(const std::wstring& wrapperFolder, const std::wstring& componentFolder,
                     const std::wstring& parentName, const std::wstring& parentFolder) override;
  void ExtractPackage(const std::wstring& cabinetPath) override;
  int RunBeforeUpdate(const CQXCustomFunction& hooks, unsigned char* restart) override;
  int RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart) override;
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

  // For the action classes.
  // A fresh expansion table for the current application. The machine's folders are read once
  // per updater: they cannot change during a run, and reading them from the registry and the
  // shell for every file record made large packages slow.
  CQXEnv MakeEnv() const;
  // The uninstall log, or null before OpenUninstallLog.
  CQXUninstallLog* UninstallLog() { return uninstallLog_.get(); }
  // Expanded target paths whose deletion waits for the next restart.
  std::set<std::wstring>& PendingDeletions() { return pendingDeletions_; }
  std::vector<const CQXFile*>& ComQueue() { return comQueue_; }

 private:
  // Appends the group's COM servers to the queue, in package order.
  void QueueComServers(const std::vector<std::unique_ptr<CQXFile>>& files);
  // The passes of one section over its records, in the order every package is applied.
  void RunPasses(PackageSection section, const CQXBaseObjects& group,
                 const CQXUninstallTarget* targets,
                 const CQXUninstallCustomFunction* customFunction);

  std::set<std::wstring> pendingDeletions_;
  std::vector<const CQXFile*> comQueue_;
  std::unique_ptr<CQXUninstallLog> uninstallLog_;
  mutable std::unique_ptr<MachineFolders> machineFolders_;
};

}  // namespace brindle
