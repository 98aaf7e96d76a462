// The uninstall log's reader: values, keys, sections, the line reader, the lexer and the field
// assembly. All name comparisons are exact and case-sensitive.
#include "uninstlog/ini_file.h"

#include "logs/ansi_text.h"

#include <algorithm>
#include <cwctype>

namespace brindle {

// ---- flag vocabulary and key kinds -------------------------------------------------------------

namespace {

struct FlagRow {
  const wchar_t* name;
  int32_t value;
  FlagGroup group;
};

const FlagRow kFlags[] = {
    {L"INST_NON", 0, FlagGroup::kInstall},         {L"INST_REQ", 1, FlagGroup::kInstall},
    {L"INST_CRE", 2, FlagGroup::kInstall},         {L"INST_VER", 4, FlagGroup::kInstall},
    {L"INST_DEL", 1, FlagGroup::kDelete},          {L"INST_HLD", 0, FlagGroup::kDelete},
    {L"INST_REF", 2, FlagGroup::kDelete},          {L"INST_REG", 1, FlagGroup::kRegistration},
    {L"INST_NOREG", 0, FlagGroup::kRegistration},  {L"HCR", kRootClassesRoot, FlagGroup::kRoot},
    {L"HLM", kRootLocalMachine, FlagGroup::kRoot}, {L"HCU", kRootCurrentUser, FlagGroup::kRoot},
    {L"HUS", kRootUsers, FlagGroup::kRoot},        {L"HCC", kRootCurrentConfig, FlagGroup::kRoot},
};

const KeyKindInfo kKinds[] = {
    {L"Uninstall_StartUp", kKindStartUp, kClassNumber, 1},
    {L"Uninstall_CheckCondition", kKindCheckCondition, kClassNumber, 1},
    {L"Uninstall_CheckRunning", kKindCheckRunning, kClassNumber, 1},
    {L"Uninstall_BeforeUninstall", kKindBeforeUninstall, kClassNumber, 1},
    {L"Uninstall_AfterUninstall", kKindAfterUninstall, kClassNumber, 1},
    {L"Uninstall_End", kKindEnd, kClassNumber, 1},
    {L"Uninstall_Abort", kKindAbort, kClassNumber, 1},
    {L"UNInfo", kKindUNInfo, kClassText, 1},
    {L"UIFLDR", kKindFolder, kClassEntry, 4},
    {L"UIFILE", kKindFile, kClassEntry, 5},
    {L"UIREGIKEY", kKindRegistryKey, kClassEntry, 5},
    {L"UIREGI", kKindRegistryValue, kClassEntry, 6},
};
const KeyKindInfo kPlainKind = {nullptr, kKindPlain, kClassText, 1};

bool IsDigitOfBase(wchar_t c, int base, int& digit) {
  if (c >= L'0' && c <= L'9') digit = c - L'0';
  else if (c >= L'a' && c <= L'z') digit = c - L'a' + 10;
  else if (c >= L'A' && c <= L'Z') digit = c - L'A' + 10;
  else return false;
  return digit < base;
}

// The C library's text-to-integer conversion with base 0, on a 32-bit long: signed when
// negative is true (clamped to the 32-bit range), else unsigned (clamped to 0xFFFFFFFF, and a
// minus sign negates modulo 2^32). False when no digit was read.
bool ParseAutoBase(const std::wstring& text, bool asSigned, int32_t& result) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  int base = 10;
  bool anyDigit = false;
  if (i < text.size() && text[i] == L'0') {
    int d = 0;
    if (i + 2 < text.size() && (text[i + 1] == L'x' || text[i + 1] == L'X') &&
        IsDigitOfBase(text[i + 2], 16, d)) {
      base = 16;
      i += 2;
    } else {
      base = 8;
      anyDigit = true;  // the 0 itself is a digit
      ++i;
    }
  }
  uint64_t value = 0;
  bool overflow = false;
  int digit = 0;
  while (i < text.size() && IsDigitOfBase(text[i], base, digit)) {
    anyDigit = true;
    if (!overflow) {
      value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
      if (value > 0xFFFFFFFFull) overflow = true;
    }
    ++i;
  }
  if (!anyDigit) return false;
  if (asSigned) {
    const uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    if (overflow || value > limit) value = limit;
    const int64_t signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    result = static_cast<int32_t>(signedValue);
  } else {
    uint32_t u = overflow ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
    if (negative && !overflow) u = 0u - u;
    result = static_cast<int32_t>(u);
  }
  return true;
}

}  // namespace

