// Reading the uninstall log from disk: opened with sharing for readers only, so that a writer
// that holds the file open makes the load fail instead of reading a half-written log.
#include "uninstlog/ini_file.h"

#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

namespace brindle {

bool ReadUninstallLogBytes(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  UniqueFile file(CreateFileW(ToBackslashes(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart > 0x7FFFFFFF)
    return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &got,
                  nullptr))
      return false;
    if (got == 0) break;  // the file shrank meanwhile: keep what was read
    done += got;
  }
  bytes.resize(done);
  return true;
}

}  // namespace brindle
