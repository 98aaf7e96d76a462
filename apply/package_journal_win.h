// The undo journal of the running package on Windows: the journal file and the old files moved
// aside, in the protected undo folder; the journaled forms of every change the file, registry,
// shortcut and COM actions make; the undo of a failed package in the same run; and the recovery,
// at the start of the next run, of a package whose process died in the middle of it. Both undo
// walks hand each record to the action family that takes it back (CFileActions::Undo,
// RegistryUndo).
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "apply/win_machine_registry_win.h"
#include "apply/com_changes.h"
#include "apply/file_changes.h"
#include "apply/package_notes.h"
#include "apply/registry_changes.h"
#include "apply/sub_updater.h"
#include "apply/undo_journal.h"

namespace brindle {

class ProtectedFolder;

class CPackageJournal;

// The notes of the registry changes (registry_changes.h), written into the package's journal: a
// value or key its declarations noted already is not noted again.
class CPackageJournalNotes : public RegistryChangeJournal {
 public:
  explicit CPackageJournalNotes(CPackageJournal& journal) : journal_(journal) {}
  bool NoteWrite(const RegistryKeyName& key, const std::wstring& name) override;
  bool NoteDeletion(const RegistryKeyName& key, const std::wstring& name) override;
  bool NoteKeyRemoved(const RegistryKeyName& key) override;
  bool FoundMissing(const RegistryKeyName& key, const std::wstring& name) override;

 private:
  CPackageJournal& journal_;
};

// The notes of the COM changes (com_changes.h), written into the package's journal.
class CPackageJournalComNotes : public ComChangeJournal {
 public:
  explicit CPackageJournalComNotes(CPackageJournal& journal) : journal_(journal) {}
  bool NoteServer(const std::wstring& path, bool is64Bit, bool registering) override;
  bool NoteWaitingRegistration(const std::wstring& valueName) override;

 private:
  CPackageJournal& journal_;
};

// The notes of the file changes (file_changes.h), written into the package's journal: a file
// or folder its declarations noted already is not noted again.
class CPackageJournalFileNotes : public FileChangeJournal {
 public:
  explicit CPackageJournalFileNotes(CPackageJournal& journal) : journal_(journal) {}
  bool NoteMoveAside(const std::wstring& path, bool is64Bit, std::wstring& backup) override;
  bool NoteCreated(const std::wstring& path, bool isFolder, bool is64Bit) override;
  bool NoteFolderRemoved(const std::wstring& path, std::uint32_t attributes, bool is64Bit) override;
  bool NoteAttributes(const std::wstring& path, std::uint32_t attributes, bool is64Bit) override;
  bool NoteRestartMove(const std::wstring& source, const std::wstring& destination) override;

 private:
  CPackageJournal& journal_;
};

class CPackageJournal : public CQXChangeJournal, public PackageNotes, public StepDeclarations {
 public:
  // Starts the journal of a package (any journal of an earlier package must have been recovered
  // first). Null when the undo folder or the journal cannot be made: the package must then not
  // be applied.
  static std::unique_ptr<CPackageJournal> Begin(const std::wstring& appName, const std::wstring& packageFile);
  ~CPackageJournal() override;

  // Each Note writes its record before the change is made and throws CUpdaterException when it
  // cannot: a change whose undo is not on disk is not made.
  void Note(const UndoRecord& record);

  // Moves the file into the backup folder instead of deleting it (a rename on its own volume).
  // False, with the system's error, when it cannot be moved: the file is then where it was.
  bool MoveAside(const std::wstring& path, bool is64Bit, unsigned long& error);
  // The backup a file about to be moved aside goes to, its record written first (or declared
  // already by the pass).
  std::wstring BackupForMove(const std::wstring& path, bool is64Bit);
  // A folder about to be created where none is (nothing is noted when the pass declared it).
  void NoteNewFolder(const std::wstring& folder, bool is64Bit);
  // Keeps the file's present bytes in the backup folder while it stays in place, for a file
  // about to be replaced by a rename: a hard link where the volume allows it and byLink is set
  // (only for a file known to be replaced by a rename, never written in place), else a copy.
  // Nothing is kept for a missing file: its creation is journaled instead.
  void Preserve(const std::wstring& path, bool is64Bit, bool byLink);
  // A file about to be created where none exists (nothing is noted when one exists).
  void NoteNewFile(const std::wstring& path, bool is64Bit);
  // Creates the folder with every missing parent, each one journaled first.
  bool CreateFolders(const std::wstring& folder, bool is64Bit);
  void NoteFolderRemoved(const std::wstring& folder, unsigned long attributes, bool is64Bit);
  void NoteAttributes(const std::wstring& path, unsigned long attributes, bool is64Bit);
  // The value's present state (type and data, or absence), before it is written or deleted.
  void NoteValue(int root, bool is64BitView, const std::wstring& keyPath, const std::wstring& name);
  // Every key of the path that does not exist yet, before the path is created.
  void NoteMissingKeys(int root, bool is64BitView, const std::wstring& keyPath);
  void NoteKeyRemoved(int root, bool is64BitView, const std::wstring& keyPath);
  // Whether the value's noted old state (declared by the pass, or noted since) is its absence;
  // answered once for each such note.
  bool TakeFoundMissing(int root, bool is64BitView, const std::wstring& keyPath, const std::wstring& name);
  // A move queued for the next restart (an empty destination queues a deletion), as passed to
  // the system.
  void NoteRestartMove(const std::wstring& source, const std::wstring& destination);
  // A COM server about to be registered or unregistered. For an in-process server this process
  // can load, its registration is first tried in a scratch key (TraceComRegistration), and the
  // registry's present state of what it writes is journaled with it, in one write: the undo
  // gives that state back instead of running the server's own (un)registration, so a class
  // another copy registered before comes back to that copy. Any other server (a local server,
  // one of the other bitness, one whose trial fails) is registered or unregistered again by the
  // undo.
  void NoteCom(const std::wstring& path, bool is64Bit, bool registering);

