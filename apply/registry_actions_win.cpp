#include "apply/registry_actions_win.h"

#include "apply/action_line.h"
#include "apply/package_context.h"
#include "apply/package_journal_win.h"
#include "apply/registry_data.h"
#include "apply/sub_updater.h"
#include "package/object_records.h"
#include "sys/env.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"
#include "uninstlog/uninstall_log.h"

namespace brindle {

namespace {

const wchar_t* WriteVerb(bool isAdd) { return isAdd ? L"ADD_REG" : L"UPDATE_REG_ADD"; }

bool IsKeyEmpty(HKEY key) {
  DWORD subKeys = 0, values = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return subKeys == 0 && values == 0;
}

// Stores the value in the key, an update deleting the old value first.
LONG StoreValue(HKEY key, const std::wstring& name, const RegistryValueBytes& value, bool deleteFirst) {
  if (deleteFirst) {
    const LONG deleted = RegDeleteValueW(key, name.c_str());
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return deleted;
  }
  return RegSetValueExW(key, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                        static_cast<DWORD>(value.bytes.size()));
}

}  // namespace

HKEY CRegistryActions::RootKey(int root) {
  switch (root) {
    case kRegRootClassesRoot: return HKEY_CLASSES_ROOT;
    case kRegRootLocalMachine: return HKEY_LOCAL_MACHINE;
    case kRegRootCurrentUser: return HKEY_CURRENT_USER;
    default: return nullptr;
  }
}

REGSAM CRegistryActions::View(const CQXRegistry& record) {
  return record.wow.wow == kWow64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

bool CRegistryActions::Skipped(const CQXRegistry& record) {
  return record.wow.wow == kWow64 && !IsWow64Windows();
}

// ---- the write pass ----------------------------------------------------------------------------

void CRegistryActions::DeclareValues(const std::vector<PackageAction>& actions, bool writing) {
  CPackageJournal* journal = context_.journal;
  journal->BeginDeclarations();
  for (const PackageAction& action : actions) {
    const CQXRegistry* record = action.registry;
    if (!record || Skipped(*record) || !RootKey(record->keyPath.root)) continue;
    const bool is64Bit = record->wow.wow == kWow64;
    const std::wstring keyPath = context_.env.ExpandKeepingSystemFolders(record->keyPath.path);
    const std::wstring valueName = context_.env.ExpandKeepingSystemFolders(record->valueName);
    // A write may also create the keys of its path; a deletion only takes the value.
    if (writing) journal->DeclareValue(record->keyPath.root, is64Bit, keyPath, valueName);
    else journal->NoteValue(record->keyPath.root, is64Bit, keyPath, valueName);
  }
  journal->EndDeclarations();
}

void CRegistryActions::BeginStep(const PackageStep& step, const std::vector<PackageAction>& actions) {
  keys_.Clear();
  if (!context_.journal) return;
  if (step.pass == PackagePass::kWriteRegistry) DeclareValues(actions, true);
  if (step.pass == PackagePass::kDeleteRegistry) DeclareValues(actions, false);
}

StepOutcome CRegistryActions::EndStep(const PackageStep&) {
  keys_.Clear();
  return StepOutcome::kCompleted;
}

ActionOutcome CRegistryActions::Do(const PackageAction& action) {
  const bool write = action.step.pass == PackagePass::kWriteRegistry;
  if (!write && action.step.pass != PackagePass::kDeleteRegistry)
    throw CUpdaterException("a step the registry actions do not take");
  const bool inAdd = action.step.section == PackageSection::kAdd;
  const bool inUpdate = action.step.section == PackageSection::kUpdate;
  if (!action.registry) {
    WriteMissingRecordLine(write ? WriteVerb(inAdd) : (inUpdate ? L"UPDATE_REG_DELETE" : L"DELETE_REG"));
    return ActionOutcome::kMissingRecord;
  }
  if (Skipped(*action.registry)) return ActionOutcome::kSkipped;
  const bool applied = write ? WriteOne(*action.registry, inAdd) : DeleteOne(*action.registry, inUpdate);
  return applied ? ActionOutcome::kDone : ActionOutcome::kFailed;
}

bool CRegistryActions::WriteOne(const CQXRegistry& record, bool isAdd) {
  const wchar_t* verb = WriteVerb(isAdd);
  const CQXEnv& env = context_.env;
  const HKEY root = RootKey(record.keyPath.root);
  const std::wstring keyPath = env.ExpandKeepingSystemFolders(record.keyPath.path);
  const std::wstring valueName = env.ExpandKeepingSystemFolders(record.valueName);
  const bool is64Bit = record.wow.wow == kWow64;
  CPackageJournal* journal = context_.journal;
  // The data is converted before anything is touched: a record that cannot be stored leaves
  // the key and the old value as they were.
  const std::wstring data = ReplaceInstallTime(env.ExpandKeepingSystemFolders(record.data.data));
  RegistryValueBytes value;
  if (!ConvertRegistryData(record.data.type, data, value)) {
    WriteActionError(verb, keyPath, ERROR_INVALID_DATA);
    return false;
  }
  if (!root) {
    WriteActionError(verb, keyPath, ERROR_INVALID_PARAMETER);
    return false;
  }
  if (journal) journal->NoteMissingKeys(record.keyPath.root, is64Bit, keyPath);
  LONG result = ERROR_SUCCESS;
  HKEY key = keys_.Create(root, View(record), keyPath, result);
  if (result == ERROR_SUCCESS && journal)
    journal->NoteValue(record.keyPath.root, is64Bit, keyPath, valueName);
  if (result == ERROR_SUCCESS) result = StoreValue(key, valueName, value, !isAdd);
  if (result == ERROR_KEY_DELETED) {
    // Another program removed the key since the step opened it: the value goes into the key
    // of that path now, as it would had the key been opened for this value alone.
    keys_.Clear();
    key = keys_.Create(root, View(record), keyPath, result);
    if (result == ERROR_SUCCESS) result = StoreValue(key, valueName, value, !isAdd);
  }
  if (result != ERROR_SUCCESS) {
    WriteActionError(verb, keyPath, static_cast<DWORD>(result));
    return false;
  }
  // The key stays open for the step's other values: the line reports the stored value.
  WriteActionLine(verb, keyPath, ERROR_SUCCESS);
  if (isAdd && context_.uninstallLog) context_.uninstallLog->AddRegistryEntries(record);
  return true;
}

// ---- the delete pass ---------------------------------------------------------------------------

bool CRegistryActions::DeleteOne(const CQXRegistry& record, bool isUpdate) {
  const CQXEnv& env = context_.env;
  const HKEY root = RootKey(record.keyPath.root);
  const std::wstring keyPath = env.ExpandKeepingSystemFolders(record.keyPath.path);
  const wchar_t* verb = isUpdate ? L"UPDATE_REG_DELETE" : L"DELETE_REG";
  if (!root) {
    WriteActionError(verb, keyPath, ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::wstring valueName = env.ExpandKeepingSystemFolders(record.valueName);
  LONG opened = ERROR_SUCCESS;
  HKEY key = keys_.Open(root, View(record), keyPath, KEY_ALL_ACCESS, opened);
  LONG deleted = ERROR_SUCCESS;
  if (opened == ERROR_SUCCESS) {
    if (context_.journal)
      context_.journal->NoteValue(record.keyPath.root, record.wow.wow == kWow64, keyPath, valueName);
    deleted = RegDeleteValueW(key, valueName.c_str());
    if (deleted == ERROR_KEY_DELETED) {
      // Another program removed the key since the step opened it: looked at again as it is now.
      keys_.Clear();
      key = keys_.Open(root, View(record), keyPath, KEY_ALL_ACCESS, opened);
      if (opened == ERROR_SUCCESS) deleted = RegDeleteValueW(key, valueName.c_str());
    }
  }
  if (opened == ERROR_FILE_NOT_FOUND) {
    // The key is gone, so the value is too: reported like a missing value, and the pass goes
    // on to the package's other deletions.
    WriteActionLine(L"UPDATE_REG_DELETE", keyPath, ERROR_FILE_NOT_FOUND);
    return true;
  }
  if (opened != ERROR_SUCCESS) {
    WriteActionError(verb, keyPath, static_cast<DWORD>(opened));
    return false;
  }
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
    WriteActionError(verb, keyPath, static_cast<DWORD>(deleted));
    return false;
  }
  if (!isUpdate && IsKeyEmpty(key)) return DeleteEmptiedKey(record, keyPath);
  WriteActionLine(L"UPDATE_REG_DELETE", keyPath, static_cast<DWORD>(deleted));
  return true;
}

bool CRegistryActions::DeleteEmptiedKey(const CQXRegistry& record, const std::wstring& keyPath) {
  std::wstring path = keyPath;
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  const size_t slash = path.find_last_of(L'\\');
  const std::wstring parentPath = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
  const std::wstring last = slash == std::wstring::npos ? path : path.substr(slash + 1);
  // No handle of a key this step removes may be used again (nor one kept open while it goes).
  keys_.Clear();
  UniqueRegKey parent;
  const LONG opened = RegOpenKeyExW(RootKey(record.keyPath.root), parentPath.c_str(), 0,
                                    KEY_ALL_ACCESS | View(record), parent.Receive());
  if (opened != ERROR_SUCCESS) {
    WriteActionError(L"DELETE_REG", keyPath, static_cast<DWORD>(opened));
    return false;
  }
  // Looked at again through the parent just before the deletion: a key that has filled up
  // meanwhile is not the package's to remove.
  LONG result = ERROR_INVALID_PARAMETER;
  if (!last.empty()) {
    UniqueRegKey child;
    result = RegOpenKeyExW(parent.Get(), last.c_str(), 0, KEY_READ | View(record), child.Receive());
    if (result == ERROR_SUCCESS && !IsKeyEmpty(child.Get())) result = ERROR_DIR_NOT_EMPTY;
    child.Reset();
    if (result == ERROR_SUCCESS && context_.journal)
      context_.journal->NoteKeyRemoved(record.keyPath.root, record.wow.wow == kWow64, path);
    if (result == ERROR_SUCCESS) result = RegDeleteKeyExW(parent.Get(), last.c_str(), View(record), 0);
  }
  WriteActionLine(L"DELETE_REG", keyPath, static_cast<DWORD>(result));
  if (result != ERROR_SUCCESS) return false;
  if (context_.uninstallLog) context_.uninstallLog->RemoveRegistryEntry(record);
  return true;
}

}  // namespace brindle
