// The patch flow of an update item: the package unpacked into the protected work folder, the
// running-program check, the hooks, the three object groups under the undo journal, and the
// package kept or taken back with the install log's new version.
#include "app/update_items.h"
#include "apply/package_transaction.h"

#include "app/coordination.h"
#include "ui/progress_context.h"
#include "app/updater.h"
#include "apply/crash_point.h"
#include "apply/sub_updater.h"
#include "logs/install_log.h"
#include "logs/service_log.h"
#include "logs/update_lists.h"
#include "package/diff_distribute.h"
#include "package/object_records.h"
#include "sys/folder_removal.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/safe_names.h"
#include "sys/system_util.h"
#include "ui/messages.h"
#include "ui/resource.h"

#include <windows.h>

#include <atomic>

namespace brindle {

namespace {

// Numbers the package folders of the process: temp1, temp2... never reused within a run.
std::atomic<int> g_packageFolderNumber{0};

void WorkFolderError(const std::wstring& path, ProtectedFolderStatus status) {
  WriteServiceLog({L"-", path, L"error", DescribeStatus(status)}, L"BR", L"WORK_FOLDER");
}

// The package is extracted where only administrators can write: its hooks run and its files
// reach protected folders with this program's rights, so no other process may change them
// between extraction and use. The work root is emptied of what earlier packages left, and the
// package gets a folder of its own, new (so it holds nothing it did not extract), held open
// with the chain above it for as long as the package is applied.
bool PreparePackageFolder(ProtectedFolder& package) {
  ProtectedFolder root;
  const ProtectedFolderStatus opened = OpenWorkRoot(root);
  if (opened != ProtectedFolderStatus::Ready) {
    WorkFolderError(JoinPath(CommonAppDataFolder(), kWorkRootSubPath), opened);
    return false;
  }
  EmptyFolderNoFollow(root.Handle());
  for (int tries = 0; tries < 1000; ++tries) {
    const std::wstring name = L"temp" + std::to_wstring(++g_packageFolderNumber);
    const ProtectedFolderStatus made = root.OpenChild(name, ProtectedFolder::Mode::CreateNew, package);
    if (made == ProtectedFolderStatus::AlreadyExists) continue;
    if (made != ProtectedFolderStatus::Ready) WorkFolderError(JoinPath(root.Path(), name), made);
    return made == ProtectedFolderStatus::Ready;
  }
  return false;
}

// Asks, for every program the package names, until it is not running or the user lets it be.
void CheckRunningPrograms(const CQXDiffDistribute& package, const DiffLocalEntry& entry) {
  for (const std::wstring& name : package.generalInfo->checkAppNames) {
    std::wstring title;
    while (FindRunningProcess(name, title)) {
      const AnswerCode answer = ShowRetryCheckBox(entry.DisplayName, LoadMessage(IDS_PROGRAM_RUNNING),
                                                  title.empty() ? name : title);
      if (answer == AnswerCode::kRetry) continue;
      if (answer == AnswerCode::kIgnore) break;
      throw CAbortException();
    }
  }
}

// The record steps of a package: each record once per pass that handles it (the update group's
// records are deleted and then written again).
int RecordStepsOf(const CQXDiffDistribute& package) {
  auto records = [](const auto& group) {
    return group.files.size() + group.registries.size() + group.shortCuts.size();
  };
  const size_t steps =
      records(*package.deleteObjects) + 2 * records(*package.updateObjects) + records(*package.addObjects);
  return steps > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(steps);
}

// The stages that change the application: the three object groups, the Startup keys and the
// uninstall log.
void ApplyPackageStages(CQXSubUpdater& updater, CQXInstallLog& log, const DiffLocalEntry& entry,
                        const CQXDiffDistribute& package) {
  InstallLogEntry* installed = FindEntry(log, entry.AppName);
  if (!installed) throw CUpdaterException("the application is not in the install log");
  const std::wstring& uninstallLogPath = installed->UninstLog;
  // Changes made without their uninstall-log entries would later be left behind by the
  // uninstaller: a log that cannot be read stops the update before anything changes.
  if (!updater.OpenUninstallLog(uninstallLogPath)) {
    WriteServiceLog({L"-", uninstallLogPath, L"error", L"0"}, L"BR", L"OPEN_ZNQ_UNINSTLOG");
    throw CUpdaterException("the uninstall log cannot be read");
  }
  updater.BeginRecordSteps(RecordStepsOf(package));
  updater.ApplyDeleteObjects(*package.deleteObjects);
  updater.ApplyUpdateObjects(*package.updateObjects);
  const std::wstring& displayName = package.updateObjects->displayName.name;
  if (!displayName.empty()) installed->DisplayName.name = displayName;
  updater.ApplyAddObjects(*package.addObjects);
  if (entry.AppName.find(L"__for__") == std::wstring::npos) {
    updater.SetStartupVersion(package.generalInfo->version.text);
    if (!displayName.empty()) updater.SetStartupAppName(displayName);
  }
  const bool saved = updater.SaveUninstallLog(uninstallLogPath);
  WriteServiceLog({L"-", uninstallLogPath, saved ? L"success" : L"error", saved ? L"1" : L"0"}, L"BR",
                  L"UPDATE_ZNQ_UNINSTLOG");
  if (!saved) throw CUpdaterException("the uninstall log cannot be saved");
}

// The new versions go into the application's install-log entry (saved by the driver only when
// the package was applied).
void WriteVersions(CQXInstallLog& log, const DiffLocalEntry& entry, const std::wstring& newVersion,
                   const CQXSubUpdater& updater) {
  InstallLogEntry* installed = FindEntry(log, entry.AppName);
  if (!installed) return;
  installed->applicationVersion.text = newVersion;
  installed->uninstallerVersion.text = updater.UninstallerVersion();
}

// Keeps the sub-updater's view of the package and its folder for exactly the time the package
// is applied.
class PackageScope {
 public:
  PackageScope(CQXSubUpdater& updater, const std::wstring& folder) : updater_(updater), folder_(folder) {
    updater_.SetPackage(folder_, nullptr);
  }
  ~PackageScope() { updater_.SetPackage(folder_, nullptr); }
  void Set(std::unique_ptr<CQXDiffDistribute> package) {
    package_ = std::move(package);
    updater_.SetPackage(folder_, package_.get());
  }
  const CQXDiffDistribute* Get() const { return package_.get(); }

