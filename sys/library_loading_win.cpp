#include "sys/library_loading.h"

#include <windows.h>

namespace brindle {

namespace {

// Present from Windows 8 on, and on Windows 7 with its library-loading update.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
const DWORD kSearchLoadDir = 0x00000100;   // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR

bool SearchFlagsKnown() {
  static const bool known =
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories") != nullptr;
  return known;
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(folder, length);
}

}  // namespace

void HardenProcess() {
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  SetDllDirectoryW(L"");  // the current folder is no place to look for libraries
  if (auto restrict = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")))) {
    restrict(kSearchSystem32);
  }
}

UniqueModule LoadSystemLibrary(const wchar_t* fileName) {
  if (SearchFlagsKnown()) return UniqueModule(LoadLibraryExW(fileName, nullptr, kSearchSystem32));
  // Older systems: the full path of the system folder's copy (a 32-bit process on 64-bit
  // Windows is sent to its own system folder by the system, as for every other path there).
  const std::wstring folder = SystemFolder();
  if (folder.empty()) return UniqueModule();
  return UniqueModule(LoadLibraryExW((folder + L"\\" + fileName).c_str(), nullptr, 0));
}

UniqueModule LoadLibraryWithItsFolder(const std::wstring& fullPath) {
  if (SearchFlagsKnown())
    return UniqueModule(LoadLibraryExW(fullPath.c_str(), nullptr, kSearchLoadDir | kSearchSystem32));
  return UniqueModule(LoadLibraryExW(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace brindle
