// The order in which a package's work is done: the object sections one after the other, each a
// fixed sequence of passes over its records. The sub-updater runs exactly these passes and
// brindle-pack plans with them, so the two cannot disagree on the order.
#pragma once
#include <vector>

namespace brindle {

enum class PackageSection { kDelete, kUpdate, kAdd };

enum class PackagePass {
  kUnregisterComServers,  // COM servers of the section's files, before anything changes
  kDeleteShortcuts,
  kDeleteRegistry,
  kDeleteFiles,
  kCopyFiles,
  kQueueComServers,  // registered after the last section
  kWriteRegistry,
  kCreateShortcuts,
  kUninstallTargets,        // the section's uninstall targets, added or removed
  kUninstallCustomFunction  // the uninstaller's custom-function library
};

// DeleteObjects, UpdateObjects, AddObjects.
const std::vector<PackageSection>& PackageSections();
// The passes of one section, in order.
const std::vector<PackagePass>& PassesOf(PackageSection section);

}  // namespace brindle
