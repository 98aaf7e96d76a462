// The record one update run shares between its worker thread, the progress dialog and the hidden
// window of the component mode. The worker writes the counters, the title and the end flags; the
// main thread polls them and sets only `cancelled`. Every number and flag is one atomic store,
// so a reader never sees half of it; the title is a whole string, handed over under a small lock
// so that the dialog only ever copies a complete text.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace brindle {

class CQXUpdater;

struct ProgressContext {
  CQXUpdater* updater = nullptr;  // owner of the run
  std::atomic<std::int32_t> rangeMinimum{0};
  std::atomic<std::int32_t> rangeMaximum{0};  // the driver sets 100 for the dialog; 0 in the component mode
  std::atomic<std::int32_t> percent{0};       // 0..100
  std::atomic<std::int32_t> total{0};         // items of the running loop
  std::atomic<std::int32_t> done{0};          // items finished so far
  std::atomic<bool> failed{false};            // an update step failed
  std::atomic<bool> quietEnd{false};          // a setup program reported its own failure
  std::atomic<bool> cancelled{false};         // the user aborted
  std::atomic<bool> finished{false};          // the worker thread has ended
  // The window that shows the run, while it is open (0 otherwise): the worker wakes it when the
  // run may have ended, so that the end is shown without waiting for the window's next look.
  std::atomic<std::uintptr_t> follower{0};

  ProgressContext() = default;
  ProgressContext(const ProgressContext&) = delete;
  ProgressContext& operator=(const ProgressContext&) = delete;

  // Replaces the title as a whole.
  void SetTitle(std::wstring title) {
    std::lock_guard<std::mutex> hold(titleLock_);
    title_.swap(title);
  }
  // A copy of the complete title as last set.
  std::wstring Title() const {
    std::lock_guard<std::mutex> hold(titleLock_);
    return title_;
  }
  // True when any of the flags that end the run is set.
  bool Ended() const { return failed || quietEnd || cancelled || finished; }

  // Back to the state of a run that has not started (the owner is kept).
  void Clear() {
    rangeMinimum = 0;
    rangeMaximum = 0;
    percent = 0;
    total = 0;
    done = 0;
    failed = false;
    quietEnd = false;
    cancelled = false;
    finished = false;
    SetTitle(std::wstring());
  }

 private:
  mutable std::mutex titleLock_;
  std::wstring title_;
};

}  // namespace brindle
