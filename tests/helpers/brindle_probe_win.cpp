// A program the tests start to have something running: with "window <title>" it shows a visible
// titled window, with "hidden" it has no visible window, with "mutex <name>" it holds that named
// mutex, with "file <path>" it holds that file open (others may only read it), with "lock <path>"
// it holds that file open and lets no other process open it at all; it ends after the
// given milliseconds (argument 3) or when its window is closed. Argument 4, when given, names an
// event that it signals once it holds what it was asked to hold and has its window.
#include "sys/win_handles.h"

#include <windows.h>

#include <string>

namespace {
LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, w, l);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"hidden";
  const std::wstring title = argc > 2 ? argv[2] : L"";
  const UINT lifetime = argc > 3 ? static_cast<UINT>(_wtoi(argv[3])) : 10000;
  brindle::UniqueHandle mutex(mode == L"mutex" ? CreateMutexW(nullptr, TRUE, title.c_str()) : nullptr);
  const bool holdsFile = mode == L"file" || mode == L"lock";
  brindle::UniqueFile held(holdsFile ? CreateFileW(title.c_str(), GENERIC_READ,
                                                   mode == L"file" ? FILE_SHARE_READ : 0, nullptr,
                                                   OPEN_EXISTING, 0, nullptr)
                                     : INVALID_HANDLE_VALUE);
  WNDCLASSW cls = {};
  cls.lpfnWndProc = &ProbeProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"BrindleProbeWindow";
  RegisterClassW(&cls);
  HWND window =
      CreateWindowExW(0, cls.lpszClassName, (mode == L"mutex" || holdsFile) ? L"" : title.c_str(),
                      WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr, cls.hInstance, nullptr);
  if (mode == L"window") ShowWindow(window, SW_SHOWNORMAL);
  const bool holding = (mode != L"mutex" || mutex) && (!holdsFile || held);
  if (argc > 4 && holding && window) {
    brindle::UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[4]));
    if (ready) SetEvent(ready.Get());
  }
  SetTimer(window, 1, lifetime, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER) DestroyWindow(window);
    DispatchMessageW(&msg);
  }
  return 0;
}
