// The text of a package's registry value turned into the bytes the registry stores: a number for
// REG_DW, a zero-terminated UTF-16 string for REG_SZ and REG_EXPAND_SZ. The other types have no
// text form here and are refused.
#pragma once
#include <cstdint>
#include <string>

namespace brindle {

// The registry's own type numbers, so that platform-neutral code can name them.
enum : std::uint32_t { kStoredSz = 1, kStoredExpandSz = 2, kStoredDword = 4 };

// Longest value data written, in bytes (a string of 499 characters and its terminator).
constexpr size_t kRegistryDataLimit = 1000;

struct RegistryValueBytes {
  std::uint32_t type = 0;  // kStored*
  std::string bytes;       // little-endian, as the registry stores them
};

// Converts the text for the package type (kRegDword... of package/object_records.h). False
// when the text has no valid form for the type: a number that is not entirely digits of its
// base (0x hexadecimal, a leading 0 octal, else decimal), empty, signed, padded or above
// 0xFFFFFFFF; a string longer than the data limit; a type without a text form.
bool ConvertRegistryData(int packageType, const std::wstring& text, RegistryValueBytes& out);

// A REG_DWORD of the number.
RegistryValueBytes DwordValue(std::uint32_t number);

// The number rule alone: C-style base prefix, whole text consumed, 32 bits.
bool ParseRegistryDword(const std::wstring& text, std::uint32_t& value);

}  // namespace brindle