  // Declarations: before a pass over many records, the undo records of all of them are
  // gathered (from the machine's state at that moment) and written in one trip to the disk;
  // the changes of the pass then find their record already written. An undo record is safe
  // to apply whether or not its change was made, so a declared change that is never made
  // costs nothing.
  bool DeclareStep(const std::function<void(StepDeclarations&)>& declare) override;
  void DeclareFile(const std::wstring& path, bool is64Bit) override;
  void DeclareValue(int root, bool is64BitView, const std::wstring& keyPath,
                    const std::wstring& name) override;
  void DeclareValueDeletion(int root, bool is64BitView, const std::wstring& keyPath,
                            const std::wstring& name) override;
  // Runs notes on the journal: false when they cannot be written.
  template <typename Notes>
  static bool Try(CPackageJournal& journal, Notes notes) {
    try {
      notes(journal);
      return true;
    } catch (const CUpdaterException&) {
      return false;
    }
  }
  FileChangeJournal& FileNotes() override { return fileNotes_; }
  RegistryChangeJournal& RegistryNotes() override { return registryNotes_; }
  ComChangeJournal& ComNotes() override { return comNotes_; }

  // The package is kept: the journal is deleted (from then on nothing will undo it); the old
  // files moved aside wait for RemoveKeptBackups.
  void Commit();
  // Takes back every change of the package, last first, each step marked done in the journal,
  // then removes the journal and backups; a journal whose undo did not fully succeed stays, with
  // its backups, for the next run (no package of the application is begun meanwhile). True when
  // every step succeeded.
  bool Undo();

 private:
  void BeginDeclarations();
  // Throws CUpdaterException when they cannot be written.
  void EndDeclarations();
  // Forgets what was gathered when the declarations cannot be completed.
  void AbandonDeclarations();
  void ForgetDeclared();
  CPackageJournal(std::unique_ptr<CQXJournalSink> sink, std::unique_ptr<ProtectedFolder> folder,
                  std::unique_ptr<ProtectedFolder> backups);
  std::wstring NextBackupPath();
  // Lets go of the folders held open while the package is applied.
  void ReleaseFolders();

  std::wstring folder_;
  std::wstring hex_;  // the journal's tag, which names its file and its backup folder
  std::wstring journalName_;
  // The undo folder and its backup folder, held open (checked to be no link, and not to be
  // renamed or removed) from the start of the package to its end.
  std::unique_ptr<ProtectedFolder> undoFolder_;
  std::unique_ptr<ProtectedFolder> backupFolder_;
  std::vector<std::unique_ptr<ProtectedFolder>> backupGroups_;  // its sub-folders
  unsigned backupNumber_ = 0;
  bool declaring_ = false;
  std::vector<UndoRecord> batch_;
  std::map<std::wstring, std::wstring> declaredMoves_;  // path -> its backup
  std::set<std::wstring> declaredNew_;                  // files, folders and keys
  std::set<std::wstring> foldersInPlace_;               // by view: found there by this step's declarations
  std::set<std::wstring> declaredValues_;
  std::set<std::wstring> missingValues_;    // values whose noted old state is their absence
  std::set<std::wstring> checkedKeyPaths_;  // key paths whose missing keys are journaled
  // The registry as the declarations read it: its keys open (or known missing) from their start
  // to their end.
  WinMachineRegistry declaredRegistry_;
  bool finished_ = false;
  CPackageJournalFileNotes fileNotes_{*this};
  CPackageJournalNotes registryNotes_{*this};
  CPackageJournalComNotes comNotes_{*this};
};

// At the start of a patch-mode run: each package left half-applied by a process that died, or
// whose undo did not finish, is undone from its journal (a torn end after the last whole write
// is dropped). Only a journal the program wrote is applied: its identity recorded under HKLM
// when its package began must match, and its records must stay within its package's bounds;
// any other is set aside as untrusted (never applied, never deleted) and logged. A journal of
// its own that cannot be read is set aside with its backups and logged, never applied in part.
// A journal whose undo fails a step stays for the next run, and no package of its application
// is begun in this one. Backups and identities whose journal is gone are removed (what cannot
// be removed now, at the next restart).
void RecoverInterruptedPackage();

// Removes the old files of the packages kept so far, on the calling thread; the next package's
// start does it too.
void RemoveKeptBackups();

}  // namespace brindle
