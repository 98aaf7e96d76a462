#include "package/diff_distribute.h"

#include <algorithm>

#include "package/xml_reading.h"
#include "xml/xml_parser.h"

namespace brindle {

namespace {

// Pointers to the records in their sort order; the list keeps its own order.
template <typename Record, typename Less>
std::vector<const Record*> Sorted(const std::vector<std::unique_ptr<Record>>& list, Less less) {
  std::vector<const Record*> sorted;
  sorted.reserve(list.size());
  for (const auto& record : list) sorted.push_back(record.get());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [less](const Record* a, const Record* b) { return less(*a, *b); });
  return sorted;
}

void AppendTextElements(CXMLElement& parent, const wchar_t* name, const std::vector<std::wstring>& texts) {
  for (const std::wstring& text : texts) AppendChild(NewTextElement(name, text), &parent);
}

void AppendAliasHandles(CXMLElement& parent, const std::vector<CQXRecordAliasHandle>& handles) {
  for (const auto& handle : handles) AppendChild(handle.ToXML(), &parent);
}

}  // namespace

// ---- CQXGeneralInfo ---------------------------------------------------------------------------

void CQXGeneralInfo::Clear() {
  version.Clear();
  checkAppNames.clear();
}

int CQXGeneralInfo::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  Clear();
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"Version") {
      version.FromXML(&child);
    } else if (name == L"CheckAppName") {
      checkAppNames.push_back(ValueText(&child));
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXGeneralInfo::ToXML() const {
  auto element = NewElement(L"GeneralInfo");
  AppendChild(version.ToXML(), element.get());
  AppendTextElements(*element, L"CheckAppName", checkAppNames);
  return element;
}

// ---- CQXBaseObjects ---------------------------------------------------------------------------

void CQXBaseObjects::Clear() {
  files.clear();
  registries.clear();
  shortCuts.clear();
}

bool CQXBaseObjects::IsEmpty() const { return files.empty() && registries.empty() && shortCuts.empty(); }

int CQXBaseObjects::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"File") {
      auto record = std::make_unique<CQXFile>();
      record->FromXML(&child);
      files.push_back(std::move(record));
    } else if (name == L"Registry") {
      auto record = std::make_unique<CQXRegistry>();
      record->FromXML(&child);
      registries.push_back(std::move(record));
    } else if (name == L"ShortCut") {
      auto record = std::make_unique<CQXShortCut>();
      record->FromXML(&child);
      shortCuts.push_back(std::move(record));
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXBaseObjects::ToXML(const std::wstring& name) const {
  auto element = NewElement(name);
  for (const CQXFile* file : Sorted(files, FileSortsBefore)) AppendChild(file->ToXML(), element.get());
  for (const CQXRegistry* registry : Sorted(registries, RegistrySortsBefore))
    AppendChild(registry->ToXML(), element.get());
  for (const CQXShortCut* shortCut : Sorted(shortCuts, ShortCutSortsBefore))
    AppendChild(shortCut->ToXML(), element.get());
  return element;
}

// ---- CQXDeleteObjects -------------------------------------------------------------------------

int CQXDeleteObjects::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  CQXBaseObjects::FromXML(element);
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"UninstTarget") uninstTarget.FromXML(&child);
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXDeleteObjects::ToXML() const {
  auto element = CQXBaseObjects::ToXML(L"DeleteObjects");
  if (!uninstTarget.IsEmpty()) AppendChild(uninstTarget.ToXML(), element.get());
  return element;
}

void CQXDeleteObjects::SetUninstTarget(const CQXUninstallTarget& target) {
  if (&target != &uninstTarget) uninstTarget = target;
}

// ---- CQXAddObjects ----------------------------------------------------------------------------

void CQXAddObjects::Clear() {
  recordAliasHandles.clear();
  docks.clear();
  lsRegisterApps.clear();
  imageCaptures.clear();
  uninstTarget.Clear();
  CQXBaseObjects::Clear();
}

bool CQXAddObjects::IsEmpty() const {
  return CQXBaseObjects::IsEmpty() && recordAliasHandles.empty() && docks.empty() && lsRegisterApps.empty() &&
         imageCaptures.empty() && uninstTarget.IsEmpty();
}

