// Checks the parser and the writer apply the same way on every build, ahead of the XML library
// behind them: the limits a document must keep to be loaded, and the rules a tree must keep to
// be written as a well-formed document.
#pragma once
#include <string>

#include "xml/xml_tree.h"

namespace brindle {

// Elements nest at most this deep, the root being level 1; a deeper document is refused.
constexpr size_t kXMLMaxDepth = 256;

// True when the document's type declaration declares an entity (or the declaration cannot be
// read to its end, or the text before the root element cannot be read at all). Such documents are refused before they reach the XML library: entities
// that expand into other entities would make a small file take unbounded time and memory, and
// the program's own documents never declare any. A bare <!DOCTYPE x> is no declaration.
bool DeclaresEntities(const std::wstring& text);
// The same for a file's bytes: UTF-16 (by its byte-order mark or its first '<') is decoded,
// any other encoding is looked at byte by byte (the declarations are ASCII in all of them).
bool DeclaresEntitiesInBytes(const std::string& bytes);

// True when the tree can be written as a well-formed document: a document with a root, every
// element and attribute name an XML name (with at most one prefix), no element with two
// attributes of one name, and every text and value made only of characters XML can carry.
bool IsWritableDocument(const CXMLNode* document);

}  // namespace brindle
