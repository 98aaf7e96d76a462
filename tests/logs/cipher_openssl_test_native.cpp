// Native only: the cipher against openssl run at test time, on texts of many lengths.
#include <gtest/gtest.h>

#include "logs/cipher_vectors.h"
#include "logs/install_log_cipher.h"
#include "support/scratch.h"
#include "sys/text.h"

#include <cstdio>
#include <cstdlib>
#include <random>

using namespace brindle;
using namespace brindle::test;

namespace {

bool HaveOpenssl() { return std::system("openssl version >/dev/null 2>&1") == 0; }

std::string OpensslEncipher(const std::wstring& plainPath) {
  const std::string cmd =
      "openssl enc -des-cbc -provider legacy -provider default -K 8794ec0db3f52410 "
      "-iv 0000000000000000 -in '" +
      Utf8FromWide(plainPath) + "'";
  std::string out;
  if (std::FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

}  // namespace

TEST(InstallLogCipherNative, MatchesOpensslForTextsOfManyLengths) {
  if (!HaveOpenssl()) GTEST_SKIP() << "openssl is not installed";
  ScratchFolder dir;
  std::mt19937 random(20261208);
  for (size_t size : {0u, 5u, 8u, 1016u, 1023u, 1024u, 1031u, 1032u, 2047u, 3000u, 4096u, 5555u}) {
    std::string plain(size, '\0');
    for (char& c : plain) c = static_cast<char>(0x20 + random() % 0x5f);
    ASSERT_TRUE(WriteBytes(dir.File(L"plain"), plain));
    const std::wstring text(plain.begin(), plain.end());
    ASSERT_TRUE(EncodeInstallLog(text, dir.File(L"log.dat"), 1252));
    std::string mine;
    ASSERT_TRUE(ReadBytes(dir.File(L"log.dat"), mine));
    EXPECT_EQ(Hex(mine), Hex(OpensslEncipher(dir.File(L"plain")))) << "size " << size;
  }
}
