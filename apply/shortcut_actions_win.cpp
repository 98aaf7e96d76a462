#include "apply/shortcut_actions_win.h"

#include "apply/action_line.h"
#include "apply/package_context.h"
#include "apply/package_notes.h"
#include "apply/sub_updater.h"
#include "logs/service_log.h"
#include "sys/paths.h"
#include "uninstlog/uninstall_log.h"

namespace brindle {

namespace {

const wchar_t* CreateVerb(bool isAdd) { return isAdd ? L"ADD_SHORTCUT" : L"UPDATE_SHORTCUT_ADD"; }
const wchar_t* DeleteVerb(bool isUpdate) { return isUpdate ? L"UPDATE_SHORTCUT_DELETE" : L"DELETE_SHORTCUT"; }

// The change's line; the shell's results are written as signed numbers, as the system defines
// them.
void WriteLine(const wchar_t* verb, const ShortcutChangeResult& result) {
  if (!result.hasLine) return;
  if (!result.shellResult) {
    WriteActionLine(verb, result.object, static_cast<unsigned long>(result.code));
    return;
  }
  WriteServiceLog(
      {L"-", result.object, result.code >= 0 ? L"success" : L"error", std::to_wstring(result.code)}, L"BR",
      verb);
}

}  // namespace

ActionOutcome CShortcutActions::Do(const PackageAction& action) {
  if (action.step.pass == PackagePass::kCreateShortcuts)
    return CreateAction(action.shortcut, action.step.section == PackageSection::kAdd);
  if (action.step.pass == PackagePass::kDeleteShortcuts)
    return DeleteAction(action.shortcut, action.step.section == PackageSection::kUpdate);
  throw CUpdaterException("a step the shortcut actions do not take");
}

ActionOutcome CShortcutActions::CreateAction(const CQXShortCut* record, bool isAdd) {
  if (!record) {
    WriteMissingRecordLine(CreateVerb(isAdd));
    return ActionOutcome::kMissingRecord;
  }
  const ShortcutChangeResult result = CreateShortcutRecord(files_, shortcuts_, context_.journal->FileNotes(),
                                                           ShortcutRequestOf(*record, context_.env));
  WriteLine(CreateVerb(isAdd), result);
  if (result.outcome == ShortcutChangeOutcome::kFailPackage) return ActionOutcome::kFailPackage;
  if (!result.changed) return ActionOutcome::kNotApplied;
  if (isAdd && context_.uninstallLog) context_.uninstallLog->AddShortcutEntry(ToBackslashes(result.object));
  return ActionOutcome::kDone;
}

ActionOutcome CShortcutActions::DeleteAction(const CQXShortCut* record, bool isUpdate) {
  if (!record) {
    WriteMissingRecordLine(DeleteVerb(isUpdate));
    return ActionOutcome::kMissingRecord;
  }
  const ShortcutChangeResult result = DeleteShortcutRecord(
      files_, shortcuts_, context_.journal->FileNotes(), ShortcutRequestOf(*record, context_.env), !isUpdate);
  WriteLine(DeleteVerb(isUpdate), result);
  // Only a link that is really gone leaves the uninstall log.
  if (result.changed && !isUpdate && context_.uninstallLog)
    context_.uninstallLog->RemoveFileEntryByPath(L"Files", ToBackslashes(result.object));
  switch (result.outcome) {
    case ShortcutChangeOutcome::kDone: return ActionOutcome::kDone;
    case ShortcutChangeOutcome::kFailed: return ActionOutcome::kFailed;
    case ShortcutChangeOutcome::kFailPackage: break;
  }
  return ActionOutcome::kFailPackage;
}

}  // namespace brindle
