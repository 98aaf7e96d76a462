// The native build's XML parser: the same behaviour as the Windows one, on libxml2. Parsing
// refuses network access and external entities and keeps entity references as nodes (which the
// tree then refuses); whitespace-only text is dropped as the Windows DOM does with whitespace
// preservation off. Writing builds a libxml2 document with the same layout text nodes.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <new>
#include <vector>

#include "sys/text.h"
#include "xml/xml_checks.h"
#include "xml/xml_parser.h"

namespace brindle {

namespace {

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

std::wstring FromXmlChars(const xmlChar* text) {
  return text ? WideFromUtf8(reinterpret_cast<const char*>(text)) : std::wstring();
}

struct XmlDocDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocDeleter>;

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

bool IsWhitespaceOnly(const xmlChar* text) {
  if (!text) return true;
  for (; *text; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n') return false;
  }
  return true;
}

std::wstring QualifiedName(const xmlChar* prefix, const xmlChar* name) {
  std::wstring result;
  if (prefix) result = FromXmlChars(prefix) + L":";
  return result + FromXmlChars(name);
}

// The element's name and attributes in document order, then its namespace declarations as
// attributes named "xmlns" or "xmlns:prefix" (the Windows DOM lists them the same way).
std::unique_ptr<CXMLElement> ElementFromLib(xmlNode* node) {
  auto element = NewElement(QualifiedName(node->ns ? node->ns->prefix : nullptr, node->name));
  for (xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
    xmlChar* value = xmlNodeListGetString(node->doc, attribute->children, 1);
    AppendAttribute(element.get(),
                    QualifiedName(attribute->ns ? attribute->ns->prefix : nullptr, attribute->name),
                    FromXmlChars(value));
    xmlFree(value);
  }
  for (xmlNs* ns = node->nsDef; ns; ns = ns->next) {
    std::wstring name = ns->prefix ? L"xmlns:" + FromXmlChars(ns->prefix) : L"xmlns";
    AppendAttribute(element.get(), name, FromXmlChars(ns->href));
  }
  return element;
}

struct LibFrame {
  xmlNode* next;
  CXMLElement* element;
};

// The libxml2 element as a tree: elements and text kept, comments and whitespace-only text
// dropped, any other node kind and nesting deeper than kXMLMaxDepth fail the conversion.
// Iterative, so depth is no risk.
std::unique_ptr<CXMLElement> TreeFromLib(xmlNode* rootNode) {
  std::unique_ptr<CXMLElement> root = ElementFromLib(rootNode);
  std::vector<LibFrame> stack;
  stack.push_back({rootNode->children, root.get()});
  while (!stack.empty()) {
    LibFrame& top = stack.back();
    xmlNode* child = top.next;
    if (!child) {
      stack.pop_back();
      continue;
    }
    top.next = child->next;
    CXMLElement* parent = top.element;
    switch (child->type) {
      case XML_COMMENT_NODE: break;
      case XML_TEXT_NODE:
        if (!IsWhitespaceOnly(child->content)) AppendChild(NewText(FromXmlChars(child->content)), parent);
        break;
      case XML_ELEMENT_NODE: {
        if (stack.size() >= kXMLMaxDepth) return nullptr;
        CXMLElement* added = AsElement(AppendChild(ElementFromLib(child), parent));
        stack.push_back({child->children, added});
        break;
      }
      default: return nullptr;  // CDATA, processing instruction, entity reference...
    }
  }
  return root;
}

std::unique_ptr<CXMLDocument> DocumentFromLib(xmlDoc* doc) {
  if (!doc) return nullptr;
  xmlNode* rootNode = xmlDocGetRootElement(doc);
  if (!rootNode) return nullptr;
  std::unique_ptr<CXMLElement> root = TreeFromLib(rootNode);
  if (!root) return nullptr;
  return NewDocument(std::move(root));
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(Utf8FromWide(path).c_str(), "rb"), &std::fclose);
  if (!file) return false;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, got);
  return !std::ferror(file.get());
}

// ---- Writing -------------------------------------------------------------------------------

bool AddText(xmlNode* parent, const std::wstring& text) {
  std::string utf8 = Utf8FromWide(text);
  xmlNode* node = xmlNewDocTextLen(parent->doc, X(utf8), static_cast<int>(utf8.size()));
  return node && xmlAddChild(parent, node);
}

bool AddLayout(xmlNode* parent, int level) {
  return AddText(parent, L"\r\n") &&
         AddText(parent, std::wstring(static_cast<size_t>(level) * kXMLIndentWidth, L' '));
}

xmlNode* NewLibElement(xmlDoc* doc, const CXMLElement* element) {
  const std::wstring* name = element->GetNameString();
  if (!name || name->empty()) return nullptr;
  xmlNode* node = xmlNewDocNode(doc, nullptr, X(Utf8FromWide(*name)), nullptr);
  if (!node) return nullptr;
  for (unsigned i = 0; i < element->GetAttributeCount(); ++i) {
    const CXMLAttribute* attribute = element->GetAttribute(i);
    const std::wstring* attributeName = attribute->GetNameString();
    if (!attributeName || attributeName->empty() ||
        !xmlNewProp(node, X(Utf8FromWide(*attributeName)), X(Utf8FromWide(ValueText(attribute))))) {
      xmlFreeNode(node);
      return nullptr;
    }
  }
  return node;
}

struct WriteFrame {
  const CXMLElement* element;
  xmlNode* node;
  unsigned next;
};

