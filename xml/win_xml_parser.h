// The Windows XML parser: the system's MSXML DOM, a COM component, does the parsing and the
// serialising; this class converts between that DOM and the program's own tree, applies the
// parser settings, writes the UTF-8 declaration and lays out the indentation of written files.
#pragma once
#include <windows.h>
#include <msxml2.h>

#include "sys/win_handles.h"
#include "xml/xml_parser.h"

namespace brindle {

class CWinXMLParser : public CXMLParser {
 public:
  // Throws std::bad_alloc when the line-break string cannot be allocated.
  CWinXMLParser();

  std::unique_ptr<CXMLDocument> Load(const std::wstring& path) override;
  std::unique_ptr<CXMLDocument> LoadXML(const std::wstring& text) override;
  bool Save(const CXMLNode* document, const std::wstring& path) override;
  void GetXML(const CXMLNode* document, std::wstring& xml) override;

 private:
  // A loader set up with the parser settings, or empty.
  ComPtr<IXMLDOMDocument> NewLoader();
  // The DOM document of a tree document (declaration and indented root), or empty.
  ComPtr<IXMLDOMDocument> ToDom(const CXMLNode* document);
  // The converted root element with everything below it, or empty.
  ComPtr<IXMLDOMElement> ElementToDom(const CXMLElement* root, IXMLDOMDocument* owner);

  UniqueBstr newLine_;  // CR LF
  int depth_ = 0;       // nesting level while serialising
};

}  // namespace brindle
