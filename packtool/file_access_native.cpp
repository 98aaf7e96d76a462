#include "packtool/file_access.h"

#include "sys/text.h"

#include <sys/stat.h>

namespace brindle::pack {

fs::path FsPath(const std::wstring& path) {
  std::wstring p = path;
  for (wchar_t& c : p)
    if (c == L'\\') c = L'/';
  return fs::path(Utf8FromWide(p));
}

std::wstring WidePath(const fs::path& path) { return WideFromUtf8(path.generic_string()); }

bool FileWriteTime(const std::wstring& path, std::uint64_t& ticks) {
  struct stat st;
  if (stat(FsPath(path).c_str(), &st) != 0) return false;
  const long long seconds = static_cast<long long>(st.st_mtim.tv_sec) + 11644473600LL;  // 1601 to 1970
  if (seconds < 0) return false;
  ticks = static_cast<std::uint64_t>(seconds) * 10000000ULL +
          static_cast<std::uint64_t>(st.st_mtim.tv_nsec) / 100;
  return true;
}

bool MachineShortcutFolder(bool, std::wstring&) { return false; }

}  // namespace brindle::pack
