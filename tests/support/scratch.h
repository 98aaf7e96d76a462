// Scratch places for tests: a fresh folder (and, on Windows, a fresh registry key) per test,
// removed again when the test ends, so that no test depends on another's leftovers.
#pragma once
#include <string>

namespace brindle::test {

class ScratchFolder {
 public:
  ScratchFolder();   // a new empty folder under the system's temporary folder
  ~ScratchFolder();  // removes it with everything inside
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::wstring& Path() const { return path_; }  // forward slashes, no trailing slash
  std::wstring File(const std::wstring& name) const { return path_ + L"/" + name; }

 private:
  std::wstring path_;
};

// Whole-file helpers on forward- or backslash paths.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool ReadBytes(const std::wstring& path, std::string& bytes);
bool FileExists(const std::wstring& path);
bool RemoveTree(const std::wstring& path);

// Processor time this process has used so far, in seconds (user and system); unlike the wall
// clock it does not grow when other programs load the machine.
double ProcessCpuSeconds();

}  // namespace brindle::test
