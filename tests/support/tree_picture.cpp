#include "support/tree_picture.h"

#include <gtest/gtest.h>

namespace brindle::test {

std::wstring Picture(const CXMLNode* node) {
  if (!node) return L"null";
  if (node->nodeType == XML_NODE_TEXT) return L"[" + ValueText(node) + L"]";
  const CXMLElement* element = AsElement(node);
  if (!element) return L"?";
  std::wstring out = L"<" + std::wstring(element->GetName());
  for (unsigned i = 0; i < element->GetAttributeCount(); ++i) {
    out +=
        L" " + std::wstring(element->GetAttribute(i)->GetName()) + L"=" + ValueText(element->GetAttribute(i));
  }
  out += L">";
  for (unsigned i = 0; i < element->GetChildCount(); ++i) out += Picture(element->GetChild(i));
  return out + L"</" + element->GetName() + L">";
}

std::unique_ptr<CXMLDocument> Parse(const std::wstring& xml) {
  CXMLParser* parser = GetXMLParser();
  EXPECT_NE(parser, nullptr);
  std::unique_ptr<CXMLDocument> document = parser ? parser->LoadXML(xml) : nullptr;
  EXPECT_NE(document, nullptr) << "does not load";
  // A stand-in root keeps the calling test running (and failing) without a null root.
  return document ? std::move(document) : NewDocument(NewElement(L"NotLoaded"));
}

}  // namespace brindle::test
