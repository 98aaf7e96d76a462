// The progress dialog following a run that another thread writes, as the user would watch it:
// the bar, the percentage and the status line, when it closes, and the keys that must not close
// it. The dialog runs modally on the test's thread; a second thread plays the worker and
// watches the screen.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/progress_context.h"
#include "support/ui_driver_win.h"
#include "ui/dialog_test_win.h"
#include "ui/messages.h"
#include "ui/progress_dialog.h"
#include "ui/resource.h"

namespace brindle {
namespace {

using test::DialogActor;

// Records what the dialog's controls are told to show, and when the dialog goes away, by
// subclassing the dialog and its controls from the watching thread.
class Recorder {
 public:
  struct Change {
    ULONGLONG at;
    int control;        // IDC_PROGRESS_STATUS or IDC_PROGRESS_PERCENT (text), IDC_PROGRESS_BAR
    std::wstring text;  // the new text, or the bar's new position
  };
  struct Final {
    ULONGLONG at = 0;
    int bar = -1;
    std::wstring percent;
    std::wstring status;
  };

  void Attach(HWND dialog) {
    instance_ = this;
    dialog_ = dialog;
    Subclass(dialog, &dialogProc_, &DialogProc);
    Subclass(GetDlgItem(dialog, IDC_PROGRESS_STATUS), &statusProc_, &StatusProc);
    Subclass(GetDlgItem(dialog, IDC_PROGRESS_PERCENT), &percentProc_, &PercentProc);
    Subclass(GetDlgItem(dialog, IDC_PROGRESS_BAR), &barProc_, &BarProc);
  }
  std::vector<Change> Changes(int control) const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<Change> out;
    for (const Change& c : changes_)
      if (c.control == control) out.push_back(c);
    return out;
  }
  Final Closed() const {
    std::lock_guard<std::mutex> hold(lock_);
    return final_;
  }
  // While held, the dialog's own timer ticks are swallowed before it sees them.
  void HoldTicks(bool hold) { holdTicks_ = hold; }

 private:
  static void Subclass(HWND window, WNDPROC* old, WNDPROC replacement) {
    *old = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(replacement)));
  }
  void Add(int control, std::wstring text) {
    std::lock_guard<std::mutex> hold(lock_);
    changes_.push_back({GetTickCount64(), control, std::move(text)});
  }
  static std::wstring TextOf(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
  }
  static LRESULT CALLBACK StatusProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_SETTEXT) instance_->Add(IDC_PROGRESS_STATUS, reinterpret_cast<LPCWSTR>(lp));
    return CallWindowProcW(instance_->statusProc_, w, m, wp, lp);
  }
  static LRESULT CALLBACK PercentProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_SETTEXT) instance_->Add(IDC_PROGRESS_PERCENT, reinterpret_cast<LPCWSTR>(lp));
    return CallWindowProcW(instance_->percentProc_, w, m, wp, lp);
  }
  static LRESULT CALLBACK BarProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == PBM_SETPOS) instance_->Add(IDC_PROGRESS_BAR, std::to_wstring(static_cast<int>(wp)));
    return CallWindowProcW(instance_->barProc_, w, m, wp, lp);
  }
  static LRESULT CALLBACK DialogProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_TIMER && instance_->holdTicks_) return 0;
    if (m == WM_DESTROY) {
      Final f;
      f.at = GetTickCount64();
      f.bar = static_cast<int>(SendDlgItemMessageW(w, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
      f.percent = TextOf(GetDlgItem(w, IDC_PROGRESS_PERCENT));
      f.status = TextOf(GetDlgItem(w, IDC_PROGRESS_STATUS));
      std::lock_guard<std::mutex> hold(instance_->lock_);
      instance_->final_ = f;
    }
    return CallWindowProcW(instance_->dialogProc_, w, m, wp, lp);
  }

  static Recorder* instance_;
  HWND dialog_ = nullptr;
  WNDPROC dialogProc_ = nullptr, statusProc_ = nullptr, percentProc_ = nullptr, barProc_ = nullptr;
  mutable std::mutex lock_;
  std::atomic<bool> holdTicks_{false};
  std::vector<Change> changes_;
  Final final_;
};
Recorder* Recorder::instance_ = nullptr;

std::wstring Caption() { return LoadMessage(IDS_PROGRESS_CAPTION); }

int BarPosition(HWND dialog) {
  DWORD_PTR position = 0;
  SendMessageTimeoutW(GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0, SMTO_NORMAL, 2000, &position);
  return static_cast<int>(position);
}

std::wstring PercentShown(HWND dialog) { return test::WindowText(GetDlgItem(dialog, IDC_PROGRESS_PERCENT)); }
std::wstring StatusShown(HWND dialog) { return test::WindowText(GetDlgItem(dialog, IDC_PROGRESS_STATUS)); }

// The dialog's timer ticks every half second; on a loaded machine a tick may come late, so
// upper bounds only catch a dialog that never closes.
constexpr ULONGLONG kGenerousMs = 10000;

