// The uninstall log's writer: line shapes, escaping, flag names and the shared output stream.
#include "uninstlog/profile.h"

#include "sys/text.h"
#include "uninstlog/ini_file.h"

namespace brindle {

namespace {

std::wstring g_open_path;  // the path the shared stream has open; empty when closed

bool Fits(const std::wstring& line) { return line.size() + 2 <= CProfile::kLineBufferUnits; }

// A TAB reads back as a blank, and a zero byte or a Ctrl-Z ends the text the reader takes from
// the file: no line can carry them.
bool Expressible(const std::wstring& text) {
  for (wchar_t c : text)
    if (c == L'\t' || c == L'\0' || c == L'\x1a') return false;
  return true;
}

// A text as one quoted field.
bool Quoted(const std::wstring& text, std::wstring& field) {
  if (!Expressible(text)) return false;
  field = L"\"" + CProfile::Escape(text) + L"\"";
  return true;
}

// A key name as the first field of its line: as it stands when it holds no character the
// reader treats specially, otherwise quoted. A name "[" would read as a header.
bool KeyNameField(const std::wstring& name, std::wstring& field) {
  if (name.empty() || name == L"[" || !Expressible(name)) return false;
  if (name.find_first_of(L" '=[]\"\\\r\n") == std::wstring::npos) {
    field = name;
    return true;
  }
  return Quoted(name, field);
}

// A section name between the brackets, where blanks and apostrophes are kept as they are.
bool SectionNameField(const std::wstring& name, std::wstring& field) {
  if (name.empty() || !Expressible(name)) return false;
  if (name.find_first_of(L"=[]\"\\\r\n") == std::wstring::npos) {
    field = name;
    return true;
  }
  return Quoted(name, field);
}

bool Flag(FlagGroup group, int32_t number, std::wstring& out) {
  const wchar_t* name = FlagName(group, number);
  if (!name) return false;
  out = name;
  return true;
}

bool Done(std::wstring&& built, std::wstring& line) {
  if (!Fits(built)) return false;
  line = std::move(built);
  return true;
}

}  // namespace

std::wstring CProfile::Escape(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + 8);
  for (wchar_t c : text) {
    switch (c) {
      case L'\\': out += L"\\\\"; break;
      case L'"': out += L"\\\""; break;
      case L'\n': out += L"\\n"; break;
      default: out += c;
    }
  }
  return out;
}

bool CProfile::FormatSection(const std::wstring& name, std::wstring& line) {
  std::wstring field;
  if (!SectionNameField(name, field)) return false;
  return Done(L"[" + field + L"]", line);
}

bool CProfile::FormatText(const std::wstring& key, const std::wstring& text, std::wstring& line) {
  std::wstring name, value;
  if (!KeyNameField(key, name) || !Quoted(text, value)) return false;
  // The name decides how the reader decodes the line: an entry name needs its fields, and a
  // number name a number.
  const KeyKindInfo& kind = LookUpKeyKind(key);
  if (kind.keyClass == kClassEntry) return false;
  if (kind.keyClass == kClassNumber && !CValue().SetNumber(text)) return false;
  return Done(name + L"=" + value, line);
}

bool CProfile::FormatNumber(const std::wstring& key, int32_t number, std::wstring& line) {
  std::wstring name;
  if (!KeyNameField(key, name) || LookUpKeyKind(key).keyClass == kClassEntry) return false;
  return Done(name + L"=" + ToWideDecimal(number), line);
}

bool CProfile::FormatFolderEntry(const std::wstring& path, std::wstring& line) {
  std::wstring field;
  if (path.empty() || !Quoted(path, field)) return false;
  // Every folder entry is written with these three flags, and its line ends with a blank.
  return Done(L"UIFLDR=" + field + L" INST_REQ INST_CRE INST_DEL ", line);
}

bool CProfile::FormatFileEntry(int32_t installFlag, const std::wstring& path, int32_t modeFlag,
                               int32_t deleteFlag, bool registered, std::wstring& line) {
  std::wstring field, install, mode, remove;
  if (path.empty() || !Quoted(path, field) || !Flag(FlagGroup::kInstall, installFlag, install) ||
      !Flag(FlagGroup::kInstall, modeFlag, mode) || !Flag(FlagGroup::kDelete, deleteFlag, remove))
    return false;
  return Done(L"UIFILE=" + field + L" " + install + L" " + mode + L" " + remove +
                  (registered ? L" INST_REG" : L" INST_NOREG"),
              line);
}

bool CProfile::FormatRegistryKeyEntry(int32_t root, const std::wstring& keyPath, int32_t installFlag,
                                      int32_t modeFlag, int32_t deleteFlag, std::wstring& line) {
  std::wstring rootName, field, install, mode, remove;
  if (keyPath.empty() || !Quoted(keyPath, field) || !Flag(FlagGroup::kRoot, root, rootName) ||
      !Flag(FlagGroup::kInstall, installFlag, install) || !Flag(FlagGroup::kInstall, modeFlag, mode) ||
      !Flag(FlagGroup::kDelete, deleteFlag, remove))
    return false;
  return Done(L"UIREGIKEY=" + rootName + L" " + field + L" " + install + L" " + mode + L" " + remove, line);
}

