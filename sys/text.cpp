#include "sys/text.h"

namespace brindle {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
  if (sizeof(wchar_t) == 2 && c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

}  // namespace

std::string Utf8FromWide(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2) c &= 0xFFFF;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring WideFromUtf8(const std::string& text) {
  static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  std::wstring out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    const int extra = b < 0x80             ? 0
                      : (b & 0xE0) == 0xC0 ? 1
                      : (b & 0xF0) == 0xE0 ? 2
                      : (b & 0xF8) == 0xF0 ? 3
                                           : -1;
    if (extra == 0) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    if (extra < 0 || n - i <= static_cast<size_t>(extra)) {
      AppendWide(out, 0xFFFD);
      ++i;
      continue;
    }
    char32_t c = b & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (p[i + k] & 0x3F);
    }
    if (!ok || c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      AppendWide(out, 0xFFFD);
      ++i;
      continue;
    }
    AppendWide(out, c);
    i += extra + 1;
  }
  return out;
}

std::wstring AsciiLower(std::wstring text) {
  for (auto& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

bool EqualsIgnoreAsciiCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

std::string Utf16LeBytes(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  auto put = [&bytes](char32_t u) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>((u >> 8) & 0xFF);
  };
  for (wchar_t c : text) {
    char32_t v = static_cast<char32_t>(c);
    if (sizeof(wchar_t) == 4 && v >= 0x10000) {
      v -= 0x10000;
      put(0xD800 + (v >> 10));
      put(0xDC00 + (v & 0x3FF));
    } else {
      put(v & 0xFFFF);
    }
  }
  return bytes;
}

std::wstring ToWideDecimal(long long value) { return std::to_wstring(value); }

bool CodePageTakesNoFlags(unsigned codePage) {
  switch (codePage) {
    case 42:
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case 65000:
    case 65001: return true;
    default: return codePage >= 57002 && codePage <= 57011;
  }
}

}  // namespace brindle
