// The install log's file form: the whole text converted to the ANSI code page at once, then
// enciphered or deciphered in pieces of 1024 bytes.
#include "logs/install_log_cipher.h"

#include "logs/ansi_text.h"

namespace brindle {

const char kLogPassPhrase[] = "Qzv_Mrk_PL_Snowfall_Keys";

bool EncodeInstallLogWith(CQXLogCipher& cipher, const std::wstring& text, const std::wstring& path,
                          unsigned codePage) {
  // A text that cannot be converted exactly (a character the code page lacks) is never stored
  // in the log's place, neither with '?' nor with a look-alike: the old log stays.
  std::string plain;
  if (!AnsiFromWidePrecomposed(text, plain, codePage) || (plain.empty() && !text.empty())) return false;
  CQXReplacingFileWriter writer;
  if (!writer.Begin(path)) return false;
  if (!EncipherInPieces(cipher, plain, [&](const std::string& piece) { return writer.Write(piece); }))
    return false;  // the writer removes its temporary file; the old log stays
  return writer.Commit();
}

bool EncodeInstallLog(const std::wstring& text, const std::wstring& path, unsigned codePage) {
  std::unique_ptr<CQXLogCipher> cipher = AcquireLogKey();
  return cipher && EncodeInstallLogWith(*cipher, text, path, codePage);
}

bool DecodeInstallLogWith(CQXLogCipher& cipher, const std::wstring& path, std::wstring& out,
                          unsigned codePage) {
  CQXLogFileReader reader;
  uint64_t size = 0;
  if (!reader.Open(path) || !reader.Size(size)) return false;
  std::string plain;
  if (!DecipherInPieces(
          cipher, size,
          [&](char* buffer, size_t capacity, size_t& got) { return reader.Read(buffer, capacity, got); },
          plain))
    return false;
  // Converted as a whole: a double-byte character may straddle two pieces.
  std::wstring text;
  if (!WideFromAnsiLossy(plain, text, codePage)) return false;
  out += text;
  return true;
}

bool DecodeInstallLog(const std::wstring& path, std::wstring& out, unsigned codePage) {
  std::unique_ptr<CQXLogCipher> cipher = AcquireLogKey();
  return cipher && DecodeInstallLogWith(*cipher, path, out, codePage);
}

}  // namespace brindle
