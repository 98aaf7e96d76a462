// A setup program named in a list instead of a patch package: started, waited for, deleted, and
// its outcome read from the registry key through which such programs report.
#pragma once
#include <string>

#include "apply/sub_updater.h"

namespace brindle {

extern const wchar_t kSetupProtocolKey[];  // under HKLM

class CSetupProgram {
 public:
  // Done, failed (not started, not finished, no answer), or the program reported a failure.
  RunProgramResult Run(const std::wstring& path);
  // The program asked for a restart (RebootNeeded other than "FALSE").
  bool RebootRequested() const { return reboot_; }

 private:
  bool reboot_ = false;
};

}  // namespace brindle
