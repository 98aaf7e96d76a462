// Small helpers the package records share to read themselves from the XML tree and write
// themselves back: attribute and child visits in document order, and token tables.
#pragma once
#include <cstddef>
#include <string>

#include "xml/xml_tree.h"

namespace brindle {

// One row of a token table: the text written in XML and the code it stands for.
struct Token {
  const wchar_t* text;
  int code;
};

// The code of the text (exact, case-sensitive match), or other when no row matches.
template <size_t N>
int CodeOfToken(const Token (&table)[N], const std::wstring& text, int other) {
  for (const Token& row : table) {
    if (text == row.text) return row.code;
  }
  return other;
}

// The text of the code, or fallback when no row has it.
template <size_t N>
const wchar_t* TokenOfCode(const Token (&table)[N], int code, const wchar_t* fallback) {
  for (const Token& row : table) {
    if (row.code == code) return row.text;
  }
  return fallback;
}

// Calls visit(name, value) for every named attribute, in list order.
template <typename Visit>
void ForEachAttribute(const CXMLElement& element, Visit visit) {
  for (unsigned i = 0; i < element.GetAttributeCount(); ++i) {
    const CXMLAttribute* attribute = element.GetAttribute(i);
    if (const std::wstring* name = attribute->GetNameString()) visit(*name, ValueText(attribute));
  }
}

// Calls visit(name, child) for every child element, in document order; text is skipped. The
// child count is read again after each child.
template <typename Visit>
void ForEachChildElement(const CXMLElement& element, Visit visit) {
  for (unsigned i = 0; i < element.GetChildCount(); ++i) {
    const CXMLElement* child = AsElement(element.GetChild(i));
    if (!child) continue;
    if (const std::wstring* name = child->GetNameString()) visit(*name, *child);
  }
}

// Status of the records' reads: 0 read, 3 when no element was given.
enum : int { kReadOk = 0, kReadNoElement = 3 };

}  // namespace brindle
