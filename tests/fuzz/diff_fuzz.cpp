// Fuzz target of the package document (diff.xml): any document that loads fills the model or
// is refused without a memory error, and a filled model writes a document that loads again.
#include "package/diff_distribute.h"
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
  CQXDiffDistribute model;
  if (model.FromXML(document->GetRoot()) != 0) return 0;
  std::unique_ptr<CXMLDocument> written = NewDocument(model.ToXML());
  std::wstring xml;
  parser->GetXML(written.get(), xml);
  if (xml.empty()) return 0;  // a name the writer refuses came from the input
  std::unique_ptr<CXMLDocument> again = parser->LoadXML(xml);
  CQXDiffDistribute reread;
  if (!again || reread.FromXML(again->GetRoot()) != 0) std::abort();
  return 0;
}
