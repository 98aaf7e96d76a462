// Putting a file that was unpacked in the admin-only work folder into its place: a rename of the
// open file (no byte written again), then the access list the new folder hands down to its
// files, set on the same handle. What the folder hands down is worked out by the system for the
// first file placed in that folder and kept: every later file placed there gets the same list,
// set as it is, without the system reading the folder's own list again for each file.
#pragma once
#ifdef _WIN32
#include <windows.h>

#include "sys/win_handles.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace brindle {

// The system's own name for a full path ("\??\C:\..." or "\??\UNC\server\share\..."), as a
// rename of an open file takes it; empty for a relative or device path.
std::wstring SystemPathName(const std::wstring& path);

// Opens the file itself (a link as a link) for a rename, sharing it with every other opener, with
// the further rights asked for; invalid with the system's error set when it cannot.
UniqueFile OpenToMove(const std::wstring& path, DWORD moreAccess = 0);

// Renames the open file (opened with DELETE) to the full path, over an existing file only when
// replaceExisting is set. False with the system's error set otherwise.
bool RenameOpenFile(HANDLE file, const std::wstring& path, bool replaceExisting);

// Renames the file (not what a link points to) through one handle: the source's name is looked
// up once, where a rename by names looks the target up more than once. A path form the handle's
// rename does not take is moved by names. False with the system's error set otherwise.
bool MoveFileThroughHandle(const std::wstring& from, const std::wstring& to, bool replaceExisting);

// The access list each folder hands down to the files placed in it, learnt once per folder.
class CQXInheritedAccess {
 public:
  // Gives the open file (opened with READ_CONTROL and WRITE_DAC), which now lies in the folder
  // whose comparison key is folderKey, the access list that folder hands down to a file, in
  // place of the one it brought. False with the system's error set when it cannot be set.
  bool Give(HANDLE file, const std::wstring& folderKey);
  // Forgets what was learnt (a folder's list may have changed between two passes).
  void Clear() { lists_.clear(); }

 private:
  std::unordered_map<std::wstring, std::vector<unsigned char>> lists_;
};

}  // namespace brindle
#endif
