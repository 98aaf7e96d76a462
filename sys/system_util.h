// Questions and requests to the operating system: version, locale, users and rights, free
// space, threads, restart, the installer wrapper's version. CQXSystemUtil is the interface the
// driver works with; CWinQXSystemUtil asks the real system and holds no data.
#pragma once
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>  // first, so that its GetUserName macro can be taken away below
#endif
#ifdef GetUserName
#undef GetUserName  // the interface's own operation, not the system's A/W macro
#endif

namespace brindle {

class CQXSystemUtil {
 public:
  using ThreadFunction = unsigned (*)(void* argument);

  virtual ~CQXSystemUtil() = default;
  virtual bool GetOSVersionText(std::wstring& text) = 0;
  virtual bool GetOSVersion(int& major, int& minor, int& servicePackMajor) = 0;
  virtual int GetServicePackMajor() = 0;
  virtual std::wstring GetSystemLocaleId() = 0;
  virtual bool IsSessionUserAdmin() = 0;
  virtual bool HasFreeSpace(std::uint64_t requiredBytes, const std::wstring& folder) = 0;
  virtual bool IsAdministrator() = 0;
  virtual void Sleep(unsigned milliseconds) = 0;
  // Starts the function on a new thread; returns the thread identifier (0 on failure).
  virtual unsigned StartThread(ThreadFunction function, void* argument) = 0;
  // Waits without a time limit for the thread to end; 0 when it cannot be opened, else 1.
  virtual int WaitForThread(unsigned threadId) = 0;
  virtual bool Reboot() = 0;
  virtual std::wstring GetInstalledWrapperVersion(const std::wstring& componentName) = 0;
  virtual std::wstring GetUserName() = 0;
};

// The system utility published for the run (none outside a run).
CQXSystemUtil* GetSystemUtil();
void SetSystemUtil(CQXSystemUtil* system);

#ifdef _WIN32
class CWinQXSystemUtil : public CQXSystemUtil {
 public:
  bool GetOSVersionText(std::wstring& text) override;
  bool GetOSVersion(int& major, int& minor, int& servicePackMajor) override;
  int GetServicePackMajor() override;
  std::wstring GetSystemLocaleId() override;
  bool IsSessionUserAdmin() override;
  bool HasFreeSpace(std::uint64_t requiredBytes, const std::wstring& folder) override;
  bool IsAdministrator() override;
  void Sleep(unsigned milliseconds) override;
  unsigned StartThread(ThreadFunction function, void* argument) override;
  int WaitForThread(unsigned threadId) override;
  bool Reboot() override;
  std::wstring GetInstalledWrapperVersion(const std::wstring& componentName) override;
  std::wstring GetUserName() override;
};

// Called once per running process, and once per 16-bit task inside every NTVDM.EXE, with the
// process identifier, the task identifier (0 for an ordinary process) and the executable's
// file name. Returning false stops the enumeration.
using ProcessCallback = bool (*)(unsigned long processId, unsigned short taskId, const std::wstring& exeName,
                                 void* data);
bool EnumerateProcesses(ProcessCallback callback, void* data);
// A process whose executable file name equals name, ignoring case, is running.
bool IsProcessRunning(const std::wstring& exeName);
// As IsProcessRunning, skipping the calling process; title is that process's main window title.
bool FindRunningProcess(const std::wstring& exeName, std::wstring& title);
// The title of the process's first visible, titled top-level window that is not a tool window.
bool GetProcessWindowTitle(unsigned long processId, std::wstring& title);
// Asks the desktop's icon view to refresh itself (F5).
bool RefreshDesktop();
// The user logged on to this process's session.
bool GetSessionUserName(std::wstring& name);
#endif

}  // namespace brindle
