// The registry keys one step of registry work keeps open, so that the many values of one key
// cost one open of the key rather than one each (in a 64-bit process a key of the 32-bit view
// is opened one name of its path at a time, every open a trip to the registry's server).
// A key is found again by its root, its view, its path as Windows compares key names, and the
// rights asked for: a handle serves only requests within the rights it was opened with. Whoever
// removes a key, and the end of the step, clears the cache, so no handle of a key removed by
// this program is used again.
#pragma once
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "sys/win_handles.h"

namespace brindle {

class RegistryKeyCache {
 public:
  // The key opened with at least the given rights (view is KEY_WOW64_32KEY or KEY_WOW64_64KEY);
  // null, with the system's error in result, when it cannot be opened.
  HKEY Open(HKEY root, REGSAM view, const std::wstring& path, REGSAM access, LONG& result);
  // The key opened with all rights, made first (with every missing key of its path) when it
  // does not exist; null, with the system's error in result, when it cannot be.
  HKEY Create(HKEY root, REGSAM view, const std::wstring& path, LONG& result);
  // Until the next Clear, a key Open finds missing is answered missing again without a look:
  // only for a caller sure that nothing makes keys meanwhile (Create forgets it).
  void RememberMissing() { rememberMissing_ = true; }
  // Closes every handle and forgets every missing key.
  void Clear();

 private:
  struct Handle {
    UniqueRegKey key;
    REGSAM access;
  };
  struct Key {
    std::vector<Handle> handles;
    bool missing = false;
  };
  Key& Find(HKEY root, REGSAM view, const std::wstring& path);
  static HKEY Serving(const Key& key, REGSAM access);

  std::map<std::wstring, Key> keys_;
  bool rememberMissing_ = false;
};

}  // namespace brindle
