// File utilities beyond a plain copy: comparing two files, creating a folder, copying a file or
// a folder tree, a file's size and time as text; and the free functions for folder chains, file
// versions and times, and extracting a package cabinet with the system's cabinet library.
#pragma once
#include <cstdint>
#include <string>

namespace brindle {

class CQXFileUtil {
 public:
  virtual ~CQXFileUtil() = default;
  // 1 same bytes, 0 different (a byte or the length), -1 either cannot be read.
  virtual int CompareFiles(const std::wstring& first, const std::wstring& second) = 0;
  // True when the path exists; otherwise creates that one folder (not its parents).
  virtual bool CreateFolder(const std::wstring& path) = 0;
  // A file: copied (its destination's parents created first); false when the destination
  // exists and overwrite is not set. A folder: its contents copied by the shell into the
  // destination, and the answer is false.
  virtual bool CopyPath(const std::wstring& source, const std::wstring& destination, bool overwrite) = 0;
  // Size in bytes as decimal text; empty when the file cannot be opened.
  virtual std::wstring GetFileSizeText(const std::wstring& path) = 0;
  // Last-write time, local, "%Y-%m-%dT%H:%M:%S"; the text is emptied when it cannot be had.
  virtual void GetFileTimeText(const std::wstring& path, std::wstring& text) = 0;
};

// The process-wide file utility, created on first use.
CQXFileUtil& GetFileUtil();

#ifdef _WIN32
class CWinQXFileUtil : public CQXFileUtil {
 public:
  int CompareFiles(const std::wstring& first, const std::wstring& second) override;
  bool CreateFolder(const std::wstring& path) override;
  bool CopyPath(const std::wstring& source, const std::wstring& destination, bool overwrite) override;
  std::wstring GetFileSizeText(const std::wstring& path) override;
  void GetFileTimeText(const std::wstring& path, std::wstring& text) override;
};

// Creates every folder before each '\' of the path (the text after the last '\' is not
// created, so a folder path ends with '\'). False when the root's drive is unknown or a folder
// cannot be created.
bool CreateFolderPath(const std::wstring& path);
// The fixed file version of the version resource (most significant half first).
bool GetFileVersion(const std::wstring& path, std::uint32_t& mostSignificant,
                    std::uint32_t& leastSignificant);
// The last-write time (FILETIME as 64 bits); false when the file cannot be opened.
bool GetFileWriteTime(const std::wstring& path, std::uint64_t& time);
// The whole file's bytes. Readers always share the file; writers only when allowWriters is set
// (otherwise a file held open for writing fails the read instead of giving a half-written
// text). False when it cannot be opened or a read fails; a file that shrinks meanwhile gives
// what was read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes, bool allowWriters);
// Extracts every file of the cabinet below the destination folder, with the cabinet's folders
// and time stamps. False when the file is not a cabinet, the library cannot be used, or an
// entry's name is unsafe or too long (nothing is then written outside the destination).
bool ExtractCabinet(const std::wstring& cabinetPath, const std::wstring& destinationFolder);
#endif

}  // namespace brindle
