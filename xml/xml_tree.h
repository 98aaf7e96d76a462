// The program's own XML tree: documents, elements, attributes and text, nothing more (no
// parent links, namespaces, comments, processing instructions or CDATA). The parser builds these
// trees from files and text, and every document model reads them by walking children and
// attributes and builds new ones with the factory functions at the end of this header.
//
// Every string a node holds is owned by the node. A string that was never set reads as "no text"
// (a null pointer), which is different from an empty string.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace brindle {

// The kinds of node; no other values are ever produced.
enum : int {
  XML_NODE_DOCUMENT = 1,
  XML_NODE_ELEMENT = 2,
  XML_NODE_ATTRIBUTE = 3,
  XML_NODE_TEXT = 7,
};

// Base of every node. The base operations do nothing or return null / 0.
class CXMLNode {
 public:
  virtual ~CXMLNode() = default;
  CXMLNode(const CXMLNode&) = delete;
  CXMLNode& operator=(const CXMLNode&) = delete;

  virtual void SetName(const std::wstring& name) {}
  virtual const wchar_t* GetName() const { return nullptr; }
  virtual const std::wstring* GetNameString() const { return nullptr; }
  virtual void SetValue(const std::wstring& value) {}
  virtual const wchar_t* GetValue() const { return nullptr; }
  virtual const std::wstring* GetValueString() const { return nullptr; }
  virtual int GetTag() const { return tag_; }
  virtual unsigned GetChildCount() const { return 0; }
  virtual CXMLNode* GetChild(unsigned index) const { return nullptr; }

  const int nodeType;  // XML_NODE_*, fixed at construction

 protected:
  explicit CXMLNode(int type) : nodeType(type) {}

 private:
  int reserved_ = 0;  // kept for layout compatibility of the node records; never changed
  int tag_ = 0;
};

class CXMLElement;

// A document: owns its single root element (which may be null). It has no children of its own
// in the sense of GetChildCount; the root is reached through GetRoot.
class CXMLDocument : public CXMLNode {
 public:
  explicit CXMLDocument(std::unique_ptr<CXMLElement> root);
  ~CXMLDocument() override;
  CXMLElement* GetRoot() const { return root_.get(); }

 private:
  std::unique_ptr<CXMLElement> root_;
};

// An attribute: a name and a value.
class CXMLAttribute : public CXMLNode {
 public:
  CXMLAttribute() : CXMLNode(XML_NODE_ATTRIBUTE) {}
  void SetName(const std::wstring& name) override;
  const wchar_t* GetName() const override { return name_ ? name_->c_str() : nullptr; }
  const std::wstring* GetNameString() const override { return name_.get(); }
  void SetValue(const std::wstring& value) override;
  const wchar_t* GetValue() const override { return value_ ? value_->c_str() : nullptr; }
  const std::wstring* GetValueString() const override { return value_.get(); }

 private:
  std::unique_ptr<std::wstring> name_;
  std::unique_ptr<std::wstring> value_;
};

// A text node: text and no name.
class CXMLText : public CXMLNode {
 public:
  CXMLText() : CXMLNode(XML_NODE_TEXT) {}
  void SetValue(const std::wstring& value) override;
  const wchar_t* GetValue() const override { return text_ ? text_->c_str() : nullptr; }
  const std::wstring* GetValueString() const override { return text_.get(); }

 private:
  std::unique_ptr<std::wstring> text_;
};

// An element: a name, its attributes and its children (elements and text), in document order.
// Its value is its first child's value, so a leaf element such as <Version>1.2.0</Version> reads
// as its text; SetValue forwards to the first child the same way, or adds the first text child.
class CXMLElement : public CXMLNode {
 public:
  CXMLElement() : CXMLNode(XML_NODE_ELEMENT) {}
  // Tears the subtree down without recursion, so that very deep trees cannot exhaust the stack.
  ~CXMLElement() override;

  void SetName(const std::wstring& name) override;
  const wchar_t* GetName() const override { return name_ ? name_->c_str() : nullptr; }
  const std::wstring* GetNameString() const override { return name_.get(); }
  void SetValue(const std::wstring& value) override;
  const wchar_t* GetValue() const override;
  const std::wstring* GetValueString() const override;
  unsigned GetChildCount() const override { return static_cast<unsigned>(children_.size()); }
  CXMLNode* GetChild(unsigned index) const override;
  // Extra text an element may carry; never set by this program, so always null.
  const wchar_t* GetAuxText() const { return auxText_ ? auxText_->c_str() : nullptr; }

  unsigned GetAttributeCount() const { return static_cast<unsigned>(attributes_.size()); }
  CXMLAttribute* GetAttribute(unsigned index) const;

  // Ownership passes to the element; used by AppendChild and AppendAttribute.
  CXMLNode* TakeChild(std::unique_ptr<CXMLNode> child);
  CXMLAttribute* TakeAttribute(std::unique_ptr<CXMLAttribute> attribute);

 private:
  // The node whose value this element reads or writes: the end of the first-child chain.
  const CXMLNode* ValueHolder() const;

  std::unique_ptr<std::wstring> name_;
  std::unique_ptr<std::wstring> auxText_;
  std::vector<std::unique_ptr<CXMLAttribute>> attributes_;
  std::vector<std::unique_ptr<CXMLNode>> children_;
};

// ---- Factory and lookup -------------------------------------------------------------------

std::unique_ptr<CXMLDocument> NewDocument(std::unique_ptr<CXMLElement> root);
std::unique_ptr<CXMLElement> NewElement(const std::wstring& name);
// An element holding one text child with the text, also when the text is empty.
std::unique_ptr<CXMLElement> NewTextElement(const std::wstring& name, const std::wstring& text);
std::unique_ptr<CXMLAttribute> NewAttribute(const std::wstring& name, const std::wstring& value);
std::unique_ptr<CXMLText> NewText(const std::wstring& text);

// Appends at the end of the parent's children and hands ownership to the parent; returns the
// appended node (null, and the node is destroyed, when there is no parent).
CXMLNode* AppendChild(std::unique_ptr<CXMLNode> node, CXMLElement* parent);
// Appends at the end of the parent's attributes; a second attribute of the same name is kept.
CXMLAttribute* AppendAttribute(std::unique_ptr<CXMLAttribute> attribute, CXMLElement* parent);
// Convenience: appends a new attribute with the name and value.
CXMLAttribute* AppendAttribute(CXMLElement* parent, const std::wstring& name, const std::wstring& value);

// The first attribute, in list order, whose name equals the name exactly (case-sensitive).
CXMLAttribute* FindAttribute(const CXMLElement* element, const std::wstring& name);

// The node as an element or document, or null when it is of another kind (or null).
CXMLElement* AsElement(CXMLNode* node);
const CXMLElement* AsElement(const CXMLNode* node);
CXMLDocument* AsDocument(CXMLNode* node);

// True when the node is an element with exactly this name (case-sensitive, whole string).
bool IsElementNamed(const CXMLNode* node, const wchar_t* name);
// The node's value as text: a node without a value (an element without children) reads as
// empty text.
std::wstring ValueText(const CXMLNode* node);

}  // namespace brindle
