// The undo journal's records on disk and the undo walk: a write cut or zero-filled by a crash is
// dropped and the ones before it are kept; damage anywhere else makes the journal unreadable as
// a whole; the undo takes the records back last first, marks each step done, never repeats a
// step marked done, and goes on past a step that fails with the other objects' steps.
#include <gtest/gtest.h>

#include "apply/undo_journal.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace brindle;

namespace {

UndoRecord File(UndoKind kind, const std::wstring& path, const std::wstring& other = L"") {
  UndoRecord record;
  record.kind = kind;
  record.path = path;
  record.other = other;
  return record;
}

UndoRecord Value() {
  UndoRecord record;
  record.kind = UndoKind::RegistryValue;
  record.is64Bit = true;
  record.existed = true;
  record.root = 1;
  record.attributes = 4;  // REG_DWORD
  record.path = L"Software\\Tamek\\App";
  record.name = L"Count \x00e9";
  record.data = std::string("\x07\x00\x00\x00", 4);
  return record;
}

const std::string kTag = "0123456789abcdef";
std::string Header() { return EncodeJournalHeader(kTag); }

// Three writes of one record each.
std::string ThreeRecords(std::vector<size_t>* ends = nullptr) {
  std::string bytes = Header();
  for (const UndoRecord& record :
       {File(UndoKind::PackageBegun, L"SampleApp", L"App_1.1.diff"), Value(),
        File(UndoKind::FileMovedAside, L"C:\\App\\a.dll", L"C:\\Undo\\000001.old")}) {
    bytes += EncodeJournalWrite({record});
    if (ends) ends->push_back(bytes.size());
  }
  return bytes;
}

class MemorySink : public CQXJournalSink {
 public:
  explicit MemorySink(std::string& bytes, bool fail = false) : bytes_(bytes), fail_(fail) {}
  bool Append(const std::string& bytes) override {
    if (fail_) return false;
    bytes_ += bytes;
    return true;
  }
  bool Clear() override {
    if (fail_) return false;
    bytes_.clear();
    return true;
  }

 private:
  std::string& bytes_;
  bool fail_;
};

class RecordingTarget : public CQXUndoTarget {
 public:
  unsigned long Undo(const UndoRecord& record) override {
    order.push_back(record.path);
    return record.path == failing ? 5 : 0;
  }
  std::vector<std::wstring> order;
  std::wstring failing;
};

}  // namespace

TEST(UndoJournal, EveryFieldOfEveryRecordComesBackAsWritten) {
  std::string bytes;
  CQXChangeJournal journal(std::make_unique<MemorySink>(bytes));
  ASSERT_TRUE(journal.Start(kTag));
  ASSERT_TRUE(journal.Record(File(UndoKind::FolderRemoved, L"C:\\App\\empty")));
  ASSERT_TRUE(journal.RecordAll({Value(), File(UndoKind::RestartMoveQueued, L"C:\\APP~1\\A.TMP", L"")}));
  EXPECT_EQ(journal.Records().size(), 3u);

  const JournalContents read = ParseJournal(bytes);
  EXPECT_EQ(read.state, JournalState::Complete);
  EXPECT_EQ(read.tag, kTag);
  EXPECT_EQ(read.wholeBytes, bytes.size());
  ASSERT_EQ(read.records.size(), 3u);
  EXPECT_EQ(read.records[0].kind, UndoKind::FolderRemoved);
  EXPECT_EQ(read.records[0].path, L"C:\\App\\empty");
  const UndoRecord& value = read.records[1];
  const UndoRecord expected = Value();
  EXPECT_EQ(value.kind, UndoKind::RegistryValue);
  EXPECT_TRUE(value.is64Bit);
  EXPECT_TRUE(value.existed);
  EXPECT_EQ(value.root, expected.root);
  EXPECT_EQ(value.attributes, expected.attributes);
  EXPECT_EQ(value.path, expected.path);
  EXPECT_EQ(value.name, expected.name);
  EXPECT_EQ(value.data, expected.data);
  EXPECT_EQ(read.records[2].kind, UndoKind::RestartMoveQueued);
  EXPECT_TRUE(read.records[2].other.empty());
}

