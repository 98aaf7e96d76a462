// The native build's path helpers follow the same rules as the system's path functions, on
// backslash form, so the platform-neutral code behaves alike in both builds.
#include "sys/paths.h"
#include "sys/text.h"

#include <sys/stat.h>

#include <string>

namespace brindle {

std::wstring ParentFolder(const std::wstring& path) {
  std::wstring p = ToBackslashes(path);
  size_t slash = p.find_last_of(L'\\');
  if (slash == std::wstring::npos) {
    size_t colon = p.find(L':');
    return colon == 1 ? ToForwardSlashes(p.substr(0, 2)) : std::wstring();
  }
  // Keep a root backslash ("C:\" or "\") the way PathRemoveFileSpecW keeps it.
  if (slash == 0 || (slash == 2 && p[1] == L':')) p.erase(slash + 1);
  else p.erase(slash);
  return ToForwardSlashes(p);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  std::wstring a = ToBackslashes(folder), b = ToBackslashes(name);
  while (!b.empty() && b.front() == L'\\') b.erase(0, 1);
  if (!a.empty() && a.back() != L'\\' && !b.empty()) a += L'\\';
  return ToForwardSlashes(a + b);
}

bool PathExists(const std::wstring& path) {
  struct stat st;
  return stat(Utf8FromWide(ToForwardSlashes(path)).c_str(), &st) == 0;
}

bool CreateFolderChain(const std::wstring& folder) {
  std::string path = Utf8FromWide(ToForwardSlashes(folder));
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty()) return false;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      struct stat st;
      if (stat(part.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) return false;
        continue;
      }
      if (mkdir(part.c_str(), 0755) != 0) {
        if (stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
      }
    }
  }
  return true;
}

}  // namespace brindle
