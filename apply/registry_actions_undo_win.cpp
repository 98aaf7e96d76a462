// The undo of the registry family's journal records: values given back their old type and
// data (or removed when they did not exist), keys the package created removed while they are
// empty, and keys it removed made again, each in its own view.
#include "apply/registry_actions_win.h"

#include "apply/undo_journal.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

namespace brindle {

namespace {


REGSAM ViewOf(bool is64BitView) { return is64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

DWORD RestoreValue(const UndoRecord& record) {
  const HKEY root = CRegistryActions::RootKey(static_cast<int>(record.root));
  if (!root) return ERROR_INVALID_PARAMETER;
  UniqueRegKey key;
  if (!record.existed) {
    const LONG opened = RegOpenKeyExW(root, record.path.c_str(), 0, KEY_SET_VALUE | ViewOf(record.is64Bit),
                                      key.Receive());
    if (opened != ERROR_SUCCESS) return IsMissingPathError(opened) ? 0 : static_cast<DWORD>(opened);
    const LONG deleted = RegDeleteValueW(key.Get(), record.name.c_str());
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(deleted);
  }
  const LONG created = RegCreateKeyExW(root, record.path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | ViewOf(record.is64Bit),
                                       nullptr, key.Receive(), nullptr);
  if (created != ERROR_SUCCESS) return static_cast<DWORD>(created);
  return static_cast<DWORD>(RegSetValueExW(key.Get(), record.name.c_str(), 0, record.attributes,
                                           reinterpret_cast<const BYTE*>(record.data.data()),
                                           static_cast<DWORD>(record.data.size())));
}

bool IsKeyEmpty(HKEY key) {
  DWORD subKeys = 0, values = 0;
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                          nullptr, nullptr) == ERROR_SUCCESS &&
         subKeys == 0 && values == 0;
}

DWORD RemoveCreatedKey(const UndoRecord& record) {
  const HKEY root = CRegistryActions::RootKey(static_cast<int>(record.root));
  if (!root) return ERROR_INVALID_PARAMETER;
  {
    UniqueRegKey key;
    const LONG opened = RegOpenKeyExW(root, record.path.c_str(), 0, KEY_READ | ViewOf(record.is64Bit), key.Receive());
    if (opened != ERROR_SUCCESS) return IsMissingPathError(opened) ? 0 : static_cast<DWORD>(opened);
    // Something that is not the package's has been put there since: the key stays.
    if (!IsKeyEmpty(key.Get())) return ERROR_DIR_NOT_EMPTY;
  }
  const LONG deleted = RegDeleteKeyExW(root, record.path.c_str(), ViewOf(record.is64Bit), 0);
  return deleted == ERROR_SUCCESS || IsMissingPathError(deleted) ? 0 : static_cast<DWORD>(deleted);
}

DWORD RestoreKey(const UndoRecord& record) {
  const HKEY root = CRegistryActions::RootKey(static_cast<int>(record.root));
  if (!root) return ERROR_INVALID_PARAMETER;
  UniqueRegKey key;
  return static_cast<DWORD>(RegCreateKeyExW(root, record.path.c_str(), 0, nullptr, 0, KEY_READ | ViewOf(record.is64Bit),
                                            nullptr, key.Receive(), nullptr));
}

}  // namespace

bool CRegistryActions::Undoes(UndoKind kind) {
  return kind == UndoKind::RegistryValue || kind == UndoKind::RegistryKeyCreated ||
         kind == UndoKind::RegistryKeyRemoved;
}

unsigned long CRegistryActions::Undo(const UndoRecord& record) {
  switch (record.kind) {
    case UndoKind::RegistryValue: return RestoreValue(record);
    case UndoKind::RegistryKeyCreated: return RemoveCreatedKey(record);
    case UndoKind::RegistryKeyRemoved: return RestoreKey(record);
    default: break;
  }
  return ERROR_INVALID_PARAMETER;
}

}  // namespace brindle
