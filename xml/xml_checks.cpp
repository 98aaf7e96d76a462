#include "xml/xml_checks.h"

#include <cstdint>
#include <cwchar>
#include <set>
#include <vector>

namespace brindle {

namespace {

// ---- the type declaration -------------------------------------------------------------------

class PrologScanner {
 public:
  explicit PrologScanner(const std::wstring& text) : t_(text) {}

  bool DeclaresEntities() {
    if (Starts(L"\ufeff")) ++i_;
    for (;;) {
      SkipBlanks();
      if (Starts(L"<?")) {
        if (!SkipPast(L"?>")) return false;  // unfinished: the parser refuses it
      } else if (Starts(L"<!--")) {
        if (!SkipPast(L"-->")) return false;
      } else if (Starts(L"<!DOCTYPE")) {
        return DoctypeDeclaresEntities();
      } else {
        // The root element ends the prolog. Anything else is text the parser refuses, or
        // bytes in an encoding not read here: refused too, rather than let through unread.
        return !(Starts(L"<") && i_ + 1 < t_.size() && CanStartName(t_[i_ + 1]));
      }
    }
  }

 private:
  // A letter, '_' or ':' of ASCII, or any character beyond it (a name's first byte in an
  // 8-bit view of UTF-8 is one too).
  static bool CanStartName(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_' || c == L':' || c >= 0x80;
  }
  bool Starts(const wchar_t* s) const { return t_.compare(i_, std::wcslen(s), s) == 0; }
  bool AtEnd() const { return i_ >= t_.size(); }
  void SkipBlanks() {
    while (!AtEnd() && (t_[i_] == L' ' || t_[i_] == L'\t' || t_[i_] == L'\r' || t_[i_] == L'\n')) ++i_;
  }
  bool SkipPast(const wchar_t* s) {
    const size_t at = t_.find(s, i_);
    if (at == std::wstring::npos) return false;
    i_ = at + std::wcslen(s);
    return true;
  }
  // Moves past a quoted literal starting at i_.
  bool SkipLiteral() {
    const wchar_t quote = t_[i_++];
    const size_t end = t_.find(quote, i_);
    if (end == std::wstring::npos) return false;
    i_ = end + 1;
    return true;
  }

  // From "<!DOCTYPE" to its '>': true at the first entity declaration of the internal subset,
  // and when the declaration cannot be read to its end.
  bool DoctypeDeclaresEntities() {
    i_ += 9;
    while (!AtEnd()) {
      const wchar_t c = t_[i_];
      if (c == L'"' || c == L'\'') {
        if (!SkipLiteral()) return true;
      } else if (c == L'>') {
        return false;
      } else if (c == L'[') {
        ++i_;
        return InternalSubsetDeclaresEntities();
      } else {
        ++i_;
      }
    }
    return true;
  }

  bool InternalSubsetDeclaresEntities() {
    for (;;) {
      SkipBlanks();
      if (AtEnd()) return true;
      if (t_[i_] == L']') return false;
      if (Starts(L"<!ENTITY")) return true;
      if (Starts(L"<!--")) {
        if (!SkipPast(L"-->")) return true;
      } else if (Starts(L"<?")) {
        if (!SkipPast(L"?>")) return true;
      } else if (Starts(L"<!")) {
        if (!SkipDeclaration()) return true;
      } else {
        return true;  // a parameter-entity reference or anything else: not read here
      }
    }
  }

  // An element, attribute-list or notation declaration, to its '>' outside literals.
  bool SkipDeclaration() {
    i_ += 2;
    while (!AtEnd()) {
      const wchar_t c = t_[i_];
      if (c == L'"' || c == L'\'') {
        if (!SkipLiteral()) return false;
      } else if (c == L'>') {
        ++i_;
        return true;
      } else {
        ++i_;
      }
    }
    return false;
  }

