// The machine's registry on Windows: each record's key in the view it names, opened once per
// step for all its values (the step's open keys are kept in a cache and let go at its end or
// whenever a key is removed).
#pragma once
#include <windows.h>

#include "apply/machine_registry.h"
#include "apply/registry_key_cache_win.h"

namespace brindle {

class WinMachineRegistry : public MachineRegistry {
 public:
  unsigned long Look(const RegistryKeyName& key, const std::wstring& valueName,
                     RegistryKeyState& state) override;
  unsigned long ReadValue(const RegistryKeyName& key, const std::wstring& name,
                          RegistryValueBytes& out) override;
  unsigned long WriteValue(const RegistryKeyName& key, const std::wstring& name,
                           const RegistryValueBytes& value, bool replace) override;
  unsigned long DeleteValue(const RegistryKeyName& key, const std::wstring& name) override;
  unsigned long DeleteKeyIfEmpty(const RegistryKeyName& key) override;
  unsigned long KeyExists(const RegistryKeyName& key, bool& exists) override;
  unsigned long CreateKey(const RegistryKeyName& key) override;
  void EndStep() override { keys_.Clear(); }
  // Until the next EndStep, a key found missing is answered missing again without a look: only
  // while nothing makes keys (the journal's declarations before a pass).
  void RememberMissing() { keys_.RememberMissing(); }

  // The root key of a record's root code (HKCR, HKLM, HKCU); null for an unknown code.
  static HKEY RootKey(int root);
  static REGSAM View(const RegistryKeyName& key) {
    return key.is64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  }

 private:
  RegistryKeyCache keys_;
};

}  // namespace brindle
