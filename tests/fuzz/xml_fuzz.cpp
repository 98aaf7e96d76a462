// Fuzz target of the XML reader and writer: any text loads or yields null without a memory
// error, in bounded time; a tree that loads is either refused by the writer (a name that is no
// XML name with at most one prefix can come from a document that is well-formed without
// namespaces) or written as a document that loads again.
#include "sys/text.h"
#include "xml/xml_parser.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace brindle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CXMLParser* parser = GetXMLParser();
  if (!parser) std::abort();
  const std::wstring text = WideFromUtf8(std::string(reinterpret_cast<const char*>(data), size));
  std::unique_ptr<CXMLDocument> document = parser->LoadXML(text);
  if (!document) return 0;
  std::wstring xml;
  parser->GetXML(document.get(), xml);
  if (xml.empty()) return 0;
  if (!parser->LoadXML(xml)) std::abort();
  return 0;
}
