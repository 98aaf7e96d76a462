#include "apply/win_sub_updater_win.h"

#include "apply/action_line.h"
#include "apply/crash_point.h"
#include "apply/file_actions_win.h"
#include "apply/hook_actions_win.h"
#include "apply/package_executor.h"
#include "apply/nothing_noted.h"
#include "apply/package_journal_win.h"
#include "apply/package_steps.h"
#include "apply/registry_actions_win.h"
#include "apply/shortcut_actions_win.h"
#include "apply/setup_program_win.h"
#include "apply/uninstall_log_actions.h"
#include "apply/wrapper_actions_win.h"
#include "logs/install_log.h"
#include "logs/application_env.h"
#include "logs/service_log.h"
#include "package/diff_distribute.h"
#include "sys/env.h"
#include "sys/file_util.h"
#include "sys/paths.h"
#include "sys/system_util.h"
#include "sys/wow64_redirection.h"
#include "uninstlog/uninstall_log.h"

#include <windows.h>
#include <shlobj.h>

namespace brindle {

CWinQXSubUpdater::CWinQXSubUpdater() = default;
CWinQXSubUpdater::~CWinQXSubUpdater() = default;

CQXEnv CWinQXSubUpdater::MakeEnv() const {
  if (!machineFolders_) machineFolders_ = std::make_unique<MachineFolders>(ReadMachineFolders());
  return ApplicationEnv(*machineFolders_, AppName(), installLog_, package_, uninstallerVersion_);
}

#ifdef BRINDLE_WITHOUT_JOURNAL
namespace {
// Brindle_nojournal.exe, a build the benchmark alone runs to measure what the journal costs,
// applies each package with notes that keep nothing, so it cannot be taken back.
PackageNotes& UnjournaledNotes() {
  static NothingNotedPackage notes;
  return notes;
}
}  // namespace
#endif

PackageContext& CWinQXSubUpdater::Context() {
  const bool stale = !context_ || context_->appName != AppName() || context_->package != package_ ||
                     context_->installLog != installLog_ ||
                     context_->uninstallerVersion != uninstallerVersion_;
  if (stale) {
    context_ = std::make_unique<PackageContext>();
    context_->appName = AppName();
    context_->package = package_;
    context_->installLog = installLog_;
    context_->uninstallerVersion = uninstallerVersion_;
    context_->env = MakeEnv();
    context_->machine = *machineFolders_;
  }
  context_->packageFolder = packageFolder_;
  context_->uninstallLog = uninstallLog_.get();
  context_->pendingDeletions = &pendingDeletions_;
  context_->rebootNeeded = &rebootNeeded_;
  context_->comQueue = &comQueue_;
#ifdef BRINDLE_WITHOUT_JOURNAL
  context_->journal = &UnjournaledNotes();
#else
  context_->journal = journal_.get();
#endif
  return *context_;
}

// ---- all or nothing ---------------------------------------------------------------------------

bool CWinQXSubUpdater::BeginPackage(const std::wstring& packageFile) {
#ifdef BRINDLE_WITHOUT_JOURNAL
  (void)packageFile;
  return true;
#else
  journal_ = CPackageJournal::Begin(AppName(), packageFile);
  if (!journal_)
    WriteServiceLog({L"-", AppName(), packageFile, L"error", L"0"}, L"BR", L"UNDO_JOURNAL_BEGIN");
  return journal_ != nullptr;
#endif
}

void CWinQXSubUpdater::PreserveForUndo(const std::wstring& path) {
  // The install log is small and its writer's replacement may keep the old file's identity:
  // it is copied.
  if (journal_) journal_->Preserve(ToBackslashes(path), false, false);
}

void CWinQXSubUpdater::CommitPackage() {
  if (journal_) journal_->Commit();
  journal_.reset();
}

bool CWinQXSubUpdater::UndoPackage() {
  // Servers of an undone package are not registered: their files are gone again.
  comQueue_.clear();
  const bool undone = !journal_ || journal_->Undo();
  journal_.reset();
  return undone;
}

void CWinQXSubUpdater::RecoverInterruptedPackage() { brindle::RecoverInterruptedPackage(); }

void CWinQXSubUpdater::RemoveKeptLeftovers() { RemoveKeptBackups(); }

// ---- setup programs and the installer wrapper -------------------------------------------------

RunProgramResult CWinQXSubUpdater::RunSetupProgram(const std::wstring& path, const DiffLocalEntry* entry) {
  application_ = entry;
  CSetupProgram setup;
  const RunProgramResult result = setup.Run(path);
  if (setup.RebootRequested()) SetRebootNeeded();
  return result;
}

std::wstring CWinQXSubUpdater::GetUninstallWrapperPath(const std::wstring&) {
  return CWrapperActions::GetUninstallWrapperPath();
}
std::wstring CWinQXSubUpdater::GetWrapperFolder(const std::wstring& wrapperVersion) {
  return CWrapperActions::GetWrapperFolder(wrapperVersion);
}
RunProgramResult CWinQXSubUpdater::RunWrapperUpdate(const std::wstring& wrapperPath,
                                                    const std::wstring& parentName,
                                                    const std::wstring& componentName) {
  return CWrapperActions::RunWrapperUpdate(wrapperPath, parentName, componentName);
}
RunProgramResult CWinQXSubUpdater::InstallWrapper(const std::wstring& wrapperFolder,
                                                  const std::wstring& componentFolder,
                                                  const std::wstring& parentName,
                                                  const std::wstring& parentFolder) {
  return CWrapperActions::InstallWrapper(wrapperFolder, componentFolder, parentName, parentFolder);
}

bool CWinQXSubUpdater::UpdateUninstallerFiles(const std::wstring& cabinetFolder) {
  PackageContext& context = Context();
  const bool placed = CWrapperActions(context).UpdateUninstallerFiles(cabinetFolder);
  // The version read is the package's, also when a copy failed after it was read.
  uninstallerVersion_ = context.uninstallerVersion;
  return placed;
}

// ---- the package ------------------------------------------------------------------------------

void CWinQXSubUpdater::ExtractPackage(const std::wstring& cabinetPath) {
  if (!ExtractCabinet(ToBackslashes(cabinetPath), ToBackslashes(packageFolder_))) {
    WriteServiceLog({L"-", cabinetPath, L"error", L"0"}, L"BR", L"EXTRACT_PACKAGE");
    throw CUpdaterException("the package cannot be extracted");
  }
}

HookVerdict CWinQXSubUpdater::RunBeforeUpdate(const CQXCustomFunction& hooks, unsigned char* restart) {
  return CHookActions(Context()).RunBeforeUpdate(hooks, restart);
}

HookVerdict CWinQXSubUpdater::RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart) {
  return CHookActions(Context()).RunAfterUpdate(hooks, restart);
}

