// Reference encipherments of the install log's cipher, made with an independent DES-CBC
// implementation (openssl enc -des-cbc -K 8794ec0db3f52410 -iv 0, the key being the first 8
// bytes of the pass phrase's MD5 digest). Shared by the native and the Windows tests.
#pragma once
#include <cstdint>
#include <string>

namespace brindle::test {

// The plain text of the vectors: n lower-case ASCII letters in a fixed pattern.
inline std::string CipherPattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 31 + i / 7) % 26);
  return s;
}

inline uint64_t Fnv64(const std::string& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

struct CipherVector {
  size_t plainSize;
  size_t fileSize;
  uint64_t fnv;          // FNV-1a 64 of the whole enciphered file
  const char* firstHex;  // its first 8 bytes
  const char* lastHex;   // its last 8 bytes
};

const CipherVector kCipherVectors[] = {
    {0, 8, 0x20b9b31eee609986ull, "e7088b0b941c2961", "e7088b0b941c2961"},
    {1, 8, 0x6ae49848a4dae3d0ull, "fd17e3c7511c4c22", "fd17e3c7511c4c22"},
    {7, 8, 0xe4e14d77c4f30f0eull, "31ab751040cf1380", "31ab751040cf1380"},
    {8, 16, 0x2a13dce9e2c1265aull, "2011e6244a5ee94d", "477315f40144e6e4"},
    {1023, 1024, 0x8182512db4c62e60ull, "2011e6244a5ee94d", "50a0ac7b47316aea"},
    {1024, 1032, 0x2075f64cde9ab75eull, "2011e6244a5ee94d", "b5fb49d528de4ea2"},
    {1025, 1032, 0x693d44538a214877ull, "2011e6244a5ee94d", "01b875ac30250c52"},
    {2048, 2056, 0x1adcba52f4c24cc8ull, "2011e6244a5ee94d", "7f86a1c5bc4f3835"},
    {3000, 3008, 0x0624e2e71d2f4e9full, "2011e6244a5ee94d", "cbdd4d0028d30e53"},
};

// 'x' * 1023, U+65E5 U+672C, 'z' * 1020, U+8A9E in code page 932: both Japanese pairs of
// bytes straddle a 1024-byte piece boundary (bytes 1023/1024 and 2047/2048).
inline std::wstring JapaneseAcrossPieces() {
  return std::wstring(1023, L'x') + L"\u65e5\u672c" + std::wstring(1020, L'z') + L"\u8a9e";
}
const CipherVector kJapaneseVector = {2049, 2056, 0xfbcde07ecd10efcbull, "4d4d5d8e988c2647",
                                      "c312078f97c61de5"};

// "hello world, other key!!" enciphered with the key 0123456789abcdef.
const char kOtherKeyHex[] = "1f797e16614dab0ae5773f1bbcea5ca4ae872e8c167e3f27f00708a48c0b83ca";

}  // namespace brindle::test
