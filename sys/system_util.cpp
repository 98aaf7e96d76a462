#include "sys/system_util.h"

#include <atomic>

namespace brindle {

namespace {
std::atomic<CQXSystemUtil*> g_systemUtil{nullptr};
}

CQXSystemUtil* GetSystemUtil() { return g_systemUtil.load(); }
void SetSystemUtil(CQXSystemUtil* system) { g_systemUtil.store(system); }

}  // namespace brindle
