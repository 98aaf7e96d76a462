#include "sys/file_stream.h"

#include <io.h>

namespace brindle {

std::FILE* OpenFileForAppend(const std::wstring& path) { return _wfopen(path.c_str(), L"ab"); }

bool FlushFileToDisk(std::FILE* file) {
  return file && std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

}  // namespace brindle
