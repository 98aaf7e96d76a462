#include "package/package_passes.h"

namespace brindle {

const std::vector<PackageSection>& PackageSections() {
  static const std::vector<PackageSection> sections = {PackageSection::kDelete, PackageSection::kUpdate,
                                                       PackageSection::kAdd};
  return sections;
}

const std::vector<PackagePass>& PassesOf(PackageSection section) {
  using P = PackagePass;
  // Deleting undoes in the reverse of adding: what points at a file goes before the file.
  static const std::vector<PackagePass> deletes = {P::kUnregisterComServers, P::kDeleteShortcuts,
                                                   P::kDeleteRegistry, P::kDeleteFiles, P::kUninstallTargets};
  static const std::vector<PackagePass> updates = {
      P::kUnregisterComServers, P::kDeleteFiles,     P::kCopyFiles,
      P::kQueueComServers,      P::kDeleteRegistry,  P::kWriteRegistry,
      P::kDeleteShortcuts,      P::kCreateShortcuts, P::kUninstallCustomFunction};
  static const std::vector<PackagePass> adds = {P::kCopyFiles, P::kQueueComServers, P::kWriteRegistry,
                                                P::kCreateShortcuts, P::kUninstallTargets};
  switch (section) {
    case PackageSection::kDelete: return deletes;
    case PackageSection::kUpdate: return updates;
    case PackageSection::kAdd: break;
  }
  return adds;
}

}  // namespace brindle
