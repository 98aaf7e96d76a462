// Copies into folders this program does not own (a folder of the user's choosing): the name is
// replaced, never the file behind it. The copy is written to a new file under a name of its
// own, made in the folder through the folder's handle, and then renamed over the name, so an
// existing file there is never opened for writing: a hard link planted at the name loses only
// its name, and the file it shares its data with, wherever it lies, stays as it was.
#pragma once
#ifdef _WIN32
#include <windows.h>

#include <string>

#include "sys/win_handles.h"

namespace brindle {

// The most a copy may hold: more is refused rather than read into memory.
const unsigned long long kMaxReplacedFileBytes = 256ull * 1024 * 1024;

// Puts a copy of source (a full path in a place only administrators can change) into the
// folder held by the handle (folderPath: its full path, backslashes) as name, replacing a file
// or link of that name. The copy keeps the source's times. Afterwards the copy is held in
// placed, open for reading and shared for reading only, and checked through that handle to be
// a file of one name holding the source's bytes: while it is held, nobody writes, renames or
// removes it. False when a step fails; a temporary file made on the way is removed.
bool ReplaceFileInFolder(HANDLE folder, const std::wstring& folderPath, const std::wstring& name,
                         const std::wstring& source, UniqueFile& placed);

}  // namespace brindle
#endif
