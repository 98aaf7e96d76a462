// The writer's shared stream: the file opened for appending, each line flushed.
#include "uninstlog/profile.h"

#include "sys/file_stream.h"

#include <cstdio>

namespace brindle {

namespace {
std::FILE* g_stream = nullptr;
}

bool OpenProfileStream(const std::wstring& path) {
  if (g_stream) return false;
  // Binary append: the writer supplies the CR LF line ends itself.
  g_stream = OpenFileForAppend(path);
  return g_stream != nullptr;
}

bool WriteProfileStream(const std::string& bytes) {
  if (!g_stream) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), g_stream) == bytes.size();
  return std::fflush(g_stream) == 0 && written;
}

bool CloseProfileStream() {
  if (!g_stream) return true;
  const bool flushed = FlushFileToDisk(g_stream);
  const bool closed = std::fclose(g_stream) == 0;
  g_stream = nullptr;
  return flushed && closed;
}

}  // namespace brindle
