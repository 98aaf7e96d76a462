// Small text helpers shared by the program's dialogs.
#pragma once
#include <windows.h>

#include <string>

namespace brindle {

// The whole text of a window or control.
inline std::wstring ControlText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, &text[0], length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

}  // namespace brindle