bool CProfile::FormatRegistryValueEntry(int32_t root, const std::wstring& keyPath,
                                        const std::wstring& valueName, int32_t installFlag, int32_t modeFlag,
                                        int32_t deleteFlag, std::wstring& line) {
  std::wstring rootName, keyField, valueField, install, mode, remove;
  if (keyPath.empty() || !Quoted(keyPath, keyField) || !Quoted(valueName, valueField) ||
      !Flag(FlagGroup::kRoot, root, rootName) || !Flag(FlagGroup::kInstall, installFlag, install) ||
      !Flag(FlagGroup::kInstall, modeFlag, mode) || !Flag(FlagGroup::kDelete, deleteFlag, remove))
    return false;
  return Done(L"UIREGI=" + rootName + L" " + keyField + L" " + valueField + L" " + install + L" " + mode +
                  L" " + remove,
              line);
}

bool CProfile::FormatKey(const CKey& key, std::wstring& line) {
  const KeyEntry& e = key.Entry();
  switch (key.Class()) {
    case kClassNumber: return FormatNumber(key.Name(), e.number, line);
    case kClassText: return e.text && FormatText(key.Name(), *e.text, line);
    case kClassEntry:
      if (!e.path) return false;
      switch (key.Kind()) {
        case kKindFolder: return FormatFolderEntry(*e.path, line);
        case kKindFile:
          // The line says registered or not; any other number would come back changed.
          if (e.registration != 0 && e.registration != 1) return false;
          return FormatFileEntry(e.install, *e.path, e.mode, e.remove, e.registration == 1, line);
        case kKindRegistryKey:
          return FormatRegistryKeyEntry(e.root, *e.path, e.install, e.mode, e.remove, line);
        case kKindRegistryValue:
          return e.valueName &&
                 FormatRegistryValueEntry(e.root, *e.path, *e.valueName, e.install, e.mode, e.remove, line);
        default: return false;
      }
  }
  return false;
}

// ---- the shared stream --------------------------------------------------------------------------

bool CProfile::IsOpen() { return !g_open_path.empty(); }

bool CProfile::Open(const std::wstring& path) {
  if (path.empty()) return false;
  if (IsOpen()) return path == g_open_path;
  if (!OpenProfileStream(path)) return false;
  g_open_path = path;
  return true;
}

bool CProfile::Close() {
  const bool ok = !IsOpen() || CloseProfileStream();
  g_open_path.clear();
  last_section_.clear();
  wrote_section_ = false;
  return ok;
}

bool CProfile::LineBytes(const std::wstring& line, unsigned codePage, std::string& bytes) {
  if (!AnsiFromWide(line, bytes, codePage)) return false;
  bytes += "\r\n";
  return true;
}

bool CProfile::WriteLine(const std::wstring& line) {
  if (!IsOpen()) return false;
  std::string bytes;
  return LineBytes(line, code_page_, bytes) && WriteProfileStream(bytes);
}

bool CProfile::WriteRawLine(const std::string& bytes) {
  if (!IsOpen() || bytes.find('\n') != std::string::npos) return false;
  return WriteProfileStream(bytes + "\r\n");
}

bool CProfile::WriteSection(const std::wstring& name) {
  if (!IsOpen()) return false;
  if (wrote_section_ && name == last_section_) return true;
  std::wstring line;
  if (!FormatSection(name, line) || !WriteLine(line)) return false;
  last_section_ = name;
  wrote_section_ = true;
  return true;
}

bool CProfile::WriteText(const std::wstring& key, const std::wstring& text) {
  std::wstring line;
  return IsOpen() && FormatText(key, text, line) && WriteLine(line);
}

bool CProfile::WriteNumber(const std::wstring& key, int32_t number) {
  std::wstring line;
  return IsOpen() && FormatNumber(key, number, line) && WriteLine(line);
}

bool CProfile::WriteFolderEntry(const std::wstring& path) {
  std::wstring line;
  return IsOpen() && FormatFolderEntry(path, line) && WriteLine(line);
}

bool CProfile::WriteFileEntry(int32_t installFlag, const std::wstring& path, int32_t modeFlag,
                              int32_t deleteFlag, bool registered) {
  std::wstring line;
  return IsOpen() && FormatFileEntry(installFlag, path, modeFlag, deleteFlag, registered, line) &&
         WriteLine(line);
}

bool CProfile::WriteRegistryKeyEntry(int32_t root, const std::wstring& keyPath, int32_t installFlag,
                                     int32_t modeFlag, int32_t deleteFlag) {
  std::wstring line;
  return IsOpen() && FormatRegistryKeyEntry(root, keyPath, installFlag, modeFlag, deleteFlag, line) &&
         WriteLine(line);
}

bool CProfile::WriteRegistryValueEntry(int32_t root, const std::wstring& keyPath,
                                       const std::wstring& valueName, int32_t installFlag, int32_t modeFlag,
                                       int32_t deleteFlag) {
  std::wstring line;
  return IsOpen() &&
         FormatRegistryValueEntry(root, keyPath, valueName, installFlag, modeFlag, deleteFlag, line) &&
         WriteLine(line);
}

bool CProfile::WriteKey(const CKey& key) {
  std::wstring line;
  return IsOpen() && FormatKey(key, line) && WriteLine(line);
}

bool CProfile::WriteModel(const CIniFile& model) {
  for (const CSection* section : model.Sections()) {
    if (!WriteSection(section->Name())) return false;
    for (const CKey* key : section->Keys())
      if (!WriteKey(*key)) return false;
  }
  return true;
}

}  // namespace brindle