const KeyKindInfo& LookUpKeyKind(const std::wstring& name) {
  for (const auto& row : kKinds)
    if (name == row.name) return row;
  return kPlainKind;
}

bool FlagValue(const std::wstring& name, int32_t& value) {
  for (const auto& row : kFlags) {
    if (name == row.name) {
      value = row.value;
      return true;
    }
  }
  return false;
}

const wchar_t* FlagName(FlagGroup group, int32_t number) {
  for (const auto& row : kFlags)
    if (row.group == group && row.value == number) return row.name;
  return nullptr;
}

// ---- CValue -------------------------------------------------------------------------------------

bool CValue::SetText(const std::wstring& text) {
  if (type_ != kUnset) return false;
  type_ = kText;
  text_ = text;
  source_ = text;
  number_ = -1;
  return true;
}

bool CValue::SetNumber(const std::wstring& text) {
  if (type_ != kUnset) return false;
  const bool asSigned = !text.empty() && text[0] == L'-';
  int32_t parsed = -1;
  if (!ParseAutoBase(text, asSigned, parsed)) {
    number_ = -1;
    return false;
  }
  type_ = kNumber;
  number_ = parsed;
  source_ = text;
  text_.clear();
  return true;
}

bool CValue::SetFlag(const std::wstring& name) {
  if (type_ != kUnset || name.empty()) return false;
  int32_t value = 0;
  if (!FlagValue(name, value)) return false;
  type_ = kNumber;
  number_ = value;
  source_ = name;
  text_.clear();
  return true;
}

void CValue::Reset() {
  type_ = kUnset;
  number_ = -1;
  text_.clear();
  source_.clear();
}

// ---- CKey ---------------------------------------------------------------------------------------

CKey::~CKey() = default;

void CKey::ClearValues() {
  values_.clear();
  owned_values_.clear();
  entry_ = KeyEntry();
  value_cursor_ = 0;
}

CValue* CKey::AddValue() {
  owned_values_.push_back(std::make_unique<CValue>());
  values_.push_back(owned_values_.back().get());
  return values_.back();
}

bool CKey::Decode(const std::vector<std::wstring>& fields) {
  ClearValues();
  if (fields.empty()) return false;
  const KeyKindInfo& info = LookUpKeyKind(fields[0]);
  if (fields.size() < info.minimumFields + 1) return false;

  bool ok = true;
  auto text = [&](size_t i, bool mayBeEmpty) {
    if (!mayBeEmpty && fields[i].empty()) ok = false;
    AddValue()->SetText(fields[i]);
  };
  auto flag = [&](size_t i) {
    if (!AddValue()->SetFlag(fields[i])) ok = false;
  };
  switch (info.keyClass) {
    case kClassNumber:
      if (!AddValue()->SetNumber(fields[1])) ok = false;
      break;
    case kClassText: text(1, true); break;
    case kClassEntry:
      switch (info.kind) {
        case kKindFolder:
          text(1, false);
          flag(2);
          flag(3);
          flag(4);
          break;
        case kKindFile:
          text(1, false);
          flag(2);
          flag(3);
          flag(4);
          flag(5);
          break;
        case kKindRegistryKey:
          flag(1);
          text(2, false);
          flag(3);
          flag(4);
          flag(5);
          break;
        default:  // registry value: the value name may be empty (the key's default value)
          flag(1);
          text(2, false);
          text(3, true);
          flag(4);
          flag(5);
          flag(6);
          break;
      }
      break;
  }
  if (!ok) {
    ClearValues();
    return false;
  }
  name_ = fields[0];
  kind_ = info.kind;
  class_ = info.keyClass;
  Repoint();
  return true;
}

