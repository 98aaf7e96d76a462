#include "xml/win_xml_parser.h"

#include "sys/file_util.h"
#include "sys/win_handles.h"
#include "xml/xml_checks.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace brindle {

namespace {

// The DOM classes: version 3.0 for parsing, the version-independent one for the documents that
// are written. Every node of a written document is made by that document itself: a node made by
// another document cannot safely be appended under every DOM. The import libraries do not define
// these identifiers, so they are defined here.
const CLSID kClsidDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const CLSID kClsidDomDocument = {
    0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kIidDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// COM for the calling thread, for the length of one operation. A thread already in another
// apartment keeps it.
class ComForThisThread {
 public:
  ComForThisThread() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComForThisThread() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComForThisThread(const ComForThisThread&) = delete;
  ComForThisThread& operator=(const ComForThisThread&) = delete;

 private:
  HRESULT hr_;
};

// A VARIANT cleared when it goes out of scope.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&v_); }
  ~ScopedVariant() { VariantClear(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* Receive() {
    VariantClear(&v_);
    return &v_;
  }
  const VARIANT& Get() const { return v_; }

 private:
  VARIANT v_;
};

// A BSTR variant that borrows the string (the string's owner frees it).
VARIANT BorrowedBstrVariant(BSTR text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}

// Fills the holder with a copy of the text; throws std::bad_alloc when no string is allocated.
void SetBstr(UniqueBstr& holder, const std::wstring& text) {
  *holder.Receive() = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!holder.Get()) throw std::bad_alloc();
}

std::wstring FromBstr(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// Creates a DOM document of the class: the object for any server context, run, then asked for
// the DOM document interface. Empty when any step fails.
ComPtr<IXMLDOMDocument> CreateDomDocument(const CLSID& clsid) {
  ComPtr<IUnknown> object;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, object.ReceiveVoid()))) return {};
  if (FAILED(OleRun(object.Get()))) return {};
  ComPtr<IXMLDOMDocument> document;
  if (FAILED(object.As(document, kIidDomDocument))) return {};
  return document;
}

bool NodeName(IXMLDOMNode* node, std::wstring& name) {
  UniqueBstr text;
  if (FAILED(node->get_nodeName(text.Receive()))) return false;
  name = FromBstr(text.Get());
  return true;
}

bool NodeValue(IXMLDOMNode* node, std::wstring& value) {
  ScopedVariant v;
  if (FAILED(node->get_nodeValue(v.Receive()))) return false;
  if (v.Get().vt == VT_BSTR) {
    value = FromBstr(v.Get().bstrVal);
  } else {
    value.clear();
  }
  return true;
}

// The element's name and attributes, in the DOM's order; null when the DOM fails to give them.
std::unique_ptr<CXMLElement> ElementFromDom(IXMLDOMNode* node) {
  std::wstring name;
  if (!NodeName(node, name)) return nullptr;
  auto element = NewElement(name);
  ComPtr<IXMLDOMNamedNodeMap> attributes;
  if (FAILED(node->get_attributes(attributes.Receive())) || !attributes) return nullptr;
  long count = 0;
  if (FAILED(attributes->get_length(&count))) return nullptr;
  for (long i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> attribute;
    if (FAILED(attributes->get_item(i, attribute.Receive())) || !attribute) return nullptr;
    std::wstring attributeName, attributeValue;
    if (!NodeName(attribute.Get(), attributeName) || !NodeValue(attribute.Get(), attributeValue))
      return nullptr;
    AppendAttribute(element.get(), attributeName, attributeValue);
  }
  return element;
}

// One element being converted: its tree element and the next DOM child to visit. Children are
// walked by sibling links, which costs the same for every child however many there are.
struct DomFrame {
  ComPtr<IXMLDOMNode> next;
  CXMLElement* element;
};

bool OpenFrame(IXMLDOMNode* node, CXMLElement* element, std::vector<DomFrame>& stack) {
  DomFrame frame{{}, element};
  if (FAILED(node->get_firstChild(frame.next.Receive()))) return false;
  stack.push_back(std::move(frame));
  return true;
}

// The DOM element as a tree: elements and text are kept, comments dropped, and any other kind
// of node and nesting deeper than kXMLMaxDepth fail the whole conversion. Works with its own
// stack, so nesting depth is no risk.
std::unique_ptr<CXMLElement> TreeFromDom(IXMLDOMNode* rootNode) {
  std::unique_ptr<CXMLElement> root = ElementFromDom(rootNode);
  if (!root) return nullptr;
  std::vector<DomFrame> stack;
  if (!OpenFrame(rootNode, root.get(), stack)) return nullptr;
  while (!stack.empty()) {
    DomFrame& top = stack.back();
    if (!top.next) {
      stack.pop_back();
      continue;
    }
    ComPtr<IXMLDOMNode> child = std::move(top.next);
    if (FAILED(child->get_nextSibling(top.next.Receive()))) return nullptr;
    DOMNodeType kind;
    if (FAILED(child->get_nodeType(&kind))) return nullptr;
    CXMLElement* parent = top.element;
    if (kind == NODE_COMMENT) continue;
    if (kind == NODE_TEXT) {
      std::wstring text;
      if (!NodeValue(child.Get(), text)) return nullptr;
      AppendChild(NewText(text), parent);
    } else if (kind == NODE_ELEMENT) {
      if (stack.size() >= kXMLMaxDepth) return nullptr;
      std::unique_ptr<CXMLElement> element = ElementFromDom(child.Get());
      if (!element) return nullptr;
      CXMLElement* added = AsElement(AppendChild(std::move(element), parent));
      if (!OpenFrame(child.Get(), added, stack)) return nullptr;
    } else {
      return nullptr;  // CDATA, processing instruction, entity reference...
    }
  }
  return root;
}

