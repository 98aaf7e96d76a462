// The program's dialog base: a dialog built from a template of the program's resources and run
// modally by its own message loop, so that each dialog can look at a message before the dialog
// manager handles it (PreTranslateMessage). Derived dialogs override what they need; by default
// OK ends the dialog with IDOK, and Cancel (Escape, the close box, Alt+F4) with IDCANCEL.
#pragma once
#include <windows.h>

namespace brindle {

class CModalDialog {
 public:
  explicit CModalDialog(UINT templateId) : templateId_(templateId) {}
  virtual ~CModalDialog() = default;
  CModalDialog(const CModalDialog&) = delete;
  CModalDialog& operator=(const CModalDialog&) = delete;

  // Creates the dialog, runs it until it ends and destroys it. Returns the value given to
  // EndModal, or -1 when the dialog could not be created.
  INT_PTR DoModal(HWND owner = nullptr);

  HWND Handle() const { return window_; }

 protected:
  // Binds members to the dialog's controls; called before OnInitDialog.
  virtual void DoDataExchange() {}
  // Returns TRUE to let the dialog manager give the focus to the first control.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Returns true when the message is dealt with and must not be processed further; the message
  // may also be changed in place.
  virtual bool PreTranslateMessage(MSG* message) { return false; }
  virtual void OnOK() { EndModal(IDOK); }
  virtual void OnCancel() { EndModal(IDCANCEL); }
  // A command from a control other than IDOK and IDCANCEL; true when handled.
  virtual bool OnCommand(int id, int notification) { return false; }
  // Any other message; set handled and return the dialog procedure's result.
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) { return 0; }

  // Ends the modal loop; the dialog is destroyed when control returns to it.
  void EndModal(INT_PTR result);

  HWND Item(int id) const { return GetDlgItem(window_, id); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void RunLoop();

  UINT templateId_;
  HWND window_ = nullptr;
  bool ended_ = false;
  INT_PTR result_ = -1;
};

}  // namespace brindle
