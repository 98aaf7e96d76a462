// How the uninstall log's entries are matched with the paths the updater works on: as Windows
// compares paths, ordinally and without letter case. A file path also treats '/' and '\' as
// one separator and a run of separators as one, so that "C:\App\\bin\a.dll" (a folder variable
// ending in '\' followed by "\bin") names the same file as "C:\App\bin\a.dll". Two paths name
// the same entry exactly when their keys are equal.
#pragma once
#include <string>

namespace brindle {

// The comparison key of a file or folder path: separators made single backslashes (a leading
// "\\" of a network path kept), then upper case.
std::wstring FilePathKey(const std::wstring& path);
// The comparison key of a registry key path: upper case only ('/' is an ordinary character in
// a key name).
std::wstring RegistryPathKey(const std::wstring& path);

// Platform side: every UTF-16 unit in the upper case the system's ordinal comparison without
// case uses (no locale rules; the length never changes).
std::wstring UpperOrdinal(std::wstring text);

}  // namespace brindle
