#include "wine_quirks.h"

namespace brindle {
std::wstring ToBackslashesForTest(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}
}  // namespace brindle
