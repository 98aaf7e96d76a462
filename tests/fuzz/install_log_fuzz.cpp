// Fuzz target of the install log: the first byte chooses what the rest is. 0: an enciphered
// file, deciphered piece by piece and, when that succeeds, parsed. Otherwise: the deciphered
// XML text itself, parsed; a log that parses is written, enciphered, deciphered and parsed
// again to the same entries.
#include "logs/ansi_text.h"
#include "logs/install_log.h"
#include "logs/install_log_cipher.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace brindle;

namespace {

bool Decipher(const std::string& file, std::string& plain) {
  std::unique_ptr<CQXLogCipher> cipher = AcquireLogKey();
  if (!cipher) std::abort();
  size_t offset = 0;
  return DecipherInPieces(
      *cipher, file.size(),
      [&](char* buffer, size_t capacity, size_t& got) {
        got = std::min(capacity, file.size() - offset);
        std::memcpy(buffer, file.data() + offset, got);
        offset += got;
        return true;
      },
      plain);
}

bool Encipher(const std::string& plain, std::string& file) {
  std::unique_ptr<CQXLogCipher> cipher = AcquireLogKey();
  if (!cipher) std::abort();
  return EncipherInPieces(*cipher, plain, [&](const std::string& piece) {
    file += piece;
    return true;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string plain;
  if (data[0] == 0) {
    if (!Decipher(rest, plain)) return 0;
  } else {
    plain = rest;
  }
  std::wstring xml;
  if (!WideFromAnsiLossy(plain, xml, 1252)) std::abort();
  CQXInstallLog log;
  if (ParseInstallLog(xml, log) != InstallLogParse::kParsed) return 0;
  std::wstring written;
  SerialiseInstallLog(log, written);
  if (written.empty()) return 0;  // a text the writer refuses came from the input
  std::string ansi, file, back;
  if (!AnsiFromWideLossy(written, ansi, 1252) || !Encipher(ansi, file) || !Decipher(file, back) ||
      back != ansi)
    std::abort();
  std::wstring again;
  CQXInstallLog reread;
  if (!WideFromAnsiLossy(back, again, 1252) || ParseInstallLog(again, reread) != InstallLogParse::kParsed ||
      reread.entries.size() != log.entries.size())
    std::abort();
  return 0;
}
