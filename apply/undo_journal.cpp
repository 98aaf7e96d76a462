#include "apply/undo_journal.h"

#include "apply/crash_point.h"

#include "logs/service_log.h"

#include <array>
#include <cwctype>
#include <set>

namespace brindle {

const char kJournalMagic[8] = {'B', 'R', 'U', 'N', 'D', 'O', '2', '\n'};
const char kLegacyJournalMagic[8] = {'B', 'R', 'U', 'N', 'D', 'O', '1', '\n'};

namespace {

// The layout of a write: length of the body (4 bytes), the CRC-32 of the length's bytes and the
// body (4 bytes), the body: each record as the length of its payload (4 bytes) and the payload.
// (The earlier form had a length and a CRC-32 of the payload before each record.) All numbers
// little-endian; texts as UTF-16 code units.
const size_t kRecordHeaderBytes = 8;

std::uint32_t Crc32(const std::string& bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PutNumber(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutBytes(std::string& out, const std::string& bytes) {
  PutNumber(out, static_cast<std::uint32_t>(bytes.size()));
  out += bytes;
}

void PutText(std::string& out, const std::wstring& text) {
  std::string units;
  auto unit = [&](std::uint32_t u) {
    units += static_cast<char>(u & 0xFF);
    units += static_cast<char>((u >> 8) & 0xFF);
  };
  for (wchar_t c : text) {
    const std::uint32_t code = static_cast<std::uint32_t>(c);
    if (code > 0xFFFF) {  // only where wchar_t holds whole code points
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      unit(code);
    }
  }
  PutBytes(out, units);
}

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool Number(std::uint32_t& value) {
    if (bytes_.size() - at_ < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i)
      value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
    at_ += 4;
    return true;
  }
  bool Bytes(std::string& out) {
    std::uint32_t size = 0;
    if (!Number(size) || bytes_.size() - at_ < size) return false;
    out.assign(bytes_, at_, size);
    at_ += size;
    return true;
  }
  bool Text(std::wstring& out) {
    std::string units;
    if (!Bytes(units) || units.size() % 2 != 0) return false;
    out.clear();
    for (size_t i = 0; i < units.size(); i += 2) {
      std::uint32_t u = static_cast<unsigned char>(units[i]) |
                        (static_cast<std::uint32_t>(static_cast<unsigned char>(units[i + 1])) << 8);
      if (sizeof(wchar_t) > 2 && u >= 0xD800 && u < 0xDC00 && i + 3 < units.size()) {
        const std::uint32_t low = static_cast<unsigned char>(units[i + 2]) |
                                  (static_cast<std::uint32_t>(static_cast<unsigned char>(units[i + 3])) << 8);
        if (low >= 0xDC00 && low < 0xE000) {
          u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      out += static_cast<wchar_t>(u);
    }
    return true;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

bool IsKnownKind(std::uint32_t kind) {
  return kind >= static_cast<std::uint32_t>(UndoKind::PackageBegun) &&
         kind <= static_cast<std::uint32_t>(UndoKind::StepUndone);
}

bool DecodePayload(const std::string& payload, UndoRecord& record) {
  Reader reader(payload);
  std::uint32_t kind = 0, flags = 0;
  if (!reader.Number(kind) || !IsKnownKind(kind) || !reader.Number(flags)) return false;
  record.kind = static_cast<UndoKind>(kind);
  record.is64Bit = (flags & 1) != 0;
  record.existed = (flags & 2) != 0;
  return reader.Number(record.root) && reader.Number(record.attributes) && reader.Text(record.path) &&
         reader.Text(record.other) && reader.Text(record.name) && reader.Bytes(record.data) && reader.AtEnd();
}

}  // namespace

std::string EncodeUndoRecord(const UndoRecord& record) {
  std::string payload;
  PutNumber(payload, static_cast<std::uint32_t>(record.kind));
  PutNumber(payload, (record.is64Bit ? 1u : 0u) | (record.existed ? 2u : 0u));
  PutNumber(payload, record.root);
  PutNumber(payload, record.attributes);
  PutText(payload, record.path);
  PutText(payload, record.other);
  PutText(payload, record.name);
  PutBytes(payload, record.data);
  std::string out;
  PutNumber(out, static_cast<std::uint32_t>(payload.size()));
  PutNumber(out, Crc32(payload));
  return out + payload;
}

namespace {

bool AllZero(const std::string& bytes, size_t from) {
  for (size_t i = from; i < bytes.size(); ++i)
    if (bytes[i] != '\0') return false;
  return true;
}

std::uint32_t NumberAt(const std::string& bytes, size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
}

// Where the reading stopped: a torn end (the rest cut short, or zeros that a file grown before
// its data reached the disk reads as), or damage, which makes the whole journal unreadable.
void StopAt(JournalContents& contents, const std::string& bytes, size_t at, bool torn) {
  if (torn || AllZero(bytes, at)) {
    contents.state = JournalState::TornTail;
    return;
  }
  contents.state = JournalState::Unreadable;
  contents.records.clear();
}

// The earlier form: one checksum per record.
JournalContents ParseLegacyJournal(const std::string& bytes) {
  JournalContents contents;
  size_t at = sizeof(kLegacyJournalMagic);
  contents.wholeBytes = at;
  while (at < bytes.size()) {
    const size_t left = bytes.size() - at;
    if (left < kRecordHeaderBytes) return StopAt(contents, bytes, at, true), contents;
    const std::uint32_t length = NumberAt(bytes, at), crc = NumberAt(bytes, at + 4);
    if (length > kMaxJournalRecordBytes || length == 0) return StopAt(contents, bytes, at, false), contents;
    if (left - kRecordHeaderBytes < length) return StopAt(contents, bytes, at, true), contents;
    const std::string payload = bytes.substr(at + kRecordHeaderBytes, length);
    const bool last = at + kRecordHeaderBytes + length == bytes.size();
    UndoRecord record;
    if (Crc32(payload) != crc || !DecodePayload(payload, record))
      return StopAt(contents, bytes, at, last && Crc32(payload) != crc), contents;
    contents.records.push_back(std::move(record));
    at += kRecordHeaderBytes + length;
    contents.wholeBytes = at;
  }
  contents.state = contents.records.empty() ? JournalState::Empty : JournalState::Complete;
  return contents;
}

// The records of one whole write; false when one of them does not decode.
bool DecodeWrite(const std::string& body, std::vector<UndoRecord>& records) {
  size_t at = 0;
  while (at < body.size()) {
    if (body.size() - at < 4) return false;
    const std::uint32_t length = NumberAt(body, at);
    if (length > kMaxJournalRecordBytes || body.size() - at - 4 < length) return false;
    UndoRecord record;
    if (!DecodePayload(body.substr(at + 4, length), record)) return false;
    records.push_back(std::move(record));
    at += 4 + length;
  }
  return true;
}

}  // namespace

std::string EncodeJournalHeader(const std::string& tag) {
  return std::string(kJournalMagic, sizeof(kJournalMagic)) + tag;
}

namespace {
// One record as a write's body holds it: the payload's length and the payload.
std::string BodyPart(const UndoRecord& record) {
  std::string part;
  PutBytes(part, EncodeUndoRecord(record).substr(kRecordHeaderBytes));
  return part;
}

std::string FramedWrite(const std::string& body) {
  std::string length;
  PutNumber(length, static_cast<std::uint32_t>(body.size()));
  std::string out = length;
  PutNumber(out, Crc32(length + body));
  return out + body;
}
}  // namespace

std::string EncodeJournalWrite(const std::vector<UndoRecord>& records) {
  std::string body;
  for (const UndoRecord& record : records) body += BodyPart(record);
  return FramedWrite(body);
}

std::vector<std::string> EncodeJournalWrites(const std::vector<UndoRecord>& records, std::uint32_t maxBody) {
  std::vector<std::string> writes;
  std::string body;
  for (const UndoRecord& record : records) {
    const std::string part = BodyPart(record);
    if (!body.empty() && body.size() + part.size() > maxBody) {
      writes.push_back(FramedWrite(body));
      body.clear();
    }
    body += part;
  }
  if (!body.empty()) writes.push_back(FramedWrite(body));
  return writes;
}

JournalContents ParseJournal(const std::string& bytes) {
  JournalContents contents;
  const std::string magic(kJournalMagic, sizeof(kJournalMagic));
  const std::string legacy(kLegacyJournalMagic, sizeof(kLegacyJournalMagic));
  const size_t header = magic.size() + kJournalTagBytes;
  if (bytes.size() < magic.size()) {
    // A start cut short by the crash is no journal of any change; anything else is foreign.
    const bool cut =
        magic.compare(0, bytes.size(), bytes) == 0 || legacy.compare(0, bytes.size(), bytes) == 0;
    contents.state = cut ? JournalState::Empty : JournalState::Unreadable;
    return contents;
  }
  if (bytes.compare(0, legacy.size(), legacy) == 0) return ParseLegacyJournal(bytes);
  if (bytes.compare(0, magic.size(), magic) != 0) {
    contents.state = JournalState::Unreadable;
    return contents;
  }
  if (bytes.size() < header) return contents;  // the tag cut short: nothing was written after it
  contents.tag = bytes.substr(magic.size(), kJournalTagBytes);
  size_t at = header;
  contents.wholeBytes = at;
  while (at < bytes.size()) {
    const size_t left = bytes.size() - at;
    if (left < kRecordHeaderBytes) return StopAt(contents, bytes, at, true), contents;
    const std::uint32_t length = NumberAt(bytes, at), crc = NumberAt(bytes, at + 4);
    // A write holds at least one record: a zero length is no write (nor is the zero checksum
    // that goes with it a valid one).
    if (length == 0 || length > kMaxJournalWriteBytes) return StopAt(contents, bytes, at, false), contents;
    if (left - kRecordHeaderBytes < length) return StopAt(contents, bytes, at, true), contents;
    const bool last = at + kRecordHeaderBytes + length == bytes.size();
    // Only the last write can have been cut by the crash: each one reached the disk before the
    // next was begun.
    if (Crc32(bytes.substr(at, 4) + bytes.substr(at + kRecordHeaderBytes, length)) != crc)
      return StopAt(contents, bytes, at, last), contents;
    if (!DecodeWrite(bytes.substr(at + kRecordHeaderBytes, length), contents.records))
      return StopAt(contents, bytes, at, false), contents;
    at += kRecordHeaderBytes + length;
    contents.wholeBytes = at;
  }
  contents.state = contents.records.empty() ? JournalState::Empty : JournalState::Complete;
  return contents;
}

CQXChangeJournal::CQXChangeJournal(std::unique_ptr<CQXJournalSink> sink) : sink_(std::move(sink)) {}

bool CQXChangeJournal::Start(const std::string& tag) {
  if (tag.size() != kJournalTagBytes || !sink_ || !sink_->Append(EncodeJournalHeader(tag))) return false;
  CrashPoint("journal-write");
  return true;
}

bool CQXChangeJournal::Record(const UndoRecord& record) { return RecordAll({record}); }

bool CQXChangeJournal::RecordAll(const std::vector<UndoRecord>& records) { return Write(records, false); }

bool CQXChangeJournal::Write(const std::vector<UndoRecord>& records, bool undoMark) {
  if (records.empty()) return true;
  if (!sink_) return false;
  for (const std::string& write : EncodeJournalWrites(records))
    if (!sink_->Append(write)) return false;
  records_.insert(records_.end(), records.begin(), records.end());
  CrashPoint(undoMark ? "undo-mark" : "journal-write");
  return true;
}

bool CQXChangeJournal::MarkUndone(const std::vector<size_t>& indexes) {
  std::vector<UndoRecord> marks;
  for (size_t index : indexes) {
    UndoRecord mark;
    mark.kind = UndoKind::StepUndone;
    mark.attributes = static_cast<std::uint32_t>(index);
    marks.push_back(mark);
  }
  return Write(marks, true);
}

bool CQXChangeJournal::Forget() {
  if (!sink_ || !sink_->Clear()) return false;
  records_.clear();
  CrashPoint("journal-emptied");
  return true;
}

std::wstring UndoKey(UndoKind kind) {
  switch (kind) {
    case UndoKind::PackageBegun: return std::wstring();
    case UndoKind::FileMovedAside: return L"UNDO_FILE_RESTORE";
    case UndoKind::FileCreated: return L"UNDO_FILE_REMOVE";
    case UndoKind::FolderCreated: return L"UNDO_FOLDER_REMOVE";
    case UndoKind::FolderRemoved: return L"UNDO_FOLDER_RESTORE";
    case UndoKind::AttributesChanged: return L"UNDO_ATTRIBUTES";
    case UndoKind::RegistryValue: return L"UNDO_REG_VALUE";
    case UndoKind::RegistryKeyCreated: return L"UNDO_REG_KEY_REMOVE";
    case UndoKind::RegistryKeyRemoved: return L"UNDO_REG_KEY_RESTORE";
    case UndoKind::RestartMoveQueued: return L"UNDO_RESTART_ENTRY";
    case UndoKind::ComUnregistered: return L"UNDO_COM_REGISTER";
    case UndoKind::ComRegistered: return L"UNDO_COM_UNREGISTER";
    case UndoKind::StepUndone: return std::wstring();
  }
  return std::wstring();
}

std::wstring UndoObject(const UndoRecord& record) {
  if (record.kind == UndoKind::RegistryValue) return record.path + L"\\" + record.name;
  return record.path;
}

namespace {

// Steps on one object go in order: after one failed, the earlier ones on it wait for the retry.
std::wstring ObjectKey(const UndoRecord& record) {
  std::wstring key = UndoObject(record);
  for (wchar_t& c : key) c = static_cast<wchar_t>(towlower(c));
  return std::to_wstring(record.root) + (record.is64Bit ? L"|64|" : L"|32|") + key;
}

// A name folded so that two spellings of one name always compare equal: ASCII letters to lower
// case, every other character to one stand-in (over-matching only costs a write).
std::wstring FoldedName(const std::wstring& name) {
  std::wstring folded;
  for (wchar_t c : name) folded += c < 0x80 ? static_cast<wchar_t>(towlower(c)) : L'?';
  return folded;
}

std::wstring LeafOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A file's last name; empty (at once) for a name the system may also know by another, short one.
std::wstring FileLeaf(const std::wstring& path) {
  const std::wstring leaf = FoldedName(LeafOf(path));
  return leaf.find(L'~') == std::wstring::npos ? leaf : std::wstring();
}

// The names an undo step touches; atOnce when its mark must not wait (a step on a folder, a key,
// a queued move, a COM server or a short name).
struct TouchedNames {
  bool atOnce = true;
  std::vector<std::wstring> names;
};

TouchedNames NamesTouched(const UndoRecord& record) {
  TouchedNames touched;
  switch (record.kind) {
    case UndoKind::FileMovedAside:
    case UndoKind::FileCreated:
    case UndoKind::AttributesChanged:
      for (const std::wstring* path : {&record.path, &record.other}) {
        if (path->empty()) continue;
        const std::wstring leaf = FileLeaf(*path);
        if (leaf.empty()) return touched;
        touched.names.push_back(L"file|" + leaf);
      }
      touched.atOnce = touched.names.empty();
      break;
    case UndoKind::RegistryValue:
      touched.names.push_back(L"value|" + FoldedName(record.name));
      touched.atOnce = false;
      break;
    default: break;  // folders, keys, queued moves, COM servers: marked at once
  }
  return touched;
}

// The marks of the steps done, held back while the next steps touch other names.
class WaitingMarks {
 public:
  explicit WaitingMarks(const std::function<bool(const std::vector<size_t>&)>& write) : write_(write) {}
  // Before a step: writes the waiting marks when the step meets one of theirs.
  bool Before(const TouchedNames& touched) {
    if (indexes_.empty()) return true;
    bool meets = touched.atOnce;
    for (const std::wstring& name : touched.names) meets = meets || names_.count(name) != 0;
    return meets ? Write() : true;
  }
  // After a step done: its mark waits, or is written at once.
  bool Done(size_t index, const TouchedNames& touched) {
    indexes_.push_back(index);
    if (touched.atOnce) return Write();
    names_.insert(touched.names.begin(), touched.names.end());
    return true;
  }
  bool Write() {
    if (indexes_.empty()) return true;
    const bool written = !write_ || write_(indexes_);
    indexes_.clear();
    names_.clear();
    return written;
  }

 private:
  const std::function<bool(const std::vector<size_t>&)>& write_;
  std::vector<size_t> indexes_;
  std::set<std::wstring> names_;
};

}  // namespace

bool UndoRecords(const std::vector<UndoRecord>& records, CQXUndoTarget& target,
                 const std::function<bool(const std::vector<size_t>&)>& markUndone) {
  std::set<size_t> done;
  for (const UndoRecord& record : records)
    if (record.kind == UndoKind::StepUndone) done.insert(record.attributes);
  std::set<std::wstring> failed;
  WaitingMarks marks(markUndone);
  bool allUndone = true;
  for (size_t index = records.size(); index-- > 0;) {
    const UndoRecord& record = records[index];
    const std::wstring key = UndoKey(record.kind);
    if (key.empty() || done.count(index)) continue;
    if (failed.count(ObjectKey(record))) {
      allUndone = false;
      continue;
    }
    const TouchedNames touched = NamesTouched(record);
    if (!marks.Before(touched)) return false;
    const unsigned long code = target.Undo(record);
    WriteServiceLog({L"-", UndoObject(record), code == 0 ? L"success" : L"error", std::to_wstring(code)},
                    L"BR", key);
    if (code != 0) {
      allUndone = false;
      failed.insert(ObjectKey(record));
      continue;
    }
    CrashPoint("undo-step");
    if (!marks.Done(index, touched)) return false;
  }
  return marks.Write() && allUndone;
}

}  // namespace brindle
