// The demo's sample application: a small window that says which version it is. The demo
// installs version 1.0 the way the maker's installer would and lets Brindle.exe bring it to 1.1
// and 2.0. Its version comes from the build (SAMPLE_VERSION_MAJOR, SAMPLE_VERSION_MINOR), both
// in the window and in the version resource that the updater compares.
#include <windows.h>

#include <string>

#ifndef SAMPLE_VERSION_MAJOR
#define SAMPLE_VERSION_MAJOR 1
#define SAMPLE_VERSION_MINOR 0
#endif

namespace {
std::wstring Caption() {
  return L"Brindle Sample " + std::to_wstring(SAMPLE_VERSION_MAJOR) + L"." +
         std::to_wstring(SAMPLE_VERSION_MINOR);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      const std::wstring text = Caption() + L": a sample application kept up to date by Brindle.";
      TextOutW(dc, 12, 12, text.c_str(), static_cast<int>(text.size()));
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcW(window, message, w, l);
}
}  // namespace

// Arguments: none (stays open until closed) or a lifetime in milliseconds.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
  WNDCLASSW cls = {};
  cls.lpfnWndProc = &WindowProc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  cls.lpszClassName = L"BrindleSampleWindow";
  if (!RegisterClassW(&cls)) return 1;
  HWND window = CreateWindowExW(0, cls.lpszClassName, Caption().c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 520,
                                120, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  const UINT lifetime = commandLine && *commandLine ? static_cast<UINT>(_wtoi(commandLine)) : 0;
  if (lifetime > 0) SetTimer(window, 1, lifetime, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == window) DestroyWindow(window);
    DispatchMessageW(&msg);
  }
  return 0;
}
