// Lossy ANSI conversions through the system's code-page tables.
#include "logs/ansi_text.h"

#include "sys/text.h"

#include <windows.h>

namespace brindle {

namespace {
// The composite check is refused where the code page takes no flags; it is chosen for the code
// page actually in force, not for the constant that names it.
DWORD CompositeFlagFor(UINT cp) { return CodePageTakesNoFlags(cp) ? 0 : WC_COMPOSITECHECK; }
}  // namespace

bool AnsiFromWidePrecomposed(const std::wstring& text, std::string& out, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  // Precomposed first (e followed by a combining acute accent becomes one character), then
  // converted without any best fit.
  std::wstring precomposed = text;
  const int size = static_cast<int>(text.size());
  const int n = FoldStringW(MAP_PRECOMPOSED, text.data(), size, nullptr, 0);
  if (n > 0) {
    precomposed.resize(static_cast<size_t>(n));
    if (FoldStringW(MAP_PRECOMPOSED, text.data(), size, &precomposed[0], n) != n) precomposed = text;
  }
  return AnsiFromWide(precomposed, out, codePage);
}

bool AnsiFromWideLossy(const std::wstring& text, std::string& out, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  const UINT cp = ResolveAnsiCodePage(codePage);
  const DWORD flags = CompositeFlagFor(cp);
  const int size = static_cast<int>(text.size());
  int n = WideCharToMultiByte(cp, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  n = WideCharToMultiByte(cp, flags, text.data(), size, &out[0], n, nullptr, nullptr);
  if (n <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(n));
  return true;
}

bool WideFromAnsiLossy(const std::string& bytes, std::wstring& out, unsigned codePage) {
  out.clear();
  if (bytes.empty()) return true;
  const UINT cp = ResolveAnsiCodePage(codePage);
  const int size = static_cast<int>(bytes.size());
  int n = MultiByteToWideChar(cp, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  n = MultiByteToWideChar(cp, 0, bytes.data(), size, &out[0], n);
  if (n <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(n));
  return true;
}

}  // namespace brindle