// Waits up to timeoutMs for the condition; true when it held.
template <typename Condition>
bool WaitFor(Condition condition, unsigned timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

// A fresh context as the driver prepares it for the dialog.
void Prepare(ProgressContext& context, int total) {
  context.Clear();
  context.rangeMaximum = 100;
  context.total = total;
  context.SetTitle(LoadMessage(IDS_PROGRESS_TITLE));
}

// Shows the dialog on this thread while `act` runs on another with the dialog attached to a
// recorder; returns how long the dialog was shown, in milliseconds.
ULONGLONG RunDialog(ProgressContext& context, Recorder& recorder, std::function<void(HWND)> act) {
  DialogActor actor(
      Caption(),
      [&](HWND dialog) {
        recorder.Attach(dialog);
        act(dialog);
      },
      [&] { context.cancelled = true; });  // the only way the dialog can be made to close
  const ULONGLONG start = GetTickCount64();
  ShowProgressDialog(Caption(), context);
  const ULONGLONG shown = GetTickCount64() - start;
  actor.Join();
  EXPECT_TRUE(actor.Found());
  return shown;
}

TEST(ProgressDialog, FollowsPercentAndTitleWrittenByTheWorker) {
  ProgressContext context;
  Prepare(context, 5);
  Recorder recorder;
  const std::wstring title = L"Mise à jour de Tamek Ostrel: ostrel_1_2.diff";
  const std::wstring png = test::ScreenshotFolder() + L"\\progress-40.png";
  DeleteFileW(png.c_str());
  std::wstring initialPercent, initialStatus, percentAt40, statusAt40, secondStatus;
  int widthOf100 = 0, percentWidth = -1;
  LONG style = 0;
  int barAt40 = -1;
  bool saved = false;
  size_t statusWritesWhileUnchanged = 99;
  RunDialog(context, recorder, [&](HWND d) {
    initialPercent = PercentShown(d);
    initialStatus = StatusShown(d);
    style = GetWindowLongW(d, GWL_STYLE);
    // "100 %" fits in the percentage's place.
    HWND percent = GetDlgItem(d, IDC_PROGRESS_PERCENT);
    RECT place = {};
    GetClientRect(percent, &place);
    percentWidth = place.right;
    HDC dc = GetDC(percent);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(percent, WM_GETFONT, 0, 0)));
    SIZE size = {};
    GetTextExtentPoint32W(dc, L"100 %", 5, &size);
    widthOf100 = size.cx;
    SelectObject(dc, old);
    ReleaseDC(percent, dc);
    context.done = 2;
    context.percent = 40;
    context.SetTitle(title);
    WaitFor([&] { return PercentShown(d) == L"40 %" && StatusShown(d) == title; }, kGenerousMs);
    percentAt40 = PercentShown(d);
    statusAt40 = StatusShown(d);
    barAt40 = BarPosition(d);
    test::LetPaint();
    saved = test::SaveWindowPng(d, png);
    // Three ticks with the same title: the status line is not rewritten.
    const size_t before = recorder.Changes(IDC_PROGRESS_STATUS).size();
    Sleep(1600);
    statusWritesWhileUnchanged = recorder.Changes(IDC_PROGRESS_STATUS).size() - before;
    context.SetTitle(L"Mise à jour de Tamek Ostrel: ostrel_1_3.diff");
    WaitFor([&] { return StatusShown(d) != title; }, kGenerousMs);
    secondStatus = StatusShown(d);
    context.finished = true;
  });
  EXPECT_EQ(initialPercent, L"0 %");
  EXPECT_EQ(initialStatus, L"");
  EXPECT_FALSE(style & WS_SYSMENU) << "no close box";
  EXPECT_GT(widthOf100, 0);
  EXPECT_LE(widthOf100, percentWidth);
  EXPECT_EQ(percentAt40, L"40 %");
  EXPECT_EQ(barAt40, 40);
  EXPECT_EQ(statusAt40, title);
  EXPECT_EQ(statusWritesWhileUnchanged, 0u);
  EXPECT_EQ(secondStatus, L"Mise à jour de Tamek Ostrel: ostrel_1_3.diff");
  EXPECT_TRUE(saved);
  EXPECT_NE(GetFileAttributesW(png.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ProgressDialog, AJumpTo100ClosesItASecondAfterShowing100) {
  ProgressContext context;
  Prepare(context, 1);
  Recorder recorder;
  std::atomic<ULONGLONG> jumpedAt{0};
  RunDialog(context, recorder, [&](HWND) {
    jumpedAt = GetTickCount64();
    context.done = 1;
    context.percent = 100;
  });
  const Recorder::Final closed = recorder.Closed();
  EXPECT_EQ(closed.percent, L"100 %");
  EXPECT_EQ(closed.bar, 100);
  const std::vector<Recorder::Change> texts = recorder.Changes(IDC_PROGRESS_PERCENT);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back().text, L"100 %");
  // Shown after the jump, then visible for at least a second before the dialog goes. Only
  // the order and the lower bound are asserted: a loaded machine may delay any tick.
  EXPECT_GE(texts.back().at, jumpedAt.load());
  EXPECT_GE(closed.at - texts.back().at, 950u);
  EXPECT_LE(closed.at - jumpedAt, kGenerousMs);
}