TEST(UndoJournal, AWriteCutAnywhereByACrashIsDroppedAndTheOnesBeforeItAreRead) {
  std::vector<size_t> ends;
  const std::string whole = ThreeRecords(&ends);
  EXPECT_EQ(ParseJournal(whole).state, JournalState::Complete);
  // Every cut inside the last write: two records, torn tail, read up to the second write's end.
  for (size_t cut = ends[1] + 1; cut < ends[2]; ++cut) {
    const JournalContents read = ParseJournal(whole.substr(0, cut));
    ASSERT_EQ(read.state, JournalState::TornTail) << cut;
    ASSERT_EQ(read.records.size(), 2u) << cut;
    EXPECT_EQ(read.records[1].name, Value().name);
    EXPECT_EQ(read.wholeBytes, ends[1]) << cut;
  }
  // A last write whose bytes are all there but garbled (the crash hit while the sector was
  // written) is torn as well.
  std::string garbled = whole;
  garbled[ends[2] - 1] ^= 0x55;
  const JournalContents read = ParseJournal(garbled);
  EXPECT_EQ(read.state, JournalState::TornTail);
  EXPECT_EQ(read.records.size(), 2u);
}

// A batch larger than reading accepts in one write goes as several whole writes, every record
// once and in order; a record larger than the limit alone still has a write of its own.
TEST(UndoJournal, ABatchLargerThanOneWriteGoesAsSeveralWholeWrites) {
  std::vector<UndoRecord> records;
  for (int i = 0; i < 10; ++i)
    records.push_back(File(UndoKind::FileCreated, L"C:\\App\\f" + std::to_wstring(i)));
  const size_t one = EncodeJournalWrite({records[0]}).size() - 8;
  const std::vector<std::string> writes = EncodeJournalWrites(records, static_cast<std::uint32_t>(3 * one));
  ASSERT_EQ(writes.size(), 4u);
  std::string bytes = Header();
  for (const std::string& write : writes) {
    EXPECT_LE(write.size() - 8, 3 * one);
    bytes += write;
  }
  const JournalContents read = ParseJournal(bytes);
  ASSERT_EQ(read.state, JournalState::Complete);
  ASSERT_EQ(read.records.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(read.records[i].path, records[i].path);
  EXPECT_EQ(EncodeJournalWrites(records, 1).size(), records.size());
  EXPECT_TRUE(EncodeJournalWrites({}).empty());
}

// A file grown before its data reached the disk reads as zeros at its end: after the last whole
// write (16 zero bytes, a zero header, a header with its body zeroed), and inside a batch of
// records written in one write.
TEST(UndoJournal, AZeroFilledEndAfterTheLastWholeWriteIsATornEnd) {
  std::vector<size_t> ends;
  const std::string whole = ThreeRecords(&ends);
  for (size_t zeros : {1u, 7u, 8u, 16u, 4096u}) {
    const JournalContents read = ParseJournal(whole + std::string(zeros, '\0'));
    EXPECT_EQ(read.state, JournalState::TornTail) << zeros;
    EXPECT_EQ(read.records.size(), 3u) << zeros;
    EXPECT_EQ(read.wholeBytes, whole.size()) << zeros;
  }
  // The last write's records zeroed after its header.
  std::string zeroedBody = whole;
  std::fill(zeroedBody.begin() + ends[1] + 8, zeroedBody.end(), '\0');
  EXPECT_EQ(ParseJournal(zeroedBody).state, JournalState::TornTail);
  EXPECT_EQ(ParseJournal(zeroedBody).records.size(), 2u);

  // A batch of four records in one write, its second half zeroed: none of the four is read.
  std::string batch = Header() + EncodeJournalWrite({File(UndoKind::PackageBegun, L"app", L"package")});
  const size_t beforeBatch = batch.size();
  batch += EncodeJournalWrite({Value(), File(UndoKind::FileCreated, L"C:\\App\\1"),
                               File(UndoKind::FileCreated, L"C:\\App\\2"), Value()});
  std::fill(batch.begin() + (beforeBatch + batch.size()) / 2, batch.end(), '\0');
  const JournalContents torn = ParseJournal(batch);
  EXPECT_EQ(torn.state, JournalState::TornTail);
  EXPECT_EQ(torn.records.size(), 1u);
  EXPECT_EQ(torn.wholeBytes, beforeBatch);

  // A journal of the earlier form (one checksum per record) with a zero-filled end: the zero
  // header, whose checksum matched the empty payload, is a torn end too.
  std::string legacy = std::string(kLegacyJournalMagic, sizeof(kLegacyJournalMagic)) +
                       EncodeUndoRecord(File(UndoKind::PackageBegun, L"app", L"package")) +
                       EncodeUndoRecord(Value());
  const JournalContents legacyWhole = ParseJournal(legacy);
  EXPECT_EQ(legacyWhole.state, JournalState::Complete);
  EXPECT_EQ(legacyWhole.records.size(), 2u);
  EXPECT_TRUE(legacyWhole.tag.empty());
  const JournalContents legacyTorn = ParseJournal(legacy + std::string(16, '\0'));
  EXPECT_EQ(legacyTorn.state, JournalState::TornTail);
  EXPECT_EQ(legacyTorn.records.size(), 2u);
  EXPECT_EQ(legacyTorn.wholeBytes, legacy.size());
}

TEST(UndoJournal, AJournalWithoutItsWholeStartHoldsNoChange) {
  for (size_t cut = 0; cut <= Header().size(); ++cut) {
    const JournalContents read = ParseJournal(Header().substr(0, cut));
    EXPECT_EQ(read.state, JournalState::Empty) << cut;
    EXPECT_TRUE(read.records.empty());
  }
}

TEST(UndoJournal, DamageBeforeTheLastWriteOrAForeignStartMakesItUnreadableAsAWhole) {
  std::vector<size_t> ends;
  const std::string whole = ThreeRecords(&ends);
  std::string damaged = whole;
  damaged[ends[0] + 12] ^= 0x01;  // inside the second write's records
  JournalContents read = ParseJournal(damaged);
  EXPECT_EQ(read.state, JournalState::Unreadable);
  EXPECT_TRUE(read.records.empty()) << "nothing of an unreadable journal may be applied";

  // Zeros in the middle, with whole writes after them, are damage, not a torn end.
  std::string zeroedMiddle = whole;
  std::fill(zeroedMiddle.begin() + ends[0], zeroedMiddle.begin() + ends[1], '\0');
  EXPECT_EQ(ParseJournal(zeroedMiddle).state, JournalState::Unreadable);

  std::string foreign = whole;
  foreign[0] = 'X';
  EXPECT_EQ(ParseJournal(foreign).state, JournalState::Unreadable);
  EXPECT_EQ(ParseJournal("not a journal at all").state, JournalState::Unreadable);

  // A length no write can have, followed by more bytes.
  std::string huge = Header() + std::string("\xff\xff\xff\x7f\0\0\0\0", 8) + std::string(64, 'x');
  EXPECT_EQ(ParseJournal(huge).state, JournalState::Unreadable);

  // A record of a kind this program does not know, in a write with a correct checksum, is not
  // skipped.
  UndoRecord odd = Value();
  odd.kind = static_cast<UndoKind>(99);
  EXPECT_EQ(ParseJournal(Header() + EncodeJournalWrite({Value(), odd})).state, JournalState::Unreadable);
}

TEST(UndoJournal, ARecordThatCannotBeWrittenIsNotKeptForTheUndo) {
  std::string bytes;
  CQXChangeJournal journal(std::make_unique<MemorySink>(bytes, true));
  EXPECT_FALSE(journal.Start());
  EXPECT_FALSE(journal.Record(Value()));
  EXPECT_FALSE(journal.RecordAll({Value()}));
  EXPECT_TRUE(journal.Records().empty());
  journal.Close();
  EXPECT_FALSE(journal.Record(Value()));
}

TEST(UndoJournal, UndoTakesTheRecordsBackLastFirstAndGoesOnPastAFailingStep) {
  const std::vector<UndoRecord> records = {
      File(UndoKind::PackageBegun, L"app", L"package"),  // nothing to undo
      File(UndoKind::FolderCreated, L"C:\\App\\new"),
      File(UndoKind::FileCreated, L"C:\\App\\new\\a.txt"),
      File(UndoKind::FileMovedAside, L"C:\\App\\b.txt", L"C:\\Undo\\1.old"),
      File(UndoKind::RestartMoveQueued, L"C:\\App\\c.tmp", L"C:\\App\\c.txt"),
  };
  RecordingTarget target;
  EXPECT_TRUE(UndoRecords(records, target));
  EXPECT_EQ(target.order, (std::vector<std::wstring>{L"C:\\App\\c.tmp", L"C:\\App\\b.txt",
                                                     L"C:\\App\\new\\a.txt", L"C:\\App\\new"}));

  RecordingTarget failing;
  failing.failing = L"C:\\App\\b.txt";
  EXPECT_FALSE(UndoRecords(records, failing));
  EXPECT_EQ(failing.order.size(), 4u) << "a failed step does not stop the others";
}

// The marks of steps on different names wait and go in one write (one trip to the disk). A step
// on a name that a waiting step touched, in any folder, view or case, comes after that write; a
// step on a folder, or on a short name the file may also have, is marked by a write of its own.
TEST(UndoJournal, MarksWaitOnlyWhileTheStepsTouchOtherNames) {
  UndoRecord otherView = Value();  // "Count \x00e9"
  otherView.path = L"Software\\Wow6432Node\\Tamek\\App";
  otherView.name = L"COUNT \x00c9";
  const std::vector<UndoRecord> records = {
      File(UndoKind::PackageBegun, L"app", L"package"),
      File(UndoKind::FileMovedAside, L"C:\\App\\a.dll", L"C:\\Undo\\1.old"),  // 1
      File(UndoKind::FileCreated, L"C:\\Windows\\SysWOW64\\A.DLL"),           // 2
      otherView,                                                              // 3
      File(UndoKind::FileCreated, L"C:\\App\\c.txt"),                         // 4
      Value(),                                                                // 5
      File(UndoKind::FolderCreated, L"C:\\App\\Sub"),                         // 6
      File(UndoKind::FileCreated, L"C:\\App\\Sub\\b.txt"),                    // 7
      File(UndoKind::FileCreated, L"C:\\App\\PROGRA~1.TXT"),                  // 8
  };
  RecordingTarget target;
  std::vector<std::vector<size_t>> writes;
  EXPECT_TRUE(UndoRecords(records, target, [&](const std::vector<size_t>& marks) {
    writes.push_back(marks);
    return true;
  }));
  EXPECT_EQ(writes, (std::vector<std::vector<size_t>>{{8}, {7}, {6}, {5, 4}, {3, 2}, {1}}));

  // A mark that cannot be written ends the walk before the next step.
  RecordingTarget stopped;
  EXPECT_FALSE(UndoRecords(records, stopped, [](const std::vector<size_t>&) { return false; }));
  EXPECT_EQ(stopped.order, std::vector<std::wstring>{L"C:\\App\\PROGRA~1.TXT"});
}

TEST(UndoJournal, EachUndoStepHasItsOwnServiceLogKey) {
  std::vector<std::wstring> keys;
  for (int kind = static_cast<int>(UndoKind::FileMovedAside);
       kind <= static_cast<int>(UndoKind::ComRegistered); ++kind) {
    const std::wstring key = UndoKey(static_cast<UndoKind>(kind));
    ASSERT_EQ(key.rfind(L"UNDO_", 0), 0u) << kind;
    for (const std::wstring& seen : keys) EXPECT_NE(seen, key);
    keys.push_back(key);
  }
  EXPECT_TRUE(UndoKey(UndoKind::PackageBegun).empty());
  EXPECT_EQ(UndoObject(Value()), L"Software\\Tamek\\App\\Count \x00e9");
}

// A kept package's journal is emptied before it is removed: whatever stays of it (a file that
// another program holds open) is read as a journal of no change.
TEST(UndoJournal, AForgottenJournalHoldsNothingToUndo) {
  std::string bytes;
  CQXChangeJournal journal(std::make_unique<MemorySink>(bytes));
  ASSERT_TRUE(journal.Start(kTag));
  ASSERT_TRUE(journal.RecordAll({Value(), File(UndoKind::FileCreated, L"C:\\App\\new.dll")}));
  ASSERT_EQ(ParseJournal(bytes).records.size(), 2u);
  ASSERT_TRUE(journal.Forget());
  EXPECT_EQ(ParseJournal(bytes).state, JournalState::Empty);
  EXPECT_TRUE(journal.Records().empty());

  std::string refused;
  CQXChangeJournal failing(std::make_unique<MemorySink>(refused, true));
  EXPECT_FALSE(failing.Forget());
}

namespace {

// Files as a map of path to content, undone the way the program undoes them: a created file is
// removed, a moved-aside file comes back from its backup when the backup is there.
class FileMachine : public CQXUndoTarget {
 public:
  unsigned long Undo(const UndoRecord& record) override {
    if (stopAfter == 0) return 1;  // the process is gone: nothing more happens
    if (record.path == held) return 32;
    if (record.kind == UndoKind::FileCreated) files.erase(record.path);
    if (record.kind == UndoKind::FileMovedAside && files.count(record.other)) {
      files[record.path] = files[record.other];
      files.erase(record.other);
    }
    --stopAfter;
    return 0;
  }
  std::map<std::wstring, std::string> files;
  int stopAfter = -1;  // steps done before the process ends (-1: never)
  std::wstring held;   // a path whose undo fails
};

// Two files updated (each moved aside, then its new copy created) and one added.
std::vector<UndoRecord> UpdatePackage() {
  return {File(UndoKind::PackageBegun, L"app", L"package"),
          File(UndoKind::FileMovedAside, L"a", L"backup\\1"),
          File(UndoKind::FileMovedAside, L"b", L"backup\\2"),
          File(UndoKind::FileCreated, L"a"),
          File(UndoKind::FileCreated, L"b"),
          File(UndoKind::FileCreated, L"c")};
}

std::map<std::wstring, std::string> Before() { return {{L"a", "old a"}, {L"b", "old b"}}; }
std::map<std::wstring, std::string> Applied() {
  return {
      {L"a", "new a"}, {L"b", "new b"}, {L"c", "new c"}, {L"backup\\1", "old a"}, {L"backup\\2", "old b"}};
}

// The journal of the package on disk, and its undo marking each step done in it.
struct JournalOnDisk {
  JournalOnDisk() : journal(std::make_unique<MemorySink>(bytes)) {
    journal.Start(kTag);
    journal.RecordAll(UpdatePackage());
  }
  // Reads the journal back (as the next run does) and undoes it, marking each step.
  bool Undo(FileMachine& machine) {
    const JournalContents read = ParseJournal(bytes);
    CQXChangeJournal reopened(std::make_unique<MemorySink>(bytes));
    reopened.Adopt(read.records);
    return UndoRecords(read.records, machine, [&](const std::vector<size_t>& indexes) {
      return machine.stopAfter != 0 && reopened.MarkUndone(indexes);
    });
  }
  std::string bytes;
  CQXChangeJournal journal;
};

}  // namespace

// The process ends after any step of the undo (before the step is marked done); the next run
// undoes the journal again, and again after a second end: the files are as before the package.
// Without the marks the repeated undo would remove the old files it had put back.
TEST(UndoJournal, AnUndoEndedAfterAnyStepAndRepeatedEndsWithTheFilesAsBefore) {
  for (int first = 0; first <= 5; ++first) {
    for (int second = 0; second <= 5; ++second) {
      JournalOnDisk disk;
      FileMachine machine;
      machine.files = Applied();
      machine.stopAfter = first;
      disk.Undo(machine);
      machine.stopAfter = second;
      disk.Undo(machine);
      machine.stopAfter = -1;
      EXPECT_TRUE(disk.Undo(machine)) << first << "," << second;
      ASSERT_EQ(machine.files, Before()) << "ended after " << first << " then " << second << " steps";
      // Once all is done, another run finds nothing left to do.
      machine.stopAfter = 0;
      EXPECT_TRUE(disk.Undo(machine));
    }
  }
}

// A step that fails (a file held open) leaves the earlier steps on its file for the retry, and
// the other files' steps go on; once the file is free, the retry finishes the undo.
TEST(UndoJournal, AFailedStepWaitsWithItsObjectAndTheRetryFinishesTheUndo) {
  JournalOnDisk disk;
  FileMachine machine;
  machine.files = Applied();
  machine.held = L"b";
  EXPECT_FALSE(disk.Undo(machine));
  EXPECT_EQ(machine.files.count(L"c"), 0u);
  EXPECT_EQ(machine.files[L"a"], "old a");
  EXPECT_EQ(machine.files[L"b"], "new b") << "b's backup must not go over the new copy that stayed";
  EXPECT_EQ(machine.files[L"backup\\2"], "old b");
  machine.held.clear();
  EXPECT_TRUE(disk.Undo(machine));
  EXPECT_EQ(machine.files, Before());
}
