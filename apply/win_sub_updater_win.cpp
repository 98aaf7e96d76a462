#include "apply/win_sub_updater_win.h"

#include "apply/action_line.h"
#include "apply/file_actions_win.h"
#include "apply/hook_actions_win.h"
#include "apply/setup_program_win.h"
#include "apply/wrapper_actions_win.h"
#include "logs/install_log.h"
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

namespace {

// Objects of a package that this program does not apply yet. Such a package is refused as a
// whole: reporting success for work that was not done would leave the machine and the
// uninstall log disagreeing with what the package says.
void RefuseUnsupported(const wchar_t* what, bool present) {
  if (!present) return;
  WriteServiceLog({L"-", what, L"error", L"0"}, L"BR", L"NOT_SUPPORTED");
  throw CUpdaterException("the package holds objects this program cannot apply");
}

void RefuseUnsupportedContent(const CQXDiffDistribute& package) {
  const CQXBaseObjects* groups[] = {package.deleteObjects.get(), package.updateObjects.get(),
                                    package.addObjects.get()};
  for (const CQXBaseObjects* group : groups) {
    RefuseUnsupported(L"registry value", !group->registries.empty());
    RefuseUnsupported(L"shortcut", !group->shortCuts.empty());
  }
  RefuseUnsupported(L"uninstall target", !package.deleteObjects->uninstTarget.IsEmpty() ||
                                             !package.addObjects->uninstTarget.IsEmpty());
  RefuseUnsupported(L"uninstall custom function", !package.updateObjects->uninstallCustomFunction.absent);
}

}  // namespace

CWinQXSubUpdater::CWinQXSubUpdater() = default;
CWinQXSubUpdater::~CWinQXSubUpdater() = default;

CQXEnv CWinQXSubUpdater::MakeEnv() const {
  return CQXEnv(AppName(), installLog, package, uninstallerVersion);
}

// ---- setup programs and the installer wrapper -------------------------------------------------

int CWinQXSubUpdater::RunSetupProgram(const std::wstring& path, const DiffLocalEntry* entry) {
  application = entry;
  CSetupProgram setup;
  const int result = setup.Run(path);
  if (setup.RebootRequested()) rebootNeeded = true;
  return result;
}

std::wstring CWinQXSubUpdater::GetUninstallWrapperPath(const std::wstring&) {
  return CWrapperActions::GetUninstallWrapperPath();
}
std::wstring CWinQXSubUpdater::GetWrapperFolder(const std::wstring& wrapperVersion) {
  return CWrapperActions::GetWrapperFolder(wrapperVersion);
}
int CWinQXSubUpdater::RunWrapperUpdate(const std::wstring& wrapperPath, const std::wstring& parentName,
                                       const std::wstring& componentName) {
  return CWrapperActions::RunWrapperUpdate(wrapperPath, parentName, componentName);
}
int CWinQXSubUpdater::InstallWrapper(const std::wstring& wrapperFolder, const std::wstring& componentFolder,
                                     const std::wstring& parentName, const std::wstring& parentFolder) {
  return CWrapperActions::InstallWrapper(wrapperFolder, componentFolder, parentName, parentFolder);
}

bool CWinQXSubUpdater::UpdateUninstallerFiles(const std::wstring& cabinetFolder) {
  return CWrapperActions(*this).UpdateUninstallerFiles(cabinetFolder);
}

// ---- the package ------------------------------------------------------------------------------

void CWinQXSubUpdater::ExtractPackage(const std::wstring& cabinetPath) {
  if (!ExtractCabinet(ToBackslashes(cabinetPath), ToBackslashes(packageFolder))) {
    WriteServiceLog({L"-", cabinetPath, L"error", L"0"}, L"BR", L"EXTRACT_PACKAGE");
    throw CUpdaterException("the package cannot be extracted");
  }
}

int CWinQXSubUpdater::RunBeforeUpdate(const CQXCustomFunction& hooks, unsigned char* restart) {
  return CHookActions(*this).RunBeforeUpdate(hooks, restart);
}

int CWinQXSubUpdater::RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart) {
  return CHookActions(*this).RunAfterUpdate(hooks, restart);
}

void CWinQXSubUpdater::ApplyDeleteObjects(const CQXDeleteObjects& group) {
  // The first pass of a package: nothing has been changed yet, so a package holding objects
  // that cannot be applied is refused here as a whole.
  if (package) RefuseUnsupportedContent(*package);
  CFileActions files(*this);
  files.RegisterComFiles(ComServersOf(group.files), true);  // before anything is removed
  files.DeleteFiles(group.files, false);
}

void CWinQXSubUpdater::ApplyUpdateObjects(const CQXUpdateObjects& group) {
  CFileActions files(*this);
  files.RegisterComFiles(ComServersOf(group.files), true);
  files.DeleteFiles(group.files, true);
  files.CopyFiles(group.files, false);
  QueueComServers(group.files);
}

void CWinQXSubUpdater::ApplyAddObjects(const CQXAddObjects& group) {
  CFileActions(*this).CopyFiles(group.files, true);
  QueueComServers(group.files);
}

void CWinQXSubUpdater::QueueComServers(const FileList& files) {
  const std::vector<const CQXFile*> servers = ComServersOf(files);
  comQueue_.insert(comQueue_.end(), servers.begin(), servers.end());
}

void CWinQXSubUpdater::RegisterPendingComServers() {
  // The queue is emptied whatever ends the pass: a server is registered at most once.
  std::vector<const CQXFile*> queue;
  queue.swap(comQueue_);
  CFileActions(*this).RegisterComFiles(queue, false);
}

bool CWinQXSubUpdater::CreateFolderPath(const std::wstring& path) {
  return brindle::CreateFolderPath(path);
}

// ---- the uninstall log ------------------------------------------------------------------------

bool CWinQXSubUpdater::OpenUninstallLog(const std::wstring& path) {
  uninstallLog_ = std::make_unique<CQXUninstallLog>(AppName(), installLog, package, uninstallerVersion);
  std::wstring desktop;
  if (CFileActions::GetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, desktop))
    uninstallLog_->SetCommonDesktop(desktop);
  uninstallLog_->SetWrite64BitSections(IsWow64Windows());
  return uninstallLog_->Load(path);
}

bool CWinQXSubUpdater::SaveUninstallLog(const std::wstring& path) {
  return uninstallLog_ && uninstallLog_->Save(path);
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