int CQXAddObjects::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  CQXBaseObjects::FromXML(element);
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    auto appendText = [&child](std::vector<std::wstring>& list) {
      std::wstring text = ValueText(&child);
      if (!text.empty()) list.push_back(std::move(text));
    };
    if (name == L"RecordAliasHandle") {
      CQXRecordAliasHandle handle;
      handle.FromXML(&child);
      recordAliasHandles.push_back(std::move(handle));
    } else if (name == L"Dock") {
      appendText(docks);
    } else if (name == L"LSRegisterApp") {
      appendText(lsRegisterApps);
    } else if (name == L"ImageCapture") {
      appendText(imageCaptures);
    } else if (name == L"UninstTarget") {
      uninstTarget.FromXML(&child);
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXAddObjects::ToXML() const {
  auto element = CQXBaseObjects::ToXML(L"AddObjects");
  AppendAliasHandles(*element, recordAliasHandles);
  AppendTextElements(*element, L"Dock", docks);
  AppendTextElements(*element, L"LSRegisterApp", lsRegisterApps);
  AppendTextElements(*element, L"ImageCapture", imageCaptures);
  if (!uninstTarget.IsEmpty()) AppendChild(uninstTarget.ToXML(), element.get());
  return element;
}

// ---- CQXUpdateObjects -------------------------------------------------------------------------

void CQXUpdateObjects::Clear() {
  uninstallCustomFunction.Clear();
  recordAliasHandles.clear();
  signature.clear();
  displayName.name.clear();
  CQXBaseObjects::Clear();
}

bool CQXUpdateObjects::IsEmpty() const {
  return CQXBaseObjects::IsEmpty() && uninstallCustomFunction.absent && displayName.IsEmpty();
}

int CQXUpdateObjects::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  CQXBaseObjects::FromXML(element);
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"UninstallCustomFunction") {
      uninstallCustomFunction.FromXML(&child);
    } else if (name == L"RecordAliasHandle") {
      CQXRecordAliasHandle handle;
      handle.FromXML(&child);
      recordAliasHandles.push_back(std::move(handle));
    } else if (name == L"Signature") {
      signature = ValueText(&child);
    } else if (name == L"DisplayName") {
      displayName.FromXML(&child);
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXUpdateObjects::ToXML() const {
  auto element = CQXBaseObjects::ToXML(L"UpdateObjects");
  AppendAliasHandles(*element, recordAliasHandles);
  if (!signature.empty()) AppendChild(NewTextElement(L"Signature", signature), element.get());
  if (!displayName.IsEmpty()) AppendChild(displayName.ToXML(), element.get());
  if (!uninstallCustomFunction.absent) AppendChild(uninstallCustomFunction.ToXML(), element.get());
  return element;
}

// ---- CQXCustomFunction ------------------------------------------------------------------------

CQXCustomFunction::CQXCustomFunction() { Clear(); }

void CQXCustomFunction::Clear() {
  afterUpdate.Clear();
  beforeUpdate.Clear();
}

int CQXCustomFunction::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  Clear();
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name != L"FileName") return;
    CQXFileName fileName;
    fileName.FromXML(&child);
    if (fileName.type == kFileNameAfterUpdate) {
      afterUpdate = fileName;
    } else if (fileName.type == kFileNameBeforeUpdate) {
      beforeUpdate = fileName;
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXCustomFunction::ToXML() const {
  auto element = NewElement(L"CustomFunction");
  if (afterUpdate.type == kFileNameAfterUpdate) AppendChild(afterUpdate.ToXML(), element.get());
  if (beforeUpdate.type == kFileNameBeforeUpdate) AppendChild(beforeUpdate.ToXML(), element.get());
  return element;
}

// ---- CQXDiffDistribute ------------------------------------------------------------------------

CQXDiffDistribute::CQXDiffDistribute()
    : generalInfo(std::make_unique<CQXGeneralInfo>()),
      deleteObjects(std::make_unique<CQXDeleteObjects>()),
      addObjects(std::make_unique<CQXAddObjects>()),
      updateObjects(std::make_unique<CQXUpdateObjects>()),
      customFunction(std::make_unique<CQXCustomFunction>()) {}

CQXDiffDistribute::~CQXDiffDistribute() {
  customFunction.reset();
  updateObjects.reset();
  addObjects.reset();
  deleteObjects.reset();
  generalInfo.reset();
}

int CQXDiffDistribute::FromXML(const CXMLElement* root) {
  if (!IsElementNamed(root, GetElementName())) return kReadNoElement;
  generalInfo->Clear();
  deleteObjects->Clear();
  deleteObjects->uninstTarget.Clear();  // a model read again keeps no target of the last read
  addObjects->Clear();
  updateObjects->Clear();
  customFunction->Clear();
  ForEachChildElement(*root, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"GeneralInfo") {
      generalInfo->FromXML(&child);
    } else if (name == L"DeleteObjects") {
      deleteObjects->FromXML(&child);
    } else if (name == L"AddObjects") {
      addObjects->FromXML(&child);
    } else if (name == L"UpdateObjects") {
      updateObjects->FromXML(&child);
    } else if (name == L"CustomFunction") {
      customFunction->FromXML(&child);
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXDiffDistribute::ToXML() const {
  auto root = NewElement(GetElementName());
  AppendChild(generalInfo->ToXML(), root.get());
  AppendChild(deleteObjects->ToXML(), root.get());
  AppendChild(addObjects->ToXML(), root.get());
  AppendChild(updateObjects->ToXML(), root.get());
  AppendChild(customFunction->ToXML(), root.get());
  return root;
}

std::unique_ptr<CQXDiffDistribute> LoadDiffDistribute(const std::wstring& path) {
  CXMLParser* parser = GetXMLParser();
  if (!parser) return nullptr;
  std::unique_ptr<CXMLDocument> document = parser->Load(path);
  if (!document) return nullptr;
  auto model = std::make_unique<CQXDiffDistribute>();
  if (model->FromXML(document->GetRoot()) != kReadOk) return nullptr;
  return model;
}

}  // namespace brindle
