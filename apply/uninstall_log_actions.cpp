#include "apply/uninstall_log_actions.h"

#include "apply/sub_updater.h"
#include "package/diff_distribute.h"
#include "uninstlog/uninstall_log.h"

namespace brindle {

ActionOutcome CUninstallLogActions::Do(const PackageAction& action) {
  switch (action.step.pass) {
    case PackagePass::kUninstallTargets: {
      const CQXUninstallTarget* targets = action.uninstallTargets;
      if (!targets || targets->IsEmpty() || !log_) return ActionOutcome::kSkipped;
      if (action.step.section == PackageSection::kAdd) log_->AddUninstallTargets(*targets);
      else log_->RemoveUninstallTargets(*targets);
      return ActionOutcome::kDone;
    }
    case PackagePass::kUninstallCustomFunction: {
      const CQXUninstallCustomFunction* record = action.customFunction;
      if (!record || record->absent || !log_) return ActionOutcome::kSkipped;
      log_->WriteUninstallCustomFunction(*record);
      return ActionOutcome::kDone;
    }
    default: break;
  }
  throw CUpdaterException("a step the uninstall log does not take");
}

}  // namespace brindle
