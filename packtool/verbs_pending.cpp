// Verbs still being written.
#include "packtool/pack_tool.h"
#include "packtool/report.h"

namespace brindle::pack {
int RunPlan(const std::vector<std::wstring>&, std::ostream&, std::ostream& err) {
  PrintLine(err, L"brindle-pack plan: not available in this build yet");
  return kExitFailed;
}
}  // namespace brindle::pack