 private:
  CQXSubUpdater& updater_;
  const std::wstring folder_;
  std::unique_ptr<CQXDiffDistribute> package_;
};

// Applies the package; an applied one is handed out in applied, to be kept once the install log
// holds its version. Every other ending takes the package back as it leaves this function.
PatchResult ApplyPatch(CQXSubUpdater& updater, CQXInstallLog& log, const DiffLocalEntry& entry,
                       const std::wstring& packagePath, std::unique_ptr<CPackageTransaction>& applied) {
  ProtectedFolder packageFolder;
  if (!PreparePackageFolder(packageFolder)) return PatchResult::kFailed;
  const std::wstring folder = ToForwardSlashes(packageFolder.Path());

  PackageScope package(updater, folder);
  std::unique_ptr<CPackageTransaction> transaction;  // undone on leaving unless handed out
  std::wstring newVersion;
  PatchResult result = PatchResult::kApplied;
  try {
    updater.ExtractPackage(packagePath);
    package.Set(LoadDiffDistribute(JoinPath(folder, L"diff.xml")));
    const CQXDiffDistribute* diff = package.Get();
    InstallLogEntry* installed = FindEntry(log, entry.AppName);
    LogFields fields = {L"-", entry.AppName, diff ? diff->generalInfo->version.text : std::wstring(),
                        entry.FileName};
    if (installed) fields.push_back(installed->applicationVersion.text);
    WriteServiceLog(fields, L"BR", L"START_PATCH_INSTALLATION");
    // Without its description nothing of the package can be applied.
    if (!diff) {
      WriteServiceLog({L"-", JoinPath(folder, L"diff.xml"), L"error", L"0"}, L"BR", L"LOAD_DIFF_XML");
      return PatchResult::kFailed;
    }
    newVersion = diff->generalInfo->version.text;
    if (!updater.UpdateUninstallerFiles(ParentFolder(packagePath)))
      throw CUpdaterException("the uninstaller's files cannot be updated");
    CheckRunningPrograms(*diff, entry);
    if (diff->customFunction->beforeUpdate.type == kFileNameBeforeUpdate) {
      unsigned char restart = 0;
      if (updater.RunBeforeUpdate(*diff->customFunction, &restart) == HookVerdict::kStop)
        return PatchResult::kFailed;
      if (restart) updater.SetRebootNeeded();
    }
    // From here on the package applies completely or not at all.
    transaction = CPackageTransaction::Begin(updater, entry.FileName);
    if (!transaction) throw CUpdaterException("no undo journal for the package");
    ApplyPackageStages(updater, log, entry, *diff);
  } catch (const CUpdaterException&) {
    result = PatchResult::kFailed;
  } catch (const CAbortException&) {
    result = PatchResult::kCancelled;
  }
  WriteVersions(log, entry, newVersion, updater);
  if (result != PatchResult::kApplied) return result;
  try {
    updater.RegisterPendingComServers();
    const CQXDiffDistribute& diff = *package.Get();
    if (diff.customFunction->afterUpdate.type == kFileNameAfterUpdate) {
      unsigned char restart = 0;
      if (updater.RunAfterUpdate(*diff.customFunction, &restart) == HookVerdict::kStop)
        return PatchResult::kFailed;
      if (restart) updater.SetRebootNeeded();
    }
  } catch (const CUpdaterException&) {
    return PatchResult::kFailed;
  }
  // Kept by the driver once the install log holds the new version (SaveAppliedPackage).
  applied = std::move(transaction);
  return PatchResult::kApplied;
}

}  // namespace

CWinQXUpdateItems::CWinQXUpdateItems(CQXSubUpdater* subUpdater) : subUpdater_(subUpdater) {}
CWinQXUpdateItems::~CWinQXUpdateItems() = default;

PatchResult CWinQXUpdateItems::ApplyPatchPackage(CQXInstallLog& log, const DiffLocalEntry& entry,
                                                 const std::wstring& packagePath) {
  if (!subUpdater_) return PatchResult::kFailed;
  subUpdater_->BeginApplication(&log, &entry);
  appliedPackage_.reset();  // one not saved by now is taken back
  return ApplyPatch(*subUpdater_, log, entry, packagePath, appliedPackage_);
}

void CWinQXUpdateItems::RecoverInterruptedWork() {
  if (subUpdater_) subUpdater_->RecoverInterruptedPackage();
}

void CWinQXUpdateItems::RemoveLeftovers() {
  if (subUpdater_) subUpdater_->RemoveKeptLeftovers();
}

bool CWinQXUpdateItems::SaveAppliedPackage(CQXInstallLog& log, const std::wstring& installLogPath) {
  if (!subUpdater_) return SaveInstallLog(log, installLogPath);
  bool saved = false;
  try {
    subUpdater_->PreserveForUndo(installLogPath);
    saved = SaveInstallLog(log, installLogPath);
    CrashPoint("install-log-written");
  } catch (const CUpdaterException&) {
    saved = false;
  }
  // The install log's new version is what makes the package kept: until it is written, a
  // failure or a kill takes the whole package back.
  if (saved && appliedPackage_) appliedPackage_->Keep();
  appliedPackage_.reset();  // taken back unless kept
  return saved;
}

SetupResult CWinQXUpdateItems::RunSetupProgram(const std::wstring& packagePath, const DiffLocalEntry& entry) {
  if (!subUpdater_) return SetupResult::kFailed;
  // The program is started with administrator rights from the list's folder: the list may name
  // it by one plain file name there, never a folder, drive, ".." or stream that leads elsewhere.
  if (!IsSafeSingleName(entry.FileName)) {
    WriteServiceLog({L"-", entry.FileName, L"error", L"not a plain file name"}, L"BR", L"SETUP_PROGRAM");
    return SetupResult::kFailed;
  }
  switch (subUpdater_->RunSetupProgram(packagePath, &entry)) {
    case RunProgramResult::kDone: return SetupResult::kDone;
    case RunProgramResult::kReportedFailure: return SetupResult::kReportedFailure;
    case RunProgramResult::kFailed: break;
  }
  return SetupResult::kFailed;
}

void CWinQXUpdateItems::SetRecordProgress(std::function<void(int done, int total)> listener) {
  if (subUpdater_) subUpdater_->recordProgress = std::move(listener);
}

bool CWinQXUpdateItems::RebootNeeded() const { return subUpdater_ && subUpdater_->RebootNeeded(); }

}  // namespace brindle
