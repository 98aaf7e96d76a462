#include "apply/win_sub_updater_win.h"

#include "apply/action_line.h"
#include "apply/file_actions_win.h"
#include "apply/registry_actions_win.h"
#include "apply/shortcut_actions_win.h"
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

bool HasComServer(const FileList& files) {
  for (const auto& file : files)
    if (file && file->com == kComRegister) return true;
  return false;
}

void RefuseUnsupportedContent(const CQXDiffDistribute& package) {
  const CQXBaseObjects* groups[] = {package.deleteObjects.get(), package.updateObjects.get(),
                                    package.addObjects.get()};
  for (const CQXBaseObjects* group : groups) {
    RefuseUnsupported(L"COM server", HasComServer(group->files));
  }
  RefuseUnsupported(L"AfterUpdate hook", !package.customFunction->afterUpdate.name.empty());
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

std::wstring CWinQXSubUpdater::GetUninstallWrapperPath(const std::wstring&) { return {}; }
std::wstring CWinQXSubUpdater::GetWrapperFolder(const std::wstring&) { return {}; }
int CWinQXSubUpdater::RunWrapperUpdate(const std::wstring&, const std::wstring&, const std::wstring&) {
  return kRunProgramFailed;
}
int CWinQXSubUpdater::InstallWrapper(const std::wstring&, const std::wstring&, const std::wstring&,
                                     const std::wstring&) {
  return kRunProgramFailed;
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
  if (restart) *restart = 0;
  if (hooks.beforeUpdate.name.empty()) return 0;
  WriteServiceLog({L"-", L"BeforeUpdate hook", L"error", L"0"}, L"BR", L"NOT_SUPPORTED");
  return 1;
}

int CWinQXSubUpdater::RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart) {
  if (restart) *restart = 0;
  if (hooks.afterUpdate.name.empty()) return 0;
  WriteServiceLog({L"-", L"AfterUpdate hook", L"error", L"0"}, L"BR", L"NOT_SUPPORTED");
  return 1;
}

void CWinQXSubUpdater::ApplyDeleteObjects(const CQXDeleteObjects& group) {
  // The first pass of a package: nothing has been changed yet, so a package holding objects
  // that cannot be applied is refused here as a whole.
  if (package) RefuseUnsupportedContent(*package);
  CShortcutActions(*this).DeleteShortcuts(group.shortCuts, false);
  CRegistryActions(*this).DeleteRegistry(group.registries, false);
  CFileActions(*this).DeleteFiles(group.files, false);
  if (!group.uninstTarget.IsEmpty() && uninstallLog_) uninstallLog_->RemoveUninstallTargets(group.uninstTarget);
}

void CWinQXSubUpdater::ApplyUpdateObjects(const CQXUpdateObjects& group) {
  CFileActions files(*this);
  files.DeleteFiles(group.files, true);
  files.CopyFiles(group.files, false);
  CRegistryActions registry(*this);
  registry.DeleteRegistry(group.registries, true);
  registry.WriteRegistry(group.registries, false);
  CShortcutActions shortcuts(*this);
  shortcuts.DeleteShortcuts(group.shortCuts, true);
  shortcuts.CreateShortcuts(group.shortCuts, false);
  if (!group.uninstallCustomFunction.absent && uninstallLog_)
    uninstallLog_->WriteUninstallCustomFunction(group.uninstallCustomFunction);
}

void CWinQXSubUpdater::ApplyAddObjects(const CQXAddObjects& group) {
  CFileActions(*this).CopyFiles(group.files, true);
  CRegistryActions(*this).WriteRegistry(group.registries, true);
  CShortcutActions(*this).CreateShortcuts(group.shortCuts, true);
  if (!group.uninstTarget.IsEmpty() && uninstallLog_) uninstallLog_->AddUninstallTargets(group.uninstTarget);
}

void CWinQXSubUpdater::RegisterPendingComServers() { comQueue_.clear(); }

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
