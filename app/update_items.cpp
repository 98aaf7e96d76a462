#include "app/update_items.h"

#include "logs/install_log.h"

namespace brindle {

bool CQXUpdateItems::SaveAppliedPackage(CQXInstallLog& log, const std::wstring& installLogPath) {
  return SaveInstallLog(log, installLogPath);
}

}  // namespace brindle
