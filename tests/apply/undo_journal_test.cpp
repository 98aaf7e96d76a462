// The undo journal's records on disk and the undo walk: a record cut by a crash is dropped and
// the ones before it are kept; damage anywhere else makes the journal unreadable as a whole;
// the undo takes the records back last first and goes on past a step that fails.
#include <gtest/gtest.h>

#include "apply/undo_journal.h"

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

std::string Magic() { return std::string(kJournalMagic, sizeof(kJournalMagic)); }

std::string ThreeRecords(std::vector<size_t>* ends = nullptr) {
  std::string bytes = Magic();
  for (const UndoRecord& record : {File(UndoKind::PackageBegun, L"SampleApp", L"App_1.1.diff"), Value(),
                                   File(UndoKind::FileMovedAside, L"C:\\App\\a.dll", L"C:\\Undo\\000001.old")}) {
    bytes += EncodeUndoRecord(record);
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
  ASSERT_TRUE(journal.Start());
  ASSERT_TRUE(journal.Record(File(UndoKind::FolderRemoved, L"C:\\App\\empty")));
  ASSERT_TRUE(journal.RecordAll({Value(), File(UndoKind::RestartMoveQueued, L"C:\\APP~1\\A.TMP", L"")}));
  EXPECT_EQ(journal.Records().size(), 3u);

  const JournalContents read = ParseJournal(bytes);
  EXPECT_EQ(read.state, JournalState::Complete);
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

TEST(UndoJournal, ARecordCutAnywhereByACrashIsDroppedAndTheOnesBeforeItAreRead) {
  std::vector<size_t> ends;
  const std::string whole = ThreeRecords(&ends);
  EXPECT_EQ(ParseJournal(whole).state, JournalState::Complete);
  // Every cut inside the last record: two records, torn tail.
  for (size_t cut = ends[1] + 1; cut < ends[2]; ++cut) {
    const JournalContents read = ParseJournal(whole.substr(0, cut));
    ASSERT_EQ(read.state, JournalState::TornTail) << cut;
    ASSERT_EQ(read.records.size(), 2u) << cut;
    EXPECT_EQ(read.records[1].name, Value().name);
  }
  // A last record whose bytes are all there but garbled (the crash hit while the sector was
  // written) is torn as well.
  std::string garbled = whole;
  garbled[ends[2] - 1] ^= 0x55;
  const JournalContents read = ParseJournal(garbled);
  EXPECT_EQ(read.state, JournalState::TornTail);
  EXPECT_EQ(read.records.size(), 2u);
}

TEST(UndoJournal, AJournalWithoutItsWholeStartHoldsNoChange) {
  for (size_t cut = 0; cut <= sizeof(kJournalMagic); ++cut) {
    const JournalContents read = ParseJournal(Magic().substr(0, cut));
    EXPECT_EQ(read.state, JournalState::Empty) << cut;
    EXPECT_TRUE(read.records.empty());
  }
}

TEST(UndoJournal, DamageBeforeTheLastRecordOrAForeignStartMakesItUnreadableAsAWhole) {
  std::vector<size_t> ends;
  const std::string whole = ThreeRecords(&ends);
  std::string damaged = whole;
  damaged[ends[0] + 12] ^= 0x01;  // inside the second record's payload
  JournalContents read = ParseJournal(damaged);
  EXPECT_EQ(read.state, JournalState::Unreadable);
  EXPECT_TRUE(read.records.empty()) << "nothing of an unreadable journal may be applied";

  std::string foreign = whole;
  foreign[0] = 'X';
  EXPECT_EQ(ParseJournal(foreign).state, JournalState::Unreadable);
  EXPECT_EQ(ParseJournal("not a journal at all").state, JournalState::Unreadable);

  // A length no record can have, followed by more bytes.
  std::string huge = Magic() + std::string("\xff\xff\xff\x7f\0\0\0\0", 8) + std::string(64, 'x');
  EXPECT_EQ(ParseJournal(huge).state, JournalState::Unreadable);

  // A record of a kind this program does not know, with a correct checksum, is not skipped.
  UndoRecord odd = Value();
  std::string bytes = Magic() + EncodeUndoRecord(odd);
  bytes[8 + 8] = 99;  // kind byte
  EXPECT_NE(ParseJournal(bytes).state, JournalState::Complete);
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

TEST(UndoJournal, EachUndoStepHasItsOwnServiceLogKey) {
  std::vector<std::wstring> keys;
  for (int kind = static_cast<int>(UndoKind::FileMovedAside); kind <= static_cast<int>(UndoKind::ComRegistered);
       ++kind) {
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
  ASSERT_TRUE(journal.Start());
  ASSERT_TRUE(journal.RecordAll({Value(), File(UndoKind::FileCreated, L"C:\\App\\new.dll")}));
  ASSERT_EQ(ParseJournal(bytes).records.size(), 2u);
  ASSERT_TRUE(journal.Forget());
  EXPECT_EQ(ParseJournal(bytes).state, JournalState::Empty);
  EXPECT_TRUE(journal.Records().empty());

  std::string refused;
  CQXChangeJournal failing(std::make_unique<MemorySink>(refused, true));
  EXPECT_FALSE(failing.Forget());
}