void CWinQXSubUpdater::ApplyDeleteObjects(const CQXDeleteObjects& group) {
  RunPasses(PackageSection::kDelete, group, &group.uninstTarget, nullptr);
}

void CWinQXSubUpdater::ApplyUpdateObjects(const CQXUpdateObjects& group) {
  RunPasses(PackageSection::kUpdate, group, nullptr, &group.uninstallCustomFunction);
}

void CWinQXSubUpdater::ApplyAddObjects(const CQXAddObjects& group) {
  RunPasses(PackageSection::kAdd, group, &group.uninstTarget, nullptr);
}

void CWinQXSubUpdater::RunPasses(PackageSection section, const CQXBaseObjects& group,
                                 const CQXUninstallTarget* targets,
                                 const CQXUninstallCustomFunction* customFunction) {
  PackageContext& context = Context();
  CFileActions files(context);
  CRegistryActions registry(context);
  CShortcutActions shortcuts(context);
  CUninstallLogActions log(uninstallLog_.get());
  CQXPackageExecutor executor({&files, &registry, &shortcuts, &log}, [this] { RecordStepDone(); });
  executor.RunSection(section, PlanSectionActions(section, group, targets, customFunction));
}

void CWinQXSubUpdater::RegisterPendingComServers() {
  // The queue is emptied whatever ends the pass: a server is registered at most once.
  std::vector<const CQXFile*> queue;
  queue.swap(comQueue_);
  if (!CFileActions(Context()).RegisterComFiles(queue, false))
    throw CUpdaterException("a COM server's undo cannot be noted");
}

bool CWinQXSubUpdater::CreateFolderPath(const std::wstring& path) { return brindle::CreateFolderPath(path); }

// ---- the uninstall log ------------------------------------------------------------------------

bool CWinQXSubUpdater::OpenUninstallLog(const std::wstring& path) {
  uninstallLog_ = std::make_unique<CQXUninstallLog>(AppName(), installLog_, package_, uninstallerVersion_);
  std::wstring desktop;
  if (CFileActions::GetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, desktop))
    uninstallLog_->SetCommonDesktop(desktop);
  uninstallLog_->SetWrite64BitSections(IsWow64Windows());
  return uninstallLog_->Load(path);
}

bool CWinQXSubUpdater::SaveUninstallLog(const std::wstring& path) {
  if (!uninstallLog_) return false;
  if (journal_) {
    // The log is replaced by a rename of the new text written beside it: the old one is kept
    // for an undo, and the file beside it is removed by one.
    journal_->NoteNewFile(ToBackslashes(CQXUninstallLog::TemporaryPath(path)), false);
    journal_->Preserve(ToBackslashes(path), false, true);
  }
  const bool saved = uninstallLog_->Save(path);
  CrashPoint("uninstall-log-written");
  return saved;
}

bool CWinQXSubUpdater::SetStartupVersion(const std::wstring& version) {
  return uninstallLog_ && uninstallLog_->SetStartupVersion(version);
}

bool CWinQXSubUpdater::SetStartupAppName(const std::wstring& name) {
  return uninstallLog_ && uninstallLog_->SetStartupAppName(name);
}

bool CWinQXSubUpdater::IsProcessRunning(const std::wstring& exeName) {
  return brindle::IsProcessRunning(exeName);
}

}  // namespace brindle
