// Reading the uninstall log from disk: opened with sharing for readers only, so that a writer
// that holds the file open makes the load fail instead of reading a half-written log.
#include "uninstlog/ini_file.h"

#include "sys/file_util.h"

namespace brindle {

bool ReadUninstallLogBytes(const std::wstring& path, std::string& bytes) {
  return ReadWholeFile(path, bytes, false);
}

}  // namespace brindle
