#include "apply/package_steps.h"

#include "package/diff_distribute.h"
#include "package/object_records.h"

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

namespace {

const CQXBaseObjects* GroupOf(const CQXDiffDistribute& package, PackageGroup group) {
  switch (group) {
    case PackageGroup::Delete: return package.deleteObjects.get();
    case PackageGroup::Update: return package.updateObjects.get();
    case PackageGroup::Add: return package.addObjects.get();
  }
  return nullptr;
}

void AddRecordActions(const PackageStep& step, const CQXBaseObjects& group, std::vector<PackageAction>& actions) {
  PackageAction action;
  action.step = step;
  switch (step.kind) {
    case StepKind::UnregisterComServers:
    case StepKind::QueueComServers:
      for (const auto& file : group.files) {
        if (!file || file->com != kComRegister) continue;
        action.file = file.get();
        actions.push_back(action);
      }
      break;
    case StepKind::DeleteFiles:
    case StepKind::CopyFiles:
      for (const auto& file : group.files) {
        action.file = file.get();
        actions.push_back(action);
      }
      break;
    case StepKind::DeleteRegistry:
    case StepKind::WriteRegistry:
      for (const auto& registry : group.registries) {
        action.registry = registry.get();
        actions.push_back(action);
      }
      break;
    case StepKind::DeleteShortcuts:
    case StepKind::CreateShortcuts:
      for (const auto& shortcut : group.shortCuts) {
        action.shortcut = shortcut.get();
        actions.push_back(action);
      }
      break;
    case StepKind::RemoveUninstallTargets:
    case StepKind::WriteUninstallCustomFunction:
    case StepKind::AddUninstallTargets:
      actions.push_back(action);
      break;
  }
}

}  // namespace

std::vector<PackageAction> PlanPackageActions(const CQXDiffDistribute& package) {
  std::vector<PackageAction> actions;
  for (const PackageStep& step : PackageSteps()) {
    if (const CQXBaseObjects* group = GroupOf(package, step.group)) AddRecordActions(step, *group, actions);
  }
  return actions;
}

}  // namespace brindle
