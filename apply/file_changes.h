// The file family's changes, each with what takes it back: a file record deleted or copied and
// the folders a deletion left empty are decided from the machine as it is, their undo records
// are handed to the journal before each change is made, and each record's inverse is applied
// through the same machine. The program runs them on Windows; the tests and brindle-pack's plan
// run them on the in-memory machine.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "apply/file_decisions.h"
#include "apply/machine_files.h"
#include "apply/package_executor.h"
#include "apply/registry_changes.h"
#include "apply/undo_journal.h"

namespace brindle {

class CQXDiffDistribute;

// Where the file changes note their undo before they are made. Each call answers false when the
// note could not be written: the change is then not made and the package fails.
class FileChangeJournal {
 public:
  virtual ~FileChangeJournal() = default;
  // A file about to be moved aside: the record names the place it waits in, returned in backup.
  // An empty backup with true: no backup is kept (the benchmark's build that measures what the
  // journal costs), and the file is deleted.
  virtual bool NoteMoveAside(const std::wstring& path, bool is64Bit, std::wstring& backup) = 0;
  // A file or folder about to be created where none is.
  virtual bool NoteCreated(const std::wstring& path, bool isFolder, bool is64Bit) = 0;
  virtual bool NoteFolderRemoved(const std::wstring& path, std::uint32_t attributes, bool is64Bit) = 0;
  virtual bool NoteAttributes(const std::wstring& path, std::uint32_t attributes, bool is64Bit) = 0;
  // A move about to be queued for the restart, named as the system is given it.
  virtual bool NoteRestartMove(const std::wstring& source, const std::wstring& destination) = 0;
};

// A journal that writes each note at once, its backups numbered in the given folder.
class FileNotesToJournal : public FileChangeJournal {
 public:
  FileNotesToJournal(CQXChangeJournal& journal, std::wstring backupFolder)
      : journal_(journal), backupFolder_(std::move(backupFolder)) {}
  bool NoteMoveAside(const std::wstring& path, bool is64Bit, std::wstring& backup) override;
  bool NoteCreated(const std::wstring& path, bool isFolder, bool is64Bit) override;
  bool NoteFolderRemoved(const std::wstring& path, std::uint32_t attributes, bool is64Bit) override;
  bool NoteAttributes(const std::wstring& path, std::uint32_t attributes, bool is64Bit) override;
  bool NoteRestartMove(const std::wstring& source, const std::wstring& destination) override;

