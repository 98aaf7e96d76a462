// ANSI code page conversions for the files shared with the maker's installer (the install log's
// plain text, the uninstall log's lines). The lossy pair does what the system's conversion does
// with default flags, where a character the code page cannot hold is replaced instead of failing
// the whole text; it serves reading only. Text written for the installer goes through the exact
// conversion, which refuses such a character.
// Code page 0 is the thread's ANSI code page (native build: Windows-1252). Both answer false
// only when the code page itself cannot be used; out is then empty, and a caller must not
// store or use it as the text.
#pragma once
#include <string>

namespace brindle {

// Wide text to the code page, exactly: composite characters are first turned into precomposed
// ones where the platform does that, and then every character must have its own form in the
// code page. False (out empty) when one has none: it is never replaced by '?' or a look-alike.
bool AnsiFromWidePrecomposed(const std::wstring& text, std::string& out, unsigned codePage = 0);

// Wide text to the code page; composite characters are first turned into precomposed ones
// where the platform and the code page do that, and characters the code page lacks become its
// default character ('?').
bool AnsiFromWideLossy(const std::wstring& text, std::string& out, unsigned codePage = 0);

// Code-page bytes to wide text; bytes that are not valid in the code page become a
// replacement character instead of failing the conversion.
bool WideFromAnsiLossy(const std::string& bytes, std::wstring& out, unsigned codePage = 0);

}  // namespace brindle
