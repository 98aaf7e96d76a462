// The program's own message boxes: CWinQXMsgBox, a notice or question that sizes itself to its
// text, and CWinQXRetryCheckMsgBox, the abort/retry/ignore question shown while a program that
// must be updated is still running. Both end with the platform's dialog results (IDOK, IDYES...);
// ShowMessageBox and ShowRetryCheckBox turn them into the program's answer codes.
#pragma once
#include <windows.h>

#include <string>

#include "ui/messages.h"
#include "ui/modal_dialog_win.h"

namespace brindle {

class CWinQXMsgBox : public CModalDialog {
 public:
  CWinQXMsgBox();

  std::wstring message;
  std::wstring caption;
  int buttons = 4;  // a ButtonSet
  int icon = 0;     // an IconKind

  // Margins of the layout, in pixels of the running dialog.
  static constexpr int kIconLeft = 30;
  static constexpr int kIconTop = 20;
  static constexpr int kTextGap = 20;  // between the icon and the text
  static constexpr int kTextTop = 30;
  static constexpr int kSideMargin = 30;  // left of the icon, right of the text and the buttons
  static constexpr int kBelowText = 10;
  static constexpr int kButtonGap = 10;
  static constexpr int kBelowButtons = 20;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notification) override;

 private:
  SIZE MeasureMessage() const;
  void ShowIcon();
  SIZE PlaceIconAndText(SIZE text);
  void PlaceButtons(SIZE client);
  void ResizeClient(int width, int height);
};

class CWinQXRetryCheckMsgBox : public CModalDialog {
 public:
  CWinQXRetryCheckMsgBox();

  std::wstring message;
  std::wstring caption;
  std::wstring details;  // the programs concerned, one a line

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notification) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
};

// The program's answer code for a dialog result of each box; a result that no button gives
// (the dialog could not be shown) is the failure answer: no, and abort.
AnswerCode MessageBoxAnswer(INT_PTR dialogResult);
AnswerCode RetryBoxAnswer(INT_PTR dialogResult);

}  // namespace brindle
