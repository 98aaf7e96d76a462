// Reading the uninstall log from disk on the native build (backslash paths are accepted).
#include "uninstlog/ini_file.h"

#include "sys/paths.h"
#include "sys/text.h"

#include <cstdio>

namespace brindle {

bool ReadUninstallLogBytes(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  std::FILE* f = std::fopen(Utf8FromWide(ToForwardSlashes(path)).c_str(), "rb");
  if (!f) return false;
  char chunk[65536];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, got);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

}  // namespace brindle
