// The component flows of an update item: a component removed or installed through the
// installer wrapper, answered through the shared settings and reported with its result.
#include "app/update_items.h"

#include "app/updater.h"
#include "apply/sub_updater.h"
#include "logs/install_log.h"
#include "logs/service_log.h"
#include "logs/update_lists.h"
#include "ui/progress_context.h"

#include <memory>

namespace brindle {

namespace {

// The install log of the run for a component flow; none when the run has no readable log.
std::unique_ptr<CQXInstallLog> LoadRunInstallLog(const ProgressContext& context) {
  const std::wstring path = context.updater ? context.updater->installLogPath : InstallLogPath();
  return path.empty() ? nullptr : LoadInstallLog(path);
}

// A removal the wrapper reported as failed ends the run quietly; one it could not run fails it.
ComponentResult DeleteResultOf(RunProgramResult run) {
  switch (run) {
    case RunProgramResult::kDone: return ComponentResult::kDone;
    case RunProgramResult::kReportedFailure: return ComponentResult::kDeleteFailedQuietly;
    case RunProgramResult::kFailed: break;
  }
  return ComponentResult::kFailed;
}

ComponentResult AddResultOf(RunProgramResult run) {
  switch (run) {
    case RunProgramResult::kDone: return ComponentResult::kDone;
    case RunProgramResult::kReportedFailure: return ComponentResult::kAddFailed;
    case RunProgramResult::kFailed: break;
  }
  return ComponentResult::kFailed;
}

}  // namespace

ComponentResult CWinQXUpdateItems::DeleteComponent(const CQXActionListXML& list, const std::wstring& id,
                                                   ProgressContext& context) {
  const std::wstring& parent = list.ParentAppName;
  const std::wstring key = id + L"__for__" + parent;
  ComponentResult result = ComponentResult::kFailed;
  const std::unique_ptr<CQXInstallLog> log = subUpdater_ ? LoadRunInstallLog(context) : nullptr;
  if (const InstallLogEntry* entry = log ? FindEntry(*log, key) : nullptr) {
    const std::wstring wrapper = subUpdater_->GetUninstallWrapperPath(entry->uninstallerVersion.text);
    WriteServiceLog({L"-", wrapper, parent, key}, L"BR", L"DELETE_COMPONENT");
    result = DeleteResultOf(subUpdater_->RunWrapperUpdate(wrapper, parent, id));
  }
  if (result == ComponentResult::kFailed) context.failed = true;
  if (result == ComponentResult::kDeleteFailedQuietly) context.quietEnd = true;
  WriteServiceLog({L"-", std::to_wstring(ComponentResultCode(result))}, L"BR", L"DELETE_COMPONENT");
  return result;
}

ComponentResult CWinQXUpdateItems::AddComponent(const CQXActionListXML& list, const std::wstring& id,
                                                ProgressContext& context) {
  const std::wstring& parent = list.ParentAppName;
  ComponentResult result = ComponentResult::kFailed;
  const std::unique_ptr<CQXInstallLog> log = subUpdater_ ? LoadRunInstallLog(context) : nullptr;
  if (const InstallLogEntry* entry = log ? FindEntry(*log, parent) : nullptr) {
    const std::wstring source = ActionPath(list, id);
    WriteServiceLog({L"-", source, parent, entry->FullPath, id}, L"BR", L"ADD_COMPONENT");
    const std::wstring folder = subUpdater_->GetWrapperFolder(entry->installerVersion.text);
    result = AddResultOf(subUpdater_->InstallWrapper(folder, source, parent, entry->FullPath));
  }
  if (result != ComponentResult::kDone) context.failed = true;
  WriteServiceLog({L"-", std::to_wstring(ComponentResultCode(result))}, L"BR", L"ADD_COMPONENT");
  return result;
}

}  // namespace brindle
