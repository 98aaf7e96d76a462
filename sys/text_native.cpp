// ANSI code page conversions of the native build, through iconv. Code page 0 is Windows-1252,
// the code page of the systems the product mostly runs on.
#include "sys/text.h"

#include <iconv.h>
#include <cerrno>
#include <string>
#include <vector>

namespace brindle {

namespace {

std::string IconvName(unsigned codePage) {
  if (codePage == 0) codePage = 1252;
  if (codePage == 932) return "CP932";
  if (codePage == 65001) return "UTF-8";
  return "CP" + std::to_string(codePage);
}

// Converts bytes from one iconv encoding to another; false on any invalid or unmappable input.
bool Convert(const char* to, const char* from, const char* data, size_t size, std::string& out) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::vector<char> buffer(size * 4 + 16);
  char* in = const_cast<char*>(data);
  size_t inLeft = size;
  bool ok = true;
  while (inLeft > 0) {
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.append(buffer.data(), buffer.size() - dstLeft);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      ok = false;
      break;
    }
    if (r > 0) {
      ok = false;
      break;
    }  // irreversible (approximate) conversions are refused
  }
  iconv_close(cd);
  if (!ok) out.clear();
  return ok;
}

const char* WideName() { return sizeof(wchar_t) == 4 ? "UTF-32LE" : "UTF-16LE"; }

}  // namespace

unsigned ResolveAnsiCodePage(unsigned codePage) { return codePage == 0 ? 1252 : codePage; }

bool AnsiFromWide(const std::wstring& text, std::string& out, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  return Convert(IconvName(codePage).c_str(), WideName(), reinterpret_cast<const char*>(text.data()),
                 text.size() * sizeof(wchar_t), out);
}

bool WideFromAnsi(const std::string& text, std::wstring& out, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  std::string raw;
  if (!Convert(WideName(), IconvName(codePage).c_str(), text.data(), text.size(), raw)) return false;
  out.assign(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / sizeof(wchar_t));
  return true;
}

}  // namespace brindle
