// The install log's place on Windows: under the common application-data folder.
#include "logs/install_log.h"

#include "sys/paths.h"

#include <windows.h>
#include <shlobj.h>

namespace brindle {

std::wstring InstallLogPath() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return std::wstring();
  return ToForwardSlashes(std::wstring(folder) + kInstallLogSubpath);
}

}  // namespace brindle
