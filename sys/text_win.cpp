// ANSI code page conversions through the system's code-page tables.
#include "sys/text.h"

#include <windows.h>

namespace brindle {

unsigned ResolveAnsiCodePage(unsigned codePage) {
  // The system names the code page its conversions use for a constant such as "the thread's
  // ANSI code page"; 0 stands for that constant here.
  CPINFOEXW info = {};
  const UINT asked = codePage == 0 ? CP_THREAD_ACP : codePage;
  if (GetCPInfoExW(asked, 0, &info) && info.CodePage != 0) return info.CodePage;
  return codePage == 0 ? GetACP() : codePage;
}

bool AnsiFromWide(const std::wstring& text, std::string& out, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  const UINT cp = ResolveAnsiCodePage(codePage);
  // No best fit: a character the code page lacks must not become a look-alike. Where the
  // code page takes no flags, the conversion back below catches a changed character.
  const bool plain = CodePageTakesNoFlags(cp);
  const DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  const int size = static_cast<int>(text.size());
  int n = WideCharToMultiByte(cp, flags, text.data(), size, nullptr, 0, nullptr, plain ? nullptr : &lossy);
  if (n <= 0 || lossy) return false;
  std::string converted(static_cast<size_t>(n), '\0');
  n = WideCharToMultiByte(cp, flags, text.data(), size, &converted[0], n, nullptr, plain ? nullptr : &lossy);
  if (n <= 0 || lossy) return false;
  converted.resize(static_cast<size_t>(n));
  std::wstring back;
  if (!WideFromAnsi(converted, back, cp) || back != text) return false;
  out = std::move(converted);
  return true;
}

bool WideFromAnsi(const std::string& text, std::wstring& out, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  const UINT cp = ResolveAnsiCodePage(codePage);
  const DWORD flags = CodePageTakesNoFlags(cp) && cp != CP_UTF8 ? 0 : MB_ERR_INVALID_CHARS;
  int n = MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(n);
  n = MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), &out[0], n);
  if (n <= 0) {
    out.clear();
    return false;
  }
  out.resize(n);
  return true;
}

}  // namespace brindle
