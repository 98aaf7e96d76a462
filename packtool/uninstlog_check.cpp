#include "packtool/uninstlog_check.h"

#include "logs/ansi_text.h"
#include "sys/text.h"
#include "uninstlog/ini_file.h"

namespace brindle::pack {

namespace {

// Why the lexer or the field assembly refused a line (the reader itself only says no).
std::wstring WhySplitFails(const std::wstring& line) {
  if (!line.empty() && line.back() == L'\\') {
    size_t run = 0;
    for (size_t i = line.size(); i > 0 && line[i - 1] == L'\\'; --i) ++run;
    if (run % 2 == 1) return L"the line ends with a lone backslash";
  }
  // Walk the line as the assembly does, only for quotes and brackets.
  bool inQuotes = false, inBrackets = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const wchar_t c = line[i];
    if (c == L'\\') {
      ++i;
      continue;
    }
    if (c == L'"') inQuotes = !inQuotes;
    else if (inQuotes) continue;
    else if (c == L'\'' && !inBrackets) break;
    else if (c == L'[') inBrackets = true;
    else if (c == L']') inBrackets = false;
  }
  if (inQuotes) return L"a double quote is not closed";
  if (inBrackets) return L"a bracket is not closed";
  return L"a field is longer than 65,536 characters";
}

// Why a key line's fields do not decode by its kind.
std::wstring WhyKeyFails(const std::vector<std::wstring>& fields) {
  const KeyKindInfo& info = LookUpKeyKind(fields[0]);
  const std::wstring name = info.name ? info.name : L"a plain key";
  if (fields.size() < info.minimumFields + 1)
    return fields[0] + L" needs " + ToWideDecimal(static_cast<long long>(info.minimumFields)) +
           L" field(s) after its name, the line has " +
           ToWideDecimal(static_cast<long long>(fields.size() - 1));
  if (info.keyClass == kClassNumber) return L"\"" + fields[1] + L"\" is not a number";
  for (size_t i = 1; i <= info.minimumFields; ++i) {
    const bool isText = (info.kind == kKindFolder || info.kind == kKindFile) ? i == 1
                        : info.kind == kKindRegistryKey                      ? i == 2
                        : info.kind == kKindRegistryValue                    ? (i == 2 || i == 3)
                                                                             : true;
    if (isText) {
      const bool mayBeEmpty = info.kind == kKindRegistryValue ? i == 3 : info.keyClass != kClassEntry;
      if (!mayBeEmpty && fields[i].empty())
        return L"field " + ToWideDecimal(static_cast<long long>(i)) + L" of " + name +
               L" (a path) must not be empty";
      continue;
    }
    CValue probe;
    if (!probe.SetFlag(fields[i]))
      return L"\"" + fields[i] + L"\" is not a flag or root name (INST_REQ, INST_DEL, HLM, ...)";
  }
  return L"the key line does not decode";
}

}  // namespace

bool CheckUninstallLog(const std::string& bytes, const std::wstring& name, Report& report,
                       unsigned codePage) {
  CParse reader;
  reader.SetText(bytes);
  if (reader.HasDataAfterEnd())
    report.Error(name, 0, L"",
                 L"a zero byte or Ctrl-Z stands before the end of the text: the program's "
                 L"reader refuses the whole file, so every update of the application stops "
                 L"before changing anything");
  std::wstring section;
  bool haveSection = false;
  std::string line;
  std::vector<std::wstring> fields;
  for (size_t number = 1;; ++number) {
    const CParse::LineResult r = reader.NextLine(line);
    if (r == CParse::LineResult::kEnd) break;
    if (r == CParse::LineResult::kTooLong) {
      report.Error(name, number, L"", L"the line is longer than 65,535 bytes; the reader stops here");
      break;
    }
    std::wstring wide;
    if (!WideFromAnsiLossy(line, wide, codePage)) {
      report.Error(name, number, L"", L"the line cannot be read in code page " + std::to_wstring(codePage));
      continue;
    }
    if (!CParse::SplitFields(wide, fields)) {
      report.Error(name, number, L"", WhySplitFails(wide));
      continue;
    }
    if (fields.empty()) continue;
    if (fields[0] == L"[") {
      if (fields.size() < 2) {
        report.Error(name, number, L"", L"a section header with nothing between its brackets");
        continue;
      }
      section = fields[1];
      haveSection = true;
      continue;
    }
    if (!haveSection) {
      report.Error(name, number, L"", L"a key line before the first section header");
      continue;
    }
    if (fields.size() < 2) {
      report.Error(name, number, L"", L"the key " + fields[0] + L" has no value");
      continue;
    }
    CIniFile scratch;
    if (!scratch.AddLine({L"[", section}, fields)) report.Error(name, number, L"", WhyKeyFails(fields));
  }
  // The program's reader on the whole file decides; the line findings say where and why.
  CIniFile whole;
  const IniLoadResult verdict = whole.LoadFromBytes(bytes, codePage);
  if (verdict != IniLoadResult::kLoaded && report.Errors() == 0)
    report.Error(name, whole.FailedLine(), L"", L"the reader refuses this line");
  return verdict == IniLoadResult::kLoaded;
}

}  // namespace brindle::pack
