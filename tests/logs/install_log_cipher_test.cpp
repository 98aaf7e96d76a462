#include <gtest/gtest.h>

#include "logs/cipher_vectors.h"
#include "logs/install_log_cipher.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/text.h"

#include <memory>

using namespace brindle;
using namespace brindle::test;

namespace {

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string ReadAll(const std::wstring& path) {
  std::string bytes;
  EXPECT_TRUE(ReadBytes(path, bytes)) << "cannot read the file";
  return bytes;
}

void ExpectMatches(const std::string& file, const CipherVector& v) {
  ASSERT_EQ(file.size(), v.fileSize) << "plain size " << v.plainSize;
  EXPECT_EQ(Hex(file.substr(0, 8)), v.firstHex) << "plain size " << v.plainSize;
  EXPECT_EQ(Hex(file.substr(file.size() - 8)), v.lastHex) << "plain size " << v.plainSize;
  EXPECT_EQ(Fnv64(file), v.fnv) << "plain size " << v.plainSize;
}

// Passes every call to the real cipher except the one numbered failAt (0-based), which fails.
class FailingCipher : public CQXLogCipher {
 public:
  explicit FailingCipher(int failAt) : real_(AcquireLogKey()), fail_at_(failAt) {}
  bool Encrypt(const char* data, size_t size, bool final, std::string& out) override {
    return calls_++ != fail_at_ && real_->Encrypt(data, size, final, out);
  }
  bool Decrypt(std::string& piece, bool final) override {
    return calls_++ != fail_at_ && real_->Decrypt(piece, final);
  }
  int calls_ = 0;

 private:
  std::unique_ptr<CQXLogCipher> real_;
  int fail_at_;
};

}  // namespace

TEST(InstallLogCipher, FilesAreTheCbcEnciphermentOfTheWholeTextAcrossPieces) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"TamekOstrelLog.dat");
  for (const CipherVector& v : kCipherVectors) {
    const std::wstring text = Widen(CipherPattern(v.plainSize));
    ASSERT_TRUE(EncodeInstallLog(text, path, 1252)) << v.plainSize;
    ExpectMatches(ReadAll(path), v);
    std::wstring back = L"kept:";
    ASSERT_TRUE(DecodeInstallLog(path, back, 1252)) << v.plainSize;
    EXPECT_EQ(back, L"kept:" + text) << "decoding appends to what out held";
  }
  EXPECT_FALSE(FileExists(CQXReplacingFileWriter::TemporaryPathFor(path)));
}

TEST(InstallLogCipher, PiecesAreFramedAtTheLengthsTheInstallerExpects) {
  // The framing alone, on a cipher that records what it is asked: 1024-byte pieces, the last
  // one shorter (an empty one after a whole number of pieces) and marked final.
  struct Recorder : CQXLogCipher {
    std::vector<std::pair<size_t, bool>> calls;
    bool Encrypt(const char*, size_t size, bool final, std::string& out) override {
      calls.emplace_back(size, final);
      out.append(size, 'e');
      return true;
    }
    bool Decrypt(std::string&, bool) override { return false; }
  };
  Recorder r;
  size_t written = 0;
  ASSERT_TRUE(EncipherInPieces(r, std::string(2048, 'a'), [&](const std::string& s) {
    written += s.size();
    return true;
  }));
  ASSERT_EQ(r.calls.size(), 3u);
  EXPECT_EQ(r.calls[0], std::make_pair(size_t{1024}, false));
  EXPECT_EQ(r.calls[1], std::make_pair(size_t{1024}, false));
  EXPECT_EQ(r.calls[2], std::make_pair(size_t{0}, true));
  EXPECT_EQ(written, 2048u);
}

TEST(InstallLogCipher, DamagedForeignEmptyAndMissingFilesFailToDecode) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"log.dat");
  std::wstring out;

  ASSERT_TRUE(WriteBytes(path, FromHex(kOtherKeyHex)));
  EXPECT_FALSE(DecodeInstallLog(path, out, 1252)) << "a file from another key";

  ASSERT_TRUE(EncodeInstallLog(Widen(CipherPattern(1025)), path, 1252));
  const std::string good = ReadAll(path);
  std::string damaged = good;
  damaged[damaged.size() - 9] ^= 0x01;  // flips a byte of the padding
  ASSERT_TRUE(WriteBytes(path, damaged));
  EXPECT_FALSE(DecodeInstallLog(path, out, 1252)) << "damaged padding";
  damaged = good;
  damaged.back() ^= 0x40;
  ASSERT_TRUE(WriteBytes(path, damaged));
  EXPECT_FALSE(DecodeInstallLog(path, out, 1252)) << "damaged last block";
  ASSERT_TRUE(WriteBytes(path, good.substr(0, good.size() - 3)));
  EXPECT_FALSE(DecodeInstallLog(path, out, 1252)) << "not a whole number of blocks";

  ASSERT_TRUE(WriteBytes(path, std::string()));
  EXPECT_FALSE(DecodeInstallLog(path, out, 1252)) << "an empty file";
  EXPECT_FALSE(DecodeInstallLog(dir.File(L"missing.dat"), out, 1252));
  EXPECT_TRUE(out.empty()) << "failed decodes append nothing";
}

