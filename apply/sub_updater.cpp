#include "apply/sub_updater.h"

#include "logs/update_lists.h"

#include <atomic>

namespace brindle {

namespace {
std::atomic<CQXSubUpdater*> g_subUpdater{nullptr};
}

std::wstring CQXSubUpdater::AppName() const { return application_ ? application_->AppName : std::wstring(); }

void CQXSubUpdater::BeginApplication(CQXInstallLog* log, const DiffLocalEntry* entry) {
  installLog_ = log;
  application_ = entry;
  uninstallerVersion_.clear();
}

void CQXSubUpdater::SetPackage(const std::wstring& folder, const CQXDiffDistribute* diff) {
  packageFolder_ = folder;
  package_ = diff;
}

void CQXSubUpdater::BeginRecordSteps(int total) {
  recordSteps_ = total > 0 ? total : 0;
  recordStepsDone_ = 0;
}

void CQXSubUpdater::RecordStepDone() {
  if (recordStepsDone_ < recordSteps_) ++recordStepsDone_;
  if (recordProgress && recordSteps_ > 0) recordProgress(recordStepsDone_, recordSteps_);
}

CQXSubUpdater* GetSubUpdater() { return g_subUpdater.load(); }
void SetSubUpdater(CQXSubUpdater* subUpdater) { g_subUpdater.store(subUpdater); }

}  // namespace brindle
