#include "apply/sub_updater.h"

#include <atomic>

namespace brindle {

namespace {
std::atomic<CQXSubUpdater*> g_subUpdater{nullptr};
}

CQXSubUpdater* GetSubUpdater() { return g_subUpdater.load(); }
void SetSubUpdater(CQXSubUpdater* subUpdater) { g_subUpdater.store(subUpdater); }

}  // namespace brindle
