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

bool CQXTiedProgram::Start(const std::wstring& commandLine, unsigned long& error) {
  std::wstring mutableLine = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // Suspended until it is tied: it starts nothing of its own before.
  if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &info)) {
    error = GetLastError();
    return false;
  }
  process_.Reset(info.hProcess);
  UniqueHandle thread(info.hThread);
  job_.Reset(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  // The job's last handle closed (this process ended) ends the program; what the program
  // starts itself is left out of the job.
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (job_ && !(SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)) &&
                AssignProcessToJobObject(job_.Get(), process_.Get())))
    job_.Reset();
  ResumeThread(thread.Get());
  return true;
}

void CQXTiedProgram::Untie() {
  if (!job_) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)))
    job_.Reset();
  else
    job_.Release();  // left open: the program then lives as long as this process
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
