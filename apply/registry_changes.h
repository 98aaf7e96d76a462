// The registry family's changes, each with what takes it back: a value written or deleted and a
// key removed are decided from the registry as it is, their undo records are handed to the
// journal before the change is made, and each record's inverse is applied through the same
// machine registry. The program runs them on the Windows registry; the tests run them, and
// interrupt them at every call, on the in-memory one.
#pragma once
#include <string>
#include <vector>

#include "apply/file_decisions.h"
#include "apply/machine_registry.h"
#include "apply/package_executor.h"
#include "apply/undo_journal.h"

namespace brindle {

// The keys of the path that do not exist yet, outermost first, as RegistryKeyCreated records
// (none when the key itself exists). An error of the look-up answers its code.
unsigned long RecordMissingKeys(MachineRegistry& registry, const RegistryKeyName& key,
                                std::vector<UndoRecord>& out);
// The value's present state as a RegistryValue record: its type and bytes, or its absence (also
// for a value that cannot be read: nothing of it can then be written over either).
// kSysFileTooLarge when the value is larger than a journal record may hold.
unsigned long RecordOldValue(MachineRegistry& registry, const RegistryKeyName& key, const std::wstring& name,
                             UndoRecord& out);
// An empty key about to be removed (its path without the backslashes that may end it).
UndoRecord RecordKeyRemoved(const RegistryKeyName& key);

// Where the registry changes note their undo before they are made. Each call answers false when
// the note could not be written: the change is then not made and the package fails.
class RegistryChangeJournal {
 public:
  virtual ~RegistryChangeJournal() = default;
  // The missing keys of the path and the value's old state, before a value is written.
  virtual bool NoteWrite(const RegistryKeyName& key, const std::wstring& name) = 0;
  // The value's old state, before it is deleted.
  virtual bool NoteDeletion(const RegistryKeyName& key, const std::wstring& name) = 0;
  // An empty key, before it is removed.
  virtual bool NoteKeyRemoved(const RegistryKeyName& key) = 0;
  // Whether the value was found missing when its note was made, as far as the journal knows:
  // a replacement then has no old value to delete before its write. Each answer is given once
  // (a second write of the value in the same step deletes first). False when it does not know.
  virtual bool FoundMissing(const RegistryKeyName& key, const std::wstring& name) {
    (void)key;
    (void)name;
    return false;
  }
};

// A journal that makes each note from the registry as it is and writes it at once.
class RegistryNotesToJournal : public RegistryChangeJournal {
 public:
  RegistryNotesToJournal(MachineRegistry& registry, CQXChangeJournal& journal)
      : registry_(registry), journal_(journal) {}
  bool NoteWrite(const RegistryKeyName& key, const std::wstring& name) override;
  bool NoteDeletion(const RegistryKeyName& key, const std::wstring& name) override;
  bool NoteKeyRemoved(const RegistryKeyName& key) override;
  bool FoundMissing(const RegistryKeyName& key, const std::wstring& name) override;

 private:
  MachineRegistry& registry_;
  CQXChangeJournal& journal_;
  // The value the last write's note found missing (empty when it found it there).
  std::wstring noteFoundMissing_;
};

// Notes nothing: for a plan that changes only a registry in memory and keeps no undo.
class NothingNoted : public RegistryChangeJournal {
 public:
  bool NoteWrite(const RegistryKeyName&, const std::wstring&) override { return true; }
  bool NoteDeletion(const RegistryKeyName&, const std::wstring&) override { return true; }
  bool NoteKeyRemoved(const RegistryKeyName&) override { return true; }
};

enum class RegistryChangeOutcome {
  kDone,         // the line says what happened; the pass goes on
  kFailed,       // the line is an error; the action failed
  kFailPackage,  // the undo could not be noted: nothing changed, the package must fail
};

// What a change did: the verb and code of its service-log line, and its outcome.
struct RegistryChangeResult {
  const wchar_t* verb = L"";
  unsigned long code = kSysSuccess;
  RegistryChangeOutcome outcome = RegistryChangeOutcome::kDone;
  bool keyRemoved = false;  // a deletion also removed the key it left empty
};

// Writes the value (a replacement deletes the old one first, unless the journal found none), its
// undo noted first.
RegistryChangeResult WriteRegistryValue(MachineRegistry& registry, RegistryChangeJournal& journal,
                                        const RegistryKeyName& key, const std::wstring& name,
                                        const RegistryValueBytes& value, bool inAdd);
// Deletes the value as DecideRegistryDeletion says (and the key it leaves empty, in the delete
// section), each change's undo noted first. In the update section, which never removes the key,
// only the key's existence is looked at: the deletion's own answer says whether the value was
// there (kSysFileNotFound, the code of a missing value's line).
RegistryChangeResult DeleteRegistryValue(MachineRegistry& registry, RegistryChangeJournal& journal,
                                         const RegistryKeyName& key, const std::wstring& name, bool inUpdate);

// The shared-library counts' key (SharedDLLs), in the view the 32-bit program reads, so that
// both builds keep the same counts.
const RegistryKeyName& SharedCountsKey();
// A shared file's count as the registry holds it (absent when it has none); an error of the
// read other than a missing value answers its code.
unsigned long ReadSharedCount(MachineRegistry& registry, const std::wstring& file, SharedCount& out);
// The count raised by one after a copy of the shared file (1 when it has none), its undo noted
// first. kFailed (code kSysInvalidData) for a value of another kind, which is not the program's
// to change.
RegistryChangeResult RaiseSharedCount(MachineRegistry& registry, RegistryChangeJournal& journal,
                                      const std::wstring& file);
// The count as a file's deletion decided it: lowered, or removed with the file (a value already
// gone counts as removed); its undo noted first. Nothing for a deletion that keeps the count.
RegistryChangeResult ChangeCountForDeletion(MachineRegistry& registry, RegistryChangeJournal& journal,
                                            const std::wstring& file, const FileDeletion& deletion);

// Takes one registry record back: a value given back its old type and data (or removed when it
// did not exist), a key the package made removed while it is empty, a key it removed made again.
// 0 when done or when there was nothing to take back, else the system's error code.
unsigned long UndoRegistryRecord(MachineRegistry& registry, const UndoRecord& record);

// The registry family's side of an undo walk.
class RegistryUndo : public CQXUndoFamily {
 public:
  explicit RegistryUndo(MachineRegistry& registry) : registry_(registry) {}
  bool Undoes(UndoKind kind) const override;
  unsigned long Undo(const UndoRecord& record) override { return UndoRegistryRecord(registry_, record); }

 private:
  MachineRegistry& registry_;
};

}  // namespace brindle
