// Lossy ANSI conversions of the native build, on the exact conversions of sys/text.h: text
// that converts exactly is converted in one call; otherwise the unconvertible characters are
// replaced one by one. There is no composite-character step here: the exact conversion takes a
// combining character as the code page's own character or refuses it.
#include "logs/ansi_text.h"

#include "sys/text.h"

namespace brindle {

namespace {
// Every ANSI code page holds the blank: a code page that cannot convert it is unusable.
bool UsableCodePage(unsigned codePage) {
  std::string bytes;
  return AnsiFromWide(L" ", bytes, codePage);
}
}  // namespace

bool AnsiFromWidePrecomposed(const std::wstring& text, std::string& out, unsigned codePage) {
  return AnsiFromWide(text, out, codePage);
}

bool AnsiFromWideLossy(const std::wstring& text, std::string& out, unsigned codePage) {
  if (AnsiFromWide(text, out, codePage)) return true;
  out.clear();
  if (!UsableCodePage(codePage)) return false;
  std::string one;
  for (wchar_t c : text) {
    if (AnsiFromWide(std::wstring(1, c), one, codePage)) out += one;
    else out += '?';
  }
  return true;
}

bool WideFromAnsiLossy(const std::string& bytes, std::wstring& out, unsigned codePage) {
  if (WideFromAnsi(bytes, out, codePage)) return true;
  out.clear();
  if (!UsableCodePage(codePage)) return false;
  std::wstring one;
  size_t i = 0;
  while (i < bytes.size()) {
    if (WideFromAnsi(bytes.substr(i, 1), one, codePage)) {
      out += one;
      i += 1;
    } else if (i + 1 < bytes.size() && WideFromAnsi(bytes.substr(i, 2), one, codePage)) {
      out += one;  // a double-byte character
      i += 2;
    } else {
      // Windows-1252 gives its five unassigned bytes the control characters of equal value.
      const unsigned char b = static_cast<unsigned char>(bytes[i]);
      const bool westEuropean = codePage == 0 || codePage == 1252;
      out += westEuropean ? static_cast<wchar_t>(b) : L'\ufffd';
      i += 1;
    }
  }
  return true;
}

}  // namespace brindle
