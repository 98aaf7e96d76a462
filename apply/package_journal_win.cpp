#include "apply/package_journal_win.h"

#include "apply/file_actions_win.h"
#include "apply/package_executor.h"
#include "apply/registry_actions_win.h"
#include "apply/sub_updater.h"
#include "logs/service_log.h"
#include "sys/file_placement_win.h"
#include "sys/file_util.h"
#include "sys/folder_removal.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/win_handles.h"

#include <windows.h>

#include <cwchar>
#include <system_error>
#include <thread>

namespace brindle {

namespace {

// Below the common application-data folder; only Administrators and SYSTEM may write there.
const wchar_t kUndoSubPath[] = L"Tamek_Inc_RW\\BrindleUndo";
const wchar_t kJournalName[] = L"journal.dat";
const wchar_t kBackupName[] = L"backup";
const unsigned kBackupsPerFolder = 100;

// A record of a change to one file-system object (or COM server) in the given view.
UndoRecord PathRecord(UndoKind kind, const std::wstring& path, bool is64Bit, unsigned long attributes = 0) {
  UndoRecord record;
  record.kind = kind;
  record.is64Bit = is64Bit;
  record.path = path;
  record.attributes = static_cast<std::uint32_t>(attributes);
  return record;
}

// A record of a change to one registry key in the given view.
UndoRecord KeyRecord(UndoKind kind, int root, bool is64BitView, const std::wstring& keyPath) {
  UndoRecord record;
  record.kind = kind;
  record.is64Bit = is64BitView;
  record.root = static_cast<std::uint32_t>(root);
  record.path = keyPath;
  return record;
}

REGSAM ViewOf(bool is64BitView) { return is64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

// Writes each record through to the disk before Append returns.
class JournalFileSink : public CQXJournalSink {
 public:
  explicit JournalFileSink(UniqueFile file) : file_(std::move(file)) {}
  bool Append(const std::string& bytes) override {
    DWORD written = 0;
    return WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file_.Get());
  }
  bool Clear() override {
    LARGE_INTEGER start{};
    return SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) && SetEndOfFile(file_.Get()) &&
           FlushFileBuffers(file_.Get());
  }

 private:
  UniqueFile file_;
};

// The undo folder, held open and checked to be no link while it is used.
bool OpenUndoFolder(ProtectedFolder& folder) {
  // "Tamek_Inc_RW" is shared: only the folder below it is this program's (see OpenWorkRoot).
  const ProtectedFolderStatus status =
      folder.Open(CommonAppDataFolder(), kUndoSubPath, ProtectedFolder::Mode::OpenOrCreate, 1);
  if (status == ProtectedFolderStatus::Ready) return true;
  WriteServiceLog({L"-", kUndoSubPath, L"error", DescribeStatus(status)}, L"BR", L"UNDO_JOURNAL_FOLDER");
  return false;
}

std::wstring StampText() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t text[32];
  swprintf(text, 32, L"%04u%02u%02u-%02u%02u%02u-%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
           now.wMinute, now.wSecond, now.wMilliseconds);
  return text;
}

