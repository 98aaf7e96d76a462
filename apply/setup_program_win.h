// A setup program named in a list instead of a patch package: started, waited for, deleted, and
// its outcome read from the registry key through which such programs report.
#pragma once
#include <string>

namespace brindle {

extern const wchar_t kSetupProtocolKey[];  // under HKLM

class CSetupProgram {
 public:
  // 0 done, 2 failed, 3 the program reported a failure.
  int Run(const std::wstring& path);
  // The program asked for a restart (RebootNeeded other than "FALSE").
  bool RebootRequested() const { return reboot_; }

 private:
  bool reboot_ = false;
};

}  // namespace brindle
