// The system's COM registration behind MachineCom: a server's own entry points, the system's
// registration tool of its bitness, and the machine's RunOnce key for what waits for the next
// logon (CComRegistration).
#pragma once
#include "apply/machine_com.h"

namespace brindle {

class WinMachineCom : public MachineCom {
 public:
  bool Unregister(const std::wstring& path, bool is64Bit, unsigned long& code) override;
  bool Register(const std::wstring& path, bool is64Bit, bool& queued) override;
  bool WaitingRegistrationName(const std::wstring& path, bool is64Bit, std::wstring& name) override;
};

}  // namespace brindle
