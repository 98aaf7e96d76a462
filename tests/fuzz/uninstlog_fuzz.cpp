// Fuzz target of the uninstall-log reader and writer: any bytes must load or fail without a
// memory error; the lines a loaded log keeps as read must load again to the same model; and a
// log that loads must, written back line by line exactly as the writer stores lines, either be
// refused by the writer or load again to the same model (the folder entries' flags aside, which
// are always written as INST_REQ INST_CRE INST_DEL).
#include "uninstlog/ini_file.h"
#include "uninstlog/profile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace brindle;

namespace {

constexpr unsigned kCodePage = 1252;

// The model as the writer stores it; false when the writer refuses any line.
bool Write(const CIniFile& ini, std::string& bytes) {
  bytes.clear();
  std::wstring line;
  std::string stored;
  for (const CSection* s : ini.Sections()) {
    if (!CProfile::FormatSection(s->Name(), line) || !CProfile::LineBytes(line, kCodePage, stored))
      return false;
    bytes += stored;
    for (const CKey* k : s->Keys()) {
      if (!CProfile::FormatKey(*k, line) || !CProfile::LineBytes(line, kCodePage, stored)) return false;
      bytes += stored;
    }
  }
  return true;
}

bool SameText(const std::wstring* a, const std::wstring* b) { return (!a && !b) || (a && b && *a == *b); }

bool Same(const CKey& a, const CKey& b) {
  const KeyEntry& x = a.Entry();
  const KeyEntry& y = b.Entry();
  if (a.Name() != b.Name() || a.Kind() != b.Kind() || a.Class() != b.Class()) return false;
  if (a.Kind() == kKindFolder) return SameText(x.path, y.path);
  return x.number == y.number && SameText(x.text, y.text) && SameText(x.path, y.path) &&
         SameText(x.valueName, y.valueName) && x.root == y.root && x.install == y.install &&
         x.mode == y.mode && x.remove == y.remove && x.registration == y.registration;
}

bool SameModel(const CIniFile& one, const CIniFile& other) {
  if (one.Sections().size() != other.Sections().size()) return false;
  for (size_t i = 0; i < one.Sections().size(); ++i) {
    if (one.Sections()[i]->Name() != other.Sections()[i]->Name()) return false;
    const auto& k1 = one.Sections()[i]->Keys();
    const auto& k2 = other.Sections()[i]->Keys();
    if (k1.size() != k2.size()) return false;
    for (size_t j = 0; j < k1.size(); ++j)
      if (!Same(*k1[j], *k2[j])) return false;
  }
  return true;
}

// The lines kept as read (those before the first header, then each section's), as the writer
// stores a line kept as read.
std::string KeptLines(const CIniFile& ini) {
  std::string bytes;
  for (const std::string& line : ini.Preamble()) bytes += line + "\r\n";
  for (const CSection* s : ini.Sections())
    for (const std::string& line : s->RawLines()) bytes += line + "\r\n";
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CIniFile ini;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (ini.LoadFromBytes(bytes, kCodePage) != IniLoadResult::kLoaded) return 0;
  // What is kept as read loads again to the same model, whatever the writer thinks of it.
  CIniFile kept;
  if (kept.LoadFromBytes(KeptLines(ini), kCodePage) != IniLoadResult::kLoaded || !SameModel(ini, kept))
    std::abort();
  std::string written;
  if (!Write(ini, written)) return 0;
  CIniFile again;
  if (again.LoadFromBytes(written, kCodePage) != IniLoadResult::kLoaded || !SameModel(ini, again))
    std::abort();
  // Merging keeps every key, also into itself.
  CIniFile merged;
  merged.MergeFrom(ini);
  merged.MergeFrom(merged);
  for (CSection* s : merged.Sections())
    if (!s->Keys().empty()) s->RemoveKey(s->Keys()[0]);
  return 0;
}
