// The undo journal of one package: before each change to the machine, what is needed to undo it
// is appended to the journal and flushed to disk, so the change can be taken back in the same
// run when the package fails, or by the next run when the process died in the middle of it.
// This file holds the records, their encoding on disk (a torn last record is recognised and
// dropped; damage anywhere else makes the whole journal unreadable), and the undo walk, which
// takes the records back last first and writes one service-log line for each.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindle {

// What one journal record says was about to change.
enum class UndoKind : std::uint8_t {
  PackageBegun = 1,    // path: application, other: package file name; nothing to undo
  FileMovedAside,      // path: the file, other: where the old file waits (its backup)
  FileCreated,         // path: a file that did not exist before
  FolderCreated,       // path: a folder that did not exist before
  FolderRemoved,       // path: a folder about to be removed; attributes: its attributes
  AttributesChanged,   // path: a file whose attributes change; attributes: the old ones
  RegistryValue,       // root, path: key, name: value; existed, type, data: the old value
  RegistryKeyCreated,  // root, path: a key that did not exist before
  RegistryKeyRemoved,  // root, path: an empty key about to be removed
  RestartMoveQueued,   // path: source, other: destination (empty: a deletion) of a queued move
  ComUnregistered,     // path: a COM server about to be unregistered
  ComRegistered,       // path: a COM server about to be registered
};

struct UndoRecord {
  UndoKind kind = UndoKind::PackageBegun;
  bool is64Bit = false;   // the 64-bit file system view or registry view
  bool existed = false;   // RegistryValue: the value existed before
  std::uint32_t root = 0;        // registry root code (package's REG_HCR, REG_HLM, REG_HCU)
  std::uint32_t attributes = 0;  // file attributes, or the registry value's type
  std::wstring path;
  std::wstring other;
  std::wstring name;
  std::string data;  // registry value bytes
};

// The journal file's first bytes.
extern const char kJournalMagic[8];
// Longest record accepted when reading (a registry value holds at most 1000 bytes; paths are
// short): anything longer is damage, not a record.
const std::uint32_t kMaxJournalRecordBytes = 1u << 20;

std::string EncodeUndoRecord(const UndoRecord& record);

enum class JournalState {
  Empty,       // no record at all (the header itself may be torn): nothing was changed
  Complete,    // every record read
  TornTail,    // the last record was cut short by the crash; the ones before it were read
  Unreadable,  // not a journal, or damaged before its last record: must not be applied
};

struct JournalContents {
  JournalState state = JournalState::Empty;
  std::vector<UndoRecord> records;
};

// Reads a journal file's bytes.
JournalContents ParseJournal(const std::string& bytes);

// Where the journal's bytes go; Append returns only after they reached the disk.
class CQXJournalSink {
 public:
  virtual ~CQXJournalSink() = default;
  virtual bool Append(const std::string& bytes) = 0;
  // Empties what was appended, on disk before it returns; false when it cannot.
  virtual bool Clear() { return false; }
};

// The journal of the running package: records written through the sink before each change,
// and kept in memory for an undo in the same run.
class CQXChangeJournal {
 public:
  explicit CQXChangeJournal(std::unique_ptr<CQXJournalSink> sink);
  virtual ~CQXChangeJournal() = default;
  // Writes the magic; false when the sink refuses it.
  bool Start();
  // Appends the record; false when it could not be written (the change must then not be made).
  bool Record(const UndoRecord& record);
  // Appends the records in one write (one trip to the disk); false when it failed.
  bool RecordAll(const std::vector<UndoRecord>& records);
  // Empties the journal on disk: from then on none of its records is undone, by this run or the
  // next. False when the sink cannot.
  bool Forget();
  const std::vector<UndoRecord>& Records() const { return records_; }
  // Lets go of the sink (the journal file is closed); further records fail.
  void Close() { sink_.reset(); }

 private:
  std::unique_ptr<CQXJournalSink> sink_;
  std::vector<UndoRecord> records_;
};

// Takes one record back on the machine.
class CQXUndoTarget {
 public:
  virtual ~CQXUndoTarget() = default;
  // 0 when the change is taken back (or there was nothing to take back), else the system's
  // error code.
  virtual unsigned long Undo(const UndoRecord& record) = 0;
};

// Undoes the records last first; each step writes a service-log line (its key from UndoKey).
// True when every step succeeded.
bool UndoRecords(const std::vector<UndoRecord>& records, CQXUndoTarget& target);

// The service-log key of an undo step ("UNDO_FILE_RESTORE"...); empty for records that need no
// undo step.
std::wstring UndoKey(UndoKind kind);
// The object named in an undo step's line.
std::wstring UndoObject(const UndoRecord& record);

}  // namespace brindle
