#include "packtool/xml_places.h"

#include <algorithm>
#include <cctype>
#include <cstring>

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

namespace brindle::pack {

namespace {

// The first '&' of bytes[from, to) that starts no reference the parser resolves: the five
// predefined entities and character references (a document with a DOCTYPE may define more).
// npos when every one is sound; else its position, with why.
size_t BadReference(const std::string& bytes, size_t from, size_t to, bool doctype, std::wstring& why) {
  to = std::min(to, bytes.size());
  for (size_t at = bytes.find('&', from); at != std::string::npos && at < to; at = bytes.find('&', at + 1)) {
    size_t end = at + 1;
    while (end < to && end - at <= 32 &&
           (std::isalnum(static_cast<unsigned char>(bytes[end])) || bytes[end] == '#' || bytes[end] == '_' ||
            bytes[end] == '-' || bytes[end] == '.'))
      ++end;
    const std::string name = bytes.substr(at + 1, end - at - 1);
    if (end >= to || bytes[end] != ';' || name.empty()) {
      why = L"a '&' that starts no reference (write &amp; for the sign itself)";
      return at;
    }
    if (name[0] == '#') {
      const bool hex = name.size() > 1 && name[1] == 'x';
      const std::string digits = name.substr(hex ? 2 : 1);
      bool ok = !digits.empty();
      for (const char c : digits)
        ok = ok && (hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                        : std::isdigit(static_cast<unsigned char>(c)) != 0);
      if (!ok) {
        why = L"the character reference &" + WideFromUtf8(name) + L"; is not a number";
        return at;
      }
      continue;
    }
    if (name == "lt" || name == "gt" || name == "amp" || name == "quot" || name == "apos" || doctype)
      continue;
    why = L"the entity &" + WideFromUtf8(name) +
          L"; is not defined (XML knows &lt; &gt; &amp; &quot; &apos; and character references "
          L"such as &#233;)";
    return at;
  }
  return std::string::npos;
}

// The first fault among the attributes of a start tag, bytes[from, to) being what follows
// its name: an attribute without a value, or a value without quotes. npos when sound.
size_t BadAttribute(const std::string& bytes, size_t from, size_t to, bool doctype, std::wstring& why) {
  auto blank = [&](size_t k) { return std::isspace(static_cast<unsigned char>(bytes[k])) != 0; };
  size_t k = from;
  while (k < to) {
    while (k < to && blank(k)) ++k;
    if (k >= to || bytes[k] == '/') return std::string::npos;
    const size_t nameAt = k;
    while (k < to && !blank(k) && bytes[k] != '=' && bytes[k] != '/') ++k;
    const std::wstring name = WideFromUtf8(bytes.substr(nameAt, k - nameAt));
    while (k < to && blank(k)) ++k;
    if (k >= to || bytes[k] != '=') {
      why = L"the attribute " + name + L" has no value (write " + name + L"=\"...\")";
      return nameAt;
    }
    ++k;
    while (k < to && blank(k)) ++k;
    if (k >= to || (bytes[k] != '"' && bytes[k] != '\'')) {
      why = L"the value of the attribute " + name + L" is not in quotes";
      return k < to ? k : nameAt;
    }
    const size_t close = bytes.find(bytes[k], k + 1);
    if (close == std::string::npos || close >= to) return std::string::npos;  // said elsewhere
    const size_t bad = BadReference(bytes, k + 1, close, doctype, why);
    if (bad != std::string::npos) return bad;
    k = close + 1;
  }
  return std::string::npos;
}

}  // namespace

bool FindMalformation(const std::string& bytes, XmlMalformation& found) {
  // UTF-16 text is left to the parser's own verdict.
  if (bytes.size() >= 2 &&
      ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
    return false;
  size_t line = 1, lineStart = 0;
  auto at = [&](size_t pos, const std::wstring& what) {
    for (size_t i = lineStart; i < pos && i < bytes.size(); ++i)
      if (bytes[i] == '\n') {
        ++line;
        lineStart = i + 1;
      }
    found.line = line;
    // Columns count characters: UTF-8 continuation bytes are not counted.
    size_t column = 1;
    for (size_t i = lineStart; i < pos && i < bytes.size(); ++i)
      if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) ++column;
    found.column = column;
    found.what = what;
    return true;
  };
  struct Open {
    std::string name;
    size_t pos;
  };
  std::vector<Open> open;
  bool rootSeen = false;
  const bool doctype = bytes.find("<!DOCTYPE") != std::string::npos;
  std::wstring why;
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != '<') {
      if (open.empty() && rootSeen && !std::isspace(static_cast<unsigned char>(bytes[i])))
        return at(i, L"text after the root element's end");
      if (bytes[i] == '&' && !open.empty()) {
        const size_t bad = BadReference(bytes, i, bytes.find('<', i), doctype, why);
        if (bad == i) return at(i, why);
      }
      ++i;
      continue;
    }
    auto skipTo = [&](const char* end) {
      const size_t e = bytes.find(end, i);
      return e == std::string::npos ? std::string::npos : e + std::strlen(end);
    };
    size_t next;
    if (bytes.compare(i, 4, "<!--") == 0) {
      next = skipTo("-->");
      if (next == std::string::npos) return at(i, L"a comment that is never closed (-->)");
    } else if (bytes.compare(i, 9, "<![CDATA[") == 0) {
      next = skipTo("]]>");
      if (next == std::string::npos) return at(i, L"a CDATA section that is never closed");
    } else if (bytes.compare(i, 2, "<?") == 0) {
      next = skipTo("?>");
      if (next == std::string::npos) return at(i, L"a declaration that is never closed (?>)");
    } else if (bytes.compare(i, 2, "<!") == 0) {
      next = skipTo(">");
      if (next == std::string::npos) return at(i, L"a declaration that is never closed");
    } else {
      const bool closing = i + 1 < bytes.size() && bytes[i + 1] == '/';
      size_t j = i + (closing ? 2 : 1);
      const size_t nameStart = j;
      while (j < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[j])) && bytes[j] != '>' &&
             bytes[j] != '/' && bytes[j] != '<')
        ++j;
      const std::string name = bytes.substr(nameStart, j - nameStart);
      if (name.empty()) return at(i, L"a '<' that starts no tag (write &lt; in text)");
      char quote = 0;
      while (j < bytes.size() && (quote || (bytes[j] != '>' && bytes[j] != '<'))) {
        if (quote && bytes[j] == quote) quote = 0;
        else if (!quote && (bytes[j] == '"' || bytes[j] == '\'')) quote = bytes[j];
        ++j;
      }
      if (j >= bytes.size() || bytes[j] == '<')
        return at(i, L"the tag <" + WideFromUtf8(closing ? "/" + name : name) + L" is never closed with >");
      if (!closing) {
        const size_t bad = BadAttribute(bytes, nameStart + name.size(), j, doctype, why);
        if (bad != std::string::npos) return at(bad, why);
      }
      const bool selfClosing = !closing && bytes[j - 1] == '/';
      next = j + 1;
      if (closing) {
        if (open.empty()) return at(i, L"the end tag </" + WideFromUtf8(name) + L"> closes no element");
        if (open.back().name != name) {
          size_t openLine = 1;
          for (size_t k = 0; k < open.back().pos; ++k) openLine += bytes[k] == '\n';
          return at(i, L"the end tag </" + WideFromUtf8(name) + L"> does not match <" +
                           WideFromUtf8(open.back().name) + L"> opened on line " +
                           ToWideDecimal(static_cast<long long>(openLine)));
        }
        open.pop_back();
      } else {
        if (open.empty() && rootSeen) return at(i, L"a second root element <" + WideFromUtf8(name) + L">");
        if (!selfClosing) open.push_back({name, i});
        rootSeen = true;
      }
    }
    i = next;
  }
  if (!open.empty()) return at(open.back().pos, L"<" + WideFromUtf8(open.back().name) + L"> is never closed");
  return false;
}

}  // namespace brindle::pack
