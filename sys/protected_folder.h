// Folders that only the machine's administrators and the system can change. The program works
// elevated: whatever it reads back from a folder (a library it loads, a file it copies into a
// protected place, a record it trusts after a restart) must lie where no unelevated process can
// write, replace or redirect it.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "sys/win_handles.h"

namespace brindle {

enum class ProtectedFolderStatus {
  Ready,          // the folder exists, is protected and is held open
  NoBase,         // the base folder is unknown or the sub-path is empty or unsafe
  CannotCreate,   // a folder of the chain could not be created or opened
  Link,           // a folder of the chain is a link, or the chain leads somewhere else
  NotAFolder,     // a name of the chain is a file
  AlreadyExists,  // the last folder was asked to be new and exists
  CannotProtect,  // the access list could not be set
};

// Describes a status for log lines ("link", "cannot create" ...).
const wchar_t* DescribeStatus(ProtectedFolderStatus status);

// A chain of folders below a trusted base folder, each held open (without delete sharing, so
// none of them can be renamed or removed meanwhile) and checked by its handle: a real folder,
// not a link. Each folder is made, or opened, relative to the handle of its parent, and the
// handle kept is the one the folder was made or opened with. Its own folders it creates get an
// access list of their own, not inherited, granting full control to Administrators and SYSTEM
// only and passed on to everything created inside; the last folder of the chain gets that list
// even when it existed, and an existing one of its own owned by anyone else (see
// IsTrustedOwner) is given to Administrators and emptied.
class ProtectedFolder {
 public:
  enum class Mode { OpenOrCreate, CreateNew };

  // base: an existing folder that only administrators can change (the common application-data
  // folder, for instance); subPath: one or more names below it, '/' or '\' between them.
  // CreateNew: the last folder must not exist yet (it is then known to hold nothing).
  // sharedNames: how many of the first names are folders shared with other programs: made,
  // where missing, with what their parent hands down, and never changed; the folders below
  // them are this program's own.
  ProtectedFolderStatus Open(const std::wstring& base, const std::wstring& subPath,
                             Mode mode = Mode::OpenOrCreate, size_t sharedNames = 0);
  bool IsOpen() const { return !chain_.empty(); }
  // The folder's path (backslashes, no trailing separator), as read back from its handle.
  const std::wstring& Path() const { return path_; }
  // The handle of the last folder of the chain (listing, reading attributes, the access list).
  HANDLE Handle() const { return chain_.empty() ? INVALID_HANDLE_VALUE : chain_.back().Get(); }
  // A folder below this one, protected the same way and held open with it.
  ProtectedFolderStatus OpenChild(const std::wstring& name, Mode mode, ProtectedFolder& child) const;
  void Close();

 private:
  std::wstring path_;
  std::vector<UniqueFile> chain_;
};

// Opens every folder of the absolute path from below its root down, creating the missing ones
// (with the default access list) when create is set. Each is made or opened relative to its
// parent's handle (so the handle held is the folder made) without following a link,
// checked by its handle to be a folder at its own path, and held open without delete sharing
// while the next is opened, so the chain cannot be exchanged for a link meanwhile. False at the
// first link, file or failure; chain then holds nothing.
bool OpenFolderChainNoFollow(const std::wstring& path, bool create, std::vector<UniqueFile>& chain);

// An owner whose folders the program trusts: Administrators, SYSTEM, the system's installer
// service, the owner of the system folder (who controls the machine already), or the owner the
// program itself gives to what it makes (Administrators when it runs elevated; the account's
// own user only where no unelevated program runs under that account). owner: a SID.
bool IsTrustedOwner(void* owner);
// The owner of the object held by the handle, as a SID's bytes; empty when it cannot be read.
std::vector<unsigned char> OwnerOfHandle(void* handle);

// The first link (junction, symbolic link, mount point) among the folders above target, from
// below the drive's root down to target's own folder, whose owner trusted() refuses; empty text
// when there is none (a missing folder ends the walk: nothing below it can be a link yet).
// A link an administrator made (an application folder moved elsewhere with a junction) is
// followed; one anybody else made is not. target: a full path, '\' or '/'.
std::wstring UntrustedLinkAbove(const std::wstring& target, bool (*trusted)(void* owner) = IsTrustedOwner);

// The same walk for the many targets of one pass, each folder opened once: a folder found to be
// a plain folder (no link) is held open without delete sharing until Release, so that nobody can
// rename or remove it, nor put a link in its place, meanwhile; for a later target below it, it is
// only looked at again, through the held handle and by its path, for a link made where it stands
// (an empty folder can be made one). Nothing is held at or below a link (a trusted link is walked
// again for every target), nor where the folder cannot be held (another program holds it with
// delete access, or it cannot be opened to be listed: it is then walked for every target as by
// UntrustedLinkAbove). Folders held are kept apart by the file-system view they were walked in
// (is64BitView), since the same path may name two folders. The holder must Release before it
// removes or renames a held folder itself.
class LinkCheckedFolders {
 public:
  explicit LinkCheckedFolders(bool (*trusted)(void* owner) = IsTrustedOwner) : trusted_(trusted) {}
  std::wstring UntrustedLinkAbove(const std::wstring& target, bool is64BitView = false);
  void Release() { held_.clear(); }
  size_t HeldCount() const { return held_.size(); }

 private:
  bool (*trusted_)(void* owner);
  std::map<std::wstring, UniqueFile> held_;  // by view and exact path
};

// The machine's common application-data folder (backslashes); empty when it is unknown.
std::wstring CommonAppDataFolder();

// What a handle opened at a path without following links really holds. The handle's attributes
// say whether it is a reparse point (a junction, a symbolic link, a mount point); its path as
// the system reports it says whether it is still at that path (a file system that follows
// links even when asked not to, as Wine does with the host's links, is caught by that).
enum class HandleIdentity {
  Object,     // the file or folder itself, at the path
  Link,       // the link itself, at the path (deleting it removes only the link)
  Elsewhere,  // something at another path: the open went through a link
};
HandleIdentity IdentifyHandle(HANDLE handle, const std::wstring& path);
// The attributes of the handle's object (INVALID_FILE_ATTRIBUTES when they cannot be read).
DWORD AttributesOfHandle(HANDLE handle);
// True when the handle's attributes say reparse point (or cannot be read). A file system that
// follows a link even when asked not to shows no reparse point: IdentifyHandle catches that too.
bool IsLinkByHandle(HANDLE handle);
// The path the handle's object has now, in backslashes without the "\\?\" prefix; empty when
// the system cannot tell.
std::wstring FinalPathOfHandle(HANDLE handle);
// Two paths name the same place when they are equal ignoring letter case and a trailing '\'.
bool SamePath(const std::wstring& a, const std::wstring& b);

}  // namespace brindle
