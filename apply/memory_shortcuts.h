// Links held in the in-memory file system, for the native tests and brindle-pack's plan: the
// all-users folders are those of the usual Windows on drive C (or as set), and a link is a file
// whose bytes list what it holds. A link written where a folder stands, or over a read-only
// file, is refused (access denied) and one in a missing folder answers path not found, as the
// shell's save answers.
#pragma once
#include <string>
#include <vector>

#include "apply/machine_shortcuts.h"
#include "apply/memory_files.h"

namespace brindle {

class MemoryShortcuts : public MachineShortcuts {
 public:
  static constexpr const wchar_t* kUsualDesktop = L"C:\\Users\\Public\\Desktop";
  static constexpr const wchar_t* kUsualPrograms =
      L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";

  explicit MemoryShortcuts(MemoryFiles& files);

  bool CommonFolder(ShortcutPlace place, std::wstring& folder) override;
  std::vector<std::wstring> ProtectedFolders() override { return protected_; }
  std::int32_t WriteLink(const std::wstring& path, const ShortcutLink& link) override;

  // The folder of a place (empty: the system names none); the protected folders are the two
  // common folders unless set.
  void SetCommonFolder(ShortcutPlace place, const std::wstring& folder);
  void SetProtectedFolders(std::vector<std::wstring> folders) { protected_ = std::move(folders); }
  // The link written at the path; false when no file is there or it holds no link.
  bool ReadLink(const std::wstring& path, ShortcutLink& link) const;

 private:
  MemoryFiles& files_;
  std::wstring desktop_ = kUsualDesktop;
  std::wstring programs_ = kUsualPrograms;
  std::vector<std::wstring> protected_ = {kUsualDesktop, kUsualPrograms};
};

}  // namespace brindle
