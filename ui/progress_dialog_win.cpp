#include "ui/progress_dialog_win.h"

#include "apply/crash_point.h"

#include <commctrl.h>

#include "ui/progress_dialog.h"
#include "ui/resource.h"
#include "ui/ui_text_win.h"

namespace brindle {

namespace {

// The number, a space and a percent sign: "40 %".
std::wstring PercentText(int percent) { return std::to_wstring(percent) + L" %"; }

}  // namespace

CWinQXDlgProgress::CWinQXDlgProgress(ProgressContext* context)
    : CModalDialog(IDD_PROGRESS), context(context) {}

void CWinQXDlgProgress::DoDataExchange() { progressBar = Item(IDC_PROGRESS_BAR); }

BOOL CWinQXDlgProgress::OnInitDialog() {
  SetWindowTextW(Handle(), caption.c_str());
  SendMessageW(progressBar, PBM_SETRANGE32, static_cast<WPARAM>(context->rangeMinimum.load()),
               static_cast<LPARAM>(context->rangeMaximum.load()));
  SendMessageW(progressBar, PBM_SETPOS, 0, 0);
  SetWindowTextW(Item(IDC_PROGRESS_STATUS), L"");
  SetWindowTextW(Item(IDC_PROGRESS_PERCENT), PercentText(context->percent).c_str());
  SetTimer(Handle(), kPollTimer, kPollPeriodMs, nullptr);
  context->follower = reinterpret_cast<std::uintptr_t>(Handle());
  return TRUE;
}

// Enter and Escape would end a dialog, and Alt+F4 would close it: their key codes are blanked
// before the dialog manager sees them.
bool CWinQXDlgProgress::PreTranslateMessage(MSG* message) {
  if (message->message == WM_KEYDOWN && (message->wParam == VK_RETURN || message->wParam == VK_ESCAPE))
    message->wParam = 0;
  if (message->message == WM_SYSKEYDOWN && message->wParam == VK_F4) message->wParam = 0;
  return false;
}

INT_PTR CWinQXDlgProgress::OnMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
  if (message != WM_TIMER && message != kWakeMessage) return 0;
  handled = true;
  OnTimer(message == kWakeMessage ? kPollTimer : static_cast<UINT_PTR>(wParam));
  return 0;
}

void CWinQXDlgProgress::OnTimer(UINT_PTR timer) {
  if (timer != kPollTimer) return;
  const int percent = context->percent;
  if (percent != static_cast<int>(SendMessageW(progressBar, PBM_GETPOS, 0, 0))) ShowPercent(percent);
  ShowTitle();
  if (RunIsOver()) CloseAfterPause();
}

void CWinQXDlgProgress::ShowPercent(int percent) {
  SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  SetWindowTextW(Item(IDC_PROGRESS_PERCENT), PercentText(percent).c_str());
}

// The status line is rewritten only when the title has changed, so it does not flicker.
void CWinQXDlgProgress::ShowTitle() {
  const std::wstring title = context->Title();
  HWND status = Item(IDC_PROGRESS_STATUS);
  if (title != ControlText(status)) SetWindowTextW(status, title.c_str());
}

bool CWinQXDlgProgress::RunIsOver() const {
  return context->percent >= context->rangeMaximum || context->Ended();
}

// The final state is painted and stays visible for a moment before the dialog closes.
void CWinQXDlgProgress::CloseAfterPause() {
  KillTimer(Handle(), kPollTimer);
  context->follower = 0;
  RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  if (!kCrashPointBuild) Sleep(kFinalPauseMs);
  EndModal(0);
}

void ShowProgressDialog(const std::wstring& caption, ProgressContext& context) {
  CWinQXDlgProgress dialog(&context);
  dialog.caption = caption;
  dialog.DoModal();
  context.follower = 0;
}

void WakeProgressDialog(const ProgressContext& context) {
  if (const std::uintptr_t window = context.follower)
    PostMessageW(reinterpret_cast<HWND>(window), CWinQXDlgProgress::kWakeMessage, 0, 0);
}

}  // namespace brindle
