// The install log is stored enciphered, so that it cannot be read or edited as plain XML: DES in
// CBC mode with an all-zero initialisation vector and PKCS#5 padding, over the XML text in the
// ANSI code page, with a key derived from a fixed pass phrase (the first 8 bytes of its MD5
// digest), so every installation shares one key with the maker's installer. The text is
// processed in pieces of 1024 bytes with the chaining carried from piece to piece, so the file is
// exactly the CBC encipherment of the whole text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace brindle {

// The pass phrase, hashed without a terminating zero.
extern const char kLogPassPhrase[];
constexpr size_t kLogPieceBytes = 1024;

// A DES-CBC cipher whose chaining state runs across calls. One object enciphers or deciphers
// one file.
class CQXLogCipher {
 public:
  virtual ~CQXLogCipher() = default;
  // Enciphers size bytes (a multiple of 8 unless final) and appends the result to out; the
  // final call adds the padding block.
  virtual bool Encrypt(const char* data, size_t size, bool final, std::string& out) = 0;
  // Deciphers piece in place; the final call checks and removes the padding (false when the
  // padding is damaged or the piece is not a whole number of blocks).
  virtual bool Decrypt(std::string& piece, bool final) = 0;
};

// The key through the platform's cryptography service: the default key container of the full
// RSA provider type (a new one is created once when it cannot be opened), an MD5 hash of the
// pass phrase and a DES key derived from it. Null when any step fails.
std::unique_ptr<CQXLogCipher> AcquireLogKey();

// Enciphers the ANSI bytes piece by piece, handing each enciphered piece to sink.
template <typename Sink>
bool EncipherInPieces(CQXLogCipher& cipher, const std::string& plain, Sink&& sink) {
  std::string out;
  out.reserve(kLogPieceBytes + 128);
  size_t offset = 0;
  for (;;) {
    const size_t size = plain.size() - offset < kLogPieceBytes ? plain.size() - offset : kLogPieceBytes;
    // A piece shorter than a whole piece is the last; a text whose length is a multiple of
    // 1024 therefore ends with an empty piece, which yields one block of padding.
    const bool final = size < kLogPieceBytes;
    out.clear();
    if (!cipher.Encrypt(plain.data() + offset, size, final, out)) return false;
    if (!sink(out)) return false;
    offset += size;
    if (final) return true;
  }
}

// Deciphers a file of the given size whose bytes come from read(buffer, capacity, got),
// appending the plain bytes to plain. False for an empty file, a read error or a failed
// decipher call.
template <typename Reader>
bool DecipherInPieces(CQXLogCipher& cipher, uint64_t size, Reader&& read, std::string& plain) {
  if (size == 0) return false;
  const uint64_t last = size / kLogPieceBytes - (size % kLogPieceBytes == 0 ? 1 : 0);
  std::string piece;
  for (uint64_t i = 0; i <= last; ++i) {
    piece.resize(kLogPieceBytes);
    size_t got = 0;
    if (!read(&piece[0], kLogPieceBytes, got)) return false;
    piece.resize(got);
    const bool final = i == last;
    if (!final && got != kLogPieceBytes) return false;  // the file shrank while being read
    if (!cipher.Decrypt(piece, final)) return false;
    plain += piece;
  }
  return true;
}

// Whole-file operations. The code page is the ANSI code page of the text (0: the thread's).
// The text is converted as a whole, so a double-byte character is never split at a piece
// boundary.
//
// Writes the enciphered text to a temporary file in the log's folder and puts it in place of
// the log only when it is complete: a save that cannot complete leaves the old log as it was.
// A text with a character the code page cannot hold is refused (false), never stored with a
// replacement or a look-alike.
bool EncodeInstallLog(const std::wstring& text, const std::wstring& path, unsigned codePage = 0);
bool EncodeInstallLogWith(CQXLogCipher& cipher, const std::wstring& text, const std::wstring& path,
                          unsigned codePage = 0);
// Appends the deciphered text to out (only when the whole file deciphered).
bool DecodeInstallLog(const std::wstring& path, std::wstring& out, unsigned codePage = 0);
bool DecodeInstallLogWith(CQXLogCipher& cipher, const std::wstring& path, std::wstring& out,
                          unsigned codePage = 0);

// Platform side of the file access.
// Reads a file with sharing for readers allowed.
class CQXLogFileReader {
 public:
  CQXLogFileReader() = default;
  ~CQXLogFileReader();
  CQXLogFileReader(const CQXLogFileReader&) = delete;
  CQXLogFileReader& operator=(const CQXLogFileReader&) = delete;
  bool Open(const std::wstring& path);
  bool Size(uint64_t& size);
  bool Read(char* buffer, size_t capacity, size_t& got);

 private:
  void* handle_ = nullptr;
};

// Writes a replacement of a file: the bytes go to "<path>.tmp" in the same folder, and Commit
// flushes it and puts it in place of the file. Destroying an uncommitted writer removes the
// temporary file.
class CQXReplacingFileWriter {
 public:
  CQXReplacingFileWriter() = default;
  ~CQXReplacingFileWriter();
  CQXReplacingFileWriter(const CQXReplacingFileWriter&) = delete;
  CQXReplacingFileWriter& operator=(const CQXReplacingFileWriter&) = delete;
  bool Begin(const std::wstring& path);
  bool Write(const std::string& bytes);
  bool Commit();
  static std::wstring TemporaryPathFor(const std::wstring& path) { return path + L".tmp"; }
  // Where the old file waits while the system replaces it.
  static std::wstring BackupPathFor(const std::wstring& path) { return path + L".bak"; }

 private:
  void Discard();
  std::wstring path_;
  std::wstring temp_;
  void* handle_ = nullptr;
};

#ifdef _WIN32
// The system calls that put a finished replacement in place (backslash paths). The system's
// replace moves the old file to the backup name first; it can stop half-way, with the old
// file under the backup name and the new one still under its temporary name.
struct ReplaceSteps {
  std::function<bool(const std::wstring& path, const std::wstring& temp, const std::wstring& backup)> replace;
  std::function<bool(const std::wstring& from, const std::wstring& to)> move;
};
ReplaceSteps SystemReplaceSteps();
// Puts temp in place of path (or at path when there is no file yet). Whatever step fails, one
// whole file stays: the new one at path, or the old one back at path, or, when not even the
// old one can be moved back, both the old one (backup name) and the new one (temp) are kept.
// True when the new file is at path.
bool PutReplacementInPlace(const std::wstring& path, const std::wstring& temp, const ReplaceSteps& steps);
#endif

}  // namespace brindle
