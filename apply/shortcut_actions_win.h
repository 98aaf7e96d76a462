// The shortcut actions of a patch: creating and deleting the shell links a package lists, on
// the all-users desktop or in the all-users program menu. Each link goes once from its decision
// through its journal notes to the machine (apply/shortcut_changes); what stays here is the
// run's part: the record's expansion, the service-log line and the uninstall log, where links
// created by an add and removed by a delete are recorded.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "apply/package_executor.h"
#include "apply/shortcut_changes.h"
#include "apply/win_machine_files_win.h"
#include "apply/win_machine_shortcuts_win.h"

namespace brindle {

class CQXShortCut;
struct PackageContext;

using ShortCutList = std::vector<std::unique_ptr<CQXShortCut>>;

// The shortcut family of the package's actions, driven by the executor one step at a time.
class CShortcutActions : public CQXActionFamily {
 public:
  explicit CShortcutActions(PackageContext& context) : context_(context) {}

  StepOutcome BeginStep(const PackageStep&, const std::vector<PackageAction>&) override {
    return StepOutcome::kCompleted;
  }
  // The create step: verb ADD_SHORTCUT in the add section, else UPDATE_SHORTCUT_ADD. A shortcut
  // that cannot be written is logged with its error and skipped (kNotApplied): the step does
  // not fail for it. The delete step: verb UPDATE_SHORTCUT_DELETE in the update section, else
  // DELETE_SHORTCUT, which also removes folders left empty and the link's uninstall-log entry;
  // a shortcut that could not be deleted answers kFailed, so the step fails after trying all.
  // A change whose undo cannot be noted fails the package (kFailPackage).
  ActionOutcome Do(const PackageAction& action) override;
  StepOutcome EndStep(const PackageStep&) override { return StepOutcome::kCompleted; }

 private:
  ActionOutcome CreateAction(const CQXShortCut* record, bool isAdd);
  ActionOutcome DeleteAction(const CQXShortCut* record, bool isUpdate);

  PackageContext& context_;
  WinMachineFiles files_;
  WinMachineShortcuts shortcuts_;
};

}  // namespace brindle
