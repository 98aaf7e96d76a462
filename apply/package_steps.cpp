#include "apply/package_steps.h"

namespace brindle {

const std::vector<PackageStep>& PackageSteps() {
  using G = PackageGroup;
  using K = StepKind;
  static const std::vector<PackageStep> steps = {
      {G::Delete, K::UnregisterComServers, L"UNREGISTER_COM"},
      {G::Delete, K::DeleteShortcuts, L"DELETE_SHORTCUT"},
      {G::Delete, K::DeleteRegistry, L"DELETE_REG"},
      {G::Delete, K::DeleteFiles, L"DELETE_FILE"},
      {G::Delete, K::RemoveUninstallTargets, nullptr},
      {G::Update, K::UnregisterComServers, L"UNREGISTER_COM"},
      {G::Update, K::DeleteFiles, L"UPDATE_FILE_DELETE"},
      {G::Update, K::CopyFiles, L"UPDATE_FILE_ADD"},
      {G::Update, K::QueueComServers, nullptr},
      {G::Update, K::DeleteRegistry, L"UPDATE_REG_DELETE"},
      {G::Update, K::WriteRegistry, L"UPDATE_REG_ADD"},
      {G::Update, K::DeleteShortcuts, L"UPDATE_SHORTCUT_DELETE"},
      {G::Update, K::CreateShortcuts, L"UPDATE_SHORTCUT_ADD"},
      {G::Update, K::WriteUninstallCustomFunction, nullptr},
      {G::Add, K::CopyFiles, L"ADD_FILE"},
      {G::Add, K::QueueComServers, nullptr},
      {G::Add, K::WriteRegistry, L"ADD_REG"},
      {G::Add, K::CreateShortcuts, L"ADD_SHORTCUT"},
      {G::Add, K::AddUninstallTargets, nullptr},
  };
  return steps;
}

std::vector<PackageStep> StepsOf(PackageGroup group) {
  std::vector<PackageStep> steps;
  for (const PackageStep& step : PackageSteps())
    if (step.group == group) steps.push_back(step);
  return steps;
}

}  // namespace brindle
