#include "uninstlog/path_key.h"

namespace brindle {

std::wstring FilePathKey(const std::wstring& path) {
  std::wstring key;
  key.reserve(path.size());
  size_t i = 0;
  // A network path keeps its two leading separators: "\\server" is not "\server".
  if (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/')) {
    key = L"\\\\";
    i = 2;
  }
  for (; i < path.size(); ++i) {
    const wchar_t c = path[i] == L'/' ? L'\\' : path[i];
    if (c == L'\\' && !key.empty() && key.back() == L'\\') continue;  // one of a run
    key += c;
  }
  return UpperOrdinal(std::move(key));
}

std::wstring RegistryPathKey(const std::wstring& path) { return UpperOrdinal(path); }

}  // namespace brindle