// Copies the file into its backup under a passing name, flushed, and gives it the backup's name
// only once the copy is whole: a process ended in the middle of the copy leaves no backup, so
// the undo leaves the file (still in its place) alone instead of putting a cut copy over it.
bool CopyToBackup(const std::wstring& path, const std::wstring& backup) {
  const std::wstring partial = backup + L".part";
  bool copied = CopyFileW(path.c_str(), partial.c_str(), FALSE) != FALSE;
  if (copied) {
    // A read-only copy is opened for the flush with its attribute lifted for the moment.
    const DWORD attributes = GetFileAttributesW(partial.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesW(partial.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    {
      UniqueFile file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      copied = file && FlushFileBuffers(file.Get());
    }
    if (readOnly) SetFileAttributesW(partial.c_str(), attributes);
  }
  if (copied && MoveFileExW(partial.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  const DWORD error = GetLastError();
  DeleteFileW(partial.c_str());
  SetLastError(error);
  return false;
}

// The undo on the machine: each record taken back by the action family that writes it (the
// shortcut actions write file records).
bool UndoOnTheMachine(const std::vector<UndoRecord>& records) {
  CQXUndoFunctions files(&CFileActions::Undoes, &CFileActions::Undo);
  CQXUndoFunctions registry(&CRegistryActions::Undoes, &CRegistryActions::Undo);
  return UndoByFamilies(records, {&files, &registry});
}

// The application and package named by the journal's first record, for the log lines.
LogFields PackageFields(const std::vector<UndoRecord>& records) {
  if (!records.empty() && records.front().kind == UndoKind::PackageBegun)
    return {L"-", records.front().path, records.front().other};
  return {L"-"};
}

// Removes the journal (from then on nothing is undone). A journal that another program holds
// open and that cannot be removed is emptied instead: an empty journal is one of no change,
// which the next run only removes.
void RemoveJournal(const std::wstring& folder) {
  const std::wstring journal = folder + L"\\" + kJournalName;
  if (!DeleteFileW(journal.c_str()) && !IsMissingPathError(GetLastError())) {
    UniqueFile emptied(CreateFileW(journal.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (emptied) FlushFileBuffers(emptied.Get());
  }
}

// Removes the journal (first) and the backups.
void ClearUndoFolder(const std::wstring& folder) {
  RemoveJournal(folder);
  RemoveTreeNoFollow(folder + L"\\" + kBackupName);
}

// The old files of a kept package are removed on a thread of their own while the run shows its
// end. The next package's start and the end of the process wait for it; a process ended
// meanwhile leaves backups without a journal, which the next package's start removes.
class BackupRemoval {
 public:
  ~BackupRemoval() { Wait(); }
  void Start(const std::wstring& folder) {
    Wait();
    try {
      worker_ = std::thread([folder] { RemoveTreeNoFollow(folder); });
    } catch (const std::system_error&) {
      RemoveTreeNoFollow(folder);
    }
  }
  void Wait() {
    if (worker_.joinable()) worker_.join();
  }

 private:
  std::thread worker_;
};
BackupRemoval g_backupRemoval;

// Keeps a journal that must not be applied, with its backups, under a dated name.
void KeepAside(const std::wstring& folder) {
  const std::wstring stamp = StampText();
  MoveFileExW((folder + L"\\" + kJournalName).c_str(), (folder + L"\\journal-" + stamp + L".kept").c_str(), 0);
  MoveFileExW((folder + L"\\" + kBackupName).c_str(), (folder + L"\\backup-" + stamp + L".kept").c_str(), 0);
}

// Undoes the records and clears the folder; a journal whose undo failed somewhere is kept.
bool UndoAndClear(const std::vector<UndoRecord>& records, const std::wstring& folder) {
  const bool undone = UndoOnTheMachine(records);
  if (undone) ClearUndoFolder(folder);
  else KeepAside(folder);
  return undone;
}

}  // namespace

// ---- the journal of the running package --------------------------------------------------------

std::wstring JournalFilePath() {
  ProtectedFolder folder;
  return OpenUndoFolder(folder) ? folder.Path() + L"\\" + kJournalName : std::wstring();
}

CPackageJournal::CPackageJournal(std::unique_ptr<CQXJournalSink> sink, std::unique_ptr<ProtectedFolder> folder,
                                 std::unique_ptr<ProtectedFolder> backups)
    : CQXChangeJournal(std::move(sink)),
      folder_(folder->Path()),
      undoFolder_(std::move(folder)),
      backupFolder_(std::move(backups)) {}

void CPackageJournal::ReleaseFolders() {
  backupGroups_.clear();
  backupFolder_.reset();
  undoFolder_.reset();
}

CPackageJournal::~CPackageJournal() = default;

std::unique_ptr<CPackageJournal> CPackageJournal::Begin(const std::wstring& appName,
                                                        const std::wstring& packageFile) {
  auto undo = std::make_unique<ProtectedFolder>();
  if (!OpenUndoFolder(*undo)) return nullptr;
  const std::wstring folder = undo->Path();
  // Backups without a journal are what a committed package left: nothing refers to them.
  g_backupRemoval.Wait();
  RemoveTreeNoFollow(folder + L"\\" + kBackupName);
  auto backups = std::make_unique<ProtectedFolder>();
  if (undo->OpenChild(kBackupName, ProtectedFolder::Mode::CreateNew, *backups) != ProtectedFolderStatus::Ready)
    return nullptr;
  UniqueFile file(CreateFileW((folder + L"\\" + kJournalName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file) return nullptr;  // a journal still there belongs to a package not yet undone
  std::unique_ptr<CPackageJournal> journal(new CPackageJournal(
      std::make_unique<JournalFileSink>(std::move(file)), std::move(undo), std::move(backups)));
  UndoRecord begun;
  begun.kind = UndoKind::PackageBegun;
  begun.path = appName;
  begun.other = packageFile;
  if (!journal->Start() || !journal->Record(begun)) {
    journal->finished_ = true;
    journal->Close();
    journal->ReleaseFolders();
    ClearUndoFolder(folder);
    return nullptr;
  }
  return journal;
}

void CPackageJournal::Note(const UndoRecord& record) {
  if (declaring_) {
    batch_.push_back(record);
    return;
  }
  if (!Record(record)) {
    WriteServiceLog({L"-", UndoObject(record), L"error", std::to_wstring(GetLastError())}, L"BR",
                    L"UNDO_JOURNAL_WRITE");
    throw CUpdaterException("the undo journal cannot be written");
  }
}

// The backups go into numbered sub-folders of a hundred each: a file system that looks a new
// name up by reading its whole folder (a case-insensitive lookup on a case-sensitive one, FAT)
// would otherwise make every move aside slower than the one before.
std::wstring CPackageJournal::NextBackupPath() {
  const unsigned number = ++backupNumber_;
  wchar_t name[32], group[16];
  swprintf(name, 32, L"%06u.old", number);
  swprintf(group, 16, L"%04u", (number - 1) / kBackupsPerFolder);
  if ((number - 1) % kBackupsPerFolder == 0) {
    auto child = std::make_unique<ProtectedFolder>();
    if (!backupFolder_ ||
        backupFolder_->OpenChild(group, ProtectedFolder::Mode::CreateNew, *child) != ProtectedFolderStatus::Ready)
      throw CUpdaterException("no folder for the old files");
    backupGroups_.push_back(std::move(child));
  }
  return folder_ + L"\\" + kBackupName + L"\\" + group + L"\\" + name;
}

namespace {
std::wstring ValueKey(int root, bool is64BitView, const std::wstring& keyPath, const std::wstring& name) {
  return std::to_wstring(root) + (is64BitView ? L"|64|" : L"|32|") + keyPath + L"|" + name;
}
std::wstring KeyKey(int root, bool is64BitView, const std::wstring& keyPath) {
  return L"key|" + std::to_wstring(root) + (is64BitView ? L"|64|" : L"|32|") + keyPath;
}

// Most values fit the first read; a larger one is read again at its size.
const DWORD kFirstValueRead = 2048;
static_assert(kFirstValueRead <= kMaxJournalRecordBytes / 2, "the first read stays within a record");

// The value's type and data into the record; false when the value cannot be queried (it is
// then recorded as missing). Throws when it is too large to keep or cannot be read whole.
bool ReadOldValue(HKEY key, const std::wstring& name, UndoRecord& record) {
  std::string data(kFirstValueRead, '\0');
  DWORD type = 0, bytes = kFirstValueRead;
  LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &bytes);
  if (status == ERROR_MORE_DATA) {
    if (bytes > kMaxJournalRecordBytes / 2) throw CUpdaterException("a registry value too large to keep");
    data.assign(bytes, '\0');
    status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &bytes);
    if (status != ERROR_SUCCESS) throw CUpdaterException("a registry value cannot be read for an undo");
  }
  if (status != ERROR_SUCCESS) return false;
  data.resize(bytes);
  record.data = std::move(data);
  record.existed = true;
  record.attributes = type;
  return true;
}
}  // namespace

void CPackageJournal::BeginDeclarations() {
  declaring_ = true;
  // Nothing makes keys while the declarations are gathered: a key found missing stays missing.
  declaredKeys_.Clear();
  declaredKeys_.RememberMissing();
  batch_.clear();
  declaredMoves_.clear();
  declaredNew_.clear();
  declaredValues_.clear();
  checkedKeyPaths_.clear();
}

void CPackageJournal::EndDeclarations() {
  declaring_ = false;
  declaredKeys_.Clear();
  std::vector<UndoRecord> batch;
  batch.swap(batch_);
  if (!RecordAll(batch)) {
    WriteServiceLog({L"-", folder_, L"error", std::to_wstring(GetLastError())}, L"BR", L"UNDO_JOURNAL_WRITE");
    declaredMoves_.clear();
    declaredNew_.clear();
    declaredValues_.clear();
    throw CUpdaterException("the undo journal cannot be written");
  }
}

void CPackageJournal::DeclareFile(const std::wstring& path, bool is64Bit) {
  if (declaredMoves_.count(path) || declaredNew_.count(path)) return;
  if (PathExists(path)) {
    UndoRecord record = PathRecord(UndoKind::FileMovedAside, path, is64Bit);
    record.other = NextBackupPath();
    Note(record);
    declaredMoves_[path] = record.other;
    return;
  }
  // The missing file and its missing folders; a folder already declared missing ends the walk
  // without another look at the disk.
  std::vector<std::wstring> missing;
  for (std::wstring at = path; !at.empty();) {
    if (at != path && declaredNew_.count(at)) break;
    if (PathExists(at)) break;
    missing.push_back(at);
    const size_t slash = at.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash < 3) break;
    at = at.substr(0, slash);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!declaredNew_.insert(*it).second) continue;
    UndoRecord record;
    record.kind = *it == path ? UndoKind::FileCreated : UndoKind::FolderCreated;
    record.is64Bit = is64Bit;
    record.path = *it;
    Note(record);
  }
}

void CPackageJournal::DeclareValue(int root, bool is64BitView, const std::wstring& keyPath, const std::wstring& name) {
  NoteMissingKeys(root, is64BitView, keyPath);
  NoteValue(root, is64BitView, keyPath, name);
}

bool CPackageJournal::MoveAside(const std::wstring& path, bool is64Bit, unsigned long& error) {
  UndoRecord record = PathRecord(UndoKind::FileMovedAside, path, is64Bit);
  const auto declared = declaredMoves_.find(path);
  if (declared != declaredMoves_.end()) {
    record.other = declared->second;
    declaredMoves_.erase(declared);
  } else {
    record.other = NextBackupPath();
    Note(record);
  }
  if (MoveFileThroughHandle(path, record.other, false)) return true;
  error = GetLastError();
  // Another volume: the old file is copied there whole, then removed here.
  if (error == ERROR_NOT_SAME_DEVICE) {
    if (CopyToBackup(path, record.other)) {
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      if (DeleteFileW(path.c_str())) return true;
      error = GetLastError();
      if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path.c_str(), attributes);
    } else {
      error = GetLastError();
    }
  }
  DeleteFileW(record.other.c_str());  // a copy whose source stayed is not a backup
  return false;
}

void CPackageJournal::Preserve(const std::wstring& path, bool is64Bit, bool byLink) {
  if (!PathExists(path)) {
    NoteNewFile(path, is64Bit);
    return;
  }
  UndoRecord record = PathRecord(UndoKind::FileMovedAside, path, is64Bit);
  record.other = NextBackupPath();
  Note(record);
  if (byLink && CreateHardLinkW(record.other.c_str(), path.c_str(), nullptr)) return;
  if (!CopyToBackup(path, record.other)) throw CUpdaterException("the old file cannot be kept for an undo");
}

void CPackageJournal::NoteNewFile(const std::wstring& path, bool is64Bit) {
  if (declaredNew_.count(path) || PathExists(path)) return;
  Note(PathRecord(UndoKind::FileCreated, path, is64Bit));
}

bool CPackageJournal::CreateFolders(const std::wstring& folder, bool is64Bit) {
  std::wstring path = ToBackslashes(folder);
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  // Declared missing: it and its missing parents are journaled already.
  if (declaredNew_.count(path)) return CreateFolderChain(path);
  std::vector<std::wstring> missing;
  for (std::wstring at = path; !at.empty() && !PathExists(at);) {
    missing.push_back(at);
    const size_t slash = at.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash < 2) break;
    at = at.substr(0, slash);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (declaredNew_.count(*it)) continue;
    Note(PathRecord(UndoKind::FolderCreated, *it, is64Bit));
  }
  return CreateFolderChain(path);
}

void CPackageJournal::NoteFolderRemoved(const std::wstring& folder, unsigned long attributes, bool is64Bit) {
  Note(PathRecord(UndoKind::FolderRemoved, folder, is64Bit, attributes));
}

void CPackageJournal::NoteAttributes(const std::wstring& path, unsigned long attributes, bool is64Bit) {
  Note(PathRecord(UndoKind::AttributesChanged, path, is64Bit, attributes));
}

void CPackageJournal::NoteValue(int root, bool is64BitView, const std::wstring& keyPath, const std::wstring& name) {
  if (!declaredValues_.insert(ValueKey(root, is64BitView, keyPath, name)).second && !declaring_) return;
  UndoRecord record;
  record.kind = UndoKind::RegistryValue;
  record.is64Bit = is64BitView;
  record.root = static_cast<std::uint32_t>(root);
  record.path = keyPath;
  record.name = name;
  const HKEY rootKey = CRegistryActions::RootKey(root);
  RegistryKeyCache once;
  RegistryKeyCache& keys = declaring_ ? declaredKeys_ : once;
  LONG opened = ERROR_SUCCESS;
  const HKEY key = rootKey ? keys.Open(rootKey, ViewOf(is64BitView), keyPath, KEY_QUERY_VALUE, opened) : nullptr;
  if (key) ReadOldValue(key, name, record);
  Note(record);
}

void CPackageJournal::NoteMissingKeys(int root, bool is64BitView, const std::wstring& keyPath) {
  const HKEY rootKey = CRegistryActions::RootKey(root);
  if (!rootKey) return;
  // A path looked at once in a pass needs no second look: its missing keys are journaled, and
  // a write pass removes no key.
  if (!checkedKeyPaths_.insert(KeyKey(root, is64BitView, keyPath)).second) return;
  // A key that is there has every key of its path.
  RegistryKeyCache once;
  RegistryKeyCache& keys = declaring_ ? declaredKeys_ : once;
  LONG whole = ERROR_SUCCESS;
  if (keys.Open(rootKey, ViewOf(is64BitView), keyPath, KEY_READ, whole)) return;
  std::vector<std::wstring> prefixes;
  for (size_t at = 0; at <= keyPath.size(); ++at) {
    if (at == keyPath.size() || keyPath[at] == L'\\') {
      if (at > 0 && keyPath[at - 1] != L'\\') prefixes.push_back(keyPath.substr(0, at));
    }
  }
  bool missing = false;
  for (const std::wstring& prefix : prefixes) {
    if (!missing) {
      UniqueRegKey key;
      const LONG opened = RegOpenKeyExW(rootKey, prefix.c_str(), 0, KEY_READ | ViewOf(is64BitView), key.Receive());
      if (opened == ERROR_SUCCESS) continue;
      missing = true;
    }
    if (!declaredNew_.insert(KeyKey(root, is64BitView, prefix)).second) continue;
    Note(KeyRecord(UndoKind::RegistryKeyCreated, root, is64BitView, prefix));
  }
}

void CPackageJournal::NoteKeyRemoved(int root, bool is64BitView, const std::wstring& keyPath) {
  checkedKeyPaths_.clear();
  declaredKeys_.Clear();
  Note(KeyRecord(UndoKind::RegistryKeyRemoved, root, is64BitView, keyPath));
}

void CPackageJournal::NoteRestartMove(const std::wstring& source, const std::wstring& destination) {
  UndoRecord record;
  record.kind = UndoKind::RestartMoveQueued;
  record.path = source;
  record.other = destination;
  Note(record);
}

void CPackageJournal::NoteCom(const std::wstring& path, bool is64Bit, bool registering) {
  Note(PathRecord(registering ? UndoKind::ComRegistered : UndoKind::ComUnregistered, path, is64Bit));
}

void CPackageJournal::Commit() {
  if (finished_) return;
  finished_ = true;
  declaredKeys_.Clear();
  // Emptied through its own handle before it is removed: should another program hold it open
  // so that it cannot be removed, what is left is a journal of no change, never one that the
  // next run would take back (with the backups gone, that would break the kept package).
  Forget();
  Close();
  ReleaseFolders();
  RemoveJournal(folder_);  // first: from then on nothing is undone
  g_backupRemoval.Start(folder_ + L"\\" + kBackupName);
}

bool CPackageJournal::Undo() {
  if (finished_) return true;
  finished_ = true;
  declaredKeys_.Clear();
  Close();
  ReleaseFolders();
  LogFields fields = PackageFields(Records());
  WriteServiceLog(fields, L"BR", L"UNDO_PACKAGE");
  const bool undone = UndoAndClear(Records(), folder_);
  fields.push_back(undone ? L"success" : L"error");
  WriteServiceLog(fields, L"BR", L"UNDO_PACKAGE");
  return undone;
}

// ---- recovery at the next run -----------------------------------------------------------------

void RecoverInterruptedPackage() {
  std::wstring folder;
  {
    ProtectedFolder undo;
    if (!OpenUndoFolder(undo)) return;
    folder = undo.Path();
  }
  const std::wstring journalPath = folder + L"\\" + kJournalName;
  if (!PathExists(journalPath)) {
    RemoveTreeNoFollow(folder + L"\\" + kBackupName);  // what a committed package left behind
    return;
  }
  std::string bytes;
  if (!ReadWholeFile(journalPath, bytes, false)) {
    WriteServiceLog({L"-", journalPath, L"error", std::to_wstring(GetLastError())}, L"BR", L"UNDO_JOURNAL");
    KeepAside(folder);
    return;
  }
  const JournalContents contents = ParseJournal(bytes);
  switch (contents.state) {
    case JournalState::Empty:
      ClearUndoFolder(folder);
      return;
    case JournalState::Unreadable:
      WriteServiceLog({L"-", journalPath, L"unreadable"}, L"BR", L"UNDO_JOURNAL");
      KeepAside(folder);
      return;
    case JournalState::Complete:
    case JournalState::TornTail:
      break;
  }
  LogFields fields = PackageFields(contents.records);
  fields.push_back(contents.state == JournalState::TornTail ? L"torn" : L"complete");
  WriteServiceLog(fields, L"BR", L"UNDO_JOURNAL");
  const bool undone = UndoAndClear(contents.records, folder);
  fields.back() = undone ? L"success" : L"error";
  WriteServiceLog(fields, L"BR", L"UNDO_PACKAGE");
}

}  // namespace brindle
