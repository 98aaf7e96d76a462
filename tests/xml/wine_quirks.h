// What the tests need to know about the platform they run on.
#pragma once
#include <string>

namespace brindle {
// True when the Windows build runs under Wine rather than Windows.
bool RunningUnderWine();
// The path with every forward slash turned into a backslash.
std::wstring ToBackslashesForTest(std::wstring path);
}  // namespace brindle
