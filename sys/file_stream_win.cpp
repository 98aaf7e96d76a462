#include "sys/file_stream.h"

namespace brindle {

std::FILE* OpenFileForAppend(const std::wstring& path) { return _wfopen(path.c_str(), L"ab"); }

}  // namespace brindle
