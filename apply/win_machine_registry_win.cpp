#include "apply/win_machine_registry_win.h"

#include "package/object_records.h"
#include "sys/win_handles.h"

namespace brindle {

namespace {

const DWORD kFirstValueRead = 2048;

bool CountContents(HKEY key, RegistryKeyState& state, LONG& result) {
  DWORD subKeys = 0, values = 0;
  result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                            nullptr, nullptr, nullptr);
  state.subKeys = subKeys;
  state.values = values;
  return result == ERROR_SUCCESS;
}

// Stores the value in the key, a replacement deleting the old value first.
LONG StoreValue(HKEY key, const std::wstring& name, const RegistryValueBytes& value, bool replace) {
  if (replace) {
    const LONG deleted = RegDeleteValueW(key, name.c_str());
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return deleted;
  }
  return RegSetValueExW(key, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                        static_cast<DWORD>(value.bytes.size()));
}

}  // namespace

HKEY WinMachineRegistry::RootKey(int root) {
  switch (root) {
    case kRegRootClassesRoot: return HKEY_CLASSES_ROOT;
    case kRegRootLocalMachine: return HKEY_LOCAL_MACHINE;
    case kRegRootCurrentUser: return HKEY_CURRENT_USER;
    default: return nullptr;
  }
}

unsigned long WinMachineRegistry::Look(const RegistryKeyName& key, const std::wstring& valueName,
                                       RegistryKeyState& state) {
  state = RegistryKeyState();
  const HKEY root = RootKey(key.root);
  if (!root) return ERROR_INVALID_PARAMETER;
  // Opened with the rights a deletion needs, so the same handle serves the step's changes.
  LONG result = ERROR_SUCCESS;
  HKEY open = keys_.Open(root, View(key), key.path, KEY_ALL_ACCESS, result);
  if (result == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (result != ERROR_SUCCESS) return static_cast<unsigned long>(result);
  state.exists = true;
  if (!CountContents(open, state, result)) return static_cast<unsigned long>(result);
  result = RegQueryValueExW(open, valueName.c_str(), nullptr, nullptr, nullptr, nullptr);
  state.holdsValue = result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
  if (!state.holdsValue && result != ERROR_FILE_NOT_FOUND) return static_cast<unsigned long>(result);
  return ERROR_SUCCESS;
}

unsigned long WinMachineRegistry::ReadValue(const RegistryKeyName& key, const std::wstring& name,
                                            RegistryValueBytes& out) {
  const HKEY root = RootKey(key.root);
  if (!root) return ERROR_INVALID_PARAMETER;
  LONG result = ERROR_SUCCESS;
  HKEY open = keys_.Open(root, View(key), key.path, KEY_QUERY_VALUE, result);
  if (result != ERROR_SUCCESS) return static_cast<unsigned long>(result);
  // Most values fit the first read; a larger one is read again at its size.
  std::string bytes(kFirstValueRead, '\0');
  DWORD type = 0, size = kFirstValueRead;
  result = RegQueryValueExW(open, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]), &size);
  if (result == ERROR_MORE_DATA) {
    bytes.assign(size, '\0');
    result = RegQueryValueExW(open, name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(bytes.empty() ? nullptr : &bytes[0]), &size);
  }
  if (result != ERROR_SUCCESS) return static_cast<unsigned long>(result);
  bytes.resize(size);
  out.type = type;
  out.bytes = std::move(bytes);
  return ERROR_SUCCESS;
}

unsigned long WinMachineRegistry::KeyExists(const RegistryKeyName& key, bool& exists) {
  exists = false;
  const HKEY root = RootKey(key.root);
  if (!root) return ERROR_INVALID_PARAMETER;
  LONG result = ERROR_SUCCESS;
  exists = keys_.Open(root, View(key), key.path, KEY_READ, result) != nullptr;
  return exists || result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND
             ? ERROR_SUCCESS
             : static_cast<unsigned long>(result);
}

unsigned long WinMachineRegistry::CreateKey(const RegistryKeyName& key) {
  const HKEY root = RootKey(key.root);
  if (!root) return ERROR_INVALID_PARAMETER;
  LONG result = ERROR_SUCCESS;
  keys_.Create(root, View(key), key.path, result);
  return static_cast<unsigned long>(result);
}

unsigned long WinMachineRegistry::WriteValue(const RegistryKeyName& key, const std::wstring& name,
                                             const RegistryValueBytes& value, bool replace) {
  const HKEY root = RootKey(key.root);
  if (!root) return ERROR_INVALID_PARAMETER;
  LONG result = ERROR_SUCCESS;
  HKEY open = keys_.Create(root, View(key), key.path, result);
  if (result == ERROR_SUCCESS) result = StoreValue(open, name, value, replace);
  if (result == ERROR_KEY_DELETED) {
    // Another program removed the key since the step opened it: the value goes into the key
    // of that path now, as it would had the key been opened for this value alone.
    keys_.Clear();
    open = keys_.Create(root, View(key), key.path, result);
    if (result == ERROR_SUCCESS) result = StoreValue(open, name, value, replace);
  }
  return static_cast<unsigned long>(result);
}

unsigned long WinMachineRegistry::DeleteValue(const RegistryKeyName& key, const std::wstring& name) {
  const HKEY root = RootKey(key.root);
  if (!root) return ERROR_INVALID_PARAMETER;
  LONG result = ERROR_SUCCESS;
  HKEY open = keys_.Open(root, View(key), key.path, KEY_ALL_ACCESS, result);
  if (result == ERROR_SUCCESS) result = RegDeleteValueW(open, name.c_str());
  if (result == ERROR_KEY_DELETED) {
    // Another program removed the key since the step opened it: looked at again as it is now.
    keys_.Clear();
    open = keys_.Open(root, View(key), key.path, KEY_ALL_ACCESS, result);
    if (result == ERROR_SUCCESS) result = RegDeleteValueW(open, name.c_str());
  }
  return static_cast<unsigned long>(result);
}

unsigned long WinMachineRegistry::DeleteKeyIfEmpty(const RegistryKeyName& key) {
  std::wstring path = key.path;
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  const size_t slash = path.find_last_of(L'\\');
  const std::wstring parentPath = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
  const std::wstring last = slash == std::wstring::npos ? path : path.substr(slash + 1);
  // No handle of a key this step removes may be used again (nor one kept open while it goes).
  keys_.Clear();
  if (last.empty() || !RootKey(key.root)) return ERROR_INVALID_PARAMETER;
  UniqueRegKey parent;
  LONG result =
      RegOpenKeyExW(RootKey(key.root), parentPath.c_str(), 0, KEY_ALL_ACCESS | View(key), parent.Receive());
  if (result != ERROR_SUCCESS) return static_cast<unsigned long>(result);
  // Looked at again through the parent just before the deletion: a key that has filled up
  // meanwhile is not the package's to remove.
  UniqueRegKey child;
  result = RegOpenKeyExW(parent.Get(), last.c_str(), 0, KEY_READ | View(key), child.Receive());
  RegistryKeyState state;
  if (result == ERROR_SUCCESS && CountContents(child.Get(), state, result) &&
      (state.values != 0 || state.subKeys != 0))
    result = ERROR_DIR_NOT_EMPTY;
  child.Reset();
  if (result == ERROR_SUCCESS) result = RegDeleteKeyExW(parent.Get(), last.c_str(), View(key), 0);
  return static_cast<unsigned long>(result);
}

}  // namespace brindle
