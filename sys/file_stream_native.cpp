#include "sys/file_stream.h"

#include "sys/paths.h"
#include "sys/text.h"

namespace brindle {

std::FILE* OpenFileForAppend(const std::wstring& path) {
  return std::fopen(Utf8FromWide(ToForwardSlashes(path)).c_str(), "ab");
}

}  // namespace brindle
