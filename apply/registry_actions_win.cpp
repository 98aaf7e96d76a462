#include "apply/registry_actions_win.h"

#include "apply/action_line.h"
#include "apply/package_context.h"
#include "apply/package_journal_win.h"
#include "apply/registry_data.h"
#include "apply/registry_decisions.h"
#include "apply/sub_updater.h"
#include "package/object_records.h"
#include "sys/env.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"
#include "uninstlog/uninstall_log.h"

namespace brindle {

namespace {

// The key's path without the backslashes that may end it, as the journal names a removed key.
std::wstring TrimmedKeyPath(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

}  // namespace

HKEY CRegistryActions::RootKey(int root) { return WinMachineRegistry::RootKey(root); }

RegistryKeyName CRegistryActions::KeyOf(const CQXRegistry& record) const {
  RegistryKeyName key;
  key.root = record.keyPath.root;
  key.is64BitView = record.wow.wow == kWow64;
  key.path = context_.env.ExpandKeepingSystemFolders(record.keyPath.path);
  return key;
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
  registry_.EndStep();
  if (!context_.journal) return;
  if (step.pass == PackagePass::kWriteRegistry) DeclareValues(actions, true);
  if (step.pass == PackagePass::kDeleteRegistry) DeclareValues(actions, false);
}

StepOutcome CRegistryActions::EndStep(const PackageStep&) {
  registry_.EndStep();
  return StepOutcome::kCompleted;
}

ActionOutcome CRegistryActions::Do(const PackageAction& action) {
  const bool write = action.step.pass == PackagePass::kWriteRegistry;
  if (!write && action.step.pass != PackagePass::kDeleteRegistry)
    throw CUpdaterException("a step the registry actions do not take");
  const bool inAdd = action.step.section == PackageSection::kAdd;
  const bool inUpdate = action.step.section == PackageSection::kUpdate;
  if (!action.registry) {
    WriteMissingRecordLine(write ? RegistryWriteVerb(inAdd) : (inUpdate ? L"UPDATE_REG_DELETE" : L"DELETE_REG"));
    return ActionOutcome::kMissingRecord;
  }
  if (Skipped(*action.registry)) return ActionOutcome::kSkipped;
  const bool applied = write ? WriteOne(*action.registry, inAdd) : DeleteOne(*action.registry, inUpdate);
  return applied ? ActionOutcome::kDone : ActionOutcome::kFailed;
}

bool CRegistryActions::WriteOne(const CQXRegistry& record, bool isAdd) {
  const wchar_t* verb = RegistryWriteVerb(isAdd);
  const CQXEnv& env = context_.env;
  const RegistryKeyName key = KeyOf(record);
  const std::wstring valueName = env.ExpandKeepingSystemFolders(record.valueName);
  CPackageJournal* journal = context_.journal;
  // The data is converted before anything is touched: a record that cannot be stored leaves
  // the key and the old value as they were.
  const std::wstring data = ReplaceInstallTime(env.ExpandKeepingSystemFolders(record.data.data));
  RegistryValueBytes value;
  if (!ConvertRegistryData(record.data.type, data, value)) {
    WriteActionError(verb, key.path, kSysInvalidData);
    return false;
  }
  if (!RootKey(key.root)) {
    WriteActionError(verb, key.path, kSysInvalidParameter);
    return false;
  }
  if (journal) {
    journal->NoteMissingKeys(key.root, key.is64BitView, key.path);
    journal->NoteValue(key.root, key.is64BitView, key.path, valueName);
  }
  const unsigned long result = registry_.WriteValue(key, valueName, value, !isAdd);
  if (result != kSysSuccess) {
    WriteActionError(verb, key.path, result);
    return false;
  }
  WriteActionLine(verb, key.path, kSysSuccess);
  if (isAdd && context_.uninstallLog) context_.uninstallLog->AddRegistryEntries(record);
  return true;
}

// ---- the delete pass ---------------------------------------------------------------------------

bool CRegistryActions::DeleteOne(const CQXRegistry& record, bool isUpdate) {
  const RegistryKeyName key = KeyOf(record);
  const std::wstring valueName = context_.env.ExpandKeepingSystemFolders(record.valueName);
  RegistryKeyState state;
  const unsigned long looked = registry_.Look(key, valueName, state);
  const RegistryDeletion deletion = DecideRegistryDeletion(state, isUpdate);
  if (looked != kSysSuccess) {
    WriteActionError(deletion.errorVerb, key.path, looked);
    return false;
  }
  if (deletion.keyMissing) {
    // The key is gone, so the value is too: reported like a missing value, and the pass goes
    // on to the package's other deletions.
    WriteActionLine(deletion.verb, key.path, kSysFileNotFound);
    return true;
  }
  CPackageJournal* journal = context_.journal;
  if (journal) journal->NoteValue(key.root, key.is64BitView, key.path, valueName);
  const unsigned long deleted =
      deletion.deleteValue ? registry_.DeleteValue(key, valueName) : kSysFileNotFound;
  if (deleted != kSysSuccess && deleted != kSysFileNotFound) {
    WriteActionError(deletion.errorVerb, key.path, deleted);
    return false;
  }
  if (!deletion.deleteKey) {
    WriteActionLine(deletion.verb, key.path, deleted);
    return true;
  }
  if (journal) journal->NoteKeyRemoved(key.root, key.is64BitView, TrimmedKeyPath(key.path));
  const unsigned long removed = registry_.DeleteKeyIfEmpty(key);
  WriteActionLine(deletion.verb, key.path, removed);
  if (removed != kSysSuccess) return false;
  if (context_.uninstallLog) context_.uninstallLog->RemoveRegistryEntry(record);
  return true;
}

}  // namespace brindle
