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
    case WAIT_OBJECT_0: return ChildWait::Ended;
    case WAIT_OBJECT_0 + 1: return ChildWait::Cancelled;
    case WAIT_TIMEOUT: return ChildWait::TimedOut;
    default: return ChildWait::Failed;
  }
}

namespace {

// A drive with its root ("C:\...") or a network share ("\\server\...").
bool IsFullPath(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
      ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')))
    return true;
  return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
}

}  // namespace

std::wstring ChildCommandLine(const ChildStart& start) {
  const std::wstring quoted = L"\"" + start.program + L"\"";
  return start.arguments.empty() ? quoted : quoted + L" " + start.arguments;
}

std::wstring FolderOfProgram(const std::wstring& program) {
  const size_t slash = program.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::wstring();
  // "C:\setup.exe" lies in "C:\", which keeps its separator.
  return program.substr(0, slash == 2 && program[1] == L':' ? 3 : slash);
}

std::wstring SystemFolderPath() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(folder, length);
}

bool StartChild(const ChildStart& start, DWORD flags, WORD show, PROCESS_INFORMATION& info,
                unsigned long& error) {
  info = {};
  if (!IsFullPath(start.program) || !IsFullPath(start.folder) ||
      start.program.find(L'"') != std::wstring::npos) {
    error = ERROR_BAD_PATHNAME;
    return false;
  }
  std::wstring commandLine = ChildCommandLine(start);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  if (!CreateProcessW(start.program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                      start.folder.c_str(), &startup, &info)) {
    error = GetLastError();
    return false;
  }
  return true;
}

bool CQXTiedProgram::Start(const ChildStart& start, unsigned long& error) {
  PROCESS_INFORMATION info = {};
  // Suspended until it is tied: it starts nothing of its own before.
  if (!StartChild(start, NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, SW_SHOWDEFAULT, info, error)) return false;
  process_.Reset(info.hProcess);
  UniqueHandle thread(info.hThread);
  job_.Reset(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  // The job's last handle closed (this process ended) ends the program; what the program
  // starts itself is left out of the job.
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (job_ &&
      !(SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)) &&
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
  else job_.Release();  // left open: the program then lives as long as this process
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
