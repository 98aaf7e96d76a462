#include "sys/child_wait.h"

#include <atomic>

namespace brindle {

namespace {

// A manual-reset event: once set, every wait sees it until the next run clears it.
HANDLE CancelEvent() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

std::atomic<UnendedWaitReport> g_unendedWaitReport{nullptr};

}  // namespace

void SetUnendedWaitReport(UnendedWaitReport report) { g_unendedWaitReport = report; }

bool WaitForProgramEnd(HANDLE process, const std::wstring& program, unsigned long timeoutMs) {
  const ChildWait wait = WaitForChild(process, timeoutMs);
  if (wait == ChildWait::Ended) return true;
  if (const UnendedWaitReport report = g_unendedWaitReport) report(program, wait, timeoutMs);
  return false;
}

ChildWait WaitForChild(HANDLE process, unsigned long timeoutMs) {
  const HANDLE cancel = CancelEvent();
  const HANDLE handles[2] = {process, cancel};
  const DWORD count = cancel ? 2 : 1;
  switch (WaitForMultipleObjects(count, handles, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0:
      return ChildWait::Ended;
    case WAIT_OBJECT_0 + 1:
      return ChildWait::Cancelled;
    case WAIT_TIMEOUT:
      return ChildWait::TimedOut;
    default:
      return ChildWait::Failed;
  }
}

const wchar_t* DescribeWait(ChildWait wait) {
  switch (wait) {
    case ChildWait::Ended: return L"ended";
    case ChildWait::Cancelled: return L"cancelled";
    case ChildWait::TimedOut: return L"timeout";
    case ChildWait::Failed: return L"wait failed";
  }
  return L"unknown";
}

void SignalCancel() {
  if (HANDLE event = CancelEvent()) SetEvent(event);
}

void ClearCancel() {
  if (HANDLE event = CancelEvent()) ResetEvent(event);
}

bool CancelSignalled() {
  const HANDLE event = CancelEvent();
  return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace brindle
