// The folder where a package's undo data waits while the package is applied: below the common
// application-data folder, created with an access list that lets only Administrators and SYSTEM
// write, and checked by handle not to be a link. Never in the user's temporary folder, which
// any process of the user can change and which the program clears at every start.
#pragma once
#include <string>

namespace brindle {

// The folder (backslashes), created when missing; empty text when it cannot be made safe.
std::wstring OpenUndoFolder();

// Creates the folder (its parent must exist) with the protected access list, or, when it
// exists, puts that list on it again; false when it is a link or cannot be made safe.
bool CreateProtectedFolder(const std::wstring& folder);

}  // namespace brindle