std::unique_ptr<CXMLDocument> DocumentFromDom(IXMLDOMDocument* dom) {
  ComPtr<IXMLDOMElement> rootElement;
  if (FAILED(dom->get_documentElement(rootElement.Receive())) || !rootElement) return nullptr;
  std::unique_ptr<CXMLElement> root = TreeFromDom(rootElement.Get());
  if (!root) return nullptr;
  return NewDocument(std::move(root));
}

bool AppendDomChild(IXMLDOMNode* parent, IXMLDOMNode* child) {
  ComPtr<IXMLDOMNode> added;
  return SUCCEEDED(parent->appendChild(child, added.Receive()));
}

bool AppendDomText(IXMLDOMNode* parent, IXMLDOMDocument* factory, BSTR text) {
  ComPtr<IXMLDOMText> node;
  if (FAILED(factory->createTextNode(text, node.Receive())) || !node) return false;
  return AppendDomChild(parent, node.Get());
}

bool SetDomAttribute(IXMLDOMNode* owner, IXMLDOMDocument* factory, const std::wstring& name,
                     const std::wstring& value) {
  ComPtr<IXMLDOMAttribute> attribute;
  UniqueBstr attributeName;
  SetBstr(attributeName, name);
  if (FAILED(factory->createAttribute(attributeName.Get(), attribute.Receive())) || !attribute) return false;
  UniqueBstr text;
  SetBstr(text, value);
  VARIANT v = BorrowedBstrVariant(text.Get());
  if (FAILED(attribute->put_value(v))) return false;
  ComPtr<IXMLDOMNamedNodeMap> map;
  if (FAILED(owner->get_attributes(map.Receive())) || !map) return false;
  ComPtr<IXMLDOMNode> replaced;
  return SUCCEEDED(map->setNamedItem(attribute.Get(), replaced.Receive()));
}

// A DOM element named like the tree element, with its attributes in list order.
ComPtr<IXMLDOMElement> NewDomElement(const CXMLElement* element, IXMLDOMDocument* owner) {
  const std::wstring* name = element->GetNameString();
  if (!name || name->empty()) return {};
  ComPtr<IXMLDOMElement> dom;
  UniqueBstr tag;
  SetBstr(tag, *name);
  if (FAILED(owner->createElement(tag.Get(), dom.Receive())) || !dom) return {};
  for (unsigned i = 0; i < element->GetAttributeCount(); ++i) {
    const CXMLAttribute* attribute = element->GetAttribute(i);
    const std::wstring* attributeName = attribute->GetNameString();
    if (!attributeName || attributeName->empty()) return {};
    if (!SetDomAttribute(dom.Get(), owner, *attributeName, ValueText(attribute))) return {};
  }
  return dom;
}

struct TreeFrame {
  const CXMLElement* element;
  ComPtr<IXMLDOMElement> dom;
  unsigned next;
};

}  // namespace

CWinXMLParser::CWinXMLParser() : newLine_(L"\r\n") {
  if (!newLine_.Get()) throw std::bad_alloc();
}

ComPtr<IXMLDOMDocument> CWinXMLParser::NewLoader() {
  ComPtr<IXMLDOMDocument> dom = CreateDomDocument(kClsidDomDocument30);
  if (!dom) return {};
  if (FAILED(dom->put_async(VARIANT_FALSE)) || FAILED(dom->put_preserveWhiteSpace(VARIANT_FALSE)) ||
      FAILED(dom->put_resolveExternals(VARIANT_FALSE)) || FAILED(dom->put_validateOnParse(VARIANT_FALSE)))
    return {};
  return dom;
}