  const std::wstring& t_;
  size_t i_ = 0;
};

// ---- names and characters -------------------------------------------------------------------

// The code points of a wide text (UTF-16 on Windows, UTF-32 elsewhere); an unpaired surrogate
// comes out as itself and is then refused as a character.
std::vector<uint32_t> CodePoints(const std::wstring& text) {
  std::vector<uint32_t> out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      const uint32_t low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    out.push_back(c);
  }
  return out;
}

bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsNameStart(uint32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
         (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(uint32_t c) {
  return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// A name without colon.
bool IsLocalName(const std::vector<uint32_t>& cps, size_t begin, size_t end) {
  if (begin >= end || !IsNameStart(cps[begin])) return false;
  for (size_t i = begin + 1; i < end; ++i)
    if (!IsNameChar(cps[i])) return false;
  return true;
}

// A name, or a prefix, a colon and a name.
bool IsQualifiedName(const std::wstring* name) {
  if (!name) return false;
  const std::vector<uint32_t> cps = CodePoints(*name);
  size_t colon = cps.size();
  for (size_t i = 0; i < cps.size(); ++i) {
    if (cps[i] != ':') continue;
    if (colon != cps.size()) return false;  // a second colon
    colon = i;
  }
  if (colon == cps.size()) return IsLocalName(cps, 0, cps.size());
  return IsLocalName(cps, 0, colon) && IsLocalName(cps, colon + 1, cps.size());
}

bool IsXmlText(const std::wstring* text) {
  if (!text) return true;  // no text is written as none
  for (uint32_t c : CodePoints(*text))
    if (!IsXmlChar(c)) return false;
  return true;
}

bool IsWritableElement(const CXMLElement& element) {
  if (!IsQualifiedName(element.GetNameString())) return false;
  std::set<std::wstring> names;
  for (unsigned i = 0; i < element.GetAttributeCount(); ++i) {
    const CXMLAttribute* attribute = element.GetAttribute(i);
    if (!IsQualifiedName(attribute->GetNameString()) || !names.insert(*attribute->GetNameString()).second ||
        !IsXmlText(attribute->GetValueString()))
      return false;
  }
  return true;
}

}  // namespace

bool DeclaresEntities(const std::wstring& text) { return PrologScanner(text).DeclaresEntities(); }

bool DeclaresEntitiesInBytes(const std::string& bytes) {
  const auto b = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u; };
  std::wstring view;
  const bool little = (b(0) == 0xFF && b(1) == 0xFE) || (b(0) == '<' && b(1) == 0);
  const bool big = (b(0) == 0xFE && b(1) == 0xFF) || (b(0) == 0 && b(1) == '<');
  if (little || big) {
    view.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
      view += static_cast<wchar_t>(little ? b(i) | (b(i + 1) << 8) : (b(i) << 8) | b(i + 1));
  } else {
    view.reserve(bytes.size());
    size_t start = b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF ? 3 : 0;
    for (size_t i = start; i < bytes.size(); ++i) view += static_cast<wchar_t>(b(i));
  }
  return DeclaresEntities(view);
}

bool IsWritableDocument(const CXMLNode* document) {
  if (!document || document->nodeType != XML_NODE_DOCUMENT) return false;
  const CXMLElement* root = static_cast<const CXMLDocument*>(document)->GetRoot();
  if (!root) return false;
  std::vector<const CXMLElement*> pending{root};
  while (!pending.empty()) {
    const CXMLElement* element = pending.back();
    pending.pop_back();
    if (!IsWritableElement(*element)) return false;
    for (unsigned i = 0; i < element->GetChildCount(); ++i) {
      const CXMLNode* child = element->GetChild(i);
      if (child->nodeType == XML_NODE_ELEMENT) pending.push_back(static_cast<const CXMLElement*>(child));
      else if (child->nodeType != XML_NODE_TEXT || !IsXmlText(child->GetValueString())) return false;
    }
  }
  return true;
}

}  // namespace brindle