void CKey::Repoint() {
  entry_ = KeyEntry();
  auto num = [&](size_t i) { return i < values_.size() ? values_[i]->Number() : 0; };
  auto txt = [&](size_t i) { return i < values_.size() ? &values_[i]->Text() : nullptr; };
  switch (class_) {
    case kClassNumber: entry_.number = values_.empty() ? -1 : values_[0]->Number(); break;
    case kClassText: entry_.text = txt(0); break;
    case kClassEntry:
      switch (kind_) {
        case kKindFolder:
          entry_.path = txt(0);
          entry_.install = num(1);
          entry_.mode = num(2);
          entry_.remove = num(3);
          break;
        case kKindFile:
          entry_.path = txt(0);
          entry_.install = num(1);
          entry_.mode = num(2);
          entry_.remove = num(3);
          entry_.registration = num(4);
          break;
        case kKindRegistryKey:
          entry_.root = num(0);
          entry_.path = txt(1);
          entry_.install = num(2);
          entry_.mode = num(3);
          entry_.remove = num(4);
          break;
        default:
          entry_.root = num(0);
          entry_.path = txt(1);
          entry_.valueName = txt(2);
          entry_.install = num(3);
          entry_.mode = num(4);
          entry_.remove = num(5);
          break;
      }
      break;
  }
}

bool CKey::SetFirstText(const std::wstring& text) {
  if (values_.empty()) return false;
  has_raw_ = false;
  values_[0]->Reset();
  values_[0]->SetText(text);
  Repoint();
  return true;
}

bool CKey::SetFirstNumber(const std::wstring& decimalText) {
  if (values_.empty()) return false;
  has_raw_ = false;
  values_[0]->Reset();
  const bool ok = values_[0]->SetNumber(decimalText);
  Repoint();
  return ok;
}

bool CKey::SetFlagAt(size_t index, const std::wstring& flagName) {
  if (index >= values_.size()) return false;
  has_raw_ = false;
  values_[index]->Reset();
  const bool ok = values_[index]->SetFlag(flagName);
  Repoint();
  return ok;
}

// ---- CSection -----------------------------------------------------------------------------------

CSection::~CSection() = default;

bool CSection::AppendKey(CKey* key) { return AppendKey(std::unique_ptr<CKey>(key)); }

bool CSection::AppendKey(std::unique_ptr<CKey> key) {
  if (!key) return false;
  keys_.push_back(key.get());
  owned_.push_back(std::move(key));
  return true;
}

bool CSection::AppendSharedKey(CKey* key) {
  if (!key) return false;
  keys_.push_back(key);
  shares_keys_ = true;
  return true;
}

bool CSection::RemoveKey(const CKey* key) {
  const auto at = std::find(keys_.begin(), keys_.end(), key);
  if (at == keys_.end()) return false;
  keys_.erase(at);
  for (auto k = owned_.begin(); k != owned_.end(); ++k) {
    if (k->get() != key) continue;
    // Freed here: no other mention of it may stay behind.
    keys_.erase(std::remove(keys_.begin(), keys_.end(), key), keys_.end());
    owned_.erase(k);
    break;
  }
  return true;
}

// ---- CIniFile -----------------------------------------------------------------------------------

CIniFile::~CIniFile() = default;

void CIniFile::Clear() {
  preamble_.clear();
  sections_.clear();
  owned_sections_.clear();
  section_cursor_ = 0;
}

bool CIniFile::RemoveSection(const CSection* section) {
  for (size_t i = 0; i < owned_sections_.size(); ++i) {
    if (owned_sections_[i].get() != section) continue;
    owned_sections_.erase(owned_sections_.begin() + static_cast<std::ptrdiff_t>(i));
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(i));
    section_cursor_ = 0;
    return true;
  }
  return false;
}

CSection* CIniFile::FindSection(const std::wstring& name) const {
  for (CSection* s : sections_)
    if (s->Name() == name) return s;
  return nullptr;
}

void CIniFile::AppendSection(CSection* section) { AppendSection(std::unique_ptr<CSection>(section)); }

void CIniFile::AppendSection(std::unique_ptr<CSection> section) {
  if (!section) return;
  sections_.push_back(section.get());
  owned_sections_.push_back(std::move(section));
  section_cursor_ = 0;
}

CSection* CIniFile::SelectOrCreate(const std::wstring& name) {
  if (CSection* s = FindSection(name)) return s;
  AppendSection(std::make_unique<CSection>(name));
  return sections_.back();
}

bool CIniFile::ApplyLine(const std::vector<std::wstring>& fields, CSection*& current) {
  if (fields.empty()) return true;  // blank or comment line
  if (fields[0] == L"[") {
    // A header with nothing between its brackets names no section: a malformed line.
    if (fields.size() < 2) return false;
    current = SelectOrCreate(fields[1]);
    return true;
  }
  if (!current || fields.size() < 2) return false;
  auto key = std::make_unique<CKey>();
  if (!key->Decode(fields)) return false;
  current->AppendKey(std::move(key));
  section_cursor_ = 0;
  return true;
}

