// Text files an author hands to the tool, in the encodings editors write: UTF-8 with or without
// its byte-order mark (what most editors write), UTF-16 with its byte-order mark (what Notepad
// and PowerShell write as "Unicode"). Text that is neither is refused with one clear reason,
// never read as something else.
#pragma once
#include <string>

namespace brindle::pack {

// The text of a file: UTF-16 when it starts with a UTF-16 byte-order mark, else UTF-8 (a
// byte-order mark skipped). False with the reason for bytes that are not valid in the encoding,
// and for UTF-16 without its mark (zero bytes in the text).
bool ReadAuthorText(const std::string& bytes, std::wstring& text, std::wstring& reason);

// True when the bytes start with a UTF-8 or UTF-16 byte-order mark.
bool HasUnicodeMark(const std::string& bytes);

// True when the text's XML declaration names UTF-8 as its encoding.
bool DeclaresUtf8(const std::string& bytes);

// "line L, column C" of the character at index at of the text (1-based, in characters).
std::wstring LineAndColumn(const std::wstring& text, size_t at, size_t& line, size_t& column);

}  // namespace brindle::pack
