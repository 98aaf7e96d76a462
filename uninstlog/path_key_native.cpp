// Upper case on the native build: ASCII and Latin-1 by rule, other characters by the C
// library (the test build's stand-in for the system's table).
#include "uninstlog/path_key.h"

#include <cwctype>

namespace brindle {

std::wstring UpperOrdinal(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) c = static_cast<wchar_t>(c - 0x20);
    else if (c == 0xFF) c = static_cast<wchar_t>(0x178);
    else if (c > 0xFF && c < 0x10000) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  }
  return text;
}

}  // namespace brindle