bool CIniFile::AddLine(const std::vector<std::wstring>& sectionFields,
                       const std::vector<std::wstring>& keyFields) {
  CSection* current = nullptr;
  if (sectionFields.empty() || !ApplyLine(sectionFields, current) || !current) return false;
  if (keyFields.empty()) return false;
  return ApplyLine(keyFields, current);
}

bool CIniFile::MergeFrom(const CIniFile& other) {
  if (&other == this) return true;
  // Walks copies of the lists: appending never disturbs the walk, whatever the two models
  // share.
  const std::vector<CSection*> theirSections = other.sections_;
  for (CSection* theirs : theirSections) {
    CSection* mine = SelectOrCreate(theirs->Name());
    if (!mine) return false;
    const std::vector<CKey*> theirKeys = theirs->Keys();
    for (CKey* k : theirKeys) mine->AppendSharedKey(k);
    for (const std::string& line : theirs->RawLines()) mine->AppendRawLine(line);
  }
  preamble_.insert(preamble_.end(), other.preamble_.begin(), other.preamble_.end());
  if (path_.empty()) path_ = other.path_;
  section_cursor_ = 0;
  return true;
}

IniLoadResult CIniFile::LoadFromBytes(const std::string& bytes, unsigned codePage) {
  Clear();
  failed_line_ = 0;
  CParse reader;
  reader.SetText(bytes);
  if (reader.HasDataAfterEnd()) return IniLoadResult::kDataAfterEnd;
  CSection* current = nullptr;
  std::string line;
  std::vector<std::wstring> fields;
  for (size_t number = 1;; ++number) {
    const CParse::LineResult r = reader.NextLine(line);
    if (r == CParse::LineResult::kEnd) return IniLoadResult::kLoaded;
    if (r == CParse::LineResult::kTooLong) {
      failed_line_ = number;
      return IniLoadResult::kLineTooLong;
    }
    std::wstring wide;
    CSection* const before = current;
    const size_t keysBefore = before ? before->Keys().size() : 0;
    if (!WideFromAnsiLossy(line, wide, codePage) || !CParse::SplitFields(wide, fields) ||
        !ApplyLine(fields, current)) {
      failed_line_ = number;
      return IniLoadResult::kMalformedLine;
    }
    // Each line is also kept as read, for what this program does not model.
    if (!current) {
      preamble_.push_back(line);
      continue;
    }
    current->AppendRawLine(line);
    if (current == before && current->Keys().size() > keysBefore &&
        current->Keys().back()->Kind() == kKindPlain)
      current->Keys().back()->SetRawLine(line);
  }
}

bool CIniFile::Load(const std::wstring& path, unsigned codePage) {
  path_ = CFilePath::Normalise(path);
  std::string bytes;
  if (!ReadUninstallLogBytes(path_, bytes)) {
    Clear();
    return false;
  }
  return LoadFromBytes(bytes, codePage) == IniLoadResult::kLoaded;
}

// ---- CParse -------------------------------------------------------------------------------------

void CParse::SetText(const std::string& bytes) {
  text_.clear();
  text_.reserve(bytes.size());
  data_after_end_ = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\0' || c == '\x1a') {
      data_after_end_ = bytes.find_first_not_of(std::string("\0\x1a \t\r\n", 6), i) != std::string::npos;
      break;
    }
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text_ += c;
  }
  position_ = 0;
}

CParse::LineResult CParse::NextLine(std::string& line) {
  line.clear();
  if (position_ >= text_.size()) return LineResult::kEnd;
  size_t end = text_.find('\n', position_);
  if (end == std::string::npos) end = text_.size();
  if (end - position_ > kMaxLineBytes) return LineResult::kTooLong;
  line.assign(text_, position_, end - position_);
  position_ = end + 1;
  return LineResult::kLine;
}

