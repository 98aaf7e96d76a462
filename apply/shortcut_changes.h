// The shortcut family's changes: a link created or deleted in an all-users folder, decided from
// the machine as it is, each change's undo handed to the journal before it is made. Their undo
// records are the file family's (an old link moved aside, a new link and the folders made for it
// created, the folders a deletion emptied removed), taken back by UndoFileRecord. The program
// runs them on Windows; the tests and brindle-pack's plan run them on the in-memory machine.
#pragma once
#include <cstdint>
#include <string>

#include "apply/file_changes.h"
#include "apply/machine_files.h"
#include "apply/machine_shortcuts.h"

namespace brindle {

class CQXEnv;
class CQXShortCut;

// Longest link path the shell's link object and the file calls take (MAX_PATH less the
// terminator).
constexpr size_t kShortcutPathLimit = 259;

enum class ShortcutChangeOutcome {
  kDone,         // the line says success
  kFailed,       // the line is an error; the link is not made (create) or still there (delete)
  kFailPackage,  // an undo could not be noted: the change is not made whole and the package fails
};

// What a shortcut change did: the service-log line it leaves and its outcome.
struct ShortcutChangeResult {
  ShortcutChangeOutcome outcome = ShortcutChangeOutcome::kDone;
  bool hasLine = true;       // an undo that could not be noted before any change leaves none
  std::wstring object;       // the line's object: the link's path in forward slashes, or what
                             // names the link when no path could be made for it
  std::int32_t code = 0;     // the line's number
  bool shellResult = false;  // the number is the shell's result (HRESULT), written signed
  bool changed = false;      // the link was written, or removed
};

// One shortcut record, as the run has it.
struct ShortcutRequest {
  ShortcutPlace place = ShortcutPlace::kDesktop;
  std::wstring name;  // expanded, without ".lnk"; relative to the place's folder
  ShortcutLink link;  // expanded (the create's only)
};

// The show command for a record's WindowSize code (kWindow*).
int ShowCommandOf(int windowSize);

// The record's shortcut as the run has it: its place, and its name and link expanded.
ShortcutRequest ShortcutRequestOf(const CQXShortCut& record, const CQXEnv& env);

// The link's path (forward slashes): the place's folder joined with the name and ".lnk". Empty,
// with the result's code and object set for the error line, when the folder is unknown
// (kSysPathNotFound), the name could reach outside the folder (kSysInvalidName) or the path is
// longer than kShortcutPathLimit (206).
std::wstring ShortcutLinkPath(MachineShortcuts& shortcuts, const ShortcutRequest& request,
                              ShortcutChangeResult& failure);

// Writes the record's link: the link's folder and the target's folder made when missing (only
// the folder the target goes in: a target not there yet is placed later, and a folder of its own
// name would refuse it; a target written with a final backslash names a folder, which is made),
// an old link moved aside, the new one noted and written. A folder standing where the link goes
// is left alone and the write fails on it. The line carries the shell's result.
ShortcutChangeResult CreateShortcutRecord(MachineFiles& files, MachineShortcuts& shortcuts,
                                          FileChangeJournal& notes, const ShortcutRequest& request);

// Removes the record's link (moved aside, or deleted without a backup); a link that is not there
// counts as removed and changes nothing. sweepFolders: the folders the removal left empty go too,
// up to the protected folders (the delete section's pass).
ShortcutChangeResult DeleteShortcutRecord(MachineFiles& files, MachineShortcuts& shortcuts,
                                          FileChangeJournal& notes, const ShortcutRequest& request,
                                          bool sweepFolders);

}  // namespace brindle
