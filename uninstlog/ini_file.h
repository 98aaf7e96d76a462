// The installer's uninstall log in memory: an INI-like file of sections and keys, where blanks
// separate fields as well as '=', an apostrophe starts a comment, and a few key names carry a
// path followed by symbolic flags. CIniFile reads such a file into CSection, CKey and CValue
// objects; CProfile (profile.h) writes lines of the same syntax back.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindle {

// One field of a key line: unset, a number (also a flag or registry root) or a text.
class CValue {
 public:
  enum Type { kUnset = 0, kNumber = 1, kText = 2 };
  virtual ~CValue() = default;

  Type GetType() const { return type_; }
  int32_t Number() const { return number_; }
  const std::wstring& Text() const { return text_; }
  // The field exactly as read (for a flag its name, for a number its written form).
  const std::wstring& Source() const { return source_; }

  // Each setter works only on an unset value; Reset() comes first when a value changes.
  bool SetText(const std::wstring& text);
  // Automatic base: 0x/0X hexadecimal, leading 0 octal, else decimal; a leading '-' parses as
  // signed, anything else as unsigned 32-bit. False when no digit was parsed.
  bool SetNumber(const std::wstring& text);
  // A name of the flag vocabulary (INST_*, HCR, HLM, ...); false for an unknown or empty name.
  bool SetFlag(const std::wstring& name);
  void Reset();

 private:
  Type type_ = kUnset;
  int32_t number_ = -1;
  std::wstring text_;
  std::wstring source_;
};

// Key kinds: the id of the key-name table and the class that says how the fields decode.
enum KeyKind : int32_t {
  kKindStartUp = 1,
  kKindCheckCondition = 2,
  kKindCheckRunning = 3,
  kKindBeforeUninstall = 4,
  kKindAfterUninstall = 5,
  kKindEnd = 6,
  kKindAbort = 7,
  kKindUNInfo = 8,
  kKindFolder = 9,
  kKindFile = 10,
  kKindRegistryKey = 11,
  kKindRegistryValue = 12,
  kKindPlain = 13,
};
enum KeyClass : int32_t { kClassNumber = 14, kClassText = 15, kClassEntry = 16 };

struct KeyKindInfo {
  const wchar_t* name;  // null for the plain kind
  KeyKind kind;
  KeyClass keyClass;
  size_t minimumFields;  // fields after the name
};
// The table row for a key name (exact match); the plain row for any other name.
const KeyKindInfo& LookUpKeyKind(const std::wstring& name);

// Flag groups, used when a number is written back as a name.
enum class FlagGroup { kInstall, kDelete, kRegistration, kRoot };
// The flag's value for a name of the vocabulary (first match), false when unknown.
bool FlagValue(const std::wstring& name, int32_t& value);
// The first name of the group whose value is number, or null when the group has none.
const wchar_t* FlagName(FlagGroup group, int32_t number);

constexpr int32_t kRootClassesRoot = static_cast<int32_t>(0x80000000u);
constexpr int32_t kRootCurrentUser = static_cast<int32_t>(0x80000001u);
constexpr int32_t kRootLocalMachine = static_cast<int32_t>(0x80000002u);
constexpr int32_t kRootUsers = static_cast<int32_t>(0x80000003u);
constexpr int32_t kRootCurrentConfig = static_cast<int32_t>(0x80000005u);

// The decoded record of a key. Which members are meaningful depends on the kind:
// number keys use number; text keys use text; a folder entry uses path, install, mode and
// remove; a file entry adds registration; a registry-key entry uses root, path (the key path),
// install, mode, remove; a registry-value entry adds valueName. Text members point into the
// key's CValue objects.
struct KeyEntry {
  int32_t number = -1;
  const std::wstring* text = nullptr;
  const std::wstring* path = nullptr;
  const std::wstring* valueName = nullptr;
  int32_t root = 0;
  int32_t install = 0;
  int32_t mode = 0;
  int32_t remove = 0;
  int32_t registration = 0;
};

