// Path helpers. Paths inside the program use forward slashes; they are turned into backslashes
// only where a system call needs them.
#pragma once
#include <string>

namespace brindle {

std::wstring ToBackslashes(std::wstring path);
std::wstring ToForwardSlashes(std::wstring path);

// The folder part of a path, as the system's PathRemoveFileSpecW does it, in forward slashes.
std::wstring ParentFolder(const std::wstring& path);
// The folder part of a path in backslashes: the text before its last separator ('\' or '/'),
// with no system rule (a root keeps no separator); empty for a bare name.
std::wstring FolderOf(const std::wstring& path);
// A folder and a name joined as the system's path-append does it, in forward slashes.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
// True when a file or folder exists at the path (either kind of slash).
bool PathExists(const std::wstring& path);
#ifdef _WIN32
// The system's error code says the file or a folder of its path does not exist.
bool IsMissingPathError(unsigned long error);
#endif
// Creates the folder with every missing parent; true when the folder exists afterwards.
bool CreateFolderChain(const std::wstring& folder);

// The text after the last '/' or '\', ignoring trailing separators.
std::wstring LastPathComponent(const std::wstring& path);
// Whether the name's extension (after the last '.' of its last part) is ".exe", in any case: a
// program, which a COM server that is one registers in its own process.
bool HasExeExtension(const std::wstring& path);

}  // namespace brindle
