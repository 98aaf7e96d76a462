// Text conversions at the program's edges. Text is std::wstring in memory; files are UTF-8
// (XML, service log) or the ANSI code page (uninstall log, the install log's plain text).
#pragma once
#include <string>

namespace brindle {

std::string Utf8FromWide(const std::wstring& text);
// Invalid UTF-8 sequences become U+FFFD; never throws.
std::wstring WideFromUtf8(const std::string& text);

// Code page 0 means the thread's ANSI code page (on the native build: Windows-1252).
// False when the text cannot be converted exactly (a character the code page lacks, or bytes
// that are not valid in it); out is then left empty. A character the code page lacks is never
// replaced by a look-alike (no best fit: a path keeps every character or is refused).
bool AnsiFromWide(const std::wstring& text, std::string& out, unsigned codePage = 0);
bool WideFromAnsi(const std::string& text, std::wstring& out, unsigned codePage = 0);
// The number of the code page in force for a code-page argument: 0 (and the system's "thread
// ANSI" constant) give the thread's ANSI code page, the others stand for themselves.
unsigned ResolveAnsiCodePage(unsigned codePage);
// Code pages whose conversion from wide text takes no flags and no default-character check
// (UTF-7, UTF-8, the ISO-2022 family and a few others): the system refuses them there.
bool CodePageTakesNoFlags(unsigned codePage);

// ASCII-only case folding, for comparisons that must not depend on the locale.
std::wstring AsciiLower(std::wstring text);
bool EqualsIgnoreAsciiCase(const std::wstring& a, const std::wstring& b);

// UTF-16 little-endian bytes of the text (surrogate pairs for characters beyond U+FFFF).
std::string Utf16LeBytes(const std::wstring& text);

std::wstring ToWideDecimal(long long value);

}  // namespace brindle
