// Fuzz target of the uninstall-log reader: any bytes must load or fail without a memory error,
// and a log that loads must, once written back, load again to the same entries.
#include "uninstlog/ini_file.h"
#include "uninstlog/profile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace brindle;

namespace {

// Names are written as they stand; only names the reader takes back as one field are compared.
bool PlainName(const std::wstring& name) {
  for (wchar_t c : name)
    if (c > 0x7f) return false;
  return !name.empty() && name.find_first_of(L" \t'=[]\"\\\r\n\x1a") == std::wstring::npos;
}

// Characters that no written text can carry (a tab reads as a blank, Ctrl-Z ends a text-mode
// read, a CR before the line end is eaten) or that is not ASCII.
bool PlainText(const std::wstring& text) {
  for (wchar_t c : text)
    if (c == L'\t' || c == L'\x1a' || c == L'\r' || c == L'\0' || c > 0x7f) return false;
  return true;
}

bool Comparable(const CIniFile& ini) {
  for (const CSection* s : ini.Sections()) {
    if (!PlainName(s->Name())) return false;
    for (const CKey* k : s->Keys()) {
      if (!PlainName(k->Name())) return false;
      for (const CValue* v : k->Values())
        if (v->GetType() == CValue::kText && !PlainText(v->Text())) return false;
    }
  }
  return true;
}

bool Write(const CIniFile& ini, std::string& bytes) {
  std::wstring text, line;
  for (const CSection* s : ini.Sections()) {
    if (!CProfile::FormatSection(s->Name(), line)) return false;
    text += line + L"\n";
    for (const CKey* k : s->Keys()) {
      if (!CProfile::FormatKey(*k, line)) return false;
      text += line + L"\n";
    }
  }
  bytes.clear();
  for (wchar_t c : text) bytes += static_cast<char>(c);  // ASCII only, by the checks above
  return true;
}

bool SameText(const std::wstring* a, const std::wstring* b) {
  return (!a && !b) || (a && b && *a == *b);
}

bool Same(const CKey& a, const CKey& b) {
  const KeyEntry& x = a.Entry();
  const KeyEntry& y = b.Entry();
  if (a.Name() != b.Name() || a.Kind() != b.Kind()) return false;
  if (a.Kind() == kKindFolder) return SameText(x.path, y.path);  // written with fixed flags
  return x.number == y.number && SameText(x.text, y.text) && SameText(x.path, y.path) &&
         SameText(x.valueName, y.valueName) && x.root == y.root && x.install == y.install &&
         x.mode == y.mode && x.remove == y.remove &&
         (a.Kind() != kKindFile || (x.registration == 1) == (y.registration == 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CIniFile ini;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (ini.LoadFromBytes(bytes, 1252) != IniLoadResult::kLoaded) return 0;
  if (!Comparable(ini)) return 0;
  std::string written;
  if (!Write(ini, written)) return 0;
  CIniFile again;
  if (again.LoadFromBytes(written, 1252) != IniLoadResult::kLoaded) std::abort();
  if (again.Sections().size() != ini.Sections().size()) std::abort();
  for (size_t i = 0; i < ini.Sections().size(); ++i) {
    const auto& k1 = ini.Sections()[i]->Keys();
    const auto& k2 = again.Sections()[i]->Keys();
    if (k1.size() != k2.size()) std::abort();
    for (size_t j = 0; j < k1.size(); ++j)
      if (!Same(*k1[j], *k2[j])) std::abort();
  }
  return 0;
}
