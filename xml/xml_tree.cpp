#include "xml/xml_tree.h"

#include <utility>

namespace brindle {

namespace {

void SetOwned(std::unique_ptr<std::wstring>& slot, const std::wstring& text) {
  if (slot) {
    *slot = text;
  } else {
    slot = std::make_unique<std::wstring>(text);
  }
}

}  // namespace

// ---- CXMLDocument -------------------------------------------------------------------------

CXMLDocument::CXMLDocument(std::unique_ptr<CXMLElement> root)
    : CXMLNode(XML_NODE_DOCUMENT), root_(std::move(root)) {}

CXMLDocument::~CXMLDocument() = default;

// ---- CXMLAttribute and CXMLText -----------------------------------------------------------

void CXMLAttribute::SetName(const std::wstring& name) { SetOwned(name_, name); }
void CXMLAttribute::SetValue(const std::wstring& value) { SetOwned(value_, value); }
void CXMLText::SetValue(const std::wstring& value) { SetOwned(text_, value); }

// ---- CXMLElement --------------------------------------------------------------------------

CXMLElement::~CXMLElement() {
  // Children are moved onto one work list; an element's own children are moved out before the
  // element itself dies, so no destructor ever recurses more than one level.
  std::vector<std::unique_ptr<CXMLNode>> pending = std::move(children_);
  while (!pending.empty()) {
    std::unique_ptr<CXMLNode> node = std::move(pending.back());
    pending.pop_back();
    if (auto* element = dynamic_cast<CXMLElement*>(node.get())) {
      for (auto& child : element->children_) pending.push_back(std::move(child));
      element->children_.clear();
    }
  }
}

void CXMLElement::SetName(const std::wstring& name) { SetOwned(name_, name); }

void CXMLElement::SetValue(const std::wstring& value) {
  // Walk the first-child chain: the value goes to its end, or becomes the first text child of
  // the first element on the way that has no children.
  CXMLElement* element = this;
  for (;;) {
    if (element->children_.empty()) {
      auto text = std::make_unique<CXMLText>();
      text->SetValue(value);
      element->children_.push_back(std::move(text));
      return;
    }
    CXMLNode* first = element->children_.front().get();
    auto* next = dynamic_cast<CXMLElement*>(first);
    if (!next) {
      first->SetValue(value);
      return;
    }
    element = next;
  }
}

const CXMLNode* CXMLElement::ValueHolder() const {
  const CXMLElement* element = this;
  for (;;) {
    if (element->children_.empty()) return nullptr;
    const CXMLNode* first = element->children_.front().get();
    const auto* next = dynamic_cast<const CXMLElement*>(first);
    if (!next) return first;
    element = next;
  }
}

const wchar_t* CXMLElement::GetValue() const {
  const CXMLNode* holder = ValueHolder();
  return holder ? holder->GetValue() : nullptr;
}

const std::wstring* CXMLElement::GetValueString() const {
  const CXMLNode* holder = ValueHolder();
  return holder ? holder->GetValueString() : nullptr;
}

CXMLNode* CXMLElement::GetChild(unsigned index) const {
  return index < children_.size() ? children_[index].get() : nullptr;
}

CXMLAttribute* CXMLElement::GetAttribute(unsigned index) const {
  return index < attributes_.size() ? attributes_[index].get() : nullptr;
}

CXMLNode* CXMLElement::TakeChild(std::unique_ptr<CXMLNode> child) {
  if (!child) return nullptr;
  children_.push_back(std::move(child));
  return children_.back().get();
}

CXMLAttribute* CXMLElement::TakeAttribute(std::unique_ptr<CXMLAttribute> attribute) {
  if (!attribute) return nullptr;
  attributes_.push_back(std::move(attribute));
  return attributes_.back().get();
}

// ---- Factory and lookup -------------------------------------------------------------------

std::unique_ptr<CXMLDocument> NewDocument(std::unique_ptr<CXMLElement> root) {
  return std::make_unique<CXMLDocument>(std::move(root));
}

std::unique_ptr<CXMLElement> NewElement(const std::wstring& name) {
  auto element = std::make_unique<CXMLElement>();
  element->SetName(name);
  return element;
}

std::unique_ptr<CXMLElement> NewTextElement(const std::wstring& name, const std::wstring& text) {
  auto element = NewElement(name);
  element->SetValue(text);
  return element;
}

std::unique_ptr<CXMLAttribute> NewAttribute(const std::wstring& name, const std::wstring& value) {
  auto attribute = std::make_unique<CXMLAttribute>();
  attribute->SetName(name);
  attribute->SetValue(value);
  return attribute;
}

std::unique_ptr<CXMLText> NewText(const std::wstring& text) {
  auto node = std::make_unique<CXMLText>();
  node->SetValue(text);
  return node;
}

CXMLNode* AppendChild(std::unique_ptr<CXMLNode> node, CXMLElement* parent) {
  return parent ? parent->TakeChild(std::move(node)) : nullptr;
}

CXMLAttribute* AppendAttribute(std::unique_ptr<CXMLAttribute> attribute, CXMLElement* parent) {
  return parent ? parent->TakeAttribute(std::move(attribute)) : nullptr;
}

CXMLAttribute* AppendAttribute(CXMLElement* parent, const std::wstring& name, const std::wstring& value) {
  return AppendAttribute(NewAttribute(name, value), parent);
}

CXMLAttribute* FindAttribute(const CXMLElement* element, const std::wstring& name) {
  if (!element) return nullptr;
  for (unsigned i = 0; i < element->GetAttributeCount(); ++i) {
    CXMLAttribute* attribute = element->GetAttribute(i);
    const std::wstring* attributeName = attribute->GetNameString();
    if (attributeName && *attributeName == name) return attribute;
  }
  return nullptr;
}

CXMLElement* AsElement(CXMLNode* node) { return dynamic_cast<CXMLElement*>(node); }
const CXMLElement* AsElement(const CXMLNode* node) { return dynamic_cast<const CXMLElement*>(node); }
CXMLDocument* AsDocument(CXMLNode* node) { return dynamic_cast<CXMLDocument*>(node); }

bool IsElementNamed(const CXMLNode* node, const wchar_t* name) {
  const CXMLElement* element = AsElement(node);
  if (!element || !name) return false;
  const std::wstring* elementName = element->GetNameString();
  return elementName && *elementName == name;
}

std::wstring ValueText(const CXMLNode* node) {
  if (!node) return std::wstring();
  const std::wstring* value = node->GetValueString();
  return value ? *value : std::wstring();
}

}  // namespace brindle
