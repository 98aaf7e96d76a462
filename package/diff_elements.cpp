#include "package/diff_elements.h"

#include "package/diff_distribute.h"
#include "package/xml_reading.h"

namespace brindle {

namespace {

// A package in which every part the model holds is present, with every optional attribute
// set, so that its writer names every element and attribute once at least.
std::unique_ptr<CQXDiffDistribute> EveryPartFilled() {
  auto package = std::make_unique<CQXDiffDistribute>();
  package->generalInfo->version.text = L"1";
  package->generalInfo->checkAppNames = {L"x"};
  auto fill = [](CQXBaseObjects& objects) {
    auto file = std::make_unique<CQXFile>();
    file->fullPath = std::make_unique<FullPathValue>(FullPathValue{kPathShortcutTarget, L"x"});
    file->fileName = std::make_unique<CQXFileName>();
    file->fileName->type = kFileNameAfterUpdate;
    objects.files.push_back(std::move(file));
    objects.registries.push_back(std::make_unique<CQXRegistry>());
    objects.shortCuts.push_back(std::make_unique<CQXShortCut>());
  };
  fill(*package->deleteObjects);
  fill(*package->addObjects);
  fill(*package->updateObjects);
  package->deleteObjects->uninstTarget.targets = {L"x"};
  CQXRecordAliasHandle alias;
  alias.fullPath.type = kPathShortcutTarget;
  package->addObjects->recordAliasHandles = {alias};
  package->addObjects->docks = {L"x"};
  package->addObjects->lsRegisterApps = {L"x"};
  package->addObjects->imageCaptures = {L"x"};
  package->addObjects->uninstTarget.targets = {L"x"};
  package->updateObjects->recordAliasHandles = {alias};
  package->updateObjects->signature = L"x";
  package->updateObjects->displayName.name = L"x";
  package->updateObjects->uninstallCustomFunction.absent = false;
  package->updateObjects->uninstallCustomFunction.fullPath.type = kPathShortcutTarget;
  package->customFunction->afterUpdate.type = kFileNameAfterUpdate;
  package->customFunction->beforeUpdate.type = kFileNameBeforeUpdate;
  return package;
}

void Collect(const CXMLElement& element, std::map<std::wstring, DiffElementShape>& shapes) {
  const std::wstring name = element.GetNameString() ? *element.GetNameString() : std::wstring();
  DiffElementShape& shape = shapes[name];
  ForEachAttribute(element, [&shape](const std::wstring& attribute, const std::wstring&) {
    shape.attributes.insert(attribute);
  });
  ForEachChildElement(element, [&](const std::wstring& child, const CXMLElement& childElement) {
    shape.children.insert(child);
    Collect(childElement, shapes);
  });
}

}  // namespace

const std::map<std::wstring, DiffElementShape>& DiffElementShapes() {
  static const std::map<std::wstring, DiffElementShape> shapes = [] {
    std::map<std::wstring, DiffElementShape> collected;
    Collect(*EveryPartFilled()->ToXML(), collected);
    return collected;
  }();
  return shapes;
}

const DiffElementShape* DiffElementShapeOf(const std::wstring& name) {
  const auto& shapes = DiffElementShapes();
  const auto found = shapes.find(name);
  return found == shapes.end() ? nullptr : &found->second;
}

}  // namespace brindle
