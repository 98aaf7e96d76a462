// Putting a saved uninstall log in place on Windows.
#include "uninstlog/uninstall_log.h"

#include "sys/paths.h"

#include <windows.h>

namespace brindle {

bool ReplaceFileInOneStep(const std::wstring& temporaryPath, const std::wstring& path) {
  // One rename that replaces the old log: either the old log or the new one is there, whole,
  // at every moment; write-through makes the rename itself reach the disk before the return.
  return MoveFileExW(ToBackslashes(temporaryPath).c_str(), ToBackslashes(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFileIfPresent(const std::wstring& path) {
  if (DeleteFileW(ToBackslashes(path).c_str())) return true;
  return IsMissingPathError(GetLastError());
}

}  // namespace brindle
