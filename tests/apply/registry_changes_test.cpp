// The registry changes with their undo, on the in-memory registry: the records made from the
// registry as it is, each record's inverse, and a package's registry passes and shared-file
// counts cut off by a crash
// before every change the machine or the journal sees, then recovered from the journal as the
// next run recovers it (its undo itself cut off at every step and repeated): the registry ends
// exactly as it was before the package.
#include <gtest/gtest.h>

#include <memory>

#include "apply/file_decisions.h"
#include "apply/memory_registry.h"
#include "apply/registry_data.h"
#include "apply/package_executor.h"
#include "apply/registry_changes.h"
#include "package/object_records.h"
#include "sys/text.h"
#include "support/forwarding_registry.h"
#include "support/power_cut.h"
#include "support/registry_values.h"

namespace brindle {
namespace {

RegistryKeyName Key(const std::wstring& path, bool is64 = true) {
  return RegistryKeyName{kRegRootLocalMachine, is64, path};
}

RegistryValueBytes Text(const std::wstring& text) { return RegistryText(text); }

// ---- records and their inverses -----------------------------------------------------------------

TEST(RegistryChanges, RecordsSayWhatIsMissingAndWhatWasThere) {
  MemoryRegistry r;
  r.WriteValue(Key(L"Software\\Tamek"), L"V", Text(L"old"), false);

  std::vector<UndoRecord> missing;
  ASSERT_EQ(RecordMissingKeys(r, Key(L"Software\\Tamek\\App\\\\Deep\\"), missing), kSysSuccess);
  ASSERT_EQ(missing.size(), 2u);  // outermost first; the doubled backslash names no key
  EXPECT_EQ(missing[0].path, L"Software\\Tamek\\App");
  EXPECT_EQ(missing[1].path, L"Software\\Tamek\\App\\\\Deep");
  EXPECT_EQ(missing[0].kind, UndoKind::RegistryKeyCreated);
  missing.clear();
  ASSERT_EQ(RecordMissingKeys(r, Key(L"SOFTWARE\\TAMEK"), missing), kSysSuccess);
  EXPECT_TRUE(missing.empty());

  UndoRecord old;
  ASSERT_EQ(RecordOldValue(r, Key(L"Software\\Tamek"), L"v", old), kSysSuccess);
  EXPECT_TRUE(old.existed);
  EXPECT_EQ(old.attributes, kStoredSz);
  EXPECT_EQ(old.data, Text(L"old").bytes);
  ASSERT_EQ(RecordOldValue(r, Key(L"Software\\Nowhere"), L"v", old), kSysSuccess);
  EXPECT_FALSE(old.existed);

  // A value a journal record cannot hold is refused rather than kept cut.
  RegistryValueBytes huge;
  huge.type = 3;
  huge.bytes.assign(kMaxJournalRecordBytes / 2 + 1, 'x');
  r.WriteValue(Key(L"Software\\Tamek"), L"Huge", huge, false);
  EXPECT_EQ(RecordOldValue(r, Key(L"Software\\Tamek"), L"Huge", old), kSysFileTooLarge);
}

TEST(RegistryChanges, EachRecordIsTakenBackAndAKeyFilledSinceStays) {
  MemoryRegistry r;
  r.WriteValue(Key(L"Software\\Tamek"), L"V", Text(L"new"), false);
  UndoRecord value;
  value.kind = UndoKind::RegistryValue;
  value.root = kRegRootLocalMachine;
  value.is64Bit = true;
  value.path = L"Software\\Tamek";
  value.name = L"V";
  value.existed = true;
  value.attributes = kStoredSz;
  value.data = Text(L"old").bytes;
  EXPECT_EQ(UndoRegistryRecord(r, value), kSysSuccess);
  RegistryValueBytes read;
  ASSERT_EQ(r.ReadValue(Key(L"Software\\Tamek"), L"V", read), kSysSuccess);
  EXPECT_EQ(read.bytes, Text(L"old").bytes);

  value.existed = false;  // it did not exist: removed, and again without complaint
  EXPECT_EQ(UndoRegistryRecord(r, value), kSysSuccess);
  EXPECT_EQ(r.ReadValue(Key(L"Software\\Tamek"), L"V", read), kSysFileNotFound);
  EXPECT_EQ(UndoRegistryRecord(r, value), kSysSuccess);

  UndoRecord created = value;
  created.kind = UndoKind::RegistryKeyCreated;
  created.path = L"Software\\Tamek\\Made";
  r.WriteValue(Key(created.path), L"Theirs", Text(L"t"), false);
  EXPECT_EQ(UndoRegistryRecord(r, created), kSysDirNotEmpty);
  EXPECT_TRUE(r.HasKey(Key(created.path)));
  r.DeleteValue(Key(created.path), L"Theirs");
  EXPECT_EQ(UndoRegistryRecord(r, created), kSysSuccess);
  EXPECT_FALSE(r.HasKey(Key(created.path)));

  UndoRecord removed = created;
  removed.kind = UndoKind::RegistryKeyRemoved;
  EXPECT_EQ(UndoRegistryRecord(r, removed), kSysSuccess);
  EXPECT_TRUE(r.HasKey(Key(created.path)));
}

// ---- a package's registry passes cut off anywhere -----------------------------------------------

MemoryRegistry Installed() {
  MemoryRegistry r;
  r.WriteValue(Key(L"Software\\Tamek\\App"), L"Version", Text(L"1.0"), false);
  r.WriteValue(Key(L"Software\\Tamek\\App"), L"Path", Text(L"C:\\Old"), false);
  r.WriteValue(Key(L"Software\\Tamek\\Shared"), L"Keep", Text(L"k"), false);
  r.WriteValue(Key(L"Software\\Tamek\\Shared"), L"Drop", Text(L"d"), false);
  r.WriteValue(Key(L"Software\\Tamek\\Lone"), L"Only", Text(L"o"), false);
  r.WriteValue(Key(L"Software\\Tamek\\App", false), L"Version", Text(L"1.0 (32)"), false);
  r.WriteValue(SharedCountsKey(), L"C:\\Common\\kept.dll", DwordValue(3), false);
  r.WriteValue(SharedCountsKey(), L"C:\\Common\\last.dll", DwordValue(1), false);
  return r;
}

// One value of the package: written (in the add or update section) or deleted (in the update or
// delete section); or a shared file's count, raised by its copy or changed by its deletion.
enum class Change { kWrite, kDelete, kRaiseCount, kDeleteSharedFile };
struct PackageValue {
  Change change;
  bool inAddOrUpdate;  // write: the add section; deletion: the update section
  RegistryKeyName key;
  std::wstring name;
  std::wstring data;
};

std::vector<PackageValue> Package() {
  return {
      {Change::kWrite, true, Key(L"Software\\Tamek\\New\\Deep"), L"A", L"1"},
      {Change::kWrite, true, Key(L"Software\\Tamek\\App"), L"Added", L"a"},
      {Change::kWrite, false, Key(L"Software\\Tamek\\App"), L"Version", L"2.0"},
      {Change::kWrite, false, Key(L"Software\\Tamek\\App", false), L"Version", L"2.0 (32)"},
      {Change::kRaiseCount, true, SharedCountsKey(), L"C:\\Common\\new.dll", L""},
      {Change::kRaiseCount, true, SharedCountsKey(), L"C:\\Common\\kept.dll", L""},
      {Change::kDelete, true, Key(L"Software\\Tamek\\App"), L"Path", L""},
      {Change::kDelete, false, Key(L"Software\\Tamek\\Lone"), L"Only", L""},
      {Change::kDelete, false, Key(L"Software\\Tamek\\Shared"), L"Drop", L""},
      {Change::kDelete, false, Key(L"Software\\Tamek\\Missing"), L"X", L""},
      {Change::kDeleteSharedFile, false, SharedCountsKey(), L"C:\\Common\\kept.dll", L""},
      {Change::kDeleteSharedFile, false, SharedCountsKey(), L"C:\\Common\\last.dll", L""},
  };
}

// The package's values applied in order, each change's undo journaled first; the verbs of the
// lines.
std::vector<std::wstring> ApplyPackage(MachineRegistry& registry, CQXChangeJournal& journal) {
  RegistryNotesToJournal notes(registry, journal);
  std::vector<std::wstring> verbs;
  for (const PackageValue& v : Package()) {
    RegistryChangeResult result;
    switch (v.change) {
      case Change::kWrite:
        result = WriteRegistryValue(registry, notes, v.key, v.name, Text(v.data), v.inAddOrUpdate);
        break;
      case Change::kDelete:
        result = DeleteRegistryValue(registry, notes, v.key, v.name, v.inAddOrUpdate);
        break;
      case Change::kRaiseCount: result = RaiseSharedCount(registry, notes, v.name); break;
      case Change::kDeleteSharedFile: {
        SharedCount count;
        EXPECT_EQ(ReadSharedCount(registry, v.name, count), kSysSuccess);
        result = ChangeCountForDeletion(registry, notes, v.name,
                                        DecideFileDeletion(kDelInfoReference, false, count));
        break;
      }
    }
    EXPECT_NE(result.outcome, RegistryChangeOutcome::kFailPackage);
    verbs.push_back(std::wstring(result.verb) + L"," + std::to_wstring(result.code));
  }
  return verbs;
}

// The next run's recovery: the journal read back from the disk, its records undone last first
// by the registry family, each step marked done in the journal. False when a step failed.
bool Recover(MachineRegistry& registry, std::string& disk, Power& power) {
  const JournalContents read = ParseJournal(disk);
  EXPECT_NE(read.state, JournalState::Unreadable);
  disk.resize(read.wholeBytes);  // a torn end is cut before anything is appended
  CQXChangeJournal reopened(std::make_unique<CutSink>(disk, power));
  reopened.Adopt(read.records);
  RegistryUndo family(registry);
  return UndoByFamilies(read.records, {&family},
                        [&](const std::vector<size_t>& indexes) { return reopened.MarkUndone(indexes); });
}

TEST(RegistryChanges, ThePackageAppliedWholeSaysEachVerbAndLeavesWhatItMeans) {
  MemoryRegistry r = Installed();
  std::string disk;
  Power power;
  CutRegistry machine(r, power);
  CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
  ASSERT_TRUE(journal.Start());
  const std::vector<std::wstring> expected = {
      L"ADD_REG,0",           L"ADD_REG,0",    L"UPDATE_REG_ADD,0",
      L"UPDATE_REG_ADD,0",    L",0",           L",0",  // the counts of two copies
      L"UPDATE_REG_DELETE,0", L"DELETE_REG,0", L"UPDATE_REG_DELETE,0",
      L"UPDATE_REG_DELETE,2", L",0",           L",0"};  // the counts of two deletions
  EXPECT_EQ(ApplyPackage(machine, journal), expected);
  EXPECT_TRUE(r.HasKey(Key(L"Software\\Tamek\\New\\Deep")));
  EXPECT_FALSE(r.HasKey(Key(L"Software\\Tamek\\Lone")));
  EXPECT_TRUE(r.HasKey(Key(L"Software\\Tamek\\Shared")));
  RegistryValueBytes read;
  ASSERT_EQ(r.ReadValue(Key(L"Software\\Tamek\\App", false), L"Version", read), kSysSuccess);
  EXPECT_EQ(read.bytes, Text(L"2.0 (32)").bytes);
  // A new shared file counts 1; one counted 3 is raised to 4, then lowered by its deletion to 3;
  // the last user's deletion takes the count with the file.
  ASSERT_EQ(r.ReadValue(SharedCountsKey(), L"c:\\common\\new.dll", read), kSysSuccess);
  EXPECT_EQ(read.bytes, DwordValue(1).bytes);
  ASSERT_EQ(r.ReadValue(SharedCountsKey(), L"C:\\Common\\kept.dll", read), kSysSuccess);
  EXPECT_EQ(read.bytes, DwordValue(3).bytes);
  EXPECT_EQ(r.ReadValue(SharedCountsKey(), L"C:\\Common\\last.dll", read), kSysFileNotFound);

  // Undone whole in the same run, then once more by a run that finds the journal still there.
  EXPECT_TRUE(Recover(machine, disk, power));
  EXPECT_EQ(r.Listing(), Installed().Listing());
  EXPECT_TRUE(Recover(machine, disk, power));
  EXPECT_EQ(r.Listing(), Installed().Listing());
}

// Every change of the apply, and then every change of the recovery's own undo, is the last one
// before the process ends; the recovery after that (and after a second end) leaves the registry
// exactly as it was.
TEST(RegistryChanges, ACrashBeforeAnyChangeOfTheApplyOrOfItsUndoEndsWithTheRegistryAsBefore) {
  const std::wstring before = Installed().Listing();
  int applyChanges = 0;
  {
    MemoryRegistry r = Installed();
    std::string disk;
    Power power;
    CutRegistry machine(r, power);
    CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
    journal.Start();
    ApplyPackage(machine, journal);
    applyChanges = power.changes;
  }
  ASSERT_GT(applyChanges, 10);  // the start, and a note and a change for each value at least
  int tried = 0;
  for (int cut = 0; cut <= applyChanges; ++cut) {
    for (int undoCut = 0;; ++undoCut) {
      MemoryRegistry r = Installed();
      std::string disk;
      Power power;
      CutRegistry machine(r, power);
      try {
        CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
        power.cutAt = cut;  // the journal's start is a change too
        journal.Start();
        ApplyPackage(machine, journal);
      } catch (const PowerCut&) {
      }
      // The next run: its undo ends before its change numbered undoCut.
      Power undoPower;
      undoPower.cutAt = undoCut;
      CutRegistry undoMachine(r, undoPower);
      bool undoEnded = false;
      try {
        Recover(undoMachine, disk, undoPower);
      } catch (const PowerCut&) {
        undoEnded = true;
      }
      // The run after it finishes, and one more finds nothing left to change.
      Power after;
      CutRegistry afterMachine(r, after);
      EXPECT_TRUE(Recover(afterMachine, disk, after)) << "cut " << cut << ", undo cut " << undoCut;
      ASSERT_EQ(r.Listing(), before) << "cut before change " << cut << ", undo cut before change " << undoCut;
      Power again;
      CutRegistry againMachine(r, again);
      EXPECT_TRUE(Recover(againMachine, disk, again));
      EXPECT_EQ(again.changes, 0) << "cut " << cut << ", undo cut " << undoCut;
      ++tried;
      if (!undoEnded) break;
    }
  }
  EXPECT_GT(tried, applyChanges * 3);  // most cuts leave an undo of several changes to cut
}

// ---- what the update asks of the registry ------------------------------------------------------

// The registry's calls counted: under Wine each one is a request to the wineserver.
class CountingRegistry : public ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  unsigned long Look(const RegistryKeyName& key, const std::wstring& name, RegistryKeyState& state) override {
    ++looks;
    return ForwardingRegistry::Look(key, name, state);
  }
  unsigned long WriteValue(const RegistryKeyName& key, const std::wstring& name,
                           const RegistryValueBytes& value, bool replace) override {
    if (replace) ++replacements;
    return ForwardingRegistry::WriteValue(key, name, value, replace);
  }
  unsigned long DeleteValue(const RegistryKeyName& key, const std::wstring& name) override {
    ++deletions;
    return ForwardingRegistry::DeleteValue(key, name);
  }
  int looks = 0, replacements = 0, deletions = 0;
};

std::wstring LineOf(const RegistryChangeResult& result) {
  return std::wstring(result.verb) + L"," + std::to_wstring(result.code);
}

// The update section deletes its values, then writes them again. Its deletion looks only at the
// key (it never removes one) and lets the deletion say whether the value was there; its write
// deletes first only a value the journal did not find missing. The lines and the registry are
// those of the full look: a value there 0, a value or key not there 2, the name's new letter case
// kept where an old value was replaced; and the journal takes it all back.
TEST(RegistryChanges, TheUpdateAsksTheRegistryOnlyWhatItsLinesNeed) {
  const RegistryKeyName app = Key(L"Software\\Tamek\\App");
  MemoryRegistry r;
  r.WriteValue(app, L"Version", Text(L"1.0"), false);
  r.WriteValue(app, L"CASE", Text(L"old"), false);
  CountingRegistry counted(r);
  std::string disk;
  Power power;
  CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
  ASSERT_TRUE(journal.Start());
  RegistryNotesToJournal notes(counted, journal);

  EXPECT_EQ(LineOf(DeleteRegistryValue(counted, notes, app, L"Version", true)), L"UPDATE_REG_DELETE,0");
  const RegistryChangeResult gone = DeleteRegistryValue(counted, notes, app, L"Gone", true);
  EXPECT_EQ(LineOf(gone), L"UPDATE_REG_DELETE,2");
  EXPECT_EQ(gone.outcome, RegistryChangeOutcome::kDone);
  EXPECT_EQ(LineOf(DeleteRegistryValue(counted, notes, Key(L"Software\\Nowhere"), L"V", true)),
            L"UPDATE_REG_DELETE,2");
  EXPECT_EQ(counted.looks, 0);      // no count of the key's contents
  EXPECT_EQ(counted.deletions, 2);  // none in a key that is not there
  EXPECT_TRUE(r.HasKey(app));

  // Written again: the value just deleted has nothing to delete first; the one still there (in
  // another letter case) is deleted first and takes the package's name.
  EXPECT_EQ(WriteRegistryValue(counted, notes, app, L"Version", Text(L"2.0"), false).code, kSysSuccess);
  EXPECT_EQ(counted.replacements, 0);
  EXPECT_EQ(WriteRegistryValue(counted, notes, app, L"Case", Text(L"new"), false).code, kSysSuccess);
  EXPECT_EQ(counted.replacements, 1);
  const std::wstring listing = r.Listing();
  EXPECT_NE(listing.find(L"Case type"), std::wstring::npos);
  EXPECT_EQ(listing.find(L"CASE type"), std::wstring::npos);
  RegistryValueBytes read;
  ASSERT_EQ(r.ReadValue(app, L"Version", read), kSysSuccess);
  EXPECT_EQ(read.bytes, Text(L"2.0").bytes);
  // What a note found is used once: a second write of the value deletes first.
  ASSERT_TRUE(notes.NoteWrite(app, L"Fresh"));
  EXPECT_TRUE(notes.FoundMissing(app, L"Fresh"));
  EXPECT_FALSE(notes.FoundMissing(app, L"Fresh"));
  ASSERT_TRUE(notes.NoteWrite(app, L"Fresh"));
  EXPECT_FALSE(notes.FoundMissing(app, L"Other"));  // nor for another value
  EXPECT_FALSE(notes.FoundMissing(app, L"Fresh"));

  // A journal that knows nothing (the plan's) deletes first every time.
  NothingNoted nothing;
  WriteRegistryValue(counted, nothing, Key(L"Software\\Plan"), L"V", Text(L"x"), false);
  EXPECT_EQ(counted.replacements, 2);

  EXPECT_TRUE(Recover(r, disk, power));
  ASSERT_EQ(r.ReadValue(app, L"Version", read), kSysSuccess);
  EXPECT_EQ(read.bytes, Text(L"1.0").bytes);
  ASSERT_EQ(r.ReadValue(app, L"case", read), kSysSuccess);
  EXPECT_EQ(read.bytes, Text(L"old").bytes);
}

}  // namespace
}  // namespace brindle