std::unique_ptr<CXMLDocument> CWinXMLParser::Load(const std::wstring& path) {
  try {
    // The file's bytes are looked at first for entity declarations, which the DOM would
    // expand without limit, and the DOM then reads those very bytes: the file cannot be
    // changed between the check and the load.
    std::string bytes;
    if (!ReadWholeFile(path, bytes, true) || DeclaresEntitiesInBytes(bytes)) return nullptr;
    ComForThisThread com;
    ComPtr<IXMLDOMDocument> dom = NewLoader();
    if (!dom) return nullptr;
    ScopedVariant source;
    VARIANT* holder = source.Receive();
    holder->parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!holder->parray) throw std::bad_alloc();
    holder->vt = VT_ARRAY | VT_UI1;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(holder->parray, &data))) return nullptr;
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(holder->parray);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(dom->load(source.Get(), &loaded))) return nullptr;
    return DocumentFromDom(dom.Get());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<CXMLDocument> CWinXMLParser::LoadXML(const std::wstring& xml) {
  try {
    if (DeclaresEntities(xml)) return nullptr;
    ComForThisThread com;
    ComPtr<IXMLDOMDocument> dom = NewLoader();
    if (!dom) return nullptr;
    UniqueBstr text;
    SetBstr(text, xml);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(dom->loadXML(text.Get(), &loaded))) return nullptr;
    return DocumentFromDom(dom.Get());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ComPtr<IXMLDOMElement> CWinXMLParser::ElementToDom(const CXMLElement* root, IXMLDOMDocument* owner) {
  ComPtr<IXMLDOMElement> domRoot = NewDomElement(root, owner);
  if (!domRoot) return {};
  std::vector<TreeFrame> stack;
  stack.push_back({root, domRoot, 0});
  depth_ = 0;
  while (!stack.empty()) {
    TreeFrame& top = stack.back();
    depth_ = static_cast<int>(stack.size()) - 1;
    const unsigned count = top.element->GetChildCount();
    if (top.next >= count) {
      // The closing tag of an element that ends with an element goes on its own line, lined up
      // under the opening tag.
      if (count > 0 && top.element->GetChild(count - 1)->nodeType == XML_NODE_ELEMENT) {
        UniqueBstr indent;
        SetBstr(indent, std::wstring(static_cast<size_t>(depth_) * kXMLIndentWidth, L' '));
        if (!AppendDomText(top.dom.Get(), owner, newLine_.Get()) ||
            !AppendDomText(top.dom.Get(), owner, indent.Get()))
          return {};
      }
      stack.pop_back();
      continue;
    }
    const CXMLNode* child = top.element->GetChild(top.next++);
    if (child->nodeType == XML_NODE_TEXT) {
      UniqueBstr text;
      SetBstr(text, ValueText(child));
      if (!AppendDomText(top.dom.Get(), owner, text.Get())) return {};
      continue;
    }
    const CXMLElement* childElement = AsElement(child);
    if (!childElement) return {};
    UniqueBstr indent;
    SetBstr(indent, std::wstring(static_cast<size_t>(depth_ + 1) * kXMLIndentWidth, L' '));
    if (!AppendDomText(top.dom.Get(), owner, newLine_.Get()) ||
        !AppendDomText(top.dom.Get(), owner, indent.Get()))
      return {};
    ComPtr<IXMLDOMElement> domChild = NewDomElement(childElement, owner);
    if (!domChild || !AppendDomChild(top.dom.Get(), domChild.Get())) return {};
    stack.push_back({childElement, domChild, 0});
  }
  depth_ = 0;
  return domRoot;
}

ComPtr<IXMLDOMDocument> CWinXMLParser::ToDom(const CXMLNode* node) {
  depth_ = 0;
  if (!node || node->nodeType != XML_NODE_DOCUMENT) return {};
  const CXMLElement* root = static_cast<const CXMLDocument*>(node)->GetRoot();
  if (!root) return {};
  ComPtr<IXMLDOMDocument> dom = CreateDomDocument(kClsidDomDocument);
  if (!dom) return {};

  // The declaration names UTF-8, which the DOM then uses for the file. It is given as the
  // instruction's text: not every DOM lets the attribute map of a declaration be changed.
  ComPtr<IXMLDOMProcessingInstruction> declaration;
  UniqueBstr target(L"xml");
  UniqueBstr data(L"version=\"1.0\" encoding=\"UTF-8\"");
  if (FAILED(dom->createProcessingInstruction(target.Get(), data.Get(), declaration.Receive())) ||
      !declaration)
    return {};
  if (!AppendDomChild(dom.Get(), declaration.Get())) return {};

  ComPtr<IXMLDOMElement> domRoot = ElementToDom(root, dom.Get());
  if (!domRoot || !AppendDomChild(dom.Get(), domRoot.Get())) return {};
  return dom;
}

bool CWinXMLParser::Save(const CXMLNode* document, const std::wstring& path) {
  try {
    if (!IsWritableDocument(document)) return false;
    ComForThisThread com;
    ComPtr<IXMLDOMDocument> dom = ToDom(document);
    if (!dom) return false;
    std::wstring location = path;
    for (wchar_t& c : location) {
      if (c == L'/') c = L'\\';
    }
    UniqueBstr text;
    SetBstr(text, location);
    return SUCCEEDED(dom->save(BorrowedBstrVariant(text.Get())));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void CWinXMLParser::GetXML(const CXMLNode* document, std::wstring& xml) {
  try {
    if (!IsWritableDocument(document)) return;
    ComForThisThread com;
    ComPtr<IXMLDOMDocument> dom = ToDom(document);
    if (!dom) return;
    UniqueBstr text;
    if (FAILED(dom->get_xml(text.Receive())) || !text.Get()) return;
    xml = FromBstr(text.Get());
  } catch (const std::bad_alloc&) {
  }
}

std::unique_ptr<CXMLParser> CreatePlatformXMLParser() { return std::make_unique<CWinXMLParser>(); }

}  // namespace brindle
