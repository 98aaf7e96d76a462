// The order in which a package's stages change the machine: for each object group the passes
// over its records, with the verb of the service-log lines each pass writes. The program runs
// exactly this list; a tool that previews a package can walk the same one.
#pragma once
#include <vector>

namespace brindle {

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

}  // namespace brindle
