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

CQXSubUpdater* GetSubUpdater() { return g_subUpdater.load(); }
void SetSubUpdater(CQXSubUpdater* subUpdater) { g_subUpdater.store(subUpdater); }

}  // namespace brindle
