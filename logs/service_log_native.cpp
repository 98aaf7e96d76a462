// The native build's file side of the service log: the per-user data folder of the XDG rules.
#include "logs/service_log.h"

#include "sys/paths.h"
#include "sys/text.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace brindle {

std::wstring LogTimeStamp() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm local;
  localtime_r(&tv.tv_sec, &local);
  return FormatLogTimeStamp(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min, local.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

std::wstring ServiceLogFolder() {
  std::wstring base;
  if (const char* data = std::getenv("XDG_DATA_HOME")) base = WideFromUtf8(data);
  else if (const char* home = std::getenv("HOME")) base = WideFromUtf8(home) + L"/.local/share";
  return JoinPath(ToForwardSlashes(base), kServiceLogSubfolder);
}

bool CreateServiceLogFolder(const std::wstring& folder) { return CreateFolderChain(folder); }

bool AppendServiceLogLine(const std::wstring& path, const std::wstring& line) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  std::FILE* f = std::fopen(Utf8FromWide(path).c_str(), "a+b");
  if (!f) return false;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  char head[2] = {};
  std::fseek(f, 0, SEEK_SET);
  const size_t got = std::fread(head, 1, 2, f);
  const std::string bytes =
      EncodeServiceLogLine(line, DetectLogFileEncoding(std::string(head, got), size < 0 ? 0 : size));
  std::fseek(f, 0, SEEK_END);
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace brindle
