// Drives the program's dialogs the way a person would: find the window by its caption, read
// what its controls show, press a button or a key. Works across processes.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace brindle::test {

struct ControlInfo {
  int id = 0;
  std::wstring className;
  std::wstring text;
  bool visible = false;
  RECT rect = {};  // in screen coordinates
};

// The first visible top-level window with exactly this caption (of the given process when
// processId is not 0), waiting up to timeoutMs for it to appear; nullptr when none did.
HWND FindDialog(const std::wstring& caption, unsigned timeoutMs, DWORD processId = 0);
// As FindDialog, for any caption, of the given process (the first visible top-level window).
HWND FindProcessWindow(DWORD processId, unsigned timeoutMs);
// The window's text, asked with WM_GETTEXT (works for another process's controls).
std::wstring WindowText(HWND window);
// The dialog's child controls in z-order.
std::vector<ControlInfo> ReadControls(HWND dialog);
// The visible texts of the dialog's static controls, joined by line feeds where several.
std::wstring StaticTexts(HWND dialog);
// Presses the visible button with this text (BM_CLICK); false when there is none.
bool PressButton(HWND dialog, const std::wstring& text);
bool PressButtonId(HWND dialog, int id);
// Sends a key press to the control that has the focus in the dialog's thread (or the dialog).
bool PressKey(HWND dialog, UINT virtualKey);
// Alt+F4 as the system delivers it: WM_SYSCOMMAND SC_CLOSE.
bool PressAltF4(HWND dialog);
// Waits until the window no longer exists.
bool WaitWindowGone(HWND window, unsigned timeoutMs);
// Saves a picture of the window as a PNG file.
bool SaveWindowPng(HWND window, const std::wstring& path);

}  // namespace brindle::test

namespace brindle::test {

// A key pressed with Alt held, as the keyboard delivers it (WM_SYSKEYDOWN, WM_SYSKEYUP) to the
// control that has the focus in the dialog's thread (or the dialog): PressAltKey(d, VK_F4).
bool PressAltKey(HWND dialog, UINT virtualKey);
// The visible buttons' texts, left to right.
std::vector<std::wstring> VisibleButtons(HWND dialog);
// A control's rectangle in the dialog's client coordinates.
RECT ClientRectOf(HWND dialog, HWND control);

}  // namespace brindle::test
