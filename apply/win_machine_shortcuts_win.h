// The shell's links on Windows: the all-users desktop and program menu as the shell (or, without
// it, the registry) names them, and a link written through the shell's link object (COM must be
// initialised on the calling thread).
#pragma once
#include "apply/machine_shortcuts.h"

namespace brindle {

class WinMachineShortcuts : public MachineShortcuts {
 public:
  bool CommonFolder(ShortcutPlace place, std::wstring& folder) override;
  std::vector<std::wstring> ProtectedFolders() override;
  std::int32_t WriteLink(const std::wstring& path, const ShortcutLink& link) override;
};

}  // namespace brindle
