// Checks for names that come from a package (cabinet entries, file names inside INST, hook
// libraries, shortcut names, the uninstaller's version word): joined to a folder, they must stay
// inside it. The program runs elevated; a name that could reach outside is refused, never
// cleaned up.
#pragma once
#include <string>

namespace brindle {

// A relative path below a folder: not empty, no drive, no colon (no alternate data stream),
// no leading separator, no "." or ".." component, no empty component, no control character,
// and at most maxChars characters. '\' and '/' both separate components.
bool IsSafeRelativePath(const std::wstring& path, size_t maxChars = 259);
// One name: a safe relative path without any separator.
bool IsSafeSingleName(const std::wstring& name, size_t maxChars = 259);

}  // namespace brindle
