// The shell's links as a package's shortcut actions see them: the all-users folders the links go
// in, the folders a removal of emptied folders must stay inside, and a link written at a path.
// A link's file is otherwise a file like any other, looked at, moved aside and removed through
// MachineFiles. Windows answers through the shell's link object; an in-memory one answers the
// tests and brindle-pack's plan.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace brindle {

// The show commands a link opens its target's window with (the system's own values).
enum : int { kShowNormal = 1, kShowMaximised = 3, kShowMinimisedNoActive = 7 };

// What a link holds, as the package's record gives it (expanded). An empty argument, working
// folder or description is not set.
struct ShortcutLink {
  std::wstring target;
  std::wstring arguments;
  std::wstring workFolder;
  std::wstring description;
  int showCommand = kShowNormal;
};

// The all-users folder a link goes in.
enum class ShortcutPlace { kDesktop, kProgramMenu };

class MachineShortcuts {
 public:
  virtual ~MachineShortcuts() = default;
  // The folder's path (backslashes); false when the system names none.
  virtual bool CommonFolder(ShortcutPlace place, std::wstring& folder) = 0;
  // The folders a removal of emptied folders stays strictly inside and never removes.
  virtual std::vector<std::wstring> ProtectedFolders() = 0;
  // Writes the link at the path (backslashes), over a file there; the shell's result (negative
  // on failure, as the system's HRESULT).
  virtual std::int32_t WriteLink(const std::wstring& path, const ShortcutLink& link) = 0;
};

// The shell's result for a system error code (HRESULT_FROM_WIN32).
inline std::int32_t ShellResultOf(unsigned long error) {
  return error == 0 ? 0 : static_cast<std::int32_t>((error & 0xFFFFu) | 0x80070000u);
}

}  // namespace brindle
