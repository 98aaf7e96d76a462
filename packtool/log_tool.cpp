#include "packtool/log_tool.h"

#include "logs/ansi_text.h"
#include "logs/install_log.h"
#include "logs/install_log_cipher.h"
#include "sys/text.h"
#include "packtool/file_access.h"

namespace brindle::pack {

bool DecodeLogFile(const std::wstring& path, std::string& plain, std::wstring& reason) {
  plain.clear();
  std::string bytes;
  if (!ReadInputBytes(path, bytes)) {
    reason = L"cannot read the file";
    return false;
  }
  std::unique_ptr<CQXLogCipher> cipher = AcquireLogKey();
  if (!cipher) {
    reason = L"the cryptography service gave no key";
    return false;
  }
  size_t offset = 0;
  auto read = [&](char* buffer, size_t capacity, size_t& got) {
    got = std::min(capacity, bytes.size() - offset);
    std::copy(bytes.data() + offset, bytes.data() + offset + got, buffer);
    offset += got;
    return true;
  };
  if (!DecipherInPieces(*cipher, bytes.size(), read, plain)) {
    plain.clear();
    reason = bytes.empty() ? L"the file is empty"
                           : L"the file does not decipher with the install log's key (damaged, "
                             L"truncated or not an install log)";
    return false;
  }
  return true;
}

bool InstallLogTextAccepted(const std::string& plain, std::wstring& reason) {
  // Read as the program reads it.
  std::wstring text;
  if (!WideFromAnsiLossy(plain, text)) {
    reason = L"the program's reader cannot turn the bytes into text";
    return false;
  }
  CQXInstallLog log;
  switch (ParseInstallLog(text, log)) {
    case InstallLogParse::kParsed:
      break;
    case InstallLogParse::kNotXml:
      reason = L"the program's reader refuses the text: it is not well-formed XML";
      return false;
    case InstallLogParse::kWrongRoot:
      reason = L"the program's reader refuses the text: its root element is not AppLocalList";
      return false;
  }
  // Characters outside the code page would come back as another character.
  if (!WideFromAnsi(plain, text)) {
    reason = L"the text holds bytes that are not characters of the ANSI code page the program "
             L"reads the log in";
    return false;
  }
  return true;
}

bool EncodeLogBytes(const std::string& plain, std::string& enciphered, std::wstring& reason) {
  enciphered.clear();
  std::unique_ptr<CQXLogCipher> cipher = AcquireLogKey();
  if (!cipher) {
    reason = L"the cryptography service gave no key";
    return false;
  }
  const bool ok = EncipherInPieces(*cipher, plain, [&](const std::string& piece) {
    enciphered += piece;
    return true;
  });
  if (!ok) reason = L"the cipher refused the text";
  return ok;
}

}  // namespace brindle::pack
