#include "packtool/log_tool.h"

#include "logs/ansi_text.h"
#include "logs/install_log.h"
#include "logs/install_log_cipher.h"
#include "sys/text.h"
#include "packtool/file_access.h"
#include "packtool/text_input.h"

#include <cstdio>

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
    case InstallLogParse::kParsed: break;
    case InstallLogParse::kNotXml:
      reason = L"the program's reader refuses the text: it is not well-formed XML";
      return false;
    case InstallLogParse::kWrongRoot:
      reason = L"the program's reader refuses the text: its root element is not AppLocalList";
      return false;
  }
  // Characters outside the code page would come back as another character.
  if (!WideFromAnsi(plain, text)) {
    reason =
        L"the text holds bytes that are not characters of the ANSI code page the program "
        L"reads the log in";
    return false;
  }
  return true;
}

bool LogPlainFromInput(const std::string& input, bool fromUtf8, std::string& plain, std::wstring& reason) {
  plain.clear();
  const bool marked = HasUnicodeMark(input);
  // A text declared UTF-8 that is not valid UTF-8 holds the code page's bytes (log decode
  // gives the program's bytes whatever the declaration says): it is taken as it is.
  std::wstring asUtf8, why;
  const bool declaredUtf8 = DeclaresUtf8(input) && ReadAuthorText(input, asUtf8, why);
  if (!marked && !fromUtf8 && !declaredUtf8) {
    plain = input;
    return true;
  }
  std::wstring text;
  if (!ReadAuthorText(input, text, reason)) return false;
  if (AnsiFromWide(text, plain)) return true;
  plain.clear();
  // Name the first character the code page cannot hold: it is never stored as a look-alike.
  for (size_t i = 0; i < text.size(); ++i) {
    std::string one;
    if (AnsiFromWide(text.substr(i, 1), one)) continue;
    size_t line = 0, column = 0;
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(text[i]));
    reason = LineAndColumn(text, i, line, column) + L": the character " + WideFromUtf8(code) + L" (" +
             text.substr(i, 1) +
             L") is not in the ANSI code page the program reads the "
             L"log in (Windows-" +
             ToWideDecimal(ResolveAnsiCodePage(0)) + L"); it would be stored as another character";
    break;
  }
  if (reason.empty()) reason = L"the text cannot be turned into the ANSI code page";
  return false;
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
