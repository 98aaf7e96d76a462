// Lossy ANSI conversions through the system's code-page tables.
#include "logs/ansi_text.h"

#include <windows.h>

namespace brindle {

namespace {
UINT ResolveCodePage(unsigned codePage) { return codePage == 0 ? CP_THREAD_ACP : codePage; }

// The composite check is refused by a few code pages (UTF-7/8 and the ISO-2022 family).
DWORD CompositeFlagFor(UINT cp) {
  switch (cp) {
    case 42: case 50220: case 50221: case 50222: case 50225: case 50227: case 50229:
    case 65000: case 65001: return 0;
    default: return (cp >= 57002 && cp <= 57011) ? 0 : WC_COMPOSITECHECK;
  }
}
}  // namespace

std::string AnsiFromWideLossy(const std::wstring& text, unsigned codePage) {
  if (text.empty()) return std::string();
  const UINT cp = ResolveCodePage(codePage);
  const DWORD flags = CompositeFlagFor(cp);
  const int size = static_cast<int>(text.size());
  int n = WideCharToMultiByte(cp, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  n = WideCharToMultiByte(cp, flags, text.data(), size, &out[0], n, nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

std::wstring WideFromAnsiLossy(const std::string& bytes, unsigned codePage) {
  if (bytes.empty()) return std::wstring();
  const UINT cp = ResolveCodePage(codePage);
  const int size = static_cast<int>(bytes.size());
  int n = MultiByteToWideChar(cp, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(cp, 0, bytes.data(), size, &out[0], n);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

}  // namespace brindle
