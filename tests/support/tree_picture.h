// Test helpers: XML text to elements, and elements to a compact picture that shows names,
// attributes in order and text: <Name a=v>[text]<Child></Child></Name>.
#pragma once
#include <memory>
#include <string>

#include "xml/xml_parser.h"

namespace brindle::test {

std::wstring Picture(const CXMLNode* node);
// Parses the text; when it does not load, fails the running test and gives a document whose
// root is an empty NotLoaded element.
std::unique_ptr<CXMLDocument> Parse(const std::wstring& xml);

}  // namespace brindle::test