// One key line: its name, the values its kind decodes and the decoded record. The key owns its
// values; Values() lists them as non-owning pointers.
class CKey {
 public:
  CKey() = default;
  virtual ~CKey();
  CKey(const CKey&) = delete;
  CKey& operator=(const CKey&) = delete;

  // Decodes the fields after the name by the kind of `name`; false (and the key unchanged
  // apart from its values being discarded) when a rule fails.
  bool Decode(const std::vector<std::wstring>& fields);

  const std::wstring& Name() const { return name_; }
  KeyKind Kind() const { return kind_; }
  KeyClass Class() const { return class_; }
  const std::vector<CValue*>& Values() const { return values_; }
  const KeyEntry& Entry() const { return entry_; }

  // Changes the first value to a text and repoints the decoded record.
  bool SetFirstText(const std::wstring& text);
  // Changes the first value to a number given as decimal text.
  bool SetFirstNumber(const std::wstring& decimalText);
  // Changes the value at index to a flag of the vocabulary and repoints the decoded record;
  // false (the value then unset) for an unknown name or an index past the values.
  bool SetFlagAt(size_t index, const std::wstring& flagName);

  // The line of a plain key as read from the file (its bytes, without the line end); null for
  // another kind, a key that was not read from a file, or one whose values were changed since.
  const std::string* RawLine() const { return has_raw_ ? &raw_ : nullptr; }
  void SetRawLine(const std::string& line) {
    raw_ = line;
    has_raw_ = true;
  }

  CValue* FirstValue() {
    value_cursor_ = 0;
    return NextValue();
  }
  CValue* NextValue() { return value_cursor_ < values_.size() ? values_[value_cursor_++] : nullptr; }

 private:
  void ClearValues();
  CValue* AddValue();
  void Repoint();

  std::wstring name_;
  std::vector<std::unique_ptr<CValue>> owned_values_;
  std::vector<CValue*> values_;  // the same values, as the view handed out
  KeyKind kind_ = kKindPlain;
  KeyClass class_ = kClassText;
  KeyEntry entry_;
  size_t value_cursor_ = 0;
  std::string raw_;
  bool has_raw_ = false;
};

// A section: its name and its key lines in order (repeated names stay separate keys). It owns
// the keys it read or was given; after a merge it also lists keys that another model owns.
// Keys() lists all of them, in order, as non-owning pointers.
class CSection {
 public:
  explicit CSection(std::wstring name = std::wstring()) : name_(std::move(name)) {}
  virtual ~CSection();
  CSection(const CSection&) = delete;
  CSection& operator=(const CSection&) = delete;

  void SetName(const std::wstring& name) { name_ = name; }
  const std::wstring& Name() const { return name_; }
  // Takes ownership of the key; false for no key.
  bool AppendKey(CKey* key);
  bool AppendKey(std::unique_ptr<CKey> key);
  // Appends a key that belongs to another model (not freed here) and marks the section as
  // sharing keys.
  bool AppendSharedKey(CKey* key);
  // Takes the key out of the list (freed when the section owns it, and then every other mention
  // of it here goes too); false when it is not here.
  bool RemoveKey(const CKey* key);
  const std::vector<CKey*>& Keys() const { return keys_; }
  std::vector<CKey*> KeyList() const { return keys_; }
  // True for a section of a merged model holding keys of another model; only the keys it
  // owns itself are freed with it.
  bool SharesKeys() const { return shares_keys_; }
  // Every line read under this section's headers, the headers, comments and blank lines
  // included, as read (bytes without the line end), in file order.
  const std::vector<std::string>& RawLines() const { return raw_lines_; }
  void AppendRawLine(const std::string& line) { raw_lines_.push_back(line); }

 private:
  std::wstring name_;
  std::vector<std::string> raw_lines_;
  std::vector<std::unique_ptr<CKey>> owned_;  // the keys this section frees, in any order
  std::vector<CKey*> keys_;                   // every key in list order, owned or shared
  bool shares_keys_ = false;
};

// Result of loading an uninstall log, for callers that want to know why it failed.
enum class IniLoadResult { kLoaded, kCannotOpen, kMalformedLine, kLineTooLong, kDataAfterEnd };

