#include "apply/sub_updater.h"

#include "logs/update_lists.h"

#include <atomic>

namespace brindle {

namespace {
std::atomic<CQXSubUpdater*> g_subUpdater{nullptr};
}

std::wstring CQXSubUpdater::AppName() const {
  return application ? application->AppName : std::wstring();
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
