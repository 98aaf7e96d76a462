#include "support/ui_driver_win.h"

#include "sys/paths.h"
#include "sys/win_handles.h"

#include <wincodec.h>

#include <algorithm>

namespace brindle::test {

namespace {

struct FindRequest {
  std::wstring caption;
  bool anyCaption;
  DWORD processId;
  HWND found;
};

BOOL CALLBACK OnTopLevel(HWND window, LPARAM data) {
  auto* request = reinterpret_cast<FindRequest*>(data);
  if (!IsWindowVisible(window)) return TRUE;
  if (request->processId != 0) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != request->processId) return TRUE;
  }
  if (!request->anyCaption && WindowText(window) != request->caption) return TRUE;
  request->found = window;
  return FALSE;
}

HWND WaitForWindow(FindRequest request, unsigned timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    request.found = nullptr;
    EnumWindows(&OnTopLevel, reinterpret_cast<LPARAM>(&request));
    if (request.found || GetTickCount64() >= deadline) return request.found;
    Sleep(50);
  }
}

BOOL CALLBACK OnChild(HWND window, LPARAM data) {
  auto* controls = reinterpret_cast<std::vector<ControlInfo>*>(data);
  ControlInfo info;
  info.id = GetDlgCtrlID(window);
  wchar_t cls[128] = {};
  GetClassNameW(window, cls, 128);
  info.className = cls;
  info.text = WindowText(window);
  info.visible = IsWindowVisible(window) != FALSE;
  GetWindowRect(window, &info.rect);
  controls->push_back(info);
  return TRUE;
}

}  // namespace

HWND FindDialog(const std::wstring& caption, unsigned timeoutMs, DWORD processId) {
  return WaitForWindow({caption, false, processId, nullptr}, timeoutMs);
}

HWND FindProcessWindow(DWORD processId, unsigned timeoutMs) {
  return WaitForWindow({L"", true, processId, nullptr}, timeoutMs);
}

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
    return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                           SMTO_ABORTIFHUNG, 2000, &got))
    return std::wstring();
  text.resize(static_cast<size_t>(got));
  return text;
}

std::vector<ControlInfo> ReadControls(HWND dialog) {
  std::vector<ControlInfo> controls;
  EnumChildWindows(dialog, &OnChild, reinterpret_cast<LPARAM>(&controls));
  return controls;
}

std::wstring StaticTexts(HWND dialog) {
  std::wstring joined;
  for (const ControlInfo& c : ReadControls(dialog)) {
    if (!c.visible || _wcsicmp(c.className.c_str(), L"Static") != 0 || c.text.empty()) continue;
    if (!joined.empty()) joined += L'\n';
    joined += c.text;
  }
  return joined;
}

bool PressButtonId(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return false;
  return PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

bool PressButton(HWND dialog, const std::wstring& text) {
  for (const ControlInfo& c : ReadControls(dialog)) {
    if (c.visible && _wcsicmp(c.className.c_str(), L"Button") == 0 && c.text == text)
      return PressButtonId(dialog, c.id);
  }
  return false;
}

bool PressKey(HWND dialog, UINT virtualKey) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  HWND target = dialog;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus)
    target = info.hwndFocus;
  const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  const LPARAM up = down | (1u << 30) | (1u << 31);
  return PostMessageW(target, WM_KEYDOWN, virtualKey, down) && PostMessageW(target, WM_KEYUP, virtualKey, up);
}

namespace {

HWND FocusOrDialog(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus)
    return info.hwndFocus;
  return dialog;
}

}  // namespace

bool PressAltKey(HWND dialog, UINT virtualKey) {
  HWND target = FocusOrDialog(dialog);
  const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (1 << 29);  // context: Alt held
  const LPARAM up = down | (1u << 30) | (1u << 31);
  return PostMessageW(target, WM_SYSKEYDOWN, virtualKey, down) &&
         PostMessageW(target, WM_SYSKEYUP, virtualKey, up);
}

std::vector<std::wstring> VisibleButtons(HWND dialog) {
  std::vector<ControlInfo> buttons;
  for (const ControlInfo& c : ReadControls(dialog))
    if (c.visible && _wcsicmp(c.className.c_str(), L"Button") == 0) buttons.push_back(c);
  std::sort(buttons.begin(), buttons.end(),
            [](const ControlInfo& a, const ControlInfo& b) { return a.rect.left < b.rect.left; });
  std::vector<std::wstring> texts;
  for (const ControlInfo& c : buttons) texts.push_back(c.text);
  return texts;
}

RECT ClientRectOf(HWND dialog, HWND control) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool PressAltF4(HWND dialog) { return PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE; }

bool WaitWindowGone(HWND window, unsigned timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (IsWindow(window)) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

bool SaveWindowPng(HWND window, const std::wstring& path) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = -height;  // top-down rows
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!bitmap || !bits) return false;
  for (int i = 0; i < width * height; ++i) static_cast<BYTE*>(bits)[i * 4 + 3] = 0xFF;

  // The caller may be a thread of its own that never initialised COM (a test's dialog actor).
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool ok = false;
  {
    ComPtr<IWICImagingFactory> factory;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory, factory.ReceiveVoid()))) {
      ComPtr<IWICStream> stream;
      ComPtr<IWICBitmapEncoder> encoder;
      ComPtr<IWICBitmapFrameEncode> frame;
      WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
      ok = SUCCEEDED(factory->CreateStream(stream.Receive())) &&
           SUCCEEDED(stream->InitializeFromFilename(ToBackslashes(path).c_str(), GENERIC_WRITE)) &&
           SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Receive())) &&
           SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder->CreateNewFrame(frame.Receive(), nullptr)) &&
           SUCCEEDED(frame->Initialize(nullptr)) && SUCCEEDED(frame->SetSize(width, height)) &&
           SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat32bppBGRA &&
           SUCCEEDED(frame->WritePixels(height, width * 4, width * height * 4, static_cast<BYTE*>(bits))) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  DeleteObject(bitmap);
  return ok;
}

}  // namespace brindle::test
