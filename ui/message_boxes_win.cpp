#include "ui/message_boxes_win.h"

#include <algorithm>
#include <vector>

#include "ui/messages.h"
#include "ui/resource.h"

namespace brindle {

namespace {

SIZE WindowSize(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

void Place(HWND window, int x, int y, int width, int height) {
  SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Move(HWND window, int x, int y) {
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
}

// The message split at line feeds; "a\n\nb" gives three parts, the middle one empty.
std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

// A multi-line edit box breaks lines only at CR LF.
std::wstring WithCrLf(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

LPCWSTR StandardIcon(int icon) {
  switch (icon) {
    case kIconInformation: return IDI_INFORMATION;
    case kIconQuestion: return IDI_QUESTION;
    case kIconWarning: return IDI_WARNING;
    case kIconError: return IDI_ERROR;
    default: return nullptr;
  }
}

struct ButtonLabel {
  int id;
  unsigned textId;
};

std::vector<ButtonLabel> ButtonsOfSet(int buttons) {
  switch (buttons) {
    case kButtonsOk: return {{IDOK, IDS_BUTTON_OK}};
    case kButtonsYesNo: return {{IDYES, IDS_BUTTON_YES}, {IDNO, IDS_BUTTON_NO}};
    case kButtonsYes: return {{IDYES, IDS_BUTTON_YES}};
    default: return {};
  }
}

AnswerCode AnswerForDialogResult(INT_PTR dialogResult, AnswerCode failureAnswer) {
  switch (dialogResult) {
    case IDYES: return AnswerCode::kYes;
    case IDNO: return AnswerCode::kNo;
    case IDCANCEL: return AnswerCode::kCancel;
    case IDOK: return AnswerCode::kOk;
    case IDIGNORE: return AnswerCode::kIgnore;
    case IDRETRY: return AnswerCode::kRetry;
    case IDABORT: return AnswerCode::kAbort;
    default: return failureAnswer;
  }
}

}  // namespace

AnswerCode MessageBoxAnswer(INT_PTR dialogResult) {
  return AnswerForDialogResult(dialogResult, AnswerCode::kNo);
}
AnswerCode RetryBoxAnswer(INT_PTR dialogResult) {
  return AnswerForDialogResult(dialogResult, AnswerCode::kAbort);
}

// ---- CWinQXMsgBox -------------------------------------------------------------------------------

CWinQXMsgBox::CWinQXMsgBox() : CModalDialog(IDD_MESSAGE_BOX) {}

BOOL CWinQXMsgBox::OnInitDialog() {
  SetWindowTextW(Handle(), caption.c_str());
  const SIZE text = MeasureMessage();
  HWND textControl = Item(IDC_MESSAGE_TEXT);
  Place(textControl, 0, 0, text.cx, text.cy);
  SetWindowTextW(textControl, message.c_str());
  ShowIcon();
  PlaceButtons(PlaceIconAndText(text));
  return FALSE;  // the focus is on the default button already
}

// Width of the widest line, and the height of one line times the number of lines, in the font
// of the text control.
SIZE CWinQXMsgBox::MeasureMessage() const {
  HWND textControl = Item(IDC_MESSAGE_TEXT);
  HDC dc = GetDC(textControl);
  if (!dc) return {0, 0};
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(textControl, WM_GETFONT, 0, 0));
  HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
  SIZE whole = {};
  GetTextExtentPoint32W(dc, message.c_str(), static_cast<int>(message.size()), &whole);
  int lineHeight = whole.cy;
  if (lineHeight <= 0) {  // an empty message still takes one line
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    lineHeight = metrics.tmHeight;
  }
  const std::vector<std::wstring> lines = SplitLines(message);
  int width = 0;
  for (const std::wstring& line : lines) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    width = std::max(width, static_cast<int>(size.cx));
  }
  if (oldFont) SelectObject(dc, oldFont);
  ReleaseDC(textControl, dc);
  return {width, lineHeight * static_cast<int>(lines.size())};
}

void CWinQXMsgBox::ShowIcon() {
  HWND iconControl = Item(IDC_MESSAGE_ICON);
  LPCWSTR standard = StandardIcon(icon);
  HICON picture = standard ? LoadIconW(nullptr, standard) : nullptr;
  SendMessageW(iconControl, STM_SETICON, reinterpret_cast<WPARAM>(picture), 0);
  ShowWindow(iconControl, picture ? SW_SHOW : SW_HIDE);
}

// Icon at the top left, the text to its right; the client fits both with the margins. Returns
// the client size.
SIZE CWinQXMsgBox::PlaceIconAndText(SIZE text) {
  HWND iconControl = Item(IDC_MESSAGE_ICON);
  const SIZE iconSize = WindowSize(iconControl);
  Move(iconControl, kIconLeft, kIconTop);
  Move(Item(IDC_MESSAGE_TEXT), kIconLeft + iconSize.cx + kTextGap, kTextTop);
  const SIZE client = {kIconLeft + iconSize.cx + kTextGap + text.cx + kSideMargin,
                       std::max(iconSize.cy, text.cy) + kTextTop + kBelowText};
  ResizeClient(client.cx, client.cy);
  return client;
}

// The buttons of the set, labelled, in one row below the text: centred, or starting at the
// side margin of a dialog widened to hold them. The first one is the default button.
void CWinQXMsgBox::PlaceButtons(SIZE client) {
  for (int id : {IDOK, IDYES, IDNO}) {
    ShowWindow(Item(id), SW_HIDE);
    EnableWindow(Item(id), FALSE);
  }
  ShowWindow(Item(IDCANCEL), SW_HIDE);  // stays enabled: Escape and the close box answer cancel

  const std::vector<ButtonLabel> labels = ButtonsOfSet(buttons);
  int rowWidth = 0, tallest = 0;
  for (size_t i = 0; i < labels.size(); ++i) {
    const SIZE size = WindowSize(Item(labels[i].id));
    rowWidth += size.cx + (i > 0 ? kButtonGap : 0);
    tallest = std::max(tallest, static_cast<int>(size.cy));
  }
  int x = (client.cx - rowWidth) / 2;
  if (client.cx - 2 * kSideMargin < rowWidth) {
    client.cx = rowWidth + 2 * kSideMargin;
    x = kSideMargin;
  }
  for (const ButtonLabel& label : labels) {
    HWND button = Item(label.id);
    SetWindowTextW(button, LoadMessage(label.textId).c_str());
    Move(button, x, client.cy);
    EnableWindow(button, TRUE);
    ShowWindow(button, SW_SHOW);
    x += WindowSize(button).cx + kButtonGap;
  }
  ResizeClient(client.cx, client.cy + tallest + kBelowButtons);

  if (!labels.empty()) {
    SendMessageW(Handle(), DM_SETDEFID, labels.front().id, 0);
    SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(labels.front().id)), TRUE);
  } else {
    SetFocus(Handle());
  }
}

