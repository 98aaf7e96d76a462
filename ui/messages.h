// The program's questions and notices: texts from the string table, and the message box that
// shows them. Answer codes are the program's own numbering.
#pragma once
#include <string>

namespace brindle {

// How a person answered a box: which button, or Escape and the close box (kCancel).
enum class AnswerCode {
  kYes = 0,
  kNo = 1,
  kCancel = 2,
  kOk = 3,
  kIgnore = 4,
  kRetry = 5,
  kAbort = 6,
};

enum ButtonSet { kButtonsYes = 0, kButtonsYesNo = 1, kButtonsOk = 4 };
enum IconKind { kIconInformation = 0, kIconQuestion = 1, kIconWarning = 2, kIconError = 3 };

// The string of that id from the string table; empty when the id is absent.
std::wstring LoadMessage(unsigned id);

// Shows the program's message box modally: the caption, the message (lines split at line
// feeds), the icon of the IconKind (none for other values) and the buttons of the ButtonSet
// (none for other values). Returns kYes, kNo or kOk for the buttons, kCancel for Escape or the
// close box, kNo when it cannot be shown.
AnswerCode ShowMessageBox(int buttons, const std::wstring& caption, const std::wstring& message, int icon);

// Shows the running-program question modally: the message above, the details (the programs
// concerned, one a line) in a box below, and the buttons Abandonner, Réessayer, Ignorer.
// Returns kAbort, kRetry or kIgnore, kCancel for Escape, and kAbort when it cannot be shown.
AnswerCode ShowRetryCheckBox(const std::wstring& caption, const std::wstring& message,
                             const std::wstring& details);

}  // namespace brindle
