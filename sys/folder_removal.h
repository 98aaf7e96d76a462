// Removal of folder trees in places other processes can write to. Everything is deleted through
// handles opened without following links, each folder held open (without delete sharing) while
// its contents go, so that what was looked at is what is deleted: a link met anywhere is
// removed as a link, never entered, even when it was planted after the removal began.
#pragma once
#include <string>

#include "sys/win_handles.h"

namespace brindle {

// Deletes the folder's files and sub-folders, then the folder itself (a link at the path is
// removed as a link). What cannot be deleted stays. True when nothing is left at the path.
bool RemoveTreeNoFollow(const std::wstring& path);
// Deletes everything inside the folder held by the handle (opened with list access), leaving
// the folder. True when it is empty afterwards.
bool EmptyFolderNoFollow(HANDLE folder);
// Opens the folder at path without following a link, to list and delete it; an invalid handle
// when it is missing, not a folder or a link.
UniqueFile OpenFolderForRemoval(const std::wstring& path);
// Opens the entry called name inside the folder held by the handle: relative to the handle, so
// the folder cannot be exchanged between a check and the open, and without following a link
// at the entry. createNew makes a new file instead (failing when the name exists in any form).
UniqueFile OpenInFolder(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                        bool createNew = false);
// Makes the folder called name inside the folder held by the handle and returns the handle of
// the folder made, so no path is looked up between making and using it. It fails when the name
// exists in any form (exists is then set): an existing folder, file or link is never taken for
// the one made. descriptor: the new folder's security, or null for what its parent hands down.
UniqueFile MakeFolderIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD share, void* descriptor,
                        bool& exists);
// Removes a link itself (never what it leads to), through a handle on the link. False when
// the path is not a link or it could not be removed.
bool RemoveLinkNoFollow(const std::wstring& path);

}  // namespace brindle
