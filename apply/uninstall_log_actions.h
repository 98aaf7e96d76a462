// The uninstall log's own steps of a package: the section's uninstall targets added (add
// section) or removed (delete section), and the uninstaller's custom-function library written
// (update section). They change nothing on the machine but the log, which is saved, with its
// undo, at the end of the package.
#pragma once
#include "apply/package_executor.h"

namespace brindle {

class CQXUninstallLog;

class CUninstallLogActions : public CQXActionFamily {
 public:
  // log: the application's uninstall log; null before it is opened (the steps then do nothing).
  explicit CUninstallLogActions(CQXUninstallLog* log) : log_(log) {}

  StepOutcome BeginStep(const PackageStep&, const std::vector<PackageAction>&) override {
    return StepOutcome::kCompleted;
  }
  ActionOutcome Do(const PackageAction& action) override;
  StepOutcome EndStep(const PackageStep&) override { return StepOutcome::kCompleted; }

 private:
  CQXUninstallLog* log_;
};

}  // namespace brindle