 private:
  CQXChangeJournal& journal_;
  std::wstring backupFolder_;
  unsigned backups_ = 0;
};

enum class FileChangeOutcome {
  kDone,         // the line says what happened (its code may be an error the pass goes past)
  kFailed,       // the line is an error; the action failed
  kFailPackage,  // an undo could not be noted, or the change cannot be made whole: the package fails
};

// What a file change did: the code of its service-log line and its outcome, and what the run
// keeps from it.
struct FileChangeResult {
  unsigned long code = kSysSuccess;
  FileChangeOutcome outcome = FileChangeOutcome::kDone;
  bool written = true;                // a line is written (a file kept as newer writes none)
  bool queuedAtRestart = false;       // the change waits for the next restart
  bool targetExisted = false;         // a copy found a file at the target before it
  const wchar_t* lineVerb = nullptr;  // a line of another verb than the record's (REPLACE_AT_RESTART)
  std::wstring lineObject;            // the line's object when it is not the record's target
};

// One file record of a deletion pass, as the run has it.
struct FileDeletionRequest {
  std::wstring target;  // expanded
  bool is64Bit = false;
  int delInfo = 0;        // the record's kDelInfo*
  bool inUpdate = false;  // the update section's pass (UPDATE_FILE_DELETE), which keeps counts
};

// Deletes the record's file as DecideFileDeletion says from its shared count: held, its count
// lowered, or moved aside (its count going with it); a file in use is queued for deletion at the
// restart (read-only cleared first), which queuedAtRestart tells. Each change's undo is noted
// first.
FileChangeResult DeleteFileRecord(MachineFiles& files, FileChangeJournal& fileNotes,
                                  MachineRegistry& registry, RegistryChangeJournal& registryNotes,
                                  const FileDeletionRequest& request);

// One file record of a copy pass, as the run has it.
struct FileCopyRequest {
  std::wstring source;  // the package's file (INST\...)
  std::wstring target;  // expanded
  bool is64Bit = false;
  int delInfo = 0;
  bool inAdd = false;            // ADD_FILE: an installed file that is not older stays
  bool raisesCount = false;      // a shared file the uninstall log gets a new line for
  bool pendingDeletion = false;  // the target's deletion is queued for the restart already
  bool sourceUsedOnce = true;    // no other record names the source: it may be moved
  bool folderExists = false;     // the target's folder is known to exist (found or made this step)
};

// Copies the record's file: an installed file that is not older stays in the add section (a
// shared one still counts), an old one is moved aside, missing folders are made, the new file is
// placed, and one that cannot be placed (in use) is put beside the target and queued to replace
// it at the restart. Each change's undo is noted first.
FileChangeResult CopyFileRecord(MachineFiles& files, FileChangeJournal& fileNotes, MachineRegistry& registry,
                                RegistryChangeJournal& registryNotes, const FileCopyRequest& request);

// What moving a file out of its place came to.
enum class FileAside { kMoved, kNothingThere, kRefused, kNotNoted };

// Moves the file at the path aside, its backup noted first (without a backup it is deleted,
// read-only or not); a folder in its place refuses (kSysAccessDenied). known: the path's state as
// the caller just looked at it. error: the system's code of a refusal or of a missing file.
FileAside MoveFileAside(MachineFiles& files, FileChangeJournal& notes, const std::wstring& path, bool is64Bit,
                        unsigned long& error, const PathState* known = nullptr);

// Makes the folder and its missing parents, outermost first, each noted before it is made. A
// folder that cannot be made is left to what is then placed in it to tell; false only when a
// note could not be written.
bool MakeFolders(MachineFiles& files, FileChangeJournal& notes, const std::wstring& folder, bool is64Bit);

// Removes the folder and then its parents while they are empty and lie strictly inside one of
// the protected folders, never one of those; each removal's undo noted first.
FileChangeOutcome RemoveEmptyFolders(MachineFiles& files, FileChangeJournal& notes,
                                     const std::wstring& folder,
                                     const std::vector<std::wstring>& protectedFolders, bool is64Bit);

// The same for every folder a pass emptied, each folder looked at once for all of them: a folder
// above several of them is looked at after all that lies below it, only when something below it
// went. What it removes is what RemoveEmptyFolders removes from each in turn, except the folders
// a later step of the package places files in and the folders above them (refilled): those stay
// as they are, with their own access list, attributes and times, where removing them would only
// have them made again, new, a moment later.
FileChangeOutcome RemoveEmptiedFolders(MachineFiles& files, FileChangeJournal& notes,
                                       const std::vector<std::wstring>& folders,
                                       const std::vector<std::wstring>& refilled,
                                       const std::vector<std::wstring>& protectedFolders, bool is64Bit);

// The folders the package's copy steps (its update and add groups) place files in, in one view:
// the refilled folders of RemoveEmptiedFolders. Every copy step comes after every delete step,
// and each copy not skipped for its view makes its target's folder or finds it there. target: a
// record's expanded target, empty when it has none; bothViews: false on a system without a 64-bit
// file system, whose 64-bit records are skipped.
std::vector<std::wstring> FoldersCopiesFill(const CQXDiffDistribute& package, bool is64Bit, bool bothViews,
                                            const std::function<std::wstring(const CQXFile&)>& target);

// Takes one file record back: an old file put back from its backup, a new file or folder removed,
// a removed folder made again with its attributes, attributes given back, a queued move taken
// out of the queue. 0 when done or when there was nothing to take back, else the system's error.
unsigned long UndoFileRecord(MachineFiles& files, const UndoRecord& record);

// The file family's side of an undo walk (the COM servers' records are not its).
class FileUndo : public CQXUndoFamily {
 public:
  explicit FileUndo(MachineFiles& files) : files_(files) {}
  bool Undoes(UndoKind kind) const override;
  unsigned long Undo(const UndoRecord& record) override { return UndoFileRecord(files_, record); }

 private:
  MachineFiles& files_;
};

}  // namespace brindle
