// Where this elevated process takes libraries from. Only the system folder is searched; other
// libraries are loaded by their full path. A library planted beside the program or in the
// current folder is never picked up by a bare name.
#pragma once
#include <string>

#include "sys/win_handles.h"

namespace brindle {

// For the whole process: the library search is limited to the system folder, the current
// folder is taken out of it, and the process ends on heap corruption instead of running on.
// Called before anything else.
void HardenProcess();
// A library of the system folder, by file name ("cabinet.dll"), never found anywhere else.
UniqueModule LoadSystemLibrary(const wchar_t* fileName);
// A library by its full path; the libraries it imports are looked for in its own folder and
// in the system folder (a hook may ship a helper library beside it).
UniqueModule LoadLibraryWithItsFolder(const std::wstring& fullPath);

}  // namespace brindle
