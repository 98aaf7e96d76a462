// The registry as a package's registry actions see it: keys named by their root code, their
// view and their path, values read, written and deleted one at a time. Windows answers through
// the registry itself; an in-memory registry answers the tests and brindle-pack's plan. Every
// call answers the system's error code (0 on success), never through GetLastError.
#pragma once
#include <cstddef>
#include <string>

#include "apply/registry_data.h"

namespace brindle {

// The system's error codes the registry decisions and their callers name.
enum : unsigned long {
  kSysSuccess = 0,
  kSysFileNotFound = 2,
  kSysPathNotFound = 3,
  kSysInvalidData = 13,
  kSysInvalidParameter = 87,
  kSysDirNotEmpty = 145,
  kSysFileTooLarge = 223,
};

// A key as a package record names it: a root code (kRegRoot*), a view and a path below the root.
struct RegistryKeyName {
  int root = 0;
  bool is64BitView = false;
  std::wstring path;
};

// What a decision needs to know of a key and one of its values, as the key is now.
struct RegistryKeyState {
  bool exists = false;
  bool holdsValue = false;  // the value named in the look-up
  size_t values = 0;        // all values of the key
  size_t subKeys = 0;
};

class MachineRegistry {
 public:
  virtual ~MachineRegistry() = default;
  // The key and one of its values as they are now. kSysFileNotFound is not an error here: the
  // state says the key does not exist. Any other failure answers its code.
  virtual unsigned long Look(const RegistryKeyName& key, const std::wstring& valueName,
                             RegistryKeyState& state) = 0;
  // Whether the key exists (kSysSuccess with exists false when it does not).
  virtual unsigned long KeyExists(const RegistryKeyName& key, bool& exists) = 0;
  // Makes the key and every missing key of its path (kSysSuccess when it exists already).
  virtual unsigned long CreateKey(const RegistryKeyName& key) = 0;
  // One value's type and bytes: kSysFileNotFound when the key or the value does not exist.
  virtual unsigned long ReadValue(const RegistryKeyName& key, const std::wstring& name,
                                  RegistryValueBytes& out) = 0;
  // Stores the value, making the key and every missing key of its path first; with replace, an
  // existing value of that name is deleted before the new one is stored.
  virtual unsigned long WriteValue(const RegistryKeyName& key, const std::wstring& name,
                                   const RegistryValueBytes& value, bool replace) = 0;
  // Deletes one value: kSysFileNotFound when the key or the value does not exist.
  virtual unsigned long DeleteValue(const RegistryKeyName& key, const std::wstring& name) = 0;
  // Removes the key only while it holds no value and no key (looked at again just before):
  // kSysDirNotEmpty when it holds something, kSysFileNotFound when it does not exist.
  virtual unsigned long DeleteKeyIfEmpty(const RegistryKeyName& key) = 0;
  // The end of a step: whatever the registry kept open for the step is let go.
  virtual void EndStep() {}
};

}  // namespace brindle
