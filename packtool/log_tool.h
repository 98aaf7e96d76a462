// Reading and writing the enciphered install log outside the program: the same cipher and the
// same piece-by-piece framing as the program, over the exact plain bytes (the XML text in the
// ANSI code page), so that decoding and encoding again gives the file back byte for byte.
#pragma once
#include <string>

namespace brindle::pack {

// The plain bytes of an enciphered install log; false (with a reason) when the file cannot be
// read or does not decipher (wrong key, damaged or empty file).
bool DecodeLogFile(const std::wstring& path, std::string& plain, std::wstring& reason);
// True when the program's reader accepts the plain bytes as an install log (text of the ANSI
// code page, an AppLocalList document); else false with the reason.
bool InstallLogTextAccepted(const std::string& plain, std::wstring& reason);
// The plain bytes for log encode from the author's file: Unicode text (a byte-order mark, an
// XML declaration naming UTF-8 over valid UTF-8, or fromUtf8) is turned into the ANSI code page
// exactly, and refused (with the first character's line and column) when the code page lacks a
// character; other text is taken as the code page's own bytes, as log decode gives them.
bool LogPlainFromInput(const std::string& input, bool fromUtf8, std::string& plain, std::wstring& reason);
// The enciphered bytes of the plain text.
bool EncodeLogBytes(const std::string& plain, std::string& enciphered, std::wstring& reason);

}  // namespace brindle::pack
