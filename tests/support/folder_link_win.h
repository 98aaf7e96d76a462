// Planting a link to a folder, as someone who wants this program to empty a folder that is not
// its own would plant one in a folder anybody can write to.
#pragma once
#include <string>

namespace brindle::test {

// Makes link (which must not exist) a link to the existing folder target: a junction where the
// file system makes one, else, under Wine, a symbolic link of the host, which Wine shows as a
// reparse point. False when neither can be made.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);
// Makes link (which must not exist) a link to the existing file target: a symbolic link where the
// system lets this account make one, else, under Wine, a symbolic link of the host. False when
// neither can be made.
bool MakeFileLink(const std::wstring& link, const std::wstring& target);
// Removes the link itself (never what it points to); true when it is gone (or was never there).
bool RemoveFolderLink(const std::wstring& link);
// Makes the existing empty folder a link to target where it stands, as anyone allowed to
// write its attributes could, whoever holds it open: a junction set on the folder itself, or,
// under Wine, the host's folder moved aside (to the same name plus ".moved") and a symbolic link
// of the host put at its name. False when neither can be done.
bool TurnFolderIntoLink(const std::wstring& folder, const std::wstring& target);
// True when the path is a link (a reparse point).
bool IsFolderLink(const std::wstring& path);

}  // namespace brindle::test