TEST(InstallLogCipher, DoubleByteCharactersAcrossPieceBoundariesSurviveEncodeAndDecode) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"log.dat");
  const std::wstring text = JapaneseAcrossPieces();
  ASSERT_TRUE(EncodeInstallLog(text, path, 932));
  ExpectMatches(ReadAll(path), kJapaneseVector);
  std::wstring back;
  ASSERT_TRUE(DecodeInstallLog(path, back, 932));
  EXPECT_EQ(back, text);
  // And a second save of what was read writes the same bytes again.
  ASSERT_TRUE(EncodeInstallLog(back, path, 932));
  EXPECT_EQ(Fnv64(ReadAll(path)), kJapaneseVector.fnv);
}

TEST(InstallLogCipher, ATextWithCharactersOutsideTheCodePageIsRefusedAndTheOldLogStays) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"log.dat");
  ASSERT_TRUE(EncodeInstallLog(L"<a>caf\u00e9</a>", path, 1252));
  const std::string before = ReadAll(path);
  // Neither a character without any form (stored as '?' by a default conversion) nor one with a
  // look-alike (best fit would store S for S-circumflex) is ever written.
  for (const wchar_t* text : {L"<a>caf\u00e9 \u65e5</a>", L"<a>\u015cuite</a>", L"<a>\u2126</a>"}) {
    EXPECT_FALSE(EncodeInstallLog(text, path, 1252)) << Utf8FromWide(text);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_FALSE(FileExists(CQXReplacingFileWriter::TemporaryPathFor(path)));
  }
  std::wstring back;
  ASSERT_TRUE(DecodeInstallLog(path, back, 1252));
  EXPECT_EQ(back, L"<a>caf\u00e9</a>");
#ifdef _WIN32
  // A letter followed by its combining accent is stored as the precomposed letter.
  ASSERT_TRUE(EncodeInstallLog(L"<a>cafe\u0301</a>", path, 1252));
  back.clear();
  ASSERT_TRUE(DecodeInstallLog(path, back, 1252));
  EXPECT_EQ(back, L"<a>caf\u00e9</a>");
#endif
}

TEST(InstallLogCipher, AFailedSaveLeavesThePreviousLogByteForByte) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"TamekOstrelLog.dat");
  ASSERT_TRUE(EncodeInstallLog(Widen(CipherPattern(3000)), path, 1252));
  const std::string before = ReadAll(path);

  // The cipher fails on the third piece: two pieces were already written somewhere.
  FailingCipher failing(2);
  EXPECT_FALSE(EncodeInstallLogWith(failing, Widen(CipherPattern(5000)), path, 1252));
  EXPECT_EQ(failing.calls_, 3);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_FALSE(FileExists(CQXReplacingFileWriter::TemporaryPathFor(path)));

  // The temporary file cannot be made (a folder stands in its place).
  const std::wstring blocker = CQXReplacingFileWriter::TemporaryPathFor(path);
  ASSERT_TRUE(CreateFolderChain(blocker));
  EXPECT_FALSE(EncodeInstallLog(Widen(CipherPattern(10)), path, 1252));
  EXPECT_EQ(ReadAll(path), before);
  RemoveTree(blocker);

  // The text cannot be converted at all (no such code page): nothing, not an empty text, is
  // stored in the log's place.
  EXPECT_FALSE(EncodeInstallLog(Widen(CipherPattern(10)), path, 12345));
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_FALSE(FileExists(CQXReplacingFileWriter::TemporaryPathFor(path)));
}

TEST(InstallLogCipher, ASaveIntoAMissingFolderFailsAndCreatesNothing) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"absent/TamekOstrelLog.dat");
  EXPECT_FALSE(EncodeInstallLog(L"<AppLocalList/>", path, 1252));
  EXPECT_FALSE(FileExists(dir.File(L"absent")));
}
