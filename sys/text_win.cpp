// ANSI code page conversions through the system's code-page tables.
#include "sys/text.h"

#include <windows.h>

namespace brindle {

bool AnsiFromWide(const std::wstring& text, std::string& out, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  const UINT cp = codePage == 0 ? CP_THREAD_ACP : codePage;
  BOOL lossy = FALSE;
  const bool canAskLossy = cp != CP_UTF8 && cp != 65000;
  int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, canAskLossy ? &lossy : nullptr);
  if (n <= 0 || lossy) return false;
  out.resize(n);
  n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                          nullptr, canAskLossy ? &lossy : nullptr);
  if (n <= 0 || lossy) { out.clear(); return false; }
  out.resize(n);
  return true;
}

bool WideFromAnsi(const std::string& text, std::wstring& out, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  const UINT cp = codePage == 0 ? CP_THREAD_ACP : codePage;
  int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                              nullptr, 0);
  if (n <= 0) return false;
  out.resize(n);
  n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          &out[0], n);
  if (n <= 0) { out.clear(); return false; }
  out.resize(n);
  return true;
}

}  // namespace brindle
