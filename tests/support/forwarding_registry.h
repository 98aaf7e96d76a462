// A registry that passes every call on to another one: the base of the tests' registries that
// watch the calls (count them, or end the process at one), each overriding only what it watches.
#pragma once
#include <string>

#include "apply/machine_registry.h"

namespace brindle {

class ForwardingRegistry : public MachineRegistry {
 public:
  explicit ForwardingRegistry(MachineRegistry& registry) : r_(registry) {}
  unsigned long Look(const RegistryKeyName& key, const std::wstring& name, RegistryKeyState& state) override {
    return r_.Look(key, name, state);
  }
  unsigned long ReadValue(const RegistryKeyName& key, const std::wstring& name,
                          RegistryValueBytes& out) override {
    return r_.ReadValue(key, name, out);
  }
  unsigned long KeyExists(const RegistryKeyName& key, bool& exists) override {
    return r_.KeyExists(key, exists);
  }
  unsigned long WriteValue(const RegistryKeyName& key, const std::wstring& name,
                           const RegistryValueBytes& value, bool replace) override {
    return r_.WriteValue(key, name, value, replace);
  }
  unsigned long DeleteValue(const RegistryKeyName& key, const std::wstring& name) override {
    return r_.DeleteValue(key, name);
  }
  unsigned long DeleteKeyIfEmpty(const RegistryKeyName& key) override { return r_.DeleteKeyIfEmpty(key); }
  unsigned long CreateKey(const RegistryKeyName& key) override { return r_.CreateKey(key); }
  void EndStep() override { r_.EndStep(); }

 private:
  MachineRegistry& r_;
};

}  // namespace brindle
