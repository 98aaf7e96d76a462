#include "apply/registry_data.h"

#include "package/object_records.h"
#include "sys/text.h"

namespace brindle {

namespace {

int DigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return 99;
}

}  // namespace

RegistryValueBytes DwordValue(std::uint32_t number) {
  RegistryValueBytes v;
  v.type = kStoredDword;
  for (int i = 0; i < 4; ++i) v.bytes += static_cast<char>((number >> (8 * i)) & 0xFF);
  return v;
}

bool ParseRegistryDword(const std::wstring& text, std::uint32_t& value) {
  unsigned base = 10;
  size_t at = 0;
  if (text.size() >= 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    base = 16;
    at = 2;
  } else if (!text.empty() && text[0] == L'0') {
    base = 8;  // the leading 0 is itself an octal digit, so "0" reads as zero
  }
  if (at >= text.size()) return false;  // nothing at all, or "0x" without digits
  std::uint64_t number = 0;
  for (; at < text.size(); ++at) {
    const int digit = DigitValue(text[at]);
    if (digit >= static_cast<int>(base)) return false;
    number = number * base + static_cast<unsigned>(digit);
    if (number > 0xFFFFFFFFull) return false;
  }
  value = static_cast<std::uint32_t>(number);
  return true;
}

bool ConvertRegistryData(int packageType, const std::wstring& text, RegistryValueBytes& out) {
  switch (packageType) {
    case kRegString:
    case kRegExpandString: {
      std::string bytes = Utf16LeBytes(text);
      bytes.append(2, '\0');
      if (bytes.size() > kRegistryDataLimit) return false;
      out.type = packageType == kRegString ? kStoredSz : kStoredExpandSz;
      out.bytes = std::move(bytes);
      return true;
    }
    case kRegNone:
    case kRegBinary:
    case kRegQword:
    case kRegMultiString: return false;
    default: {  // REG_DW, and every code the package model reads as REG_DW
      std::uint32_t number = 0;
      if (!ParseRegistryDword(text, number)) return false;
      out.type = kStoredDword;
      out.bytes.clear();
      for (int shift = 0; shift < 32; shift += 8)
        out.bytes.push_back(static_cast<char>((number >> shift) & 0xFF));
      return true;
    }
  }
}

}  // namespace brindle
