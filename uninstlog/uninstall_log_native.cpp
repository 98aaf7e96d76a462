// Putting a saved uninstall log in place on the native build.
#include "uninstlog/uninstall_log.h"

#include "sys/paths.h"
#include "sys/text.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace brindle {

bool ReplaceFileInOneStep(const std::wstring& temporaryPath, const std::wstring& path) {
  // rename(2) replaces the old log atomically: it is there whole, old or new, at every moment.
  return std::rename(Utf8FromWide(ToForwardSlashes(temporaryPath)).c_str(),
                     Utf8FromWide(ToForwardSlashes(path)).c_str()) == 0;
}

bool RemoveFileIfPresent(const std::wstring& path) {
  return unlink(Utf8FromWide(ToForwardSlashes(path)).c_str()) == 0 || errno == ENOENT;
}

}  // namespace brindle
