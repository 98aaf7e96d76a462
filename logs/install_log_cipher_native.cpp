// The install log's cipher on nettle (MD5, DES-CBC with PKCS#5 padding), byte for byte what the
// system's cryptography service produces, and its file access on the C library.
#include "logs/install_log_cipher.h"

#include "sys/paths.h"
#include "sys/text.h"

#include <nettle/cbc.h>
#include <nettle/des.h>
#include <nettle/md5.h>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

namespace {

class CNettleLogCipher : public CQXLogCipher {
 public:
  explicit CNettleLogCipher(const uint8_t key[DES_KEY_SIZE]) {
    uint8_t k[DES_KEY_SIZE];
    std::memcpy(k, key, DES_KEY_SIZE);
    des_fix_parity(DES_KEY_SIZE, k, k);  // DES ignores the parity bits; set them as derivation does
    des_set_key(&ctx_, k);
    std::memset(iv_, 0, sizeof iv_);
  }

  bool Encrypt(const char* data, size_t size, bool final, std::string& out) override {
    std::string block(data, size);
    if (final) {
      const size_t pad = DES_BLOCK_SIZE - size % DES_BLOCK_SIZE;
      block.append(pad, static_cast<char>(pad));
    } else if (size % DES_BLOCK_SIZE != 0) {
      return false;
    }
    std::string result(block.size(), '\0');
    if (!block.empty())
      cbc_encrypt(&ctx_, reinterpret_cast<nettle_cipher_func*>(des_encrypt), DES_BLOCK_SIZE, iv_,
                  block.size(), reinterpret_cast<uint8_t*>(&result[0]),
                  reinterpret_cast<const uint8_t*>(block.data()));
    out += result;
    return true;
  }

  bool Decrypt(std::string& piece, bool final) override {
    if (piece.empty() || piece.size() % DES_BLOCK_SIZE != 0) return false;
    std::string plain(piece.size(), '\0');
    cbc_decrypt(&ctx_, reinterpret_cast<nettle_cipher_func*>(des_decrypt), DES_BLOCK_SIZE, iv_, piece.size(),
                reinterpret_cast<uint8_t*>(&plain[0]), reinterpret_cast<const uint8_t*>(piece.data()));
    if (final) {
      const unsigned pad = static_cast<unsigned char>(plain.back());
      if (pad == 0 || pad > DES_BLOCK_SIZE) return false;
      for (size_t i = plain.size() - pad; i < plain.size(); ++i)
        if (static_cast<unsigned char>(plain[i]) != pad) return false;
      plain.resize(plain.size() - pad);
    }
    piece.swap(plain);
    return true;
  }

 private:
  des_ctx ctx_;
  uint8_t iv_[DES_BLOCK_SIZE];
};

std::string NativePath(const std::wstring& path) { return Utf8FromWide(ToForwardSlashes(path)); }

}  // namespace

std::unique_ptr<CQXLogCipher> AcquireLogKey() {
  md5_ctx md5;
  md5_init(&md5);
  md5_update(&md5, std::strlen(kLogPassPhrase), reinterpret_cast<const uint8_t*>(kLogPassPhrase));
  uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&md5, sizeof digest, digest);
  // A DES key takes the first 8 bytes of the digest.
  return std::unique_ptr<CQXLogCipher>(new CNettleLogCipher(digest));
}

// ---- file access --------------------------------------------------------------------------------

CQXLogFileReader::~CQXLogFileReader() {
  if (handle_) std::fclose(static_cast<std::FILE*>(handle_));
}

bool CQXLogFileReader::Open(const std::wstring& path) {
  std::FILE* f = std::fopen(NativePath(path).c_str(), "rb");
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  handle_ = f;
  return true;
}

bool CQXLogFileReader::Size(uint64_t& size) {
  struct stat st;
  if (!handle_ || fstat(fileno(static_cast<std::FILE*>(handle_)), &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool CQXLogFileReader::Read(char* buffer, size_t capacity, size_t& got) {
  std::FILE* f = static_cast<std::FILE*>(handle_);
  got = std::fread(buffer, 1, capacity, f);
  return !std::ferror(f);
}

CQXReplacingFileWriter::~CQXReplacingFileWriter() { Discard(); }

void CQXReplacingFileWriter::Discard() {
  if (handle_) std::fclose(static_cast<std::FILE*>(handle_));
  handle_ = nullptr;
  if (!temp_.empty()) std::remove(NativePath(temp_).c_str());
  temp_.clear();
}

bool CQXReplacingFileWriter::Begin(const std::wstring& path) {
  Discard();
  path_ = path;
  const std::wstring temp = TemporaryPathFor(path);
  std::FILE* f = std::fopen(NativePath(temp).c_str(), "wb");
  if (!f) return false;
  handle_ = f;
  temp_ = temp;
  return true;
}

bool CQXReplacingFileWriter::Write(const std::string& bytes) {
  if (!handle_) return false;
  return std::fwrite(bytes.data(), 1, bytes.size(), static_cast<std::FILE*>(handle_)) == bytes.size();
}

bool CQXReplacingFileWriter::Commit() {
  if (!handle_) return false;
  std::FILE* f = static_cast<std::FILE*>(handle_);
  const bool flushed = std::fflush(f) == 0 && fsync(fileno(f)) == 0;
  const bool closed = std::fclose(f) == 0;
  handle_ = nullptr;
  if (!flushed || !closed || std::rename(NativePath(temp_).c_str(), NativePath(path_).c_str()) != 0) {
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

}  // namespace brindle
