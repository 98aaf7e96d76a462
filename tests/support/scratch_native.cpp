#include "support/scratch.h"

#include "sys/text.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <time.h>

namespace brindle::test {

namespace fs = std::filesystem;

namespace {
fs::path Native(const std::wstring& path) {
  std::wstring p = path;
  for (auto& c : p)
    if (c == L'\\') c = L'/';
  return fs::path(Utf8FromWide(p));
}
}  // namespace

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "brindle-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = WideFromUtf8(made ? made : "");
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool ReadBytes(const std::wstring& path, std::string& bytes) {
  std::ifstream in(Native(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  bytes = s.str();
  return true;
}

bool FileExists(const std::wstring& path) {
  std::error_code ec;
  return fs::exists(Native(path), ec);
}

bool RemoveTree(const std::wstring& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::remove_all(Native(path), ec);
  return !ec;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace brindle::test
