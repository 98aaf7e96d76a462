// The process-wide guard that switches WOW64 file-system redirection off and on per thread, so
// that a 32-bit program on 64-bit Windows can reach the 64-bit system folder for the objects that
// ask for it. It exists only on 64-bit Windows. In the 64-bit build there is no redirection to
// switch: the switches succeed and change nothing.
#pragma once
#ifdef _WIN32
#include <windows.h>

#include <mutex>
#include <vector>

namespace brindle {

// True on 64-bit Windows: the 32-bit build running under WOW64, or the 64-bit build.
bool IsWow64Windows();

class CQXWow64Redirection {
 public:
  // The guard, created on first use; none on 32-bit Windows or when the question fails.
  static CQXWow64Redirection* Get();
  // Reverts every thread still switched off and destroys the guard; the next Get makes a new one.
  static void Release();

  ~CQXWow64Redirection();
  CQXWow64Redirection(const CQXWow64Redirection&) = delete;
  CQXWow64Redirection& operator=(const CQXWow64Redirection&) = delete;

  // Switches redirection off for the calling thread (at once true when it already is).
  bool Disable();
  // Switches it back on for the calling thread (at once true when it was not switched off).
  bool Revert();
  // Whether the calling thread has redirection switched off through the guard.
  bool IsDisabledOnThisThread();

 private:
  CQXWow64Redirection() = default;
  std::mutex lock_;
  std::vector<DWORD> threads_;
  std::vector<PVOID> oldValues_;
};

}  // namespace brindle
#endif
