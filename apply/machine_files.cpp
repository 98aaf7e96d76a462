#include "apply/machine_files.h"

#include "sys/paths.h"
#include "uninstlog/path_key.h"

namespace brindle {

std::wstring FolderKey(const std::wstring& path, bool is64Bit) {
  return (is64Bit ? L"64|" : L"32|") + FilePathKey(FolderOf(path));
}

}  // namespace brindle
