// The tool's own file access, on std::filesystem: whole-file reads and writes, folder walks and
// time stamps. Paths are wide text with '/' or '\' separators; the platform part only turns
// them into std::filesystem paths and back.
#pragma once
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace brindle::pack {

namespace fs = std::filesystem;

// A filesystem path for wide text (native build: through UTF-8), and back (with '/').
fs::path FsPath(const std::wstring& path);
std::wstring WidePath(const fs::path& path);

bool ReadFileBytes(const std::wstring& path, std::string& bytes);
// Creates the file's folder when it is missing.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The same, where the path "-" stands for the tool's standard input or output.
bool ReadInputBytes(const std::wstring& path, std::string& bytes);
bool WriteOutputBytes(const std::wstring& path, const std::string& bytes);
// The streams "-" stands for (set by the tool's entry for each command line).
void SetStandardStreams(std::istream* in, std::ostream* out);
bool IsFile(const std::wstring& path);
bool IsFolder(const std::wstring& path);
// The file's last write in the system's own unit (100 ns since 1601, UTC); false when unknown.
bool FileWriteTime(const std::wstring& path, std::uint64_t& ticks);

// The machine's common folder of shortcuts (the program menu, or the desktop) as the program
// asks the system for it; false where the tool runs on no such machine (the native build).
bool MachineShortcutFolder(bool programMenu, std::wstring& folder);

// One file below a folder: its path relative to the folder (components joined by '/') and its
// full path.
struct FolderFile {
  std::wstring relative;
  std::wstring full;
};
// Every regular file below the folder, sorted by relative path; false when the folder cannot
// be listed.
bool ListFiles(const std::wstring& folder, std::vector<FolderFile>& files);

// A fresh empty folder under the system's temporary folder, removed with everything in it when
// the object ends.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& Path() const { return path_; }
  bool Ok() const { return !path_.empty(); }

 private:
  std::wstring path_;
};

}  // namespace brindle::pack
