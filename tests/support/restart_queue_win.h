// The machine's shared-library counts (HKLM SharedDLLs) and its queue of file operations for the
// next restart (PendingFileRenameOperations), read and set by the tests of the file rules.
#pragma once
#include <windows.h>

#include <string>

namespace brindle::test {

// The count of the library at path; false when there is no value.
bool SharedCount(const std::wstring& path, DWORD& count);
void SetSharedCount(const std::wstring& path, DWORD count);
void RemoveSharedCount(const std::wstring& path);
// PendingFileRenameOperations with every terminator shown as '|', or empty text.
std::wstring PendingRenames();

}  // namespace brindle::test