// Gives the dialog this client size, keeping its top-left corner.
void CWinQXMsgBox::ResizeClient(int width, int height) {
  RECT window = {}, client = {};
  GetWindowRect(Handle(), &window);
  GetClientRect(Handle(), &client);
  const int frameWidth = (window.right - window.left) - client.right;
  const int frameHeight = (window.bottom - window.top) - client.bottom;
  SetWindowPos(Handle(), nullptr, 0, 0, width + frameWidth, height + frameHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CWinQXMsgBox::OnCommand(int id, int notification) {
  if ((id == IDYES || id == IDNO) && notification == BN_CLICKED) {
    EndModal(id);
    return true;
  }
  return false;
}

// ---- CWinQXRetryCheckMsgBox ---------------------------------------------------------------------

CWinQXRetryCheckMsgBox::CWinQXRetryCheckMsgBox() : CModalDialog(IDD_RETRY_CHECK_BOX) {}

BOOL CWinQXRetryCheckMsgBox::OnInitDialog() {
  SetWindowTextW(Handle(), caption.c_str());
  SetWindowTextW(Item(IDC_RETRY_ABORT), LoadMessage(IDS_BUTTON_ABORT).c_str());
  SetWindowTextW(Item(IDC_RETRY_RETRY), LoadMessage(IDS_BUTTON_RETRY).c_str());
  SetWindowTextW(Item(IDC_RETRY_IGNORE), LoadMessage(IDS_BUTTON_IGNORE).c_str());
  SetWindowTextW(Item(IDC_RETRY_TEXT), message.c_str());
  SetWindowTextW(Item(IDC_RETRY_DETAILS), WithCrLf(details).c_str());
  SendMessageW(Handle(), DM_SETDEFID, IDC_RETRY_RETRY, 0);
  SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_RETRY_RETRY)), TRUE);
  return FALSE;
}

bool CWinQXRetryCheckMsgBox::OnCommand(int id, int notification) {
  if (notification != BN_CLICKED) return false;
  switch (id) {
    case IDC_RETRY_ABORT: EndModal(IDABORT); return true;
    case IDC_RETRY_RETRY: EndModal(IDRETRY); return true;
    case IDC_RETRY_IGNORE: EndModal(IDIGNORE); return true;
    default: return false;
  }
}

// The read-only details box is drawn like a normal edit box, on the window colour.
INT_PTR CWinQXRetryCheckMsgBox::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (msg != WM_CTLCOLORSTATIC || reinterpret_cast<HWND>(lParam) != Item(IDC_RETRY_DETAILS)) return 0;
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  handled = true;
  return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
}

// ---- the program's entry points -----------------------------------------------------------------

AnswerCode ShowMessageBox(int buttons, const std::wstring& caption, const std::wstring& message, int icon) {
  CWinQXMsgBox box;
  box.buttons = buttons;
  box.caption = caption;
  box.message = message;
  box.icon = icon;
  return MessageBoxAnswer(box.DoModal());
}

AnswerCode ShowRetryCheckBox(const std::wstring& caption, const std::wstring& message,
                             const std::wstring& details) {
  CWinQXRetryCheckMsgBox box;
  box.caption = caption;
  box.message = message;
  box.details = details;
  return RetryBoxAnswer(box.DoModal());
}

}  // namespace brindle
