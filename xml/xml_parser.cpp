#include "xml/xml_parser.h"

#include <new>

namespace brindle {

namespace {
std::unique_ptr<CXMLParser>& ParserSlot() {
  static std::unique_ptr<CXMLParser> parser;
  return parser;
}
}  // namespace

CXMLParser* GetXMLParser() {
  std::unique_ptr<CXMLParser>& slot = ParserSlot();
  if (!slot) {
    try {
      slot = CreatePlatformXMLParser();
    } catch (const std::bad_alloc&) {
      slot.reset();
    }
  }
  return slot.get();
}

void DestroyXMLParser() { ParserSlot().reset(); }

}  // namespace brindle
