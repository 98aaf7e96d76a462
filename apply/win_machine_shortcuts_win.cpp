#include "apply/win_machine_shortcuts_win.h"

#include "apply/file_actions_win.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

namespace brindle {

bool WinMachineShortcuts::CommonFolder(ShortcutPlace place, std::wstring& folder) {
  return CFileActions::GetSpecialFolder(
      place == ShortcutPlace::kProgramMenu ? CSIDL_COMMON_PROGRAMS : CSIDL_COMMON_DESKTOPDIRECTORY, folder);
}

std::vector<std::wstring> WinMachineShortcuts::ProtectedFolders() { return CFileActions::ProtectedFolders(); }

// Each part is set only while the ones before it succeeded; the save reports the first failure.
std::int32_t WinMachineShortcuts::WriteLink(const std::wstring& path, const ShortcutLink& link) {
  ComPtr<IShellLinkW> shellLink;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    shellLink.ReceiveVoid());
  ComPtr<IPersistFile> file;
  if (SUCCEEDED(result)) result = shellLink.As(file, IID_IPersistFile);
  if (SUCCEEDED(result)) result = shellLink->SetPath(link.target.c_str());
  if (SUCCEEDED(result) && !link.arguments.empty()) result = shellLink->SetArguments(link.arguments.c_str());
  if (SUCCEEDED(result) && !link.workFolder.empty())
    result = shellLink->SetWorkingDirectory(link.workFolder.c_str());
  if (SUCCEEDED(result)) result = shellLink->SetShowCmd(link.showCommand);
  if (SUCCEEDED(result) && !link.description.empty())
    result = shellLink->SetDescription(link.description.c_str());
  if (SUCCEEDED(result)) result = file->Save(path.c_str(), TRUE);
  return static_cast<std::int32_t>(result);
}

}  // namespace brindle
