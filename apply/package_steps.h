// The actions of a package: the passes of the program's own order (package/package_passes), each
// over its section's records, with the verb of the service-log lines each pass writes. A tool
// that previews a package walks the same list the program runs.
#pragma once
#include <vector>

#include "package/package_passes.h"

namespace brindle {

class CQXDiffDistribute;
class CQXFile;
class CQXRegistry;
class CQXShortCut;
class CQXBaseObjects;
class CQXUninstallTarget;
class CQXUninstallCustomFunction;

// One pass of one section, with the verb of the service-log lines it writes (null for a pass
// without lines of its own). The order is the one the program runs (package/package_passes).
struct PackageStep {
  PackageSection section;
  PackagePass pass;
  const wchar_t* verb;
};

// Every step of a package, sections in the order DeleteObjects, UpdateObjects, AddObjects.
const std::vector<PackageStep>& PackageSteps();

// One action of a package: a step applied to one record (a file, registry or shortcut record;
// for the COM steps a file marked as a COM server). Steps that work on the uninstall log alone
// have no record: they carry the section's uninstall targets or custom-function record.
struct PackageAction {
  PackageStep step;
  const CQXFile* file = nullptr;
  const CQXRegistry* registry = nullptr;
  const CQXShortCut* shortcut = nullptr;
  const CQXUninstallTarget* uninstallTargets = nullptr;
  const CQXUninstallCustomFunction* customFunction = nullptr;
};

// The package's actions in the order the program applies them: the steps in order, each over
// its group's records in package order. Records the package lacks (an empty element) appear
// as actions without a record, as the program logs them. Whether an action changes anything
// is decided on the machine when it runs (newer or not, in use, key present).
std::vector<PackageAction> PlanPackageActions(const CQXDiffDistribute& package);
// The actions of one section of that list, from its group (targets: the section's uninstall
// targets, customFunction: its custom-function record; null where the section has none).
std::vector<PackageAction> PlanSectionActions(PackageSection section, const CQXBaseObjects& group,
                                              const CQXUninstallTarget* targets,
                                              const CQXUninstallCustomFunction* customFunction);

}  // namespace brindle
