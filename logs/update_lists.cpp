#include "logs/update_lists.h"

#include <algorithm>
#include <climits>
#include <memory>

#include "xml/xml_parser.h"

namespace brindle {

namespace {

bool IsCSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

std::unique_ptr<CXMLDocument> LoadListDocument(const std::wstring& path) {
  CXMLParser* parser = GetXMLParser();
  return parser ? parser->Load(path) : nullptr;
}

DiffLocalEntry ReadDiffLocalEntry(const CXMLElement& element) {
  DiffLocalEntry entry;
  for (unsigned i = 0; i < element.GetAttributeCount(); ++i) {
    const CXMLAttribute* attribute = element.GetAttribute(i);
    const std::wstring* name = attribute->GetNameString();
    if (name && *name == L"Order") entry.order.value = OrderFromText(ValueText(attribute));
  }
  for (unsigned i = 0; i < element.GetChildCount(); ++i) {
    const CXMLNode* child = element.GetChild(i);
    if (IsElementNamed(child, L"FileName")) {
      entry.FileName = ValueText(child);
    } else if (IsElementNamed(child, L"AppName")) {
      entry.AppName = ValueText(child);
    } else if (IsElementNamed(child, L"DisplayName")) {
      entry.DisplayName = ValueText(child);
    }
  }
  return entry;
}

std::vector<std::wstring> ReadAction(const CXMLElement& element) {
  static const wchar_t* const kNames[kActionFieldCount] = {L"ID", L"Action", L"Path", L"Version", L"Result"};
  std::vector<std::wstring> action(kActionFieldCount);
  for (unsigned i = 0; i < element.GetAttributeCount(); ++i) {
    const CXMLAttribute* attribute = element.GetAttribute(i);
    const std::wstring* name = attribute->GetNameString();
    if (!name) continue;
    for (size_t field = 0; field < kActionFieldCount; ++field) {
      if (*name == kNames[field]) action[field] = ValueText(attribute);
    }
  }
  return action;
}

bool HasChildElement(const CXMLElement& element) {
  for (unsigned i = 0; i < element.GetChildCount(); ++i) {
    if (AsElement(element.GetChild(i))) return true;
  }
  return false;
}

}  // namespace

int OrderFromText(const std::wstring& text) {
  size_t pos = 0;
  while (pos < text.size() && IsCSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
    negative = text[pos] == L'-';
    ++pos;
  }
  long long value = 0;
  for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos) {
    value = value * 10 + (text[pos] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

ListLoad LoadDiffLocalList(const std::wstring& path, std::vector<DiffLocalEntry>& entries) {
  std::unique_ptr<CXMLDocument> document = LoadListDocument(path);
  if (!document || !document->GetRoot()) return ListLoad::kUnreadable;
  const CXMLElement& root = *document->GetRoot();
  if (!IsElementNamed(&root, L"DiffLocalList")) return ListLoad::kWrongRoot;

  std::vector<DiffLocalEntry> read;
  for (unsigned i = 0; i < root.GetChildCount(); ++i) {
    if (const CXMLElement* child = AsElement(root.GetChild(i))) read.push_back(ReadDiffLocalEntry(*child));
  }
  // Ascending by Order; entries with equal orders keep their order in the file.
  std::stable_sort(read.begin(), read.end(), [](const DiffLocalEntry& a, const DiffLocalEntry& b) {
    return a.order.value < b.order.value;
  });
  entries.insert(entries.end(), read.begin(), read.end());
  return ListLoad::kLoaded;
}

ListLoad LoadActionList(const std::wstring& path, CQXActionListXML& list) {
  list.actions.clear();
  list.ParentAppName.clear();
  list.ComponentType.clear();
  std::unique_ptr<CXMLDocument> document = LoadListDocument(path);
  if (!document || !document->GetRoot()) return ListLoad::kUnreadable;
  const CXMLElement& root = *document->GetRoot();
  if (!IsElementNamed(&root, L"ActionList")) return ListLoad::kWrongRoot;
  if (!HasChildElement(root)) return ListLoad::kUnreadable;

  for (unsigned i = 0; i < root.GetAttributeCount(); ++i) {
    const CXMLAttribute* attribute = root.GetAttribute(i);
    const std::wstring* name = attribute->GetNameString();
    if (!name) continue;
    if (*name == L"ParentAppName") list.ParentAppName = ValueText(attribute);
    if (*name == L"ComponentType") list.ComponentType = ValueText(attribute);
  }
  for (unsigned i = 0; i < root.GetChildCount(); ++i) {
    const CXMLElement* child = AsElement(root.GetChild(i));
    if (!child) continue;
    std::vector<std::wstring> action = ReadAction(*child);
    if (!action[kActionId].empty() && !action[kActionType].empty()) list.actions.push_back(std::move(action));
  }
  return ListLoad::kLoaded;
}

std::vector<std::wstring> ActionIds(const CQXActionListXML& list, const std::wstring& type) {
  std::vector<std::wstring> ids;
  for (const auto& action : list.actions) {
    if (action[kActionType] == type) ids.push_back(action[kActionId]);
  }
  return ids;
}

std::vector<std::wstring> ActionIdsWithPath(const CQXActionListXML& list, const std::wstring& type) {
  std::vector<std::wstring> ids;
  for (const auto& action : list.actions) {
    if (action[kActionType] == type && !action[kActionPath].empty()) ids.push_back(action[kActionId]);
  }
  return ids;
}

std::wstring ActionPath(const CQXActionListXML& list, const std::wstring& id) {
  for (const auto& action : list.actions) {
    if (action[kActionId] == id) return action[kActionPath];
  }
  return std::wstring();
}

}  // namespace brindle
