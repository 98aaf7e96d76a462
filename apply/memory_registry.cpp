#include "apply/memory_registry.h"

#include <cwctype>
#include <vector>

#include "package/object_records.h"
#include "sys/text.h"

namespace brindle {

namespace {

std::wstring Fold(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::wstring TrimSlashes(const std::wstring& path) {
  size_t begin = 0, end = path.size();
  while (begin < end && path[begin] == L'\\') ++begin;
  while (end > begin && path[end - 1] == L'\\') --end;
  return path.substr(begin, end - begin);
}

std::wstring ParentPlace(const std::wstring& place) {
  const size_t slash = place.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : place.substr(0, slash);
}

bool IsRootPlace(const std::wstring& place) { return place.find(L'\\') == std::wstring::npos; }

// The root codes of the export's key names.
bool RootOfExportName(const std::wstring& name, int& root, std::wstring& rest) {
  static const struct {
    const wchar_t* name;
    int root;
  } kRoots[] = {{L"HKEY_CLASSES_ROOT", kRegRootClassesRoot},
                {L"HKEY_LOCAL_MACHINE", kRegRootLocalMachine},
                {L"HKEY_CURRENT_USER", kRegRootCurrentUser},
                {L"HKCR", kRegRootClassesRoot},
                {L"HKLM", kRegRootLocalMachine},
                {L"HKCU", kRegRootCurrentUser}};
  const std::wstring folded = Fold(name);
  for (const auto& r : kRoots) {
    const std::wstring n = r.name;
    if (folded.compare(0, n.size(), n) == 0 && (folded.size() == n.size() || folded[n.size()] == L'\\')) {
      root = r.root;
      rest = name.size() > n.size() ? name.substr(n.size() + 1) : std::wstring();
      return true;
    }
  }
  return false;
}

// A quoted name starting at text[at] (the quote); its end is left in at. False when unclosed.
bool ReadQuoted(const std::wstring& text, size_t& at, std::wstring& out) {
  out.clear();
  for (++at; at < text.size(); ++at) {
    if (text[at] == L'\\' && at + 1 < text.size()) {
      out += text[++at];
    } else if (text[at] == L'"') {
      ++at;
      return true;
    } else {
      out += text[at];
    }
  }
  return false;
}

}  // namespace

std::wstring MemoryRegistry::Place(int root, const std::wstring& path, bool view32) {
  std::wstring folded = Fold(TrimSlashes(path));
  if (view32 && root == kRegRootLocalMachine) {
    const std::wstring software = L"SOFTWARE";
    const std::wstring node = L"\\WOW6432NODE";
    const size_t after = software.size() + node.size();
    const bool inSoftware = folded.compare(0, software.size(), software) == 0 &&
                            (folded.size() == software.size() || folded[software.size()] == L'\\');
    const bool inNode = inSoftware && folded.compare(software.size(), node.size(), node) == 0 &&
                        (folded.size() == after || folded[after] == L'\\');
    if (inSoftware && !inNode) folded.insert(software.size(), node);
  }
  std::wstring place = ToWideDecimal(root);
  if (!folded.empty()) place += L"\\" + folded;
  return place;
}

std::wstring MemoryRegistry::Place(const RegistryKeyName& key) {
  return Place(key.root, key.path, !key.is64BitView);
}

size_t MemoryRegistry::SubKeys(const std::wstring& place) const {
  const std::wstring prefix = place + L"\\";
  size_t count = 0;
  for (auto it = keys_.lower_bound(prefix);
       it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
    if (it->first.find(L'\\', prefix.size()) == std::wstring::npos) ++count;
  return count;
}

void MemoryRegistry::MakeKey(const RegistryKeyName& key) {
  for (std::wstring place = Place(key); !IsRootPlace(place); place = ParentPlace(place)) keys_[place];
}

bool MemoryRegistry::HasKey(const RegistryKeyName& key) const { return keys_.count(Place(key)) != 0; }

unsigned long MemoryRegistry::KeyExists(const RegistryKeyName& key, bool& exists) {
  exists = HasKey(key) || IsRootPlace(Place(key));
  return kSysSuccess;
}

unsigned long MemoryRegistry::CreateKey(const RegistryKeyName& key) {
  MakeKey(key);
  return kSysSuccess;
}

std::wstring MemoryRegistry::Listing() const {
  std::wstring out;
  for (const auto& key : keys_) {
    out += L"[" + key.first + L"]\n";
    for (const auto& value : key.second.values) {
      out += L"  " + value.second.name + L" type " + std::to_wstring(value.second.value.type) + L":";
      for (unsigned char byte : value.second.value.bytes) out += L" " + std::to_wstring(byte);
      out += L"\n";
    }
  }
  return out;
}

unsigned long MemoryRegistry::ReadValue(const RegistryKeyName& key, const std::wstring& name,
                                        RegistryValueBytes& out) {
  const auto k = keys_.find(Place(key));
  if (k == keys_.end()) return kSysFileNotFound;
  const auto v = k->second.values.find(Fold(name));
  if (v == k->second.values.end()) return kSysFileNotFound;
  out = v->second.value;
  return kSysSuccess;
}

unsigned long MemoryRegistry::Look(const RegistryKeyName& key, const std::wstring& valueName,
                                   RegistryKeyState& state) {
  state = RegistryKeyState();
  const std::wstring place = Place(key);
  const auto k = keys_.find(place);
  if (k == keys_.end()) return kSysSuccess;
  state.exists = true;
  state.holdsValue = k->second.values.count(Fold(valueName)) != 0;
  state.values = k->second.values.size();
  state.subKeys = SubKeys(place);
  return kSysSuccess;
}

unsigned long MemoryRegistry::WriteValue(const RegistryKeyName& key, const std::wstring& name,
                                         const RegistryValueBytes& value, bool replace) {
  if (IsRootPlace(Place(key))) return kSysInvalidParameter;
  MakeKey(key);
  StoredValue& stored = keys_[Place(key)].values[Fold(name)];
  if (replace || stored.name.empty()) stored.name = name;
  stored.value = value;
  return kSysSuccess;
}

unsigned long MemoryRegistry::DeleteValue(const RegistryKeyName& key, const std::wstring& name) {
  const auto k = keys_.find(Place(key));
  if (k == keys_.end()) return kSysFileNotFound;
  return k->second.values.erase(Fold(name)) ? kSysSuccess : kSysFileNotFound;
}

unsigned long MemoryRegistry::DeleteKeyIfEmpty(const RegistryKeyName& key) {
  const std::wstring place = Place(key);
  const auto k = keys_.find(place);
  if (k == keys_.end() || IsRootPlace(place)) return kSysFileNotFound;
  if (!k->second.values.empty() || SubKeys(place) != 0) return kSysDirNotEmpty;
  keys_.erase(k);
  return kSysSuccess;
}

bool MemoryRegistry::LoadKeyLine(const std::wstring& line, std::wstring& place) {
  const bool removal = line.size() > 1 && line[1] == L'-';
  const std::wstring name = line.substr(removal ? 2 : 1, line.size() - (removal ? 3 : 2));
  int root = 0;
  std::wstring rest;
  if (!RootOfExportName(name, root, rest)) return false;
  place = Place(root, rest, false);
  if (removal) {
    const std::wstring prefix = place + L"\\";
    for (auto it = keys_.lower_bound(place);
         it != keys_.end() && (it->first == place || it->first.compare(0, prefix.size(), prefix) == 0);)
      it = keys_.erase(it);
    place.clear();
    return true;
  }
  if (IsRootPlace(place)) return true;
  for (std::wstring p = place; !IsRootPlace(p); p = ParentPlace(p)) keys_[p];
  return true;
}

bool MemoryRegistry::LoadValueLine(const std::wstring& line, const std::wstring& place) {
  if (place.empty() || IsRootPlace(place)) return false;
  size_t at = 0;
  std::wstring name;
  if (line[0] == L'@') {
    at = 1;
  } else if (!ReadQuoted(line, at, name)) {
    return false;
  }
  if (at >= line.size() || line[at] != L'=') return false;
  const std::wstring data = line.substr(at + 1);
  StoredValue stored;
  stored.name = name;
  if (data == L"-") {
    keys_[place].values.erase(Fold(name));
    return true;
  }
  if (!data.empty() && data[0] == L'"') {
    size_t d = 0;
    std::wstring text;
    if (!ReadQuoted(data, d, text)) return false;
    stored.value.type = kStoredSz;
    stored.value.bytes = Utf16LeBytes(text);
    stored.value.bytes.append(2, '\0');
  } else if (data.compare(0, 6, L"dword:") == 0) {
    std::uint32_t number = 0;
    if (!ParseRegistryDword(L"0x" + data.substr(6), number)) return false;
    stored.value.type = kStoredDword;
    for (int i = 0; i < 4; ++i) stored.value.bytes += static_cast<char>((number >> (8 * i)) & 0xFF);
  } else if (data.compare(0, 3, L"hex") != 0) {
    return false;
  }
  keys_[place].values[Fold(name)] = stored;
  return true;
}

bool MemoryRegistry::LoadExport(const std::wstring& text, size_t& badLine) {
  std::wstring place;
  size_t number = 0, start = 0;
  std::wstring line;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring piece = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!piece.empty() && piece.back() == L'\r') piece.pop_back();
    // Long binary data goes on over lines that end with a backslash.
    const bool continued =
        !piece.empty() && piece.back() == L'\\' && (line + piece).find(L"=hex") != std::wstring::npos;
    if (!line.empty()) {
      size_t i = 0;
      while (i < piece.size() && (piece[i] == L' ' || piece[i] == L'\t')) ++i;
      piece = piece.substr(i);
    }
    line += continued ? piece.substr(0, piece.size() - 1) : piece;
    if (continued) continue;
    const std::wstring whole = line;
    line.clear();
    if (whole.empty() || whole[0] == L';') continue;
    if (whole == L"Windows Registry Editor Version 5.00" || whole == L"REGEDIT4") continue;
    bool ok = false;
    if (whole[0] == L'[' && whole.back() == L']') ok = LoadKeyLine(whole, place);
    else if (whole[0] == L'"' || whole[0] == L'@') ok = LoadValueLine(whole, place);
    if (!ok) {
      badLine = number;
      return false;
    }
  }
  return true;
}

}  // namespace brindle
