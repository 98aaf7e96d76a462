// The program's questions and notices: texts from the string table, and the message box that
// shows them. Answer codes are the program's own numbering.
#pragma once
#include <string>

namespace brindle {

enum AnswerCode {
  kAnswerYes = 0,
  kAnswerNo = 1,
  kAnswerCancel = 2,
  kAnswerOk = 3,
  kAnswerIgnore = 4,
  kAnswerRetry = 5,
  kAnswerAbort = 6,
};

enum ButtonSet { kButtonsYes = 0, kButtonsYesNo = 1, kButtonsOk = 4 };
enum IconKind { kIconInformation = 0, kIconQuestion = 1, kIconWarning = 2, kIconError = 3 };

// The string of that id from the string table; empty when the id is absent.
std::wstring LoadMessage(unsigned id);

// Shows a message box modally and returns an answer code (kAnswerNo when it cannot be shown).
int ShowMessageBox(int buttons, const std::wstring& caption, const std::wstring& message, int icon);

}  // namespace brindle
