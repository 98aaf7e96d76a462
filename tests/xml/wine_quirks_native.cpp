#include "wine_quirks.h"

namespace brindle {
bool RunningUnderWine() { return false; }
}  // namespace brindle
