#include "apply/registry_actions_win.h"

#include "apply/action_line.h"
#include "apply/package_context.h"
#include "apply/package_notes.h"
#include "apply/registry_changes.h"
#include "apply/registry_data.h"
#include "apply/registry_decisions.h"
#include "apply/sub_updater.h"
#include "package/object_records.h"
#include "sys/env.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"
#include "uninstlog/uninstall_log.h"

namespace brindle {

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

bool CRegistryActions::DeclareValues(const std::vector<PackageAction>& actions, bool writing) {
  return context_.journal->DeclareStep([&](StepDeclarations& journal) {
    for (const PackageAction& action : actions) {
      const CQXRegistry* record = action.registry;
      if (!record || Skipped(*record) || !RootKey(record->keyPath.root)) continue;
      const bool is64Bit = record->wow.wow == kWow64;
      const std::wstring keyPath = context_.env.ExpandKeepingSystemFolders(record->keyPath.path);
      const std::wstring valueName = context_.env.ExpandKeepingSystemFolders(record->valueName);
      // A write may also create the keys of its path; a deletion only takes the value.
      if (writing) journal.DeclareValue(record->keyPath.root, is64Bit, keyPath, valueName);
      else journal.DeclareValueDeletion(record->keyPath.root, is64Bit, keyPath, valueName);
    }
  });
}

StepOutcome CRegistryActions::BeginStep(const PackageStep& step, const std::vector<PackageAction>& actions) {
  registry_.EndStep();
  bool declared = true;
  if (step.pass == PackagePass::kWriteRegistry) declared = DeclareValues(actions, true);
  if (step.pass == PackagePass::kDeleteRegistry) declared = DeclareValues(actions, false);
  return declared ? StepOutcome::kCompleted : StepOutcome::kFailed;
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
    WriteMissingRecordLine(write ? RegistryWriteVerb(inAdd)
                                 : (inUpdate ? L"UPDATE_REG_DELETE" : L"DELETE_REG"));
    return ActionOutcome::kMissingRecord;
  }
  if (Skipped(*action.registry)) return ActionOutcome::kSkipped;
  return write ? WriteOne(*action.registry, inAdd) : DeleteOne(*action.registry, inUpdate);
}

namespace {

ActionOutcome OutcomeOf(const RegistryChangeResult& result) {
  switch (result.outcome) {
    case RegistryChangeOutcome::kDone: return ActionOutcome::kDone;
    case RegistryChangeOutcome::kFailed: return ActionOutcome::kFailed;
    case RegistryChangeOutcome::kFailPackage: break;
  }
  return ActionOutcome::kFailPackage;
}

}  // namespace

ActionOutcome CRegistryActions::WriteOne(const CQXRegistry& record, bool isAdd) {
  const wchar_t* verb = RegistryWriteVerb(isAdd);
  const CQXEnv& env = context_.env;
  const RegistryKeyName key = KeyOf(record);
  const std::wstring valueName = env.ExpandKeepingSystemFolders(record.valueName);
  // The data is converted before anything is touched: a record that cannot be stored leaves
  // the key and the old value as they were.
  const std::wstring data = ReplaceInstallTime(env.ExpandKeepingSystemFolders(record.data.data));
  RegistryValueBytes value;
  if (!ConvertRegistryData(record.data.type, data, value)) {
    WriteActionError(verb, key.path, kSysInvalidData);
    return ActionOutcome::kFailed;
  }
  if (!RootKey(key.root)) {
    WriteActionError(verb, key.path, kSysInvalidParameter);
    return ActionOutcome::kFailed;
  }
  const RegistryChangeResult result =
      WriteRegistryValue(registry_, context_.journal->RegistryNotes(), key, valueName, value, isAdd);
  if (result.outcome == RegistryChangeOutcome::kFailPackage) return ActionOutcome::kFailPackage;
  WriteActionLine(result.verb, key.path, result.code);
  if (result.outcome == RegistryChangeOutcome::kDone && isAdd && context_.uninstallLog)
    context_.uninstallLog->AddRegistryEntries(record);
  return OutcomeOf(result);
}

// ---- the delete pass ---------------------------------------------------------------------------

ActionOutcome CRegistryActions::DeleteOne(const CQXRegistry& record, bool isUpdate) {
  const RegistryKeyName key = KeyOf(record);
  const std::wstring valueName = context_.env.ExpandKeepingSystemFolders(record.valueName);
  const RegistryChangeResult result =
      DeleteRegistryValue(registry_, context_.journal->RegistryNotes(), key, valueName, isUpdate);
  if (result.outcome == RegistryChangeOutcome::kFailPackage) return ActionOutcome::kFailPackage;
  WriteActionLine(result.verb, key.path, result.code);
  if (result.keyRemoved && context_.uninstallLog) context_.uninstallLog->RemoveRegistryEntry(record);
  return OutcomeOf(result);
}

}  // namespace brindle
