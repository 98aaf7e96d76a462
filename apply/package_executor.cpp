#include "apply/package_executor.h"

#include "apply/crash_point.h"
#include "apply/sub_updater.h"

#include <string>

namespace brindle {

ActionFamily FamilyOf(PackagePass pass) {
  switch (pass) {
    case PackagePass::kUnregisterComServers:
    case PackagePass::kDeleteFiles:
    case PackagePass::kCopyFiles:
    case PackagePass::kQueueComServers: return ActionFamily::kFiles;
    case PackagePass::kDeleteRegistry:
    case PackagePass::kWriteRegistry: return ActionFamily::kRegistry;
    case PackagePass::kDeleteShortcuts:
    case PackagePass::kCreateShortcuts: return ActionFamily::kShortcuts;
    case PackagePass::kUninstallTargets:
    case PackagePass::kUninstallCustomFunction: break;
  }
  return ActionFamily::kUninstallLog;
}

bool CountsAsRecordStep(PackagePass pass) {
  switch (pass) {
    case PackagePass::kDeleteShortcuts:
    case PackagePass::kDeleteRegistry:
    case PackagePass::kDeleteFiles:
    case PackagePass::kCopyFiles:
    case PackagePass::kWriteRegistry:
    case PackagePass::kCreateShortcuts: return true;
    case PackagePass::kUnregisterComServers:
    case PackagePass::kQueueComServers:
    case PackagePass::kUninstallTargets:
    case PackagePass::kUninstallCustomFunction: break;
  }
  return false;
}

CQXPackageExecutor::CQXPackageExecutor(const Families& families, std::function<void()> recordStepDone)
    : families_(families), recordStepDone_(std::move(recordStepDone)) {}

CQXActionFamily& CQXPackageExecutor::FamilyFor(PackagePass pass) const {
  CQXActionFamily* family = nullptr;
  switch (FamilyOf(pass)) {
    case ActionFamily::kFiles: family = families_.files; break;
    case ActionFamily::kRegistry: family = families_.registry; break;
    case ActionFamily::kShortcuts: family = families_.shortcuts; break;
    case ActionFamily::kUninstallLog: family = families_.uninstallLog; break;
  }
  if (!family) throw CUpdaterException("no action class for a step of the package");
  return *family;
}

void CQXPackageExecutor::RunSection(PackageSection section, const std::vector<PackageAction>& actions) {
  for (const PackageStep& step : PackageSteps()) {
    if (step.section != section) continue;
    std::vector<PackageAction> ofStep;
    for (const PackageAction& action : actions)
      if (action.step.section == section && action.step.pass == step.pass) ofStep.push_back(action);
    if (RunStep(step, ofStep) == StepOutcome::kFailed)
      throw CUpdaterException("a step of the package failed");
  }
}

namespace {

// Closes the step however its actions end.
class StepCloser {
 public:
  StepCloser(CQXActionFamily& family, const PackageStep& step) : family_(family), step_(step) {}
  ~StepCloser() {
    if (!closed_) family_.EndStep(step_);
  }
  StepOutcome Close() {
    closed_ = true;
    return family_.EndStep(step_);
  }

 private:
  CQXActionFamily& family_;
  const PackageStep& step_;
  bool closed_ = false;
};

}  // namespace

StepOutcome CQXPackageExecutor::RunStep(const PackageStep& step, const std::vector<PackageAction>& actions) {
  CQXActionFamily& family = FamilyFor(step.pass);
  const bool counted = CountsAsRecordStep(step.pass);
  StepCloser closer(family, step);
  if (family.BeginStep(step, actions) == StepOutcome::kFailed) {
    closer.Close();
    return StepOutcome::kFailed;
  }
  bool failed = false;
  for (const PackageAction& action : actions) {
    if (counted && recordStepDone_) recordStepDone_();
    const ActionOutcome outcome = family.Do(action);
    CrashPoint("action-done");
    if (outcome == ActionOutcome::kFailed || outcome == ActionOutcome::kFailPackage) failed = true;
    if (outcome == ActionOutcome::kStopPass || outcome == ActionOutcome::kFailPackage) break;
  }
  const StepOutcome closed = closer.Close();
  if (!actions.empty()) CrashPoint("step-ended");
  return failed || closed == StepOutcome::kFailed ? StepOutcome::kFailed : StepOutcome::kCompleted;
}

namespace {

// Hands each record to the family that undoes its kind.
class FamilyDispatch : public CQXUndoTarget {
 public:
  explicit FamilyDispatch(const std::vector<CQXUndoFamily*>& families) : families_(families) {}
  unsigned long Undo(const UndoRecord& record) override {
    for (CQXUndoFamily* family : families_)
      if (family && family->Undoes(record.kind)) return family->Undo(record);
    return kNoFamily;
  }

 private:
  static const unsigned long kNoFamily = 87;  // the system's "invalid parameter"
  const std::vector<CQXUndoFamily*>& families_;
};

}  // namespace

bool UndoByFamilies(const std::vector<UndoRecord>& records, const std::vector<CQXUndoFamily*>& families,
                    const std::function<bool(const std::vector<size_t>&)>& markUndone) {
  FamilyDispatch dispatch(families);
  return UndoRecords(records, dispatch, markUndone);
}

}  // namespace brindle
