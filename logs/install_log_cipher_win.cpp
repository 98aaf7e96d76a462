// The install log's cipher on the system's cryptography service (MD5, DES key derivation, block
// encipherment), and its file access on the Win32 file API.
#include "logs/install_log_cipher.h"

#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

namespace brindle {

namespace {

class CWinQXLogCipher : public CQXLogCipher {
 public:
  CWinQXLogCipher(UniqueCryptProv prov, UniqueCryptHash hash, UniqueCryptKey key)
      : prov_(std::move(prov)), hash_(std::move(hash)), key_(std::move(key)) {}
  ~CWinQXLogCipher() override {
    // Hash and key go before the context that made them.
    key_.Reset();
    hash_.Reset();
  }

  bool Encrypt(const char* data, size_t size, bool final, std::string& out) override {
    // The output size is computed here rather than asked of the service: a size query with
    // the final flag resets the chaining state of some providers.
    const size_t needed = (size / 8 + (final ? 1 : 0)) * 8;
    if (!final && size % 8 != 0) return false;
    if (buffer_.size() < needed) buffer_.resize(needed);
    if (size) std::memcpy(&buffer_[0], data, size);
    DWORD length = static_cast<DWORD>(size);
    if (!CryptEncrypt(key_.Get(), 0, final ? TRUE : FALSE, 0, reinterpret_cast<BYTE*>(&buffer_[0]), &length,
                      static_cast<DWORD>(buffer_.size())))
      return false;
    out.append(buffer_.data(), length);
    return true;
  }

  bool Decrypt(std::string& piece, bool final) override {
    if (piece.empty()) return false;
    DWORD length = static_cast<DWORD>(piece.size());
    if (!CryptDecrypt(key_.Get(), 0, final ? TRUE : FALSE, 0, reinterpret_cast<BYTE*>(&piece[0]), &length))
      return false;
    piece.resize(length);
    return true;
  }

 private:
  UniqueCryptProv prov_;
  UniqueCryptHash hash_;
  UniqueCryptKey key_;
  std::string buffer_ = std::string(1152, '\0');
};

}  // namespace

std::unique_ptr<CQXLogCipher> AcquireLogKey() {
  UniqueCryptProv prov;
  if (!CryptAcquireContextW(prov.Receive(), nullptr, nullptr, PROV_RSA_FULL, 0) &&
      !CryptAcquireContextW(prov.Receive(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
    return nullptr;
  UniqueCryptHash hash;
  if (!CryptCreateHash(prov.Get(), CALG_MD5, 0, 0, hash.Receive())) return nullptr;
  if (!CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(kLogPassPhrase),
                     static_cast<DWORD>(std::strlen(kLogPassPhrase)), 0))
    return nullptr;
  UniqueCryptKey key;
  if (!CryptDeriveKey(prov.Get(), CALG_DES, hash.Get(), CRYPT_EXPORTABLE, key.Receive())) {
    hash.Reset();
    return nullptr;
  }
  return std::unique_ptr<CQXLogCipher>(new CWinQXLogCipher(std::move(prov), std::move(hash), std::move(key)));
}

// ---- file access --------------------------------------------------------------------------------

CQXLogFileReader::~CQXLogFileReader() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

bool CQXLogFileReader::Open(const std::wstring& path) {
  HANDLE h = CreateFileW(ToBackslashes(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

bool CQXLogFileReader::Size(uint64_t& size) {
  LARGE_INTEGER s{};
  if (!handle_ || !GetFileSizeEx(static_cast<HANDLE>(handle_), &s)) return false;
  size = static_cast<uint64_t>(s.QuadPart);
  return true;
}

bool CQXLogFileReader::Read(char* buffer, size_t capacity, size_t& got) {
  got = 0;
  while (got < capacity) {
    DWORD n = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), buffer + got, static_cast<DWORD>(capacity - got), &n,
                  nullptr))
      return false;
    if (n == 0) break;
    got += n;
  }
  return true;
}

CQXReplacingFileWriter::~CQXReplacingFileWriter() { Discard(); }

void CQXReplacingFileWriter::Discard() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  if (!temp_.empty()) DeleteFileW(temp_.c_str());
  temp_.clear();
}

bool CQXReplacingFileWriter::Begin(const std::wstring& path) {
  Discard();
  path_ = ToBackslashes(path);
  const std::wstring temp = ToBackslashes(TemporaryPathFor(path));
  HANDLE h =
      CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  temp_ = temp;
  return true;
}

bool CQXReplacingFileWriter::Write(const std::string& bytes) {
  if (!handle_) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                   &n, nullptr) ||
        n == 0)
      return false;
    done += n;
  }
  return true;
}

bool CQXReplacingFileWriter::Commit() {
  if (!handle_) return false;
  HANDLE h = static_cast<HANDLE>(handle_);
  const bool flushed = FlushFileBuffers(h) != FALSE;
  const bool closed = CloseHandle(h) != FALSE;
  handle_ = nullptr;
  if (!flushed || !closed) {
    Discard();
    return false;
  }
  if (!PutReplacementInPlace(path_, temp_, SystemReplaceSteps())) {
    // The temporary file is removed only when it is not the last whole copy of the log.
    if (GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) temp_.clear();
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

ReplaceSteps SystemReplaceSteps() {
  ReplaceSteps steps;
  steps.replace = [](const std::wstring& path, const std::wstring& temp, const std::wstring& backup) {
    // Replacing keeps the log's attributes and security settings.
    return ReplaceFileW(path.c_str(), temp.c_str(), backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr) != FALSE;
  };
  steps.move = [](const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  };
  return steps;
}

bool PutReplacementInPlace(const std::wstring& path, const std::wstring& temp, const ReplaceSteps& steps) {
  const std::wstring backup = CQXReplacingFileWriter::BackupPathFor(path);
  if (!PathExists(path)) return steps.move(temp, path);  // no old file to keep
  DeleteFileW(backup.c_str());                           // a stale one from an earlier run
  if (steps.replace(path, temp, backup)) {
    DeleteFileW(backup.c_str());
    return true;
  }
  // The replace failed. Either the old file is still at path (nothing moved), or it stopped
  // half-way and the old file is under the backup name: then the new one goes in its place,
  // or else the old one goes back.
  const bool oldInPlace = PathExists(path);
  if (steps.move(temp, path)) {
    DeleteFileW(backup.c_str());
    return true;
  }
  if (oldInPlace || steps.move(backup, path)) {
    DeleteFileW(backup.c_str());
    DeleteFileW(temp.c_str());
  }
  // Otherwise neither could be moved to path: both whole copies stay where they are.
  return false;
}

}  // namespace brindle
