// Answers a dialog the way a person would, for the demo: waits for a window with the given
// caption, prints the texts it shows, and presses the button with the given text.
// Usage: answer_dialog.exe <caption> <button text> [time-out in ms]
#include <windows.h>

#include <cstdio>
#include <string>

#include "sys/text.h"

namespace {
struct Search {
  std::wstring caption;
  HWND found;
};

std::wstring TextOf(HWND window) {
  wchar_t text[2048] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                      nullptr);
  return text;
}

BOOL CALLBACK OnWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  if (IsWindowVisible(window) && TextOf(window) == search->caption) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK OnControl(HWND control, LPARAM data) {
  auto* button = reinterpret_cast<std::pair<std::wstring, HWND>*>(data);
  wchar_t cls[64] = {};
  GetClassNameW(control, cls, 64);
  if (!IsWindowVisible(control)) return TRUE;
  const std::wstring text = TextOf(control);
  if (_wcsicmp(cls, L"Button") == 0 && text == button->first) button->second = control;
  else if (!text.empty()) std::printf("  shows: %s\n", brindle::Utf8FromWide(text).c_str());
  return TRUE;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const DWORD timeout = argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 20000;
  Search search{argv[1], nullptr};
  for (DWORD waited = 0; !search.found && waited < timeout; waited += 100) {
    EnumWindows(&OnWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(100);
  }
  if (!search.found) {
    std::printf("  no window \"%s\" appeared\n", brindle::Utf8FromWide(argv[1]).c_str());
    return 1;
  }
  std::printf("  dialog \"%s\"\n", brindle::Utf8FromWide(argv[1]).c_str());
  std::pair<std::wstring, HWND> button(argv[2], nullptr);
  EnumChildWindows(search.found, &OnControl, reinterpret_cast<LPARAM>(&button));
  if (!button.second) return 1;
  std::printf("  pressing [%s]\n", brindle::Utf8FromWide(argv[2]).c_str());
  PostMessageW(button.second, BM_CLICK, 0, 0);
  return 0;
}
