#include "apply/undo_journal.h"

#include "logs/service_log.h"

#include <array>

namespace brindle {

const char kJournalMagic[8] = {'B', 'R', 'U', 'N', 'D', 'O', '1', '\n'};

namespace {

// The record layout: length of the payload (4 bytes), its CRC-32 (4 bytes), the payload. All
// numbers little-endian; texts as UTF-16 code units.
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
         kind <= static_cast<std::uint32_t>(UndoKind::ComRegistered);
}

bool DecodePayload(const std::string& payload, UndoRecord& record) {
  Reader reader(payload);
  std::uint32_t kind = 0, flags = 0;
  if (!reader.Number(kind) || !IsKnownKind(kind) || !reader.Number(flags)) return false;
  record.kind = static_cast<UndoKind>(kind);
  record.is64Bit = (flags & 1) != 0;
  record.existed = (flags & 2) != 0;
  return reader.Number(record.root) && reader.Number(record.attributes) && reader.Text(record.path) &&
         reader.Text(record.other) && reader.Text(record.name) && reader.Bytes(record.data) &&
         reader.AtEnd();
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

JournalContents ParseJournal(const std::string& bytes) {
  JournalContents contents;
  const std::string magic(kJournalMagic, sizeof(kJournalMagic));
  if (bytes.size() < magic.size()) {
    // A start cut short by the crash is no journal of any change; anything else is foreign.
    contents.state = magic.compare(0, bytes.size(), bytes) == 0 ? JournalState::Empty : JournalState::Unreadable;
    return contents;
  }
  if (bytes.compare(0, magic.size(), magic) != 0) {
    contents.state = JournalState::Unreadable;
    return contents;
  }
  size_t at = magic.size();
  while (at < bytes.size()) {
    const size_t left = bytes.size() - at;
    const std::string headerBytes = bytes.substr(at, kRecordHeaderBytes);
    Reader header(headerBytes);
    std::uint32_t length = 0, crc = 0;
    if (left < kRecordHeaderBytes || !header.Number(length) || !header.Number(crc)) {
      contents.state = JournalState::TornTail;
      return contents;
    }
    if (length > kMaxJournalRecordBytes) {
      contents.state = JournalState::Unreadable;
      contents.records.clear();
      return contents;
    }
    if (left - kRecordHeaderBytes < length) {
      contents.state = JournalState::TornTail;
      return contents;
    }
    const std::string payload = bytes.substr(at + kRecordHeaderBytes, length);
    const bool last = at + kRecordHeaderBytes + length == bytes.size();
    UndoRecord record;
    if (Crc32(payload) != crc || !DecodePayload(payload, record)) {
      // Only the last record can have been cut by the crash: each one reached the disk before
      // the next was begun. Damage before it means the file cannot be trusted at all.
      contents.state = last && Crc32(payload) != crc ? JournalState::TornTail : JournalState::Unreadable;
      if (contents.state == JournalState::Unreadable) contents.records.clear();
      return contents;
    }
    contents.records.push_back(std::move(record));
    at += kRecordHeaderBytes + length;
  }
  contents.state = contents.records.empty() ? JournalState::Empty : JournalState::Complete;
  return contents;
}

CQXChangeJournal::CQXChangeJournal(std::unique_ptr<CQXJournalSink> sink) : sink_(std::move(sink)) {}

bool CQXChangeJournal::Start() {
  return sink_ && sink_->Append(std::string(kJournalMagic, sizeof(kJournalMagic)));
}

bool CQXChangeJournal::Record(const UndoRecord& record) {
  if (!sink_ || !sink_->Append(EncodeUndoRecord(record))) return false;
  records_.push_back(record);
  return true;
}

bool CQXChangeJournal::RecordAll(const std::vector<UndoRecord>& records) {
  if (records.empty()) return true;
  std::string bytes;
  for (const UndoRecord& record : records) bytes += EncodeUndoRecord(record);
  if (!sink_ || !sink_->Append(bytes)) return false;
  records_.insert(records_.end(), records.begin(), records.end());
  return true;
}

bool CQXChangeJournal::Forget() {
  if (!sink_ || !sink_->Clear()) return false;
  records_.clear();
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
  }
  return std::wstring();
}

std::wstring UndoObject(const UndoRecord& record) {
  if (record.kind == UndoKind::RegistryValue) return record.path + L"\\" + record.name;
  return record.path;
}

bool UndoRecords(const std::vector<UndoRecord>& records, CQXUndoTarget& target) {
  bool allUndone = true;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const std::wstring key = UndoKey(it->kind);
    if (key.empty()) continue;
    const unsigned long code = target.Undo(*it);
    if (code != 0) allUndone = false;
    WriteServiceLog({L"-", UndoObject(*it), code == 0 ? L"success" : L"error", std::to_wstring(code)},
                    L"BR", key);
  }
  return allUndone;
}

}  // namespace brindle
