// What the dialog tests share: a second thread that finds a dialog the test's own thread is
// showing modally and acts on it as a person would, and the folder the screenshots go to.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "support/ui_driver_win.h"

namespace brindle::test {

// Starts a thread that waits for the dialog with this caption and runs `act` on it. If the
// dialog never appears, or is still open long after `act` has returned, the thread runs
// `giveUp` (by default: closes every window of the test's thread) so that a failing test cannot
// hang the run.
class DialogActor {
 public:
  DialogActor(std::wstring caption, std::function<void(HWND)> act, std::function<void()> giveUp = nullptr)
      : ownerThread_(GetCurrentThreadId()),
        thread_([this, caption = std::move(caption), act = std::move(act), giveUp = std::move(giveUp)] {
          HWND dialog = FindDialog(caption, 5000);
          found_ = dialog != nullptr;
          if (dialog) {
            act(dialog);
            if (WaitWindowGone(dialog, 8000)) return;
          }
          if (giveUp) giveUp();
          else EnumThreadWindows(ownerThread_, &CloseOne, 0);
        }) {}
  ~DialogActor() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool Found() const { return found_; }

 private:
  static BOOL CALLBACK CloseOne(HWND window, LPARAM) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
  }
  DWORD ownerThread_;
  std::atomic<bool> found_{false};
  std::thread thread_;
};

// build/win64/screenshots as a Windows path (created when missing).
inline std::wstring ScreenshotFolder() {
  std::wstring folder = L"Z:" BRINDLE_BUILD_DIR L"/screenshots";
  for (wchar_t& c : folder)
    if (c == L'/') c = L'\\';
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

// Lets the dialog paint itself before a picture is taken.
inline void LetPaint() { Sleep(300); }

}  // namespace brindle::test
