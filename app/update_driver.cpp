#include "app/update_driver.h"

namespace brindle {

// No run can be carried out yet: every run fails, honestly, without touching anything.
int RunUpdate(const std::wstring&, CQXSystemUtil*, CQXSubUpdater*, int) { return kRunFailed; }

}  // namespace brindle
