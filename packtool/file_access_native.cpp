#include "packtool/file_access.h"

#include "sys/text.h"

namespace brindle::pack {

fs::path FsPath(const std::wstring& path) {
  std::wstring p = path;
  for (wchar_t& c : p)
    if (c == L'\\') c = L'/';
  return fs::path(Utf8FromWide(p));
}

std::wstring WidePath(const fs::path& path) { return WideFromUtf8(path.generic_string()); }

}  // namespace brindle::pack
