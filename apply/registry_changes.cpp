#include "apply/registry_changes.h"

#include "apply/registry_data.h"
#include "apply/registry_decisions.h"
#include "package/object_records.h"

namespace brindle {

namespace {

std::wstring TrimmedKeyPath(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

UndoRecord KeyRecord(UndoKind kind, const RegistryKeyName& key, const std::wstring& path) {
  UndoRecord record;
  record.kind = kind;
  record.is64Bit = key.is64BitView;
  record.root = static_cast<std::uint32_t>(key.root);
  record.path = path;
  return record;
}

// Every path of a key on the way to it, outermost first ("A", "A\B", "A\B\C"); doubled
// backslashes name no key of their own.
std::vector<std::wstring> PathPrefixes(const std::wstring& path) {
  std::vector<std::wstring> prefixes;
  for (size_t at = 0; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == L'\\') {
      if (at > 0 && path[at - 1] != L'\\') prefixes.push_back(path.substr(0, at));
    }
  }
  return prefixes;
}

bool IsMissing(unsigned long code) { return code == kSysFileNotFound || code == kSysPathNotFound; }

// A value's name in one key of one view, as the notes compare it.
std::wstring ValueIdentity(const RegistryKeyName& key, const std::wstring& name) {
  return std::to_wstring(key.root) + (key.is64BitView ? L"|64|" : L"|32|") + key.path + L"|" + name;
}

RegistryChangeResult Failed(const wchar_t* verb, unsigned long code) {
  return {verb, code, RegistryChangeOutcome::kFailed, false};
}

RegistryChangeResult NotNoted(const wchar_t* verb) {
  return {verb, kSysSuccess, RegistryChangeOutcome::kFailPackage, false};
}

}  // namespace

unsigned long RecordMissingKeys(MachineRegistry& registry, const RegistryKeyName& key,
                                std::vector<UndoRecord>& out) {
  bool exists = false;
  unsigned long looked = registry.KeyExists(key, exists);
  if (looked != kSysSuccess || exists) return looked;
  bool missing = false;
  for (const std::wstring& prefix : PathPrefixes(key.path)) {
    if (!missing) {
      looked = registry.KeyExists(RegistryKeyName{key.root, key.is64BitView, prefix}, exists);
      if (looked != kSysSuccess) return looked;
      if (exists) continue;
      missing = true;  // every key below a missing one is missing too
    }
    out.push_back(KeyRecord(UndoKind::RegistryKeyCreated, key, prefix));
  }
  return kSysSuccess;
}

unsigned long RecordOldValue(MachineRegistry& registry, const RegistryKeyName& key, const std::wstring& name,
                             UndoRecord& out) {
  out = KeyRecord(UndoKind::RegistryValue, key, key.path);
  out.name = name;
  RegistryValueBytes old;
  if (registry.ReadValue(key, name, old) != kSysSuccess) return kSysSuccess;
  if (old.bytes.size() > kMaxJournalRecordBytes / 2) return kSysFileTooLarge;
  out.existed = true;
  out.attributes = old.type;
  out.data = std::move(old.bytes);
  return kSysSuccess;
}

UndoRecord RecordKeyRemoved(const RegistryKeyName& key) {
  return KeyRecord(UndoKind::RegistryKeyRemoved, key, TrimmedKeyPath(key.path));
}

bool RegistryNotesToJournal::NoteWrite(const RegistryKeyName& key, const std::wstring& name) {
  std::vector<UndoRecord> records;
  UndoRecord value;
  if (RecordMissingKeys(registry_, key, records) != kSysSuccess) return false;
  if (RecordOldValue(registry_, key, name, value) != kSysSuccess) return false;
  noteFoundMissing_ = value.existed ? std::wstring() : ValueIdentity(key, name);
  records.push_back(std::move(value));
  return journal_.RecordAll(records);
}

bool RegistryNotesToJournal::FoundMissing(const RegistryKeyName& key, const std::wstring& name) {
  const bool missing = !noteFoundMissing_.empty() && noteFoundMissing_ == ValueIdentity(key, name);
  noteFoundMissing_.clear();
  return missing;
}

bool RegistryNotesToJournal::NoteDeletion(const RegistryKeyName& key, const std::wstring& name) {
  UndoRecord value;
  return RecordOldValue(registry_, key, name, value) == kSysSuccess && journal_.Record(value);
}

bool RegistryNotesToJournal::NoteKeyRemoved(const RegistryKeyName& key) {
  return journal_.Record(RecordKeyRemoved(key));
}

RegistryChangeResult WriteRegistryValue(MachineRegistry& registry, RegistryChangeJournal& journal,
                                        const RegistryKeyName& key, const std::wstring& name,
                                        const RegistryValueBytes& value, bool inAdd) {
  const wchar_t* verb = RegistryWriteVerb(inAdd);
  if (!journal.NoteWrite(key, name)) return NotNoted(verb);
  // The update deletes the old value before its write; a value the journal found missing (the
  // update's delete pass has just removed it) has nothing to delete.
  const bool replace = !inAdd && !journal.FoundMissing(key, name);
  const unsigned long written = registry.WriteValue(key, name, value, replace);
  if (written != kSysSuccess) return Failed(verb, written);
  return {verb, kSysSuccess, RegistryChangeOutcome::kDone, false};
}

RegistryChangeResult DeleteRegistryValue(MachineRegistry& registry, RegistryChangeJournal& journal,
                                         const RegistryKeyName& key, const std::wstring& name,
                                         bool inUpdate) {
  RegistryKeyState state;
  unsigned long looked = kSysSuccess;
  if (inUpdate) {
    // The update section never removes the key, so neither its contents nor the value are
    // counted: the value is deleted if the key is there, and the deletion answers
    // kSysFileNotFound for a value that is not, as the line of a missing value says.
    looked = registry.KeyExists(key, state.exists);
    state.holdsValue = state.exists;
  } else {
    looked = registry.Look(key, name, state);
  }
  const RegistryDeletion deletion = DecideRegistryDeletion(state, inUpdate);
  if (looked != kSysSuccess) return Failed(deletion.errorVerb, looked);
  // The key is gone, so the value is too: reported like a missing value, and the pass goes on.
  if (deletion.keyMissing) return {deletion.verb, kSysFileNotFound, RegistryChangeOutcome::kDone, false};
  if (!journal.NoteDeletion(key, name)) return NotNoted(deletion.errorVerb);
  const unsigned long deleted = deletion.deleteValue ? registry.DeleteValue(key, name) : kSysFileNotFound;
  if (deleted != kSysSuccess && deleted != kSysFileNotFound) return Failed(deletion.errorVerb, deleted);
  if (!deletion.deleteKey) return {deletion.verb, deleted, RegistryChangeOutcome::kDone, false};
  if (!journal.NoteKeyRemoved(key)) return NotNoted(deletion.errorVerb);
  const unsigned long removed = registry.DeleteKeyIfEmpty(key);
  if (removed != kSysSuccess) return Failed(deletion.verb, removed);
  return {deletion.verb, kSysSuccess, RegistryChangeOutcome::kDone, true};
}

const RegistryKeyName& SharedCountsKey() {
  static const RegistryKeyName key{kRegRootLocalMachine, false,
                                   L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"};
  return key;
}

unsigned long ReadSharedCount(MachineRegistry& registry, const std::wstring& file, SharedCount& out) {
  RegistryValueBytes value;
  const unsigned long read = registry.ReadValue(SharedCountsKey(), file, value);
  if (read != kSysSuccess && !IsMissing(read)) return read;
  out = SharedCountOf(read == kSysSuccess, value);
  return kSysSuccess;
}

RegistryChangeResult RaiseSharedCount(MachineRegistry& registry, RegistryChangeJournal& journal,
                                      const std::wstring& file) {
  SharedCount count;
  const unsigned long read = ReadSharedCount(registry, file, count);
  if (read != kSysSuccess) return Failed(L"", read);
  std::uint32_t raised = 0;
  if (!RaisedSharedCount(count, raised)) return Failed(L"", kSysInvalidData);
  if (!journal.NoteWrite(SharedCountsKey(), file)) return NotNoted(L"");
  const unsigned long written = registry.WriteValue(SharedCountsKey(), file, DwordValue(raised), false);
  if (written != kSysSuccess) return Failed(L"", written);
  return {L"", kSysSuccess, RegistryChangeOutcome::kDone, false};
}

RegistryChangeResult ChangeCountForDeletion(MachineRegistry& registry, RegistryChangeJournal& journal,
                                            const std::wstring& file, const FileDeletion& deletion) {
  if (deletion.kind != FileDeletionKind::kCountLowered && !deletion.removeCount)
    return {L"", kSysSuccess, RegistryChangeOutcome::kDone, false};
  if (!journal.NoteWrite(SharedCountsKey(), file)) return NotNoted(L"");
  const unsigned long changed =
      deletion.removeCount
          ? registry.DeleteValue(SharedCountsKey(), file)
          : registry.WriteValue(SharedCountsKey(), file, DwordValue(deletion.lowered), false);
  if (changed != kSysSuccess && !IsMissing(changed)) return Failed(L"", changed);
  return {L"", kSysSuccess, RegistryChangeOutcome::kDone, false};
}

unsigned long UndoRegistryRecord(MachineRegistry& registry, const UndoRecord& record) {
  const RegistryKeyName key{static_cast<int>(record.root), record.is64Bit, record.path};
  switch (record.kind) {
    case UndoKind::RegistryValue: {
      if (record.existed) {
        RegistryValueBytes old;
        old.type = record.attributes;
        old.bytes = record.data;
        return registry.WriteValue(key, record.name, old, false);
      }
      const unsigned long deleted = registry.DeleteValue(key, record.name);
      return IsMissing(deleted) ? kSysSuccess : deleted;
    }
    case UndoKind::RegistryKeyCreated: {
      // A key something else has filled since stays (kSysDirNotEmpty): it is no longer the
      // package's alone.
      const unsigned long removed = registry.DeleteKeyIfEmpty(key);
      return IsMissing(removed) ? kSysSuccess : removed;
    }
    case UndoKind::RegistryKeyRemoved: return registry.CreateKey(key);
    default: return kSysInvalidParameter;
  }
}

bool RegistryUndo::Undoes(UndoKind kind) const {
  return kind == UndoKind::RegistryValue || kind == UndoKind::RegistryKeyCreated ||
         kind == UndoKind::RegistryKeyRemoved;
}

}  // namespace brindle
