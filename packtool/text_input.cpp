#include "packtool/text_input.h"

#include <algorithm>

#include "sys/text.h"

namespace brindle::pack {

namespace {

bool StartsWith(const std::string& bytes, const char* mark, size_t size) {
  return bytes.size() >= size && bytes.compare(0, size, mark, size) == 0;
}

// UTF-16 code units to wide text, surrogate pairs joined where wide characters hold 32 bits;
// false for an odd byte count or a lone surrogate.
bool WideFromUtf16(const std::string& bytes, size_t from, bool bigEndian, std::wstring& text) {
  text.clear();
  if ((bytes.size() - from) % 2 != 0) return false;
  auto unit = [&](size_t at) {
    const unsigned a = static_cast<unsigned char>(bytes[at]);
    const unsigned b = static_cast<unsigned char>(bytes[at + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  for (size_t i = from; i < bytes.size(); i += 2) {
    const unsigned u = unit(i);
    if (u >= 0xDC00 && u <= 0xDFFF) return false;
    if (u < 0xD800 || u > 0xDBFF) {
      text += static_cast<wchar_t>(u);
      continue;
    }
    if (i + 3 >= bytes.size()) return false;
    const unsigned low = unit(i + 2);
    if (low < 0xDC00 || low > 0xDFFF) return false;
    i += 2;
    if constexpr (sizeof(wchar_t) == 2) {
      text += static_cast<wchar_t>(u);
      text += static_cast<wchar_t>(low);
    } else {
      text += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
    }
  }
  return true;
}

// The index of the first byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms, surrogates and values past U+10FFFF included), or npos.
size_t FirstInvalidUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const unsigned c = static_cast<unsigned char>(bytes[i]);
    size_t length = 0;
    unsigned value = 0, least = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      value = c & 0x1F;
      least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      value = c & 0x0F;
      least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      value = c & 0x07;
      least = 0x10000;
    } else return i;
    if (i + length > bytes.size()) return i;
    for (size_t k = 1; k < length; ++k) {
      const unsigned next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return i;
      value = value << 6 | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return i;
    i += length;
  }
  return std::string::npos;
}

}  // namespace

bool HasUnicodeMark(const std::string& bytes) {
  return StartsWith(bytes, "\xEF\xBB\xBF", 3) || StartsWith(bytes, "\xFF\xFE", 2) ||
         StartsWith(bytes, "\xFE\xFF", 2);
}

bool ReadAuthorText(const std::string& bytes, std::wstring& text, std::wstring& reason) {
  text.clear();
  const bool le = StartsWith(bytes, "\xFF\xFE", 2), be = StartsWith(bytes, "\xFE\xFF", 2);
  if (le || be) {
    if (WideFromUtf16(bytes, 2, be, text)) return true;
    text.clear();
    reason =
        L"the file starts as UTF-16 but is not valid UTF-16 (an odd length or a broken "
        L"surrogate pair)";
    return false;
  }
  const size_t from = StartsWith(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0;
  const std::string utf8 = bytes.substr(from);
  if (utf8.find('\0') != std::string::npos) {
    reason =
        L"the file holds zero bytes: UTF-16 without its byte-order mark? Save it as UTF-8, or "
        L"as UTF-16 with the mark";
    return false;
  }
  const size_t bad = FirstInvalidUtf8(utf8);
  if (bad != std::string::npos) {
    const size_t line = 1 + static_cast<size_t>(std::count(utf8.begin(), utf8.begin() + bad, '\n'));
    reason = L"the file is not UTF-8 text (line " + ToWideDecimal(static_cast<long long>(line)) +
             L" holds bytes of another encoding): save it as UTF-8, or as UTF-16 with a "
             L"byte-order mark";
    return false;
  }
  text = WideFromUtf8(utf8);
  return true;
}

bool DeclaresUtf8(const std::string& bytes) {
  if (bytes.compare(0, 5, "<?xml") != 0) return false;
  const size_t end = bytes.find("?>");
  const std::string declaration = bytes.substr(0, end);
  const size_t at = declaration.find("encoding");
  if (at == std::string::npos) return false;
  size_t quote = declaration.find_first_of("\"'", at);
  if (quote == std::string::npos) return false;
  const size_t close = declaration.find(declaration[quote], quote + 1);
  if (close == std::string::npos) return false;
  const std::wstring name = WideFromUtf8(declaration.substr(quote + 1, close - quote - 1));
  return EqualsIgnoreAsciiCase(name, L"UTF-8") || EqualsIgnoreAsciiCase(name, L"UTF8");
}

std::wstring LineAndColumn(const std::wstring& text, size_t at, size_t& line, size_t& column) {
  line = 1;
  column = 1;
  for (size_t i = 0; i < at && i < text.size(); ++i) {
    if (text[i] == L'\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return L"line " + ToWideDecimal(static_cast<long long>(line)) + L", column " +
         ToWideDecimal(static_cast<long long>(column));
}

}  // namespace brindle::pack
