#include "ui/messages.h"

#include <windows.h>

namespace brindle {

std::wstring LoadMessage(unsigned id) {
  const wchar_t* text = nullptr;
  // With a zero buffer size the system hands out a pointer into the resource itself.
  int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::wstring();
  return std::wstring(text, static_cast<size_t>(length));
}

// The platform's standard message box, with the same caption, text, buttons and icon, until the
// program's own dialog takes its place.
int ShowMessageBox(int buttons, const std::wstring& caption, const std::wstring& message, int icon) {
  UINT type = buttons == kButtonsYesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case kIconInformation: type |= MB_ICONINFORMATION; break;
    case kIconQuestion: type |= MB_ICONQUESTION; break;
    case kIconWarning: type |= MB_ICONWARNING; break;
    case kIconError: type |= MB_ICONERROR; break;
    default: break;
  }
  switch (MessageBoxW(nullptr, message.c_str(), caption.c_str(), type | MB_SETFOREGROUND)) {
    case IDYES: return kAnswerYes;
    case IDNO: return kAnswerNo;
    case IDCANCEL: return kAnswerCancel;
    case IDOK: return kAnswerOk;
    default: return kAnswerNo;
  }
}

}  // namespace brindle
