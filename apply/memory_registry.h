// A registry held in memory behind the machine's registry interface: the native tests run the
// registry decisions on it, and brindle-pack's plan loads it from a registry export to decide as
// the program would. Key and value names compare without regard to case, as Windows does. The
// 32-bit view of HKLM\Software is its WOW6432Node key, as on 64-bit Windows; the other keys are
// shared by both views.
#pragma once
#include <map>
#include <set>
#include <string>

#include "apply/machine_registry.h"

namespace brindle {

class MemoryRegistry : public MachineRegistry {
 public:
  unsigned long Look(const RegistryKeyName& key, const std::wstring& valueName,
                     RegistryKeyState& state) override;
  unsigned long WriteValue(const RegistryKeyName& key, const std::wstring& name,
                           const RegistryValueBytes& value, bool replace) override;
  unsigned long DeleteValue(const RegistryKeyName& key, const std::wstring& name) override;
  unsigned long DeleteKeyIfEmpty(const RegistryKeyName& key) override;
  unsigned long KeyExists(const RegistryKeyName& key, bool& exists) override;
  unsigned long CreateKey(const RegistryKeyName& key) override;

  // Makes the key and every missing key of its path.
  void MakeKey(const RegistryKeyName& key);
  bool HasKey(const RegistryKeyName& key) const;
  // Every key and value, names as stored, one per line in a stable order: two registries hold
  // the same keys and values exactly when their listings are equal.
  std::wstring Listing() const;
  unsigned long ReadValue(const RegistryKeyName& key, const std::wstring& name,
                          RegistryValueBytes& out) override;

  // Loads the text of an export in the registry editor's form (what "reg export" writes): each
  // [key] line makes the key in the 64-bit view, each "name"=
  // or @= line a value of the last key (string and dword data kept; other types kept as names
  // with empty data). A [-key] line removes it. False, with the line's number, for a line that
  // is none of these.
  bool LoadExport(const std::wstring& text, size_t& badLine);

 private:
  struct StoredValue {
    std::wstring name;
    RegistryValueBytes value;
  };
  struct StoredKey {
    std::map<std::wstring, StoredValue> values;  // by folded name
  };
  // The key's place in the one tree: root code and folded path, the 32-bit view mapped.
  static std::wstring Place(const RegistryKeyName& key);
  static std::wstring Place(int root, const std::wstring& path, bool view32);
  size_t SubKeys(const std::wstring& place) const;
  bool LoadKeyLine(const std::wstring& line, std::wstring& place);
  bool LoadValueLine(const std::wstring& line, const std::wstring& place);

  std::map<std::wstring, StoredKey> keys_;  // by place
};

}  // namespace brindle
