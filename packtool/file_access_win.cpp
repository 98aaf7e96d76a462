#include "packtool/file_access.h"

#include "apply/file_actions_win.h"

#include <windows.h>
#include <shlobj.h>

namespace brindle::pack {

fs::path FsPath(const std::wstring& path) { return fs::path(path); }

std::wstring WidePath(const fs::path& path) { return path.generic_wstring(); }

bool FileWriteTime(const std::wstring& path, std::uint64_t& ticks) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(FsPath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  ticks = (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool MachineShortcutFolder(bool programMenu, std::wstring& folder) {
  return CFileActions::GetSpecialFolder(programMenu ? CSIDL_COMMON_PROGRAMS : CSIDL_COMMON_DESKTOPDIRECTORY,
                                        folder);
}

}  // namespace brindle::pack
