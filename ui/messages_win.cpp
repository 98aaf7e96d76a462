#include "ui/messages.h"

#include <windows.h>

namespace brindle {

std::wstring LoadMessage(unsigned id) {
  const wchar_t* text = nullptr;
  // With a zero buffer size the system hands out a pointer into the resource itself.
  int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::wstring();
  return std::wstring(text, static_cast<size_t>(length));
}

}  // namespace brindle
