// CWinQXDlgProgress: the modal progress window of an update run. It polls the ProgressContext
// every 500 ms, and at once when the worker wakes it: the bar and the percentage follow
// percent, the status line follows the title,
// and when percent reaches the range maximum or an end flag is set it shows the final state for
// one more second and closes. Enter, Escape and Alt+F4 do nothing, and there is no close box.
#pragma once
#include <windows.h>

#include <string>

#include "ui/progress_context.h"
#include "ui/modal_dialog_win.h"

namespace brindle {

class CWinQXDlgProgress : public CModalDialog {
 public:
  explicit CWinQXDlgProgress(ProgressContext* context);

  static constexpr UINT_PTR kPollTimer = 1;
  static constexpr UINT kPollPeriodMs = 500;
  static constexpr DWORD kFinalPauseMs = 1000;
  static constexpr UINT kWakeMessage = WM_APP + 1;  // a poll asked for by the worker

  std::wstring caption;
  HWND progressBar = nullptr;  // control 2003
  ProgressContext* context;    // not owned

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  bool PreTranslateMessage(MSG* message) override;
  void OnCancel() override {}  // the user cannot stop an update from here
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  void OnTimer(UINT_PTR timer);
  void ShowPercent(int percent);
  void ShowTitle();
  bool RunIsOver() const;
  void CloseAfterPause();
};

}  // namespace brindle
