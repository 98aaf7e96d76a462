#include "wine_quirks.h"

#include <windows.h>

namespace brindle {
bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
}  // namespace brindle
