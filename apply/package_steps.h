// The order in which a package's stages change the machine: for each object group the passes
// over its records, with the verb of the service-log lines each pass writes. The program runs
// exactly this list; a tool that previews a package can walk the same one.
#pragma once
#include <vector>

namespace brindle {

class CQXDiffDistribute;
class CQXFile;
class CQXRegistry;
class CQXShortCut;

enum class PackageGroup { Delete, Update, Add };

enum class StepKind {
  UnregisterComServers,  // before anything of the group is removed or replaced
  DeleteShortcuts,
  DeleteRegistry,
  DeleteFiles,
  RemoveUninstallTargets,
  CopyFiles,
  QueueComServers,  // registered after all three groups
  WriteRegistry,
  CreateShortcuts,
  WriteUninstallCustomFunction,
  AddUninstallTargets,
};

struct PackageStep {
  PackageGroup group;
  StepKind kind;
  const wchar_t* verb;  // the verb of the pass's action lines; null for a pass without lines
};

// Every step of a package, groups in the order DeleteObjects, UpdateObjects, AddObjects.
const std::vector<PackageStep>& PackageSteps();
// The steps of one group, in order.
std::vector<PackageStep> StepsOf(PackageGroup group);

// One action of a package: a step applied to one record (a file, registry or shortcut record;
// for the COM steps a file marked as a COM server). Steps that work on the uninstall log alone
// have no record.
struct PackageAction {
  PackageStep step;
  const CQXFile* file = nullptr;
  const CQXRegistry* registry = nullptr;
  const CQXShortCut* shortcut = nullptr;
};

// The package's actions in the order the program applies them: the steps in order, each over
// its group's records in package order. Records the package lacks (an empty element) appear
// as actions without a record, as the program logs them. Whether an action changes anything
// is decided on the machine when it runs (newer or not, in use, key present).
std::vector<PackageAction> PlanPackageActions(const CQXDiffDistribute& package);

}  // namespace brindle
