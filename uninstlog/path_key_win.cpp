// Upper case as the system's ordinal comparison without case sees it: the system's own
// upper-case table (the one the file system uses for names), one UTF-16 unit for one.
#include "uninstlog/path_key.h"

#include <windows.h>

namespace brindle {

namespace {

using UpcaseChar = WCHAR(WINAPI*)(WCHAR);

// The table's look-up in ntdll, which every process has loaded (nothing is loaded from disk).
UpcaseChar SystemUpcase() {
  static const UpcaseChar upcase = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<UpcaseChar>(
                       reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlUpcaseUnicodeChar")))
                 : nullptr;
  }();
  return upcase;
}

}  // namespace

std::wstring UpperOrdinal(std::wstring text) {
  UpcaseChar upcase = nullptr;
  for (wchar_t& c : text) {
    if (c < 0x80) {
      if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
      continue;
    }
    if (!upcase && !(upcase = SystemUpcase())) {
      // Without the table, characters beyond ASCII keep their case: such paths then match
      // only in the same case, never a different file.
      continue;
    }
    c = upcase(c);
  }
  return text;
}

}  // namespace brindle
