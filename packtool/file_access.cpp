#include "packtool/file_access.h"

#include <algorithm>
#include <fstream>
#include <random>

namespace brindle::pack {

namespace {
std::istream* standardInput = nullptr;
std::ostream* standardOutput = nullptr;
}  // namespace

void SetStandardStreams(std::istream* in, std::ostream* out) {
  standardInput = in;
  standardOutput = out;
}

bool ReadInputBytes(const std::wstring& path, std::string& bytes) {
  if (path != L"-") return ReadFileBytes(path, bytes);
  if (!standardInput) return false;
  bytes.assign(std::istreambuf_iterator<char>(*standardInput), std::istreambuf_iterator<char>());
  return !standardInput->bad();
}

bool WriteOutputBytes(const std::wstring& path, const std::string& bytes) {
  if (path != L"-") return WriteFileBytes(path, bytes);
  if (!standardOutput) return false;
  standardOutput->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return !standardOutput->fail();
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  const fs::path p = FsPath(path);
  std::error_code ec;
  if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool IsFile(const std::wstring& path) {
  std::error_code ec;
  return fs::is_regular_file(FsPath(path), ec);
}

bool IsFolder(const std::wstring& path) {
  std::error_code ec;
  return fs::is_directory(FsPath(path), ec);
}

bool ListFiles(const std::wstring& folder, std::vector<FolderFile>& files) {
  files.clear();
  std::error_code ec;
  const fs::path root = FsPath(folder);
  if (!fs::is_directory(root, ec)) return false;
  fs::recursive_directory_iterator it(root, ec), end;
  if (ec) return false;
  for (; it != end; it.increment(ec)) {
    if (ec) return false;
    if (!it->is_regular_file(ec)) continue;
    const fs::path rel = it->path().lexically_relative(root);
    files.push_back({WidePath(rel), WidePath(it->path())});
  }
  std::sort(files.begin(), files.end(),
            [](const FolderFile& a, const FolderFile& b) { return a.relative < b.relative; });
  return true;
}

TempFolder::TempFolder() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return;
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("brindle-pack-" + std::to_string(random() % 1000000000u));
    if (fs::create_directory(candidate, ec) && !ec) {
      path_ = WidePath(candidate);
      return;
    }
  }
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(FsPath(path_), ec);
}

}  // namespace brindle::pack
