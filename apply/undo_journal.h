// The undo journal of one package: before each change to the machine, what is needed to undo it
// is appended to the journal and flushed to disk, so the change can be taken back in the same
// run when the package fails, or by the next run when the process died in the middle of it.
// This file holds the records, their encoding on disk (each write of one or more records carries
// one checksum; a torn or zero-filled end after the last whole write is recognised and dropped;
// damage before it makes the whole journal unreadable), and the undo walk, which takes the
// records back last first, marks each step done in the journal, and writes one service-log line
// for each.
#pragma once
#include <cstdint>
#include <functional>
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
  ComUnregistered,     // path: a COM server about to be unregistered; existed: the registry
                       // state its registration writes follows as registry records
  ComRegistered,       // path: a COM server about to be registered; existed: as above
  StepUndone,          // attributes: the index of a record whose undo is done (not undone again)
};

struct UndoRecord {
  UndoKind kind = UndoKind::PackageBegun;
  bool is64Bit = false;          // the 64-bit file system view or registry view
  bool existed = false;          // RegistryValue: the value existed before
  std::uint32_t root = 0;        // registry root code (package's REG_HCR, REG_HLM, REG_HCU)
  std::uint32_t attributes = 0;  // file attributes, or the registry value's type
  std::wstring path;
  std::wstring other;
  std::wstring name;
  std::string data;  // registry value bytes
};

// The journal file's first bytes: the magic, then the journal's tag (random, kJournalTagBytes).
// Journals of the earlier form (kLegacyJournalMagic, no tag, one checksum per record) are still
// read.
extern const char kJournalMagic[8];
extern const char kLegacyJournalMagic[8];
const size_t kJournalTagBytes = 16;
// Longest record accepted when reading (a registry value holds at most 1000 bytes; paths are
// short): anything longer is damage, not a record.
const std::uint32_t kMaxJournalRecordBytes = 1u << 20;
// Longest write accepted when reading (a batch of a pass's records).
const std::uint32_t kMaxJournalWriteBytes = 1u << 28;

// One record in the earlier form (length, checksum, payload).
std::string EncodeUndoRecord(const UndoRecord& record);
// The journal's start: magic and tag (tag.size() == kJournalTagBytes).
std::string EncodeJournalHeader(const std::string& tag);
// One write of the records: its length, one checksum over length and records, the records.
std::string EncodeJournalWrite(const std::vector<UndoRecord>& records);
// The records as whole writes of at most maxBody bytes of records each (a record alone longer
// than that has a write of its own): a batch never becomes a write that reading refuses.
std::vector<std::string> EncodeJournalWrites(const std::vector<UndoRecord>& records,
                                             std::uint32_t maxBody = kMaxJournalWriteBytes);

enum class JournalState {
  Empty,       // no record at all (the header itself may be torn): nothing was changed
  Complete,    // every record read
  TornTail,    // the last write was cut short or zero-filled by the crash; the ones before it were read
  Unreadable,  // not a journal, or damaged before its last write: must not be applied
};

struct JournalContents {
  JournalState state = JournalState::Empty;
  std::vector<UndoRecord> records;
  std::string tag;        // the header's tag (empty in a journal of the earlier form)
  size_t wholeBytes = 0;  // where the last whole write ends: a torn end is cut there before appending
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
  // Writes the magic and the tag; false when the sink refuses it.
  bool Start(const std::string& tag = std::string(kJournalTagBytes, '\0'));
  // Appends the record; false when it could not be written (the change must then not be made).
  bool Record(const UndoRecord& record);
  // Appends the records in one write (one trip to the disk); false when it failed.
  bool RecordAll(const std::vector<UndoRecord>& records);
  // Empties the journal on disk: from then on none of its records is undone, by this run or the
  // next. False when the sink cannot.
  bool Forget();
  // Marks the undo of the records at these indexes done, in one write on disk before it returns.
  bool MarkUndone(const std::vector<size_t>& indexes);
  const std::vector<UndoRecord>& Records() const { return records_; }
  // Takes the records already on disk (a journal reopened to finish its undo).
  void Adopt(std::vector<UndoRecord> records) { records_ = std::move(records); }
  // Lets go of the sink (the journal file is closed); further records fail.
  void Close() { sink_.reset(); }

 private:
  // Appends the records in one write (undoMark: the mark of an undo step done).
  bool Write(const std::vector<UndoRecord>& records, bool undoMark);

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

// Undoes the records last first, skipping those a StepUndone record marks done; each step writes
// a service-log line (its key from UndoKey), and the steps that succeeded are marked done through
// markUndone (may be empty), so that an undo interrupted anywhere and repeated never does a step
// again after a later one that touched the same object. A step's mark may wait while the steps
// after it touch other objects: the waiting marks go in one write before a step that meets one of
// their objects, and at the end. A step repeated in the same state is harmless;
// steps whose undo runs other code or touches a whole folder or key are marked at once. A step that
// fails leaves its object alone for the rest of the walk (the earlier steps on it would undo in the
// wrong order); the other objects' steps go on. A mark that cannot be written ends the walk. True
// when every step succeeded.
bool UndoRecords(const std::vector<UndoRecord>& records, CQXUndoTarget& target,
                 const std::function<bool(const std::vector<size_t>&)>& markUndone = nullptr);

// The service-log key of an undo step ("UNDO_FILE_RESTORE"...); empty for records that need no
// undo step.
std::wstring UndoKey(UndoKind kind);
// The object named in an undo step's line.
std::wstring UndoObject(const UndoRecord& record);

}  // namespace brindle
