#include "ui/modal_dialog_win.h"

namespace brindle {

INT_PTR CModalDialog::DoModal(HWND owner) {
  ended_ = false;
  result_ = -1;
  HWND window = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner,
                                   &CModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (!window) return -1;
  const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  if (!ended_) {
    ShowWindow(window, SW_SHOW);
    RunLoop();
  }
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  DestroyWindow(window);
  window_ = nullptr;
  return result_;
}

void CModalDialog::RunLoop() {
  MSG message;
  while (!ended_) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) {  // the queue is unusable: nobody can answer the dialog any more
      result_ = -1;
      return;
    }
    if (got == 0) {  // a quit request ends the dialog and is left for the outer loop
      PostQuitMessage(static_cast<int>(message.wParam));
      result_ = -1;
      return;
    }
    if (PreTranslateMessage(&message)) continue;
    if (IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void CModalDialog::EndModal(INT_PTR result) {
  result_ = result;
  ended_ = true;
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CModalDialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CModalDialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->window_ = window;
  } else {
    self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  return self ? self->Dispatch(message, wParam, lParam) : FALSE;
}

INT_PTR CModalDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: DoDataExchange(); return OnInitDialog();
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int notification = HIWORD(wParam);
      if (id == IDOK && notification == BN_CLICKED) {
        OnOK();
        return TRUE;
      }
      if (id == IDCANCEL && notification == BN_CLICKED) {
        OnCancel();
        return TRUE;
      }
      return OnCommand(id, notification) ? TRUE : FALSE;
    }
    case WM_CLOSE:  // the close box and Alt+F4 mean Cancel
      OnCancel();
      return TRUE;
    default: {
      bool handled = false;
      const INT_PTR result = OnMessage(message, wParam, lParam, handled);
      if (!handled) return FALSE;
      // Messages whose answer is not TRUE/FALSE travel through the dialog's result slot.
      switch (message) {
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORMSGBOX: return result;
        default: SetWindowLongPtrW(window_, DWLP_MSGRESULT, result); return TRUE;
      }
    }
  }
}

}  // namespace brindle
