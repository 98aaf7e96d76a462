#include "apply/win_sub_updater_win.h"

#include "sys/env.h"
#include "uninstlog/uninstall_log.h"

// Placeholder until the passes land: every operation fails and changes nothing.

namespace brindle {

CWinQXSubUpdater::CWinQXSubUpdater() = default;
CWinQXSubUpdater::~CWinQXSubUpdater() = default;

int CWinQXSubUpdater::RunSetupProgram(const std::wstring&, const DiffLocalEntry*) { return kRunProgramFailed; }
std::wstring CWinQXSubUpdater::GetUninstallWrapperPath(const std::wstring&) { return {}; }
std::wstring CWinQXSubUpdater::GetWrapperFolder(const std::wstring&) { return {}; }
int CWinQXSubUpdater::RunWrapperUpdate(const std::wstring&, const std::wstring&, const std::wstring&) {
  return kRunProgramFailed;
}
int CWinQXSubUpdater::InstallWrapper(const std::wstring&, const std::wstring&, const std::wstring&,
                                     const std::wstring&) {
  return kRunProgramFailed;
}
void CWinQXSubUpdater::ExtractPackage(const std::wstring&) { throw CUpdaterException("extract"); }
int CWinQXSubUpdater::RunBeforeUpdate(const CQXCustomFunction&, unsigned char*) { return 1; }
int CWinQXSubUpdater::RunAfterUpdate(const CQXCustomFunction&, unsigned char*) { return 1; }
void CWinQXSubUpdater::ApplyDeleteObjects(const CQXDeleteObjects&) { throw CUpdaterException("delete"); }
void CWinQXSubUpdater::ApplyAddObjects(const CQXAddObjects&) { throw CUpdaterException("add"); }
void CWinQXSubUpdater::ApplyUpdateObjects(const CQXUpdateObjects&) { throw CUpdaterException("update"); }
void CWinQXSubUpdater::RegisterPendingComServers() { comQueue_.clear(); }
bool CWinQXSubUpdater::CreateFolderPath(const std::wstring&) { return false; }
bool CWinQXSubUpdater::OpenUninstallLog(const std::wstring&) { return false; }
bool CWinQXSubUpdater::SaveUninstallLog(const std::wstring&) { return false; }
bool CWinQXSubUpdater::SetStartupVersion(const std::wstring&) { return false; }
bool CWinQXSubUpdater::SetStartupAppName(const std::wstring&) { return false; }
bool CWinQXSubUpdater::UpdateUninstallerFiles(const std::wstring&) { return false; }
bool CWinQXSubUpdater::IsProcessRunning(const std::wstring&) { return false; }
CQXEnv CWinQXSubUpdater::MakeEnv() const {
  return CQXEnv(AppName(), installLog, package, uninstallerVersion);
}

}  // namespace brindle
