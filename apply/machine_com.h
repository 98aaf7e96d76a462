// The machine's COM registration as the COM steps use it. The program's is the system's
// (WinMachineCom: a server's own entry points, the system's registration tool, the machine's
// RunOnce key); MemoryCom holds the servers registered in memory, for the tests and the plan.
#pragma once
#include <string>

namespace brindle {

class MachineCom {
 public:
  virtual ~MachineCom() = default;
  // Unregisters the server now (never queued): true when done; else code receives the
  // registration tool's exit code or the error that kept it from starting, or 0.
  virtual bool Unregister(const std::wstring& path, bool is64Bit, unsigned long& code) = 0;
  // Registers the server now, or queues its registration for the next logon (queued set).
  virtual bool Register(const std::wstring& path, bool is64Bit, bool& queued) = 0;
  // The RunOnce value under which a registration of the server would wait for the next logon;
  // false when it would wait under none (a local server, or no short path for it).
  virtual bool WaitingRegistrationName(const std::wstring& path, bool is64Bit, std::wstring& name) = 0;
};

}  // namespace brindle
