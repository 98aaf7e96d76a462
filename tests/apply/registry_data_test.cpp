// The text-to-bytes rules of registry values, run in both builds.
#include <gtest/gtest.h>

#include "apply/registry_data.h"
#include "package/object_records.h"

using namespace brindle;

namespace {

bool Dword(const std::wstring& text, std::uint32_t& value) {
  RegistryValueBytes out;
  if (!ConvertRegistryData(kRegDword, text, out)) return false;
  EXPECT_EQ(out.type, kStoredDword);
  EXPECT_EQ(out.bytes.size(), 4u);
  value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(out.bytes[i]);
  return true;
}

}  // namespace

TEST(RegistryData, NumbersReadWithTheirBasePrefixIntoFourLittleEndianBytes) {
  struct Case {
    const wchar_t* text;
    std::uint32_t value;
  } cases[] = {{L"16", 16},
               {L"0x10", 16},
               {L"0X1f", 31},
               {L"010", 8},
               {L"0", 0},
               {L"4294967295", 0xFFFFFFFFu},
               {L"0xFFFFFFFF", 0xFFFFFFFFu},
               {L"037777777777", 0xFFFFFFFFu},
               {L"1700000000", 1700000000u}};
  for (const Case& c : cases) {
    std::uint32_t value = 1;
    EXPECT_TRUE(Dword(c.text, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  RegistryValueBytes out;
  ASSERT_TRUE(ConvertRegistryData(kRegDword, L"0x01020304", out));
  EXPECT_EQ(out.bytes, std::string("\x04\x03\x02\x01", 4));
}

TEST(RegistryData, NumbersThatWouldWrapOrAreNotWhollyDigitsAreRefused) {
  // A sign, blanks, nothing, trailing letters, a digit outside the base, a bare prefix, and
  // values above 32 bits (the C library would wrap or clamp these).
  for (const wchar_t* text : {L"", L" 5", L"5 ", L"+5", L"-1", L"12abc", L"08", L"0x", L"0xG", L"4294967296",
                              L"0x100000000", L"040000000000", L"99999999999999999999999", L"1\x0660"}) {
    std::uint32_t value = 7;
    EXPECT_FALSE(Dword(text, value)) << "accepted: " << text;
  }
}

TEST(RegistryData, UnknownTypeCodesReadAsNumbers) {
  RegistryValueBytes out;
  EXPECT_TRUE(ConvertRegistryData(42, L"7", out));
  EXPECT_EQ(out.type, kStoredDword);
  EXPECT_FALSE(ConvertRegistryData(42, L"seven", out));
}

TEST(RegistryData, StringsAreZeroTerminatedUtf16WithinTheThousandByteBuffer) {
  RegistryValueBytes out;
  ASSERT_TRUE(ConvertRegistryData(kRegString, L"$SysFolder$\\a\x00e9", out));
  EXPECT_EQ(out.type, kStoredSz);
  const std::string expected("$\0S\0y\0s\0F\0o\0l\0d\0e\0r\0$\0\\\0a\0\xe9\0\0\0", 30);
  EXPECT_EQ(out.bytes, expected);

  ASSERT_TRUE(ConvertRegistryData(kRegExpandString, L"%TEMP%", out));
  EXPECT_EQ(out.type, kStoredExpandSz);
  EXPECT_EQ(out.bytes.size(), 14u);

  ASSERT_TRUE(ConvertRegistryData(kRegString, L"", out));
  EXPECT_EQ(out.bytes, std::string(2, '\0'));

  EXPECT_TRUE(ConvertRegistryData(kRegString, std::wstring(499, L'x'), out));
  EXPECT_EQ(out.bytes.size(), 1000u);
  EXPECT_FALSE(ConvertRegistryData(kRegString, std::wstring(500, L'x'), out));
  EXPECT_FALSE(ConvertRegistryData(kRegExpandString, std::wstring(500, L'x'), out));
}

TEST(RegistryData, TypesWithoutATextFormAreRefused) {
  RegistryValueBytes out;
  for (int type : {kRegNone, kRegBinary, kRegQword, kRegMultiString})
    EXPECT_FALSE(ConvertRegistryData(type, L"1", out)) << type;
}
