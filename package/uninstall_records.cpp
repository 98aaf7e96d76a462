#include "package/uninstall_records.h"

#include "package/xml_reading.h"

namespace brindle {

const wchar_t* const kUninstallHookNames[7] = {L"Uninstall_Abort",           L"Uninstall_AfterUninstall",
                                               L"Uninstall_BeforeUninstall", L"Uninstall_CheckRunning",
                                               L"Uninstall_CheckCondition",  L"Uninstall_End",
                                               L"Uninstall_StartUp"};

// ---- CQXUninstallTarget -----------------------------------------------------------------------

int CQXUninstallTarget::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  targets.clear();
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"UNInfo") targets.push_back(ValueText(&child));
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXUninstallTarget::ToXML() const {
  auto element = NewElement(L"UninstTarget");
  for (const std::wstring& target : targets) AppendChild(NewTextElement(L"UNInfo", target), element.get());
  return element;
}

// ---- CQXUninstallCustomFunction ---------------------------------------------------------------

CQXUninstallCustomFunctionFlag* CQXUninstallCustomFunction::HookNamed(const std::wstring& name) {
  return const_cast<CQXUninstallCustomFunctionFlag*>(
      static_cast<const CQXUninstallCustomFunction*>(this)->HookNamed(name));
}

const CQXUninstallCustomFunctionFlag* CQXUninstallCustomFunction::HookNamed(const std::wstring& name) const {
  if (name == L"Uninstall_Abort") return &abort;
  if (name == L"Uninstall_AfterUninstall") return &afterUninstall;
  if (name == L"Uninstall_BeforeUninstall") return &beforeUninstall;
  if (name == L"Uninstall_CheckRunning") return &checkRunning;
  if (name == L"Uninstall_CheckCondition") return &checkCondition;
  if (name == L"Uninstall_End") return &end;
  if (name == L"Uninstall_StartUp") return &startUp;
  return nullptr;
}

void CQXUninstallCustomFunction::Clear() {
  for (const wchar_t* hook : kUninstallHookNames) HookNamed(hook)->flag = 0;
  fullPath = FullPathValue();
  version.Clear();
  absent = true;
}

int CQXUninstallCustomFunction::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  Clear();
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (CQXUninstallCustomFunctionFlag* hook = HookNamed(name)) {
      hook->flag = 0;
      ForEachAttribute(child, [hook](const std::wstring& attribute, const std::wstring& value) {
        if (attribute == L"Flag") hook->flag = value == L"1" ? 1 : 0;
      });
    } else if (name == L"FullPath") {
      ReadFullPath(&child, fullPath);
    } else if (name == L"Version") {
      version.FromXML(&child);
    }
  });
  absent = false;
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXUninstallCustomFunction::ToXML() const {
  auto element = NewElement(L"UninstallCustomFunction");
  for (const wchar_t* name : kUninstallHookNames) {
    auto hook = NewElement(name);
    AppendAttribute(hook.get(), L"Flag", HookNamed(name)->flag == 1 ? L"1" : L"0");
    AppendChild(std::move(hook), element.get());
  }
  AppendChild(FullPathToXML(fullPath), element.get());
  AppendChild(version.ToXML(), element.get());
  return element;
}

}  // namespace brindle