namespace {

// A token of the lexer: a quote, or a text (one-character texts are matched by their character).
struct Token {
  bool quote;
  std::wstring text;
};

bool Lex(const std::wstring& line, std::vector<Token>& tokens) {
  tokens.clear();
  std::wstring word;
  auto endWord = [&]() {
    if (!word.empty()) tokens.push_back({false, word});
    word.clear();
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const wchar_t c = line[i];
    switch (c) {
      case L'\t':
        endWord();
        tokens.push_back({false, L" "});
        break;
      case L' ':
      case L'\'':
      case L'=':
      case L'[':
      case L']':
        endWord();
        tokens.push_back({false, std::wstring(1, c)});
        break;
      case L'"':
        endWord();
        tokens.push_back({true, std::wstring()});
        break;
      case L'\\': {
        if (i + 1 >= line.size()) return false;  // a lone backslash ends the line
        const wchar_t next = line[i + 1];
        if (next == L'"' || next == L'\'' || next == L'\\') {
          word += next;
          ++i;
        } else if (next == L'n') {
          word += L'\n';
          ++i;
        } else {
          word += L'\\';  // the next character is read normally
        }
        break;
      }
      default: word += c;
    }
  }
  endWord();
  return true;
}

}  // namespace

bool CParse::SplitFields(const std::wstring& line, std::vector<std::wstring>& fields) {
  fields.clear();
  std::vector<Token> tokens;
  if (!Lex(line, tokens)) return false;
  std::wstring buffer;
  bool inQuotes = false, inBrackets = false, overflow = false;
  auto append = [&](const std::wstring& t) {
    if (buffer.size() + t.size() > kMaxFieldUnits) overflow = true;
    else buffer += t;
  };
  auto flush = [&]() {
    if (!buffer.empty()) fields.push_back(buffer);
    buffer.clear();
  };
  for (const Token& t : tokens) {
    if (t.quote) {
      if (inQuotes) {
        fields.push_back(buffer);
        buffer.clear();
        inQuotes = false;
      } else {
        flush();
        inQuotes = true;
      }
      continue;
    }
    if (t.text.size() != 1) {
      append(t.text);
      continue;
    }
    switch (t.text[0]) {
      case L' ':
        if (inQuotes || inBrackets) append(t.text);
        else flush();
        break;
      case L'\'':
        if (inQuotes || inBrackets) {
          append(t.text);
          break;
        }
        flush();
        return !overflow;  // the rest of the line is a comment
      case L'=':
        if (inQuotes) append(t.text);
        else flush();
        break;
      case L'[':
        if (inQuotes) {
          append(t.text);
          break;
        }
        inBrackets = true;
        flush();
        fields.push_back(L"[");
        break;
      case L']':
        if (inQuotes) {
          append(t.text);
          break;
        }
        inBrackets = false;
        flush();
        break;
      default: append(t.text);
    }
  }
  if (inQuotes || inBrackets || overflow) return false;
  flush();
  return true;
}

// ---- CFilePath ----------------------------------------------------------------------------------

std::wstring CFilePath::Normalise(const std::wstring& path) {
  // Split off the drive, then the folder (up to the last separator) from name + extension.
  std::wstring drive, rest = path;
  if (rest.size() >= 2 && rest[1] == L':') {
    drive = rest.substr(0, 2);
    rest.erase(0, 2);
  }
  const size_t lastSep = rest.find_last_of(L"\\/");
  const std::wstring folder = lastSep == std::wstring::npos ? std::wstring() : rest.substr(0, lastSep + 1);
  const std::wstring file = lastSep == std::wstring::npos ? rest : rest.substr(lastSep + 1);

  std::vector<std::wstring> parts;
  std::wstring current;
  auto take = [&]() {
    if (current.empty() || current == L".") {
    } else if (current == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(current);
    }
    current.clear();
  };
  for (wchar_t c : folder) {
    if (c == L'\\' || c == L'/') take();
    else current += c;
  }
  take();

  // A rooted folder keeps its root (a UNC path its two backslashes); a relative one stays
  // relative instead of being moved to the root of the drive.
  const bool rooted = !folder.empty() && (folder[0] == L'\\' || folder[0] == L'/');
  const bool unc = drive.empty() && folder.size() >= 2 && (folder[0] == L'\\' || folder[0] == L'/') &&
                   (folder[1] == L'\\' || folder[1] == L'/');
  std::wstring out = drive;
  if (unc) out += L"\\\\";
  else if (rooted || !drive.empty()) out += L'\\';
  for (const auto& p : parts) out += p + L'\\';
  return out + file;
}

}  // namespace brindle
