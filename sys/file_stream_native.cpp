#include "sys/file_stream.h"

#include "sys/paths.h"
#include "sys/text.h"

#include <unistd.h>

namespace brindle {

std::FILE* OpenFileForAppend(const std::wstring& path) {
  return std::fopen(Utf8FromWide(ToForwardSlashes(path)).c_str(), "ab");
}

bool FlushFileToDisk(std::FILE* file) { return file && std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

}  // namespace brindle
