#include "packtool/xml_places.h"

#include "sys/text.h"

namespace brindle::pack {

namespace {

// The text as UTF-16 code units when it carries a UTF-16 byte-order mark, else byte by byte.
std::wstring Units(const std::string& bytes) {
  std::wstring units;
  const bool le = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
  const bool be = bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF';
  if (le || be) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const unsigned a = static_cast<unsigned char>(bytes[i]);
      const unsigned b = static_cast<unsigned char>(bytes[i + 1]);
      units += static_cast<wchar_t>(le ? (a | (b << 8)) : ((a << 8) | b));
    }
    return units;
  }
  units.reserve(bytes.size());
  for (char c : bytes) units += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return units;
}

}  // namespace

std::vector<size_t> StartTagLines(const std::string& bytes) {
  const std::wstring text = Units(bytes);
  std::vector<size_t> lines;
  size_t line = 1;
  auto skipTo = [&](size_t from, const std::wstring& end) {
    const size_t at = text.find(end, from);
    const size_t stop = at == std::wstring::npos ? text.size() : at + end.size();
    for (size_t i = from; i < stop; ++i)
      if (text[i] == L'\n') ++line;
    return stop;
  };
  for (size_t i = 0; i < text.size();) {
    const wchar_t c = text[i];
    if (c == L'\n') {
      ++line;
      ++i;
    } else if (c != L'<') {
      ++i;
    } else if (text.compare(i, 4, L"<!--") == 0) {
      i = skipTo(i, L"-->");
    } else if (text.compare(i, 9, L"<![CDATA[") == 0) {
      i = skipTo(i, L"]]>");
    } else if (text.compare(i, 2, L"<?") == 0) {
      i = skipTo(i, L"?>");
    } else if (text.compare(i, 2, L"<!") == 0 || text.compare(i, 2, L"</") == 0) {
      i = skipTo(i, L">");
    } else {
      lines.push_back(line);
      // Skip the tag; a '>' may stand inside a quoted attribute value.
      wchar_t quote = 0;
      for (++i; i < text.size(); ++i) {
        if (text[i] == L'\n') ++line;
        if (quote) {
          if (text[i] == quote) quote = 0;
        } else if (text[i] == L'"' || text[i] == L'\'') {
          quote = text[i];
        } else if (text[i] == L'>') {
          ++i;
          break;
        }
      }
    }
  }
  return lines;
}

PlaceIndex::PlaceIndex(const CXMLElement* root, const std::vector<size_t>& startTagLines)
    : lines_(startTagLines) {
  if (root) Visit(root, root->GetNameString() ? *root->GetNameString() : L"?", 0);
}

void PlaceIndex::Visit(const CXMLElement* element, const std::wstring& path, int depth) {
  places_[element] = {path, next_ < lines_.size() ? lines_[next_] : 0};
  ++next_;
  // A package is a few levels deep; deeper elements keep no place rather than use the stack.
  if (depth > 64) {
    std::vector<const CXMLElement*> stack{element};
    while (!stack.empty()) {
      const CXMLElement* e = stack.back();
      stack.pop_back();
      for (unsigned i = 0; i < e->GetChildCount(); ++i)
        if (const CXMLElement* child = AsElement(e->GetChild(i))) {
          ++next_;
          stack.push_back(child);
        }
    }
    return;
  }
  std::map<std::wstring, int> seen;
  for (unsigned i = 0; i < element->GetChildCount(); ++i) {
    const CXMLElement* child = AsElement(element->GetChild(i));
    if (!child) continue;
    const std::wstring name = child->GetNameString() ? *child->GetNameString() : L"?";
    Visit(child, path + L"/" + name + L"[" + ToWideDecimal(++seen[name]) + L"]", depth + 1);
  }
}

Place PlaceIndex::Of(const CXMLElement* element) const {
  auto it = places_.find(element);
  return it == places_.end() ? Place() : it->second;
}

}  // namespace brindle::pack
