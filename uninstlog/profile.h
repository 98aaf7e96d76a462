// The uninstall log's writer: appends lines of the log's syntax to one file, in the ANSI code
// page, each ended by CR LF and flushed at once. All writers share one process-wide output
// stream, so one file is written at a time. Every text is written escaped the way the reader
// reads it back (a backslash doubled, a double quote as \", a line feed as \n), and a key or
// section name holding a blank, quote, backslash or another character the reader splits at is
// quoted the same way, so every name and value reads back unchanged. What no line can carry is
// refused rather than changed: a TAB, a zero or Ctrl-Z character, a character the code page
// lacks, a line longer than the 4,096-unit line buffer, a text under a name that the reader
// decodes as an entry.
#pragma once
#include <cstdint>
#include <string>

namespace brindle {

class CIniFile;
class CKey;

class CProfile {
 public:
  // The line buffer holds a line, its line feed and a terminating zero.
  static constexpr size_t kLineBufferUnits = 4096;

  CProfile() = default;
  explicit CProfile(unsigned codePage) : code_page_(codePage) {}
  virtual ~CProfile() = default;

  // Opens the shared stream for appending (the file is created when missing). When the stream
  // is already open, true only if it is open on the same path.
  bool Open(const std::wstring& path);
  // Closes the shared stream; false when what was written could not be pushed to the disk or
  // the file could not be closed (the lines written may then be incomplete).
  bool Close();
  static bool IsOpen();

  bool WriteSection(const std::wstring& name);
  bool WriteText(const std::wstring& key, const std::wstring& text);
  bool WriteNumber(const std::wstring& key, int32_t number);
  bool WriteFolderEntry(const std::wstring& path);
  bool WriteFileEntry(int32_t installFlag, const std::wstring& path, int32_t modeFlag, int32_t deleteFlag,
                      bool registered);
  bool WriteRegistryKeyEntry(int32_t root, const std::wstring& keyPath, int32_t installFlag, int32_t modeFlag,
                             int32_t deleteFlag);
  bool WriteRegistryValueEntry(int32_t root, const std::wstring& keyPath, const std::wstring& valueName,
                               int32_t installFlag, int32_t modeFlag, int32_t deleteFlag);

  // A line kept as read (its bytes in the code page, without the line end). False when the
  // line holds a line break or the stream is not open.
  bool WriteRawLine(const std::string& bytes);
  // The next header is written even when it names the last section written (after lines
  // of another section were written as read).
  void ForgetSection() { wrote_section_ = false; }
  // One key of a model, in the line shape of its kind.
  bool WriteKey(const CKey& key);
  // Every section of a model with its keys, in order.
  bool WriteModel(const CIniFile& model);

  // The texts of the lines (without line end); false when the line cannot be written.
  static bool FormatSection(const std::wstring& name, std::wstring& line);
  static bool FormatText(const std::wstring& key, const std::wstring& text, std::wstring& line);
  static bool FormatNumber(const std::wstring& key, int32_t number, std::wstring& line);
  static bool FormatFolderEntry(const std::wstring& path, std::wstring& line);
  static bool FormatFileEntry(int32_t installFlag, const std::wstring& path, int32_t modeFlag,
                              int32_t deleteFlag, bool registered, std::wstring& line);
  static bool FormatRegistryKeyEntry(int32_t root, const std::wstring& keyPath, int32_t installFlag,
                                     int32_t modeFlag, int32_t deleteFlag, std::wstring& line);
  static bool FormatRegistryValueEntry(int32_t root, const std::wstring& keyPath,
                                       const std::wstring& valueName, int32_t installFlag, int32_t modeFlag,
                                       int32_t deleteFlag, std::wstring& line);
  static bool FormatKey(const CKey& key, std::wstring& line);
  // A backslash doubled, a double quote as \", a line feed as \n.
  static std::wstring Escape(const std::wstring& text);
  // The bytes a line is stored as: converted to the code page exactly, then CR LF; false when
  // a character has no exact form in the code page.
  static bool LineBytes(const std::wstring& line, unsigned codePage, std::string& bytes);

 private:
  bool WriteLine(const std::wstring& line);

  unsigned code_page_ = 0;
  std::wstring last_section_;
  bool wrote_section_ = false;
};

// The shared stream: append bytes to the file and flush them; closing first pushes the file's
// content to the disk and reports whether that and the close succeeded.
bool OpenProfileStream(const std::wstring& path);
bool WriteProfileStream(const std::string& bytes);
bool CloseProfileStream();

}  // namespace brindle
