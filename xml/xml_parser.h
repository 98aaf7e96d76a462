// The XML parser and writer: turns files and text into the program's own tree (xml_tree.h) and
// trees back into UTF-8 files and text. Nothing outside the xml folder sees the XML library
// behind it (the system's MSXML DOM on Windows, libxml2 in the native build).
//
// Loading never throws for bad input: a missing or unreadable file, text that is not well
// formed, a document without a root element, or a node kind the tree cannot hold (CDATA, a
// processing instruction or an entity reference inside an element) all yield null, and so do a
// document that declares entities and one nested deeper than kXMLMaxDepth (xml_checks.h), on
// every build alike. Comments are dropped, and so is whitespace-only text between elements.
// A tree that cannot be written well-formed (a name that is no XML name, two attributes of one
// name, a character XML cannot carry) is refused by Save and GetXML.
//
// Written documents start with a declaration naming UTF-8; every nested element starts on a new
// line (CR LF) indented by five spaces per level, an element holding only text stays on one line,
// and the closing tag of an element that holds elements lines up under its opening tag.
#pragma once
#include <memory>
#include <string>

#include "xml/xml_tree.h"

namespace brindle {

class CXMLParser {
 public:
  virtual ~CXMLParser() = default;
  // The document in the file (backslashes or forward slashes), or null.
  virtual std::unique_ptr<CXMLDocument> Load(const std::wstring& path) = 0;
  // The document in the text, or null.
  virtual std::unique_ptr<CXMLDocument> LoadXML(const std::wstring& text) = 0;
  // Writes the document to the file; false, and nothing written, when it cannot be converted.
  virtual bool Save(const CXMLNode* document, const std::wstring& path) = 0;
  // The document as text; the output is left unchanged when no text can be made.
  virtual void GetXML(const CXMLNode* document, std::wstring& xml) = 0;
};

// The process-wide parser, created on first use; null when it cannot be created (a later call
// tries again). One thread at a time may use it.
CXMLParser* GetXMLParser();
// Destroys the process-wide parser; the next GetXMLParser creates a new one.
void DestroyXMLParser();

// The platform's parser (defined once per build).
std::unique_ptr<CXMLParser> CreatePlatformXMLParser();

// Spaces per nesting level in written documents.
constexpr int kXMLIndentWidth = 5;

}  // namespace brindle
