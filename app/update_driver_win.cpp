#include "app/updater.h"

#include "app/command_line.h"
#include "app/coordination.h"
#include "ui/progress_context.h"
#include "app/update_driver.h"
#include "app/update_items.h"
#include "app/update_run.h"
#include "apply/sub_updater.h"
#include "logs/install_log.h"
#include "logs/service_log.h"
#include "sys/child_wait.h"
#include "sys/com_registration_win.h"
#include "sys/paths.h"
#include "sys/system_util.h"
#include "ui/messages.h"
#include "ui/progress_dialog.h"
#include "ui/resource.h"
#include "xml/xml_parser.h"

#include <windows.h>
#include <shlobj.h>

namespace brindle {

// ---- the updater --------------------------------------------------------------------------

CQXUpdater::CQXUpdater(const std::wstring& listPath, UpdateMode runMode) : mode(runMode) {
  installLogPath = InstallLogPath();
  bool loaded = false;
  if (!installLogPath.empty()) {
    if (mode == UpdateMode::kComponent) {
      actionList = std::make_unique<CQXActionListXML>();
      loaded = LoadActionList(listPath, *actionList) == ListLoad::kLoaded;
    } else {
      entries = std::make_unique<std::vector<DiffLocalEntry>>();
      loaded = LoadDiffLocalList(listPath, *entries) == ListLoad::kLoaded;
      const size_t slash = listPath.find_last_of(L'/');
      packageFolder = slash == std::wstring::npos ? std::wstring() : listPath.substr(0, slash);
    }
  }
  if (!loaded) {
    entries.reset();
    actionList.reset();
  }
  DeleteFileW(ToBackslashes(listPath).c_str());  // the list is used once, loaded or not
}

CQXUpdater::~CQXUpdater() = default;

std::wstring CQXUpdater::FirstDisplayName() const {
  return entries && !entries->empty() ? entries->front().DisplayName : std::wstring();
}

namespace {

// Waits, without spinning, until the condition holds.
template <typename Condition>
void WaitUntil(Condition condition) {
  while (!condition()) ::Sleep(20);
}

RunResult FinalMessageAndResult(CQXUpdater& updater, ProgressContext& context) {
  const std::wstring caption = updater.FirstDisplayName();
  if (context.failed) {
    ShowMessageBox(kButtonsOk, caption, FormatTableText(LoadMessage(IDS_UPDATE_FAILED), {caption}),
                   kIconError);
    return RunResult::kFailed;
  }
  if (context.cancelled) {
    ShowMessageBox(kButtonsOk, caption, LoadMessage(IDS_UPDATE_ABORTED), kIconError);
    return RunResult::kFailed;
  }
  if (context.quietEnd) return RunResult::kFailed;
  if (updater.items->RebootNeeded()) {
    return ShowMessageBox(kButtonsYesNo, caption, LoadMessage(IDS_REBOOT_QUESTION), kIconWarning) ==
                   AnswerCode::kYes
               ? RunResult::kDoneReboot
               : RunResult::kDone;
  }
  if (updater.mode == UpdateMode::kNoNotification) return RunResult::kDone;
  ShowMessageBox(kButtonsOk, caption, LoadMessage(IDS_UPDATE_DONE), kIconInformation);
  return RunResult::kDone;
}

}  // namespace

RunResult CQXUpdater::Run(CQXSystemUtil& systemUtil, CQXUpdateItems& runItems) {
  system = &systemUtil;
  items = &runItems;
  ProgressContext context;
  context.updater = this;
  context.Clear();
  ClearCancel();
  if (mode != UpdateMode::kComponent) {
    context.total = static_cast<int>(entries->size());
    context.done = 0;
    context.rangeMaximum = 100;
    context.SetTitle(LoadMessage(IDS_PROGRESS_TITLE));
  }
  if (system->StartThread(&UpdateWorker, &context) == 0) {
    context.failed = true;
    context.finished = true;
  }
  RunResult result = RunResult::kFailed;
  if (mode == UpdateMode::kComponent) {
    RunHiddenWindow(context);
    WaitUntil([&] { return context.finished.load(); });
    result = context.failed || context.quietEnd || context.cancelled ? RunResult::kFailed : RunResult::kDone;
  } else {
    ShowProgressDialog(LoadMessage(IDS_PROGRESS_CAPTION), context);
    // The dialog closes itself at the end; should it have failed to open, the run still
    // reports only what the worker has finished.
    WaitUntil([&] {
      return context.percent >= context.rangeMaximum || context.failed || context.quietEnd ||
             context.cancelled || context.finished;
    });
    int major = 0, minor = 0, servicePack = 0;
    if (system->GetOSVersion(major, minor, servicePack) && major == 6 && minor == 0) RefreshDesktop();
    result = FinalMessageAndResult(*this, context);
  }
  // The worker's last step is removing the temporary work folders: let it finish before the
  // context it works on goes away.
  WaitUntil([&] { return context.finished.load(); });
  return result;
}

// ---- the worker -----------------------------------------------------------------------------

namespace {

void AdvanceProgress(ProgressContext& context) {
  context.done = context.done + 1;
  context.percent = PercentDone(context.done, context.total);
}

// A run that stops shows where its whole items ended, the failing one not counted; set before
// the flag that closes the dialog, so that the dialog's last picture shows it.
void ShowWholeItemsOnly(ProgressContext& context) {
  context.percent = PercentDone(context.done, context.total);
}

// While a package is applied, the bar moves with its records, within the package's share of
// the run (never to 100 before the run has ended).
void FollowPackageRecords(CQXUpdater& updater, ProgressContext& context) {
  const int done = context.done;
  updater.items->SetRecordProgress([&context, done](int steps, int stepsTotal) {
    const int percent = PercentWithinItem(done, context.total, steps, stepsTotal);
    if (percent > context.percent) context.percent = percent;
  });
}

void SaveAndDiscard(std::unique_ptr<CQXInstallLog>& log, const CQXUpdater& updater,
                    ProgressContext& context) {
  if (!log) return;
  // A log that cannot be written back would leave the installer believing the old version is
  // installed: the run is reported as failed rather than done.
  if (!SaveInstallLog(*log, updater.installLogPath)) {
    ShowWholeItemsOnly(context);
    context.failed = true;
  }
  log.reset();
}

void RunPatchLoop(CQXUpdater& updater, ProgressContext& context) {
  const std::wstring titleFormat = LoadMessage(IDS_PROGRESS_TITLE);
  updater.items->RecoverInterruptedWork();
  std::unique_ptr<CQXInstallLog> installLog;
  for (const DiffLocalEntry& entry : *updater.entries) {
    const std::wstring packagePath = updater.packageFolder + L"/" + entry.FileName;
    const PackageKind kind = PackageKindOf(entry.FileName);
    if (kind == PackageKind::kSkipped) {
      AdvanceProgress(context);
      continue;
    }
    context.SetTitle(FormatTableText(titleFormat, {entry.DisplayName, LastPathComponent(entry.FileName)}));
    if (kind == PackageKind::kPatch) {
      if (!installLog) installLog = LoadInstallLog(updater.installLogPath);
      if (!installLog) {
        context.failed = true;
      } else {
        FollowPackageRecords(updater, context);
        const PatchResult result = updater.items->ApplyPatchPackage(*installLog, entry, packagePath);
        updater.items->SetRecordProgress(nullptr);
        if (result == PatchResult::kCancelled || result == PatchResult::kFailed) ShowWholeItemsOnly(context);
        if (result == PatchResult::kCancelled) context.cancelled = true;
        if (result == PatchResult::kCancelled || result == PatchResult::kFailed) {
          if (result == PatchResult::kFailed) context.failed = true;
        } else if (!updater.items->SaveAppliedPackage(*installLog, updater.installLogPath)) {
          // A log that cannot be written back would leave the installer believing the old
          // version is installed: the package is taken back and the run fails.
          context.failed = true;
        }
        installLog.reset();  // saved above, or the failing package's changes are not saved
      }
    } else {
      const SetupResult result = updater.items->RunSetupProgram(packagePath, entry);
      if (result == SetupResult::kFailed) context.failed = true;
      if (result == SetupResult::kReportedFailure) context.quietEnd = true;
    }
    SaveAndDiscard(installLog, updater, context);
    if (context.failed || context.quietEnd || context.cancelled) break;
    AdvanceProgress(context);
  }
}

// The result field of a progress record sent before the component's step has a result.
const int kNoResultYet = 0;

void ReportComponentStep(NoticeKind kind, const std::wstring& id, const ProgressContext& context,
                         int result) {
  WriteServiceLog({L"-", std::to_wstring(NoticeKindCode(kind)), id}, L"BR", L"THROW_MSG");
  NotifyGatewatch(id, kind, context.total, context.done, result, kHiddenWindowClass);
}

ComponentResult RunComponentItem(CQXUpdater& updater, ProgressContext& context, NoticeKind kind,
                                 const std::wstring& id) {
  CQXUpdateItems& items = *updater.items;
  const CQXActionListXML& list = *updater.actionList;
  if (kind == NoticeKind::kDeletePass) return items.DeleteComponent(list, id, context);
  if (kind == NoticeKind::kAddPass) return items.AddComponent(list, id, context);
  const ComponentResult deleted = items.DeleteComponent(list, id, context);
  const ComponentResult added =
      deleted == ComponentResult::kDone ? items.AddComponent(list, id, context) : deleted;
  return UpdateComponentResult(deleted, added);
}

void RunComponentPasses(CQXUpdater& updater, ProgressContext& context) {
  for (const ComponentPass& pass : ComponentPasses()) {
    if (context.cancelled) break;
    const std::vector<std::wstring> ids = pass.needsPath
                                              ? ActionIdsWithPath(*updater.actionList, pass.actionType)
                                              : ActionIds(*updater.actionList, pass.actionType);
    context.total = static_cast<int>(ids.size());
    context.done = 0;
    for (const std::wstring& id : ids) {
      WriteServiceLog({L"-", id, std::to_wstring(NoticeKindCode(pass.kind))}, L"BR",
                      L"START_COMPONENT_INSTALLATION");
      ReportComponentStep(pass.kind, id, context, kNoResultYet);
      updater.system->Sleep(1000);
      if (context.cancelled) break;
      const ComponentResult result = RunComponentItem(updater, context, pass.kind, id);
      context.done = context.done + 1;
      ReportComponentStep(pass.kind, id, context, ComponentResultCode(result));
    }
  }
}

}  // namespace

unsigned UpdateWorker(void* argument) {
  ProgressContext& context = *static_cast<ProgressContext*>(argument);
  CQXUpdater& updater = *context.updater;
  {
    // The shell (wrapper programs, shortcuts) and COM servers are used from this thread.
    CComInitialization com;
    if (updater.mode == UpdateMode::kComponent) RunComponentPasses(updater, context);
    else RunPatchLoop(updater, context);
  }
  // The dialog shows the end now rather than at its next look.
  WakeProgressDialog(context);
  if (updater.mode == UpdateMode::kComponent) {
    WriteServiceLog({L"-"}, L"BR", L"THROW_MSG");
    SendEndOfRun();
  }
  updater.items->RemoveLeftovers();
  RemoveTempFolder(L"Tamek_Inc_RW/Pollwick");
  RemoveTempFolder(L"Tamek_Inc_RW/Brindle");
  RemoveWorkRoot();
  context.finished = true;
  WakeProgressDialog(context);
  return 0;
}

// ---- the driver entry -----------------------------------------------------------------------

namespace {

// The results the launcher receives when a component-mode run cannot start.
const int kRunNoticeBusy = 1;
const int kRunNoticeUnreadableList = 10;

void ReportRunNotice(int result) {
  WriteServiceLog({L"-", std::to_wstring(result)}, L"BR", L"THROW_MSG");
  NotifyGatewatch(L"", NoticeKind::kRun, 0, 0, result, L"");
}

void ReportBusy(const CQXUpdater& updater, UpdateMode mode) {
  if (mode == UpdateMode::kComponent) {
    ReportRunNotice(kRunNoticeBusy);
  } else {
    ShowMessageBox(kButtonsOk, updater.FirstDisplayName(), LoadMessage(IDS_INSTALLER_BUSY), kIconError);
  }
}

void ReportUnreadableList(UpdateMode mode) {
  if (mode == UpdateMode::kComponent) {
    ReportRunNotice(kRunNoticeUnreadableList);
  } else {
    ShowMessageBox(kButtonsOk, LoadMessage(IDS_SERVICE_CAPTION), LoadMessage(IDS_START_REFUSED), kIconError);
  }
}

RunResult RunLoadedList(CQXUpdater& updater, CQXSystemUtil& system, CQXUpdateItems& items, UpdateMode mode) {
  if (IsUpdateRunning()) {
    ReportBusy(updater, mode);
    return RunResult::kFailed;
  }
  updater.instanceMutex.Reset(static_cast<HANDLE>(CreateInstanceMutex()));
  if (!updater.instanceMutex || IsInstallerBusy(InstallerMutexNames())) {
    ReportBusy(updater, mode);
    return RunResult::kFailed;
  }
  return updater.Run(system, items);
}

}  // namespace

RunResult RunUpdateWith(const std::wstring& listPath, CQXSystemUtil* system, CQXSubUpdater* subUpdater,
                        CQXUpdateItems& items, UpdateMode mode) {
  SetSubUpdater(subUpdater);
  SetSystemUtil(system);
  RunResult result = RunResult::kFailed;
  {
    CQXUpdater updater(listPath, mode);
    if (!updater.Loaded()) ReportUnreadableList(mode);
    else if (system) result = RunLoadedList(updater, *system, items, mode);
    DestroyXMLParser();
    SetSubUpdater(nullptr);
    SetSystemUtil(nullptr);
  }
  return result;
}

RunResult RunUpdate(const std::wstring& listPath, CQXSystemUtil* system, CQXSubUpdater* subUpdater,
                    UpdateMode mode) {
  CWinQXUpdateItems items(subUpdater);
  return RunUpdateWith(listPath, system, subUpdater, items, mode);
}

}  // namespace brindle