// The worker's wake is enough to show the end: with the dialog's own ticks held back, a jump to
// 100 followed by a wake closes it. The window to wake is known only while the dialog is open.
TEST(ProgressDialog, AWakeFromTheWorkerShowsTheEndWithoutWaitingForATick) {
  ProgressContext context;
  Prepare(context, 1);
  Recorder recorder;
  bool followed = false, closedByTheWake = false;
  RunDialog(context, recorder, [&](HWND d) {
    followed = context.follower.load() == reinterpret_cast<std::uintptr_t>(d);
    recorder.HoldTicks(true);
    context.done = 1;
    context.percent = 100;
    WakeProgressDialog(context);
    closedByTheWake = WaitFor([&] { return !IsWindow(d); }, kGenerousMs);
    recorder.HoldTicks(false);  // a dialog the wake missed then closes on its own
  });
  EXPECT_TRUE(followed);
  EXPECT_TRUE(closedByTheWake);
  EXPECT_EQ(context.follower.load(), 0u);
  EXPECT_EQ(recorder.Closed().percent, L"100 %");
}

TEST(ProgressDialog, ACancelClosesItWithTheBarWhereItWas) {
  ProgressContext context;
  Prepare(context, 5);
  Recorder recorder;
  bool at40 = false;
  ULONGLONG cancelledAt = 0;
  RunDialog(context, recorder, [&](HWND d) {
    context.percent = 40;
    at40 = WaitFor([&] { return BarPosition(d) == 40; }, kGenerousMs);
    cancelledAt = GetTickCount64();
    context.cancelled = true;
  });
  EXPECT_TRUE(at40);
  const Recorder::Final closed = recorder.Closed();
  EXPECT_EQ(closed.bar, 40);
  EXPECT_EQ(closed.percent, L"40 %");
  EXPECT_GE(closed.at - cancelledAt, 950u);
  EXPECT_LE(closed.at - cancelledAt, kGenerousMs);
}

TEST(ProgressDialog, ARunWithoutItemsClosesAfterFinished) {
  ProgressContext context;
  Prepare(context, 0);
  Recorder recorder;
  bool openBeforeFinished = false;
  ULONGLONG finishedAt = 0;
  RunDialog(context, recorder, [&](HWND d) {
    Sleep(1200);  // two ticks with nothing to show
    openBeforeFinished = IsWindowVisible(d) != FALSE;
    finishedAt = GetTickCount64();
    context.finished = true;
  });
  EXPECT_TRUE(openBeforeFinished);
  const Recorder::Final closed = recorder.Closed();
  EXPECT_EQ(closed.percent, L"0 %");
  EXPECT_EQ(closed.bar, 0);
  EXPECT_GE(closed.at - finishedAt, 950u);
  EXPECT_LE(closed.at - finishedAt, kGenerousMs);
}

TEST(ProgressDialog, EndFlagsEachCloseIt) {
  for (std::atomic<bool> ProgressContext::*flag : {&ProgressContext::failed, &ProgressContext::quietEnd}) {
    ProgressContext context;
    Prepare(context, 3);
    context.percent = 33;
    Recorder recorder;
    RunDialog(context, recorder, [&](HWND) { (context.*flag) = true; });
    EXPECT_EQ(recorder.Closed().percent, L"33 %");
    EXPECT_EQ(recorder.Closed().bar, 33);
  }
}

TEST(ProgressDialog, EnterEscapeAndAltF4LeaveItOpen) {
  ProgressContext context;
  Prepare(context, 2);
  Recorder recorder;
  bool openAfterKeys = false;
  RunDialog(context, recorder, [&](HWND d) {
    test::PressKey(d, VK_RETURN);
    test::PressKey(d, VK_ESCAPE);
    test::PressAltKey(d, VK_F4);
    test::PressAltF4(d);
    Sleep(700);
    openAfterKeys = IsWindow(d) && IsWindowVisible(d);
    context.finished = true;
  });
  EXPECT_TRUE(openAfterKeys);
}

TEST(ProgressDialog, TheStatusLineOnlyEverShowsWholeTitles) {
  ProgressContext context;
  Prepare(context, 2);
  Recorder recorder;
  const std::wstring a(300, L'a'), b = L"Mise à jour de Tamek Ostrel: " + std::wstring(200, L'b');
  RunDialog(context, recorder, [&](HWND) {
    const ULONGLONG end = GetTickCount64() + 1300;
    for (unsigned i = 0; GetTickCount64() < end; ++i) context.SetTitle(i % 2 ? a : b);
    context.finished = true;
  });
  const std::vector<Recorder::Change> shown = recorder.Changes(IDC_PROGRESS_STATUS);
  ASSERT_FALSE(shown.empty());
  for (const Recorder::Change& c : shown)
    EXPECT_TRUE(c.text == a || c.text == b || c.text == LoadMessage(IDS_PROGRESS_TITLE)) << c.text.size();
}

}  // namespace
}  // namespace brindle
