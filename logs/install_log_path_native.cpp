// The install log's place on the native build: the machine-wide data folder /var/lib stands for
// the common application-data folder.
#include "logs/install_log.h"

#include "sys/paths.h"

namespace brindle {

std::wstring InstallLogPath() { return ToForwardSlashes(std::wstring(L"/var/lib") + kInstallLogSubpath); }

}  // namespace brindle
