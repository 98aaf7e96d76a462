#include "apply/package_steps.h"

#include "package/diff_distribute.h"
#include "package/object_records.h"

namespace brindle {

namespace {

const wchar_t* VerbOf(PackageSection section, PackagePass pass) {
  const bool del = section == PackageSection::kDelete;
  const bool add = section == PackageSection::kAdd;
  switch (pass) {
    case PackagePass::kUnregisterComServers: return L"UNREGISTER_COM";
    case PackagePass::kDeleteShortcuts: return del ? L"DELETE_SHORTCUT" : L"UPDATE_SHORTCUT_DELETE";
    case PackagePass::kDeleteRegistry: return del ? L"DELETE_REG" : L"UPDATE_REG_DELETE";
    case PackagePass::kDeleteFiles: return del ? L"DELETE_FILE" : L"UPDATE_FILE_DELETE";
    case PackagePass::kCopyFiles: return add ? L"ADD_FILE" : L"UPDATE_FILE_ADD";
    case PackagePass::kWriteRegistry: return add ? L"ADD_REG" : L"UPDATE_REG_ADD";
    case PackagePass::kCreateShortcuts: return add ? L"ADD_SHORTCUT" : L"UPDATE_SHORTCUT_ADD";
    case PackagePass::kQueueComServers:
    case PackagePass::kUninstallTargets:
    case PackagePass::kUninstallCustomFunction: break;
  }
  return nullptr;
}

}  // namespace

const std::vector<PackageStep>& PackageSteps() {
  static const std::vector<PackageStep> steps = [] {
    std::vector<PackageStep> list;
    for (PackageSection section : PackageSections())
      for (PackagePass pass : PassesOf(section)) list.push_back({section, pass, VerbOf(section, pass)});
    return list;
  }();
  return steps;
}

namespace {

void AddRecordActions(const PackageStep& step, const CQXBaseObjects& group, const CQXUninstallTarget* targets,
                      const CQXUninstallCustomFunction* customFunction, std::vector<PackageAction>& actions) {
  PackageAction action;
  action.step = step;
  switch (step.pass) {
    case PackagePass::kUnregisterComServers:
    case PackagePass::kQueueComServers:
      for (const auto& file : group.files) {
        if (!file || file->com != kComRegister) continue;
        action.file = file.get();
        actions.push_back(action);
      }
      break;
    case PackagePass::kDeleteFiles:
    case PackagePass::kCopyFiles:
      for (const auto& file : group.files) {
        action.file = file.get();
        actions.push_back(action);
      }
      break;
    case PackagePass::kDeleteRegistry:
    case PackagePass::kWriteRegistry:
      for (const auto& registry : group.registries) {
        action.registry = registry.get();
        actions.push_back(action);
      }
      break;
    case PackagePass::kDeleteShortcuts:
    case PackagePass::kCreateShortcuts:
      for (const auto& shortcut : group.shortCuts) {
        action.shortcut = shortcut.get();
        actions.push_back(action);
      }
      break;
    case PackagePass::kUninstallTargets:
      action.uninstallTargets = targets;
      actions.push_back(action);
      break;
    case PackagePass::kUninstallCustomFunction:
      action.customFunction = customFunction;
      actions.push_back(action);
      break;
  }
}

}  // namespace

std::vector<PackageAction> PlanSectionActions(PackageSection section, const CQXBaseObjects& group,
                                              const CQXUninstallTarget* targets,
                                              const CQXUninstallCustomFunction* customFunction) {
  std::vector<PackageAction> actions;
  for (const PackageStep& step : PackageSteps())
    if (step.section == section) AddRecordActions(step, group, targets, customFunction, actions);
  return actions;
}

std::vector<PackageAction> PlanPackageActions(const CQXDiffDistribute& package) {
  std::vector<PackageAction> actions;
  auto add = [&actions](const std::vector<PackageAction>& section) {
    actions.insert(actions.end(), section.begin(), section.end());
  };
  if (package.deleteObjects)
    add(PlanSectionActions(PackageSection::kDelete, *package.deleteObjects,
                           &package.deleteObjects->uninstTarget, nullptr));
  if (package.updateObjects)
    add(PlanSectionActions(PackageSection::kUpdate, *package.updateObjects, nullptr,
                           &package.updateObjects->uninstallCustomFunction));
  if (package.addObjects)
    add(PlanSectionActions(PackageSection::kAdd, *package.addObjects, &package.addObjects->uninstTarget,
                           nullptr));
  return actions;
}

}  // namespace brindle