// Builds the libxml2 document: each nested element on a new line indented by its level, the
// closing tag of an element that ends with an element on its own line.
XmlDocPtr DocumentToLib(const CXMLNode* node) {
  if (!node || node->nodeType != XML_NODE_DOCUMENT) return nullptr;
  const CXMLElement* root = static_cast<const CXMLDocument*>(node)->GetRoot();
  if (!root) return nullptr;
  XmlDocPtr doc(xmlNewDoc(X("1.0")));
  if (!doc) return nullptr;
  xmlNode* rootNode = NewLibElement(doc.get(), root);
  if (!rootNode) return nullptr;
  xmlDocSetRootElement(doc.get(), rootNode);
  std::vector<WriteFrame> stack;
  stack.push_back({root, rootNode, 0});
  while (!stack.empty()) {
    WriteFrame& top = stack.back();
    const int depth = static_cast<int>(stack.size()) - 1;
    const unsigned count = top.element->GetChildCount();
    if (top.next >= count) {
      if (count > 0 && top.element->GetChild(count - 1)->nodeType == XML_NODE_ELEMENT &&
          !AddLayout(top.node, depth))
        return nullptr;
      stack.pop_back();
      continue;
    }
    const CXMLNode* child = top.element->GetChild(top.next++);
    if (child->nodeType == XML_NODE_TEXT) {
      if (!AddText(top.node, ValueText(child))) return nullptr;
      continue;
    }
    const CXMLElement* childElement = AsElement(child);
    if (!childElement || !AddLayout(top.node, depth + 1)) return nullptr;
    xmlNode* childNode = NewLibElement(doc.get(), childElement);
    if (!childNode) return nullptr;
    if (!xmlAddChild(top.node, childNode)) {
      xmlFreeNode(childNode);
      return nullptr;
    }
    stack.push_back({childElement, childNode, 0});
  }
  return doc;
}

// Text content is escaped as the Windows DOM writes it: the markup characters become entity
// references and carriage returns stay as they are, so the CR LF layout reaches the file.
int EscapeTextContent(unsigned char* out, int* outLength, const unsigned char* in, int* inLength) {
  int read = 0;
  int written = 0;
  while (read < *inLength) {
    const unsigned char c = in[read];
    const char* replacement = c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : nullptr;
    const int needed = replacement ? static_cast<int>(std::strlen(replacement)) : 1;
    if (written + needed > *outLength) break;
    if (replacement) {
      std::memcpy(out + written, replacement, static_cast<size_t>(needed));
    } else {
      out[written] = c;
    }
    written += needed;
    ++read;
  }
  *inLength = read;
  *outLength = written;
  return written;
}

// The document's UTF-8 serialisation: the declaration, a line feed, the root, a line feed.
bool Serialise(xmlDoc* doc, std::string& out) {
  xmlBufferPtr buffer = xmlBufferCreate();
  if (!buffer) return false;
  bool ok = false;
  if (xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", 0)) {
    xmlSaveSetEscape(save, EscapeTextContent);
    ok = xmlSaveDoc(save, doc) >= 0;
    ok = xmlSaveClose(save) >= 0 && ok;
  }
  if (ok) out.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
  xmlBufferFree(buffer);
  return ok;
}

// The in-memory text ends the declaration line and the root's last line with CR LF, as the
// Windows DOM's text does.
std::string WithCrLfAroundRoot(std::string text) {
  const size_t declarationEnd = text.find("?>\n");
  if (declarationEnd != std::string::npos) text.insert(declarationEnd + 2, "\r");
  if (!text.empty() && text.back() == '\n') text.insert(text.size() - 1, "\r");
  return text;
}

class CLibXMLParser : public CXMLParser {
 public:
  std::unique_ptr<CXMLDocument> Load(const std::wstring& path) override {
    try {
      std::wstring location = path;
      for (wchar_t& c : location) {
        if (c == L'\\') c = L'/';
      }
      std::string bytes;
      if (!ReadWholeFile(location, bytes) || bytes.empty() || bytes.size() > INT_MAX) return nullptr;
      if (DeclaresEntitiesInBytes(bytes)) return nullptr;
      XmlDocPtr doc(
          xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, kParseOptions));
      return DocumentFromLib(doc.get());
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  // The text is already decoded: any encoding its declaration names is ignored.
  std::unique_ptr<CXMLDocument> LoadXML(const std::wstring& text) override {
    try {
      if (DeclaresEntities(text)) return nullptr;
      std::string utf8 = Utf8FromWide(text);
      if (utf8.empty() || utf8.size() > INT_MAX) return nullptr;
      XmlDocPtr doc(xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                                  kParseOptions | XML_PARSE_IGNORE_ENC));
      return DocumentFromLib(doc.get());
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  bool Save(const CXMLNode* document, const std::wstring& path) override {
    try {
      if (!IsWritableDocument(document)) return false;
      XmlDocPtr doc = DocumentToLib(document);
      std::string bytes;
      if (!doc || !Serialise(doc.get(), bytes)) return false;
      std::wstring location = path;
      for (wchar_t& c : location) {
        if (c == L'\\') c = L'/';
      }
      std::ofstream out(Utf8FromWide(location), std::ios::binary | std::ios::trunc);
      if (!out) return false;
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.close();
      return static_cast<bool>(out);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  void GetXML(const CXMLNode* document, std::wstring& xml) override {
    try {
      if (!IsWritableDocument(document)) return;
      XmlDocPtr doc = DocumentToLib(document);
      std::string bytes;
      if (!doc || !Serialise(doc.get(), bytes)) return;
      xml = WideFromUtf8(WithCrLfAroundRoot(bytes));
    } catch (const std::bad_alloc&) {
    }
  }
};

}  // namespace

std::unique_ptr<CXMLParser> CreatePlatformXMLParser() { return std::make_unique<CLibXMLParser>(); }

}  // namespace brindle
