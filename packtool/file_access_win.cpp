#include "packtool/file_access.h"

namespace brindle::pack {

fs::path FsPath(const std::wstring& path) { return fs::path(path); }

std::wstring WidePath(const fs::path& path) { return path.generic_wstring(); }

}  // namespace brindle::pack
