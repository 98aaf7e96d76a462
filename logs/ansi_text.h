// ANSI code page conversions that never refuse, for the files shared with the maker's installer
// (the install log's plain text, the uninstall log's lines): what the system's conversion does
// with default flags. Code page 0 is the thread's ANSI code page (native build: Windows-1252).
#pragma once
#include <string>

namespace brindle {

// Wide text to the code page; composite characters are first turned into precomposed ones
// where the platform does that, and characters the code page lacks become its default
// character ('?').
std::string AnsiFromWideLossy(const std::wstring& text, unsigned codePage = 0);

// Code-page bytes to wide text; bytes that are not valid in the code page become a
// replacement character instead of failing the conversion.
std::wstring WideFromAnsiLossy(const std::string& bytes, unsigned codePage = 0);

}  // namespace brindle