// The whole uninstall log.
class CIniFile {
 public:
  CIniFile() = default;
  virtual ~CIniFile();
  CIniFile(const CIniFile&) = delete;
  CIniFile& operator=(const CIniFile&) = delete;

  // Reads the file (its path normalised first) in the given ANSI code page (0: the thread's).
  // False for a missing or unreadable file or any malformed line; the model is then unusable.
  bool Load(const std::wstring& path, unsigned codePage = 0);
  // Reads the file's bytes as they would come from the disk; the path is left as it is.
  IniLoadResult LoadFromBytes(const std::string& bytes, unsigned codePage = 0);
  // The line number (1-based) of the first line that failed the last load, 0 if none.
  size_t FailedLine() const { return failed_line_; }

  const std::wstring& Path() const { return path_; }
  void SetPath(const std::wstring& path) { path_ = path; }
  const std::vector<CSection*>& Sections() const { return sections_; }
  // The lines before the first header (comments, blank lines), as read.
  const std::vector<std::string>& Preamble() const { return preamble_; }

  CSection* FindSection(const std::wstring& name) const;
  // Takes ownership of the section.
  void AppendSection(CSection* section);
  void AppendSection(std::unique_ptr<CSection> section);
  // Takes the section out of the model and frees it; false when it is not in the model.
  bool RemoveSection(const CSection* section);
  // A header line then a key line, given as ready fields, applied as the loader applies them.
  bool AddLine(const std::vector<std::wstring>& sectionFields, const std::vector<std::wstring>& keyFields);
  // Adds every section of other (same-named sections here get other's keys appended as
  // shared pointers). The other model must outlive this one. A model merged into itself
  // already holds every key of itself and stays as it is.
  bool MergeFrom(const CIniFile& other);

  CSection* FirstSection() {
    section_cursor_ = 0;
    return NextSection();
  }
  CSection* NextSection() {
    return section_cursor_ < sections_.size() ? sections_[section_cursor_++] : nullptr;
  }

 private:
  // Applies the fields of one line; current is the section carried from line to line.
  bool ApplyLine(const std::vector<std::wstring>& fields, CSection*& current);
  CSection* SelectOrCreate(const std::wstring& name);
  void Clear();

  std::wstring path_;
  std::vector<std::unique_ptr<CSection>> owned_sections_;
  std::vector<CSection*> sections_;  // the same sections, as the view handed out
  std::vector<std::string> preamble_;
  size_t section_cursor_ = 0;
  size_t failed_line_ = 0;
};

// The line reader and the field splitter of the uninstall log.
class CParse {
 public:
  static constexpr size_t kMaxLineBytes = 65535;
  static constexpr size_t kMaxFieldUnits = 65536;

  // Bytes as a text-mode read delivers them: CR LF pairs become LF, a Ctrl-Z ends the text,
  // and the text ends at its first zero byte.
  void SetText(const std::string& bytes);
  // True when the text ended at a Ctrl-Z or zero byte that is followed by more than padding
  // (zero bytes, Ctrl-Z, blanks and line breaks): that data would be lost by a write-back.
  bool HasDataAfterEnd() const { return data_after_end_; }
  enum class LineResult { kLine, kEnd, kTooLong };
  // The next line without its LF.
  LineResult NextLine(std::string& line);

  // Lexes one line and assembles its fields; false for a malformed line (a trailing lone
  // backslash, an unclosed quote or bracket, a field beyond the field buffer).
  static bool SplitFields(const std::wstring& line, std::vector<std::wstring>& fields);

 private:
  std::string text_;
  size_t position_ = 0;
  bool data_after_end_ = false;
};

// The path normaliser used before an uninstall log is opened: separators become single
// backslashes, "." components are dropped and ".." cancels the component before it.
class CFilePath {
 public:
  static std::wstring Normalise(const std::wstring& path);
};

// Platform side: the whole file, opened with sharing for readers only; false when it does
// not exist or cannot be read.
bool ReadUninstallLogBytes(const std::wstring& path, std::string& bytes);

}  // namespace brindle
