#include "apply/package_journal_win.h"

#include "apply/crash_point.h"
#include "apply/file_actions_win.h"
#include "apply/package_executor.h"
#include "apply/registry_actions_win.h"
#include "apply/registry_changes.h"
#include "apply/sub_updater.h"
#include "apply/win_machine_files_win.h"
#include "logs/service_log.h"
#include "package/object_records.h"
#include "sys/com_registration_win.h"
#include "sys/com_registry_trace_win.h"
#include "sys/file_placement_win.h"
#include "sys/file_util.h"
#include "sys/folder_removal.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <ntsecapi.h>

#include <cwchar>
#include <cwctype>

namespace brindle {

namespace {

// Below the common application-data folder; only Administrators and SYSTEM may write there.
const wchar_t kUndoSubPath[] = L"Tamek_Inc_RW\\BrindleUndo";
// Each package's journal and backup folder have names of their own, from the journal's random
// tag: journal-<tag>.dat and backup-<tag>. (An earlier version used journal.dat and backup.)
const wchar_t kJournalPrefix[] = L"journal-";
const wchar_t kJournalSuffix[] = L".dat";
const wchar_t kBackupPrefix[] = L"backup-";
const wchar_t kLegacyJournalName[] = L"journal.dat";
const wchar_t kLegacyBackupName[] = L"backup";
const unsigned kBackupsPerFolder = 100;
const size_t kTagHexChars = 2 * kJournalTagBytes;
// The identity (volume, file ID, tag) of each journal the program wrote, under the journal's
// name: a value only administrators can write. A journal is applied only when it matches.
const wchar_t kIdentityKey[] = L"SOFTWARE\\Tamek\\Brindle\\UndoJournals";
const REGSAM kIdentityView = KEY_WOW64_64KEY;

std::wstring HexOf(const std::string& bytes) {
  static const wchar_t digits[] = L"0123456789abcdef";
  std::wstring hex;
  for (unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

bool IsTagHex(const std::wstring& text) {
  if (text.size() != kTagHexChars) return false;
  for (wchar_t c : text)
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  return true;
}

// A new random tag; empty when the system gives none.
std::string NewTag() {
  std::string tag(kJournalTagBytes, '\0');
  if (!RtlGenRandom(&tag[0], static_cast<ULONG>(tag.size()))) return std::string();
  return tag;
}

std::wstring JournalNameOf(const std::wstring& hex) { return kJournalPrefix + hex + kJournalSuffix; }
std::wstring BackupNameOf(const std::wstring& hex) {
  return hex.empty() ? kLegacyBackupName : kBackupPrefix + hex;
}

// The tag (as hex) of a journal's file name; empty for the earlier name, or for a name that is
// not a journal's (then false).
bool TagOfJournalName(const std::wstring& name, std::wstring& hex) {
  hex.clear();
  if (name == kLegacyJournalName) return true;
  const size_t prefix = wcslen(kJournalPrefix), suffix = wcslen(kJournalSuffix);
  if (name.size() != prefix + kTagHexChars + suffix || name.compare(0, prefix, kJournalPrefix) != 0 ||
      name.compare(prefix + kTagHexChars, suffix, kJournalSuffix) != 0)
    return false;
  hex = name.substr(prefix, kTagHexChars);
  return IsTagHex(hex);
}

// The journal's identity: its volume and file ID, read through its handle, and its tag.
bool IdentityOf(HANDLE file, const std::string& tag, std::string& identity) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info)) return false;
  identity.clear();
  for (DWORD part : {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow})
    identity.append(reinterpret_cast<const char*>(&part), sizeof(part));
  identity += tag;
  return true;
}

bool RecordIdentity(const std::wstring& journalName, const std::string& identity) {
  UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kIdentityKey, 0, nullptr, 0, KEY_SET_VALUE | kIdentityView, nullptr,
                      key.Receive(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExW(key.Get(), journalName.c_str(), 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(identity.data()),
                        static_cast<DWORD>(identity.size())) == ERROR_SUCCESS &&
         RegFlushKey(key.Get()) == ERROR_SUCCESS;
}

std::string RecordedIdentity(const std::wstring& journalName) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIdentityKey, 0, KEY_QUERY_VALUE | kIdentityView, key.Receive()) !=
      ERROR_SUCCESS)
    return std::string();
  std::string data(64, '\0');
  DWORD type = 0, bytes = static_cast<DWORD>(data.size());
  if (RegQueryValueExW(key.Get(), journalName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                       &bytes) != ERROR_SUCCESS ||
      type != REG_BINARY)
    return std::string();
  data.resize(bytes);
  return data;
}

void ForgetIdentity(const std::wstring& journalName) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIdentityKey, 0, KEY_SET_VALUE | kIdentityView, key.Receive()) ==
      ERROR_SUCCESS)
    RegDeleteValueW(key.Get(), journalName.c_str());
}

// The applications whose package's undo did not finish (its journal stays for the next run):
// no package of theirs is begun over it.
std::set<std::wstring>& HalfUndone() {
  static std::set<std::wstring> apps;
  return apps;
}

std::wstring Lowered(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

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

// A record of one registry value (its old state is read into it afterwards).
UndoRecord ValueRecord(int root, bool is64BitView, const std::wstring& keyPath, const std::wstring& name) {
  UndoRecord record = KeyRecord(UndoKind::RegistryValue, root, is64BitView, keyPath);
  record.name = name;
  return record;
}

REGSAM ViewOf(bool is64BitView) { return is64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

// Writes each record through to the disk before Append returns. A write that fails is cut off
// again, so that the file holds the records the journal kept in memory, in their order (the
// marks of an undo name records by their place).
class JournalFileSink : public CQXJournalSink {
 public:
  explicit JournalFileSink(UniqueFile file) : file_(std::move(file)) {}
  bool Append(const std::string& bytes) override {
    LARGE_INTEGER zero{}, end{};
    if (!SetFilePointerEx(file_.Get(), zero, &end, FILE_CURRENT)) return false;
    DWORD written = 0;
    if (WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file_.Get()))
      return true;
    const DWORD error = GetLastError();
    if (SetFilePointerEx(file_.Get(), end, nullptr, FILE_BEGIN)) SetEndOfFile(file_.Get());
    SetLastError(error);
    return false;
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

// The file's owner, group and access list (self-relative); empty when they cannot be read.
std::string SecurityOf(const std::wstring& path) {
  const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetFileSecurityW(path.c_str(), parts, nullptr, 0, &needed);
  if (needed == 0 || needed > kMaxJournalRecordBytes / 4) return std::string();
  std::string descriptor(needed, '\0');
  if (!GetFileSecurityW(path.c_str(), parts, reinterpret_cast<PSECURITY_DESCRIPTOR>(&descriptor[0]), needed,
                        &needed))
    return std::string();
  return descriptor;
}

// The undo on the machine: each record taken back by the action family that writes it (the
// shortcut actions write file records), each step marked done in the journal.
bool UndoOnTheMachine(const std::vector<UndoRecord>& records, CQXChangeJournal& journal) {
  CQXUndoFunctions files(&CFileActions::Undoes, &CFileActions::Undo);
  WinMachineRegistry machineRegistry;
  RegistryUndo registry(machineRegistry);
  return UndoByFamilies(records, {&files, &registry}, [&journal](const std::vector<size_t>& indexes) {
    return journal.MarkUndone(indexes);
  });
}

// The application and package named by the journal's first record, for the log lines.
LogFields PackageFields(const std::vector<UndoRecord>& records) {
  if (!records.empty() && records.front().kind == UndoKind::PackageBegun)
    return {L"-", records.front().path, records.front().other};
  return {L"-"};
}

std::wstring ApplicationOf(const std::vector<UndoRecord>& records) {
  return !records.empty() && records.front().kind == UndoKind::PackageBegun ? records.front().path
                                                                            : std::wstring();
}

// Whether the restart queue already deletes the path.
bool QueuedForRestart(const std::wstring& path) {
  DWORD bytes = 0;
  const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                   nullptr, &bytes) != ERROR_SUCCESS)
    return false;
  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                   &data[0], &bytes) != ERROR_SUCCESS)
    return false;
  const std::wstring entry = std::wstring(L"\\??\\") + path + L'\0' + L'\0';
  return Lowered(data).find(Lowered(entry)) != std::wstring::npos;
}

void QueueDeletion(const std::wstring& path) {
  if (!QueuedForRestart(path)) MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Queues the deletion of what is left of a tree for the next restart, contents before their
// folder (no link is entered: a link is queued as itself).
void QueueTreeDeletion(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((path + L"\\*").c_str(), &found));
    if (find) {
      do {
        if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L".."))
          QueueTreeDeletion(path + L"\\" + found.cFileName);
      } while (FindNextFileW(find.Get(), &found));
    }
  }
  QueueDeletion(path);
}

// Leftovers of the undo machinery never stand in the way: what cannot be removed now (a file
// another program holds) is removed at the next restart.
void RemoveLeftover(const std::wstring& path) {
  if (!RemoveTreeNoFollow(path)) QueueTreeDeletion(path);
}

// Removes the journal (from then on nothing is undone). A journal that another program holds
// open and that cannot be removed is emptied instead (an empty journal is one of no change,
// which the next run only removes) and queued for deletion at the restart. True when it is gone.
bool RemoveJournal(const std::wstring& journal) {
  if (DeleteFileW(journal.c_str()) || IsMissingPathError(GetLastError())) return true;
  UniqueFile emptied(CreateFileW(journal.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (emptied) FlushFileBuffers(emptied.Get());
  QueueDeletion(journal);
  return false;
}

// A journal whose package is undone or kept: the journal first, then its identity (kept while
// an emptied journal stays, so that the next run trusts and removes it), then the backups.
void FinishJournal(const std::wstring& folder, const std::wstring& journalName, const std::wstring& hex) {
  const bool removed = RemoveJournal(folder + L"\\" + journalName);
  CrashPoint("journal-removed");
  if (removed) {
    ForgetIdentity(journalName);
    CrashPoint("identity-forgotten");
  }
  RemoveLeftover(folder + L"\\" + BackupNameOf(hex));
  CrashPoint("backups-removed");
}

// The old files of a kept package, waiting to be removed. They are removed by the thread that
// applies the packages, at a moment when it has nothing else to do (RemoveKeptBackups): at the
// next package's start, or while the run shows its end. No thread of its own does it: a third
// thread at work beside the dialog's and the worker's is what crashes 32-bit Wine under the
// qemu-i386 emulation. A process ended meanwhile leaves backups without a journal, which the
// next package's start removes.
std::wstring g_keptBackups;

// Sets a journal aside under a dated name ending in kind ("kept": one of the program's own that
// cannot be read, with its backups; "untrusted": one the program did not write, whose backups
// it does not keep). Never deleted: it is the evidence of what happened.
std::wstring SetAside(const std::wstring& folder, const std::wstring& journalName, const std::wstring& hex,
                      const std::wstring& kind) {
  const std::wstring stamp = StampText();
  const std::wstring base = hex.empty() ? std::wstring(L"journal") : kJournalPrefix + hex;
  const std::wstring aside = folder + L"\\" + base + L"-" + stamp + L"." + kind;
  MoveFileExW((folder + L"\\" + journalName).c_str(), aside.c_str(), 0);
  CrashPoint("journal-set-aside");
  if (kind == L"kept") {
    MoveFileExW((folder + L"\\" + BackupNameOf(hex)).c_str(),
                (folder + L"\\" + BackupNameOf(hex) + L"-" + stamp + L".kept").c_str(), 0);
    CrashPoint("backups-set-aside");
  }
  return aside;
}

}  // namespace

// ---- the journal of the running package --------------------------------------------------------

CPackageJournal::CPackageJournal(std::unique_ptr<CQXJournalSink> sink,
                                 std::unique_ptr<ProtectedFolder> folder,
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
  if (HalfUndone().count(Lowered(appName))) {
    // The application's last package is not fully taken back: nothing is applied over it.
    WriteServiceLog({L"-", appName, L"pending"}, L"BR", L"UNDO_JOURNAL");
    return nullptr;
  }
  auto undo = std::make_unique<ProtectedFolder>();
  if (!OpenUndoFolder(*undo)) return nullptr;
  const std::wstring folder = undo->Path();
  // The old files of the package kept before this one.
  RemoveKeptBackups();
  const std::string tag = NewTag();
  if (tag.empty()) return nullptr;
  const std::wstring hex = HexOf(tag);
  const std::wstring journalName = JournalNameOf(hex);
  auto backups = std::make_unique<ProtectedFolder>();
  if (undo->OpenChild(BackupNameOf(hex), ProtectedFolder::Mode::CreateNew, *backups) !=
      ProtectedFolderStatus::Ready)
    return nullptr;
  CrashPoint("backup-folder-made");
  UniqueFile file(CreateFileW((folder + L"\\" + journalName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (file) CrashPoint("journal-made");
  std::string identity;
  const bool identified =
      file && IdentityOf(file.Get(), tag, identity) && RecordIdentity(journalName, identity);
  if (identified) CrashPoint("identity-recorded");
  std::unique_ptr<CPackageJournal> journal;
  if (file) {
    journal.reset(new CPackageJournal(std::make_unique<JournalFileSink>(std::move(file)), std::move(undo),
                                      std::move(backups)));
    journal->hex_ = hex;
    journal->journalName_ = journalName;
  }
  UndoRecord begun;
  begun.kind = UndoKind::PackageBegun;
  begun.path = appName;
  begun.other = packageFile;
  if (!journal || !identified || !journal->Start(tag) || !journal->Record(begun)) {
    if (journal) {
      journal->finished_ = true;
      journal->Close();
      journal->ReleaseFolders();
    } else {
      backups.reset();
      undo.reset();
    }
    FinishJournal(folder, journalName, hex);
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
    if (!backupFolder_ || backupFolder_->OpenChild(group, ProtectedFolder::Mode::CreateNew, *child) !=
                              ProtectedFolderStatus::Ready)
      throw CUpdaterException("no folder for the old files");
    backupGroups_.push_back(std::move(child));
  }
  return folder_ + L"\\" + BackupNameOf(hex_) + L"\\" + group + L"\\" + name;
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
  LONG status =
      RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &bytes);
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

void CPackageJournal::ForgetDeclared() {
  batch_.clear();
  declaredMoves_.clear();
  declaredNew_.clear();
  declaredValues_.clear();
  missingValues_.clear();
  foldersInPlace_.clear();
}

void CPackageJournal::BeginDeclarations() {
  declaring_ = true;
  // Nothing makes keys while the declarations are gathered: a key found missing stays missing.
  declaredRegistry_.EndStep();
  declaredRegistry_.RememberMissing();
  ForgetDeclared();
  checkedKeyPaths_.clear();
}

bool CPackageJournal::DeclareStep(const std::function<void(StepDeclarations&)>& declare) {
  BeginDeclarations();
  try {
    declare(*this);
    EndDeclarations();
    return true;
  } catch (const CUpdaterException&) {
    AbandonDeclarations();
    return false;
  }
}

void CPackageJournal::AbandonDeclarations() {
  declaring_ = false;
  declaredRegistry_.EndStep();
  ForgetDeclared();
}

void CPackageJournal::EndDeclarations() {
  declaring_ = false;
  // Known in place while the step is declared only: a folder removed since is made again by the
  // copy, which journals it (CreateFolders looks at the disk itself).
  foldersInPlace_.clear();
  declaredRegistry_.EndStep();
  std::vector<UndoRecord> batch;
  batch.swap(batch_);
  if (!RecordAll(batch)) {
    WriteServiceLog({L"-", folder_, L"error", std::to_wstring(GetLastError())}, L"BR", L"UNDO_JOURNAL_WRITE");
    ForgetDeclared();
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
  // The missing file and its missing folders. A folder already declared missing, or found in
  // place by an earlier declaration of this step in the same file-system view (a path may name
  // a folder in each), ends the walk without another look at the disk: the many files of one
  // folder look at it once.
  const std::wstring view = is64Bit ? L"64|" : L"32|";
  std::vector<std::wstring> missing{path};
  for (std::wstring at = path;;) {
    const size_t slash = at.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash < 3) break;
    at = at.substr(0, slash);
    if (declaredNew_.count(at) || foldersInPlace_.count(view + at)) break;
    if (PathExists(at)) {
      foldersInPlace_.insert(view + at);
      break;
    }
    missing.push_back(at);
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

void CPackageJournal::DeclareValue(int root, bool is64BitView, const std::wstring& keyPath,
                                   const std::wstring& name) {
  NoteMissingKeys(root, is64BitView, keyPath);
  NoteValue(root, is64BitView, keyPath, name);
}

void CPackageJournal::DeclareValueDeletion(int root, bool is64BitView, const std::wstring& keyPath,
                                           const std::wstring& name) {
  NoteValue(root, is64BitView, keyPath, name);
}

std::wstring CPackageJournal::BackupForMove(const std::wstring& path, bool is64Bit) {
  const auto declared = declaredMoves_.find(path);
  if (declared != declaredMoves_.end()) {
    std::wstring backup = declared->second;
    declaredMoves_.erase(declared);
    return backup;
  }
  UndoRecord record = PathRecord(UndoKind::FileMovedAside, path, is64Bit);
  record.other = NextBackupPath();
  Note(record);
  return record.other;
}

bool CPackageJournal::MoveAside(const std::wstring& path, bool is64Bit, unsigned long& error) {
  WinMachineFiles files;
  error = files.RenameFile(path, BackupForMove(path, is64Bit), is64Bit, false);
  return error == 0;
}

void CPackageJournal::Preserve(const std::wstring& path, bool is64Bit, bool byLink) {
  if (!PathExists(path)) {
    NoteNewFile(path, is64Bit);
    return;
  }
  UndoRecord record = PathRecord(UndoKind::FileMovedAside, path, is64Bit);
  record.other = NextBackupPath();
  // A copy gets the backup folder's access list: the file's own goes into the record, for the
  // file put back.
  record.data = SecurityOf(path);
  Note(record);
  if (byLink && CreateHardLinkW(record.other.c_str(), path.c_str(), nullptr)) {
    CrashPoint("file-kept");
    return;
  }
  if (!CopyWholeThenName(path, record.other))
    throw CUpdaterException("the old file cannot be kept for an undo");
  CrashPoint("file-kept");
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

void CPackageJournal::NoteNewFolder(const std::wstring& folder, bool is64Bit) {
  if (declaredNew_.count(folder)) return;
  Note(PathRecord(UndoKind::FolderCreated, folder, is64Bit));
  // What the pass declared new below it was noted before it: noted again after it, when made,
  // so that the undo (last first) removes it before the folder.
  const std::wstring below = folder + L"\\";
  auto it = declaredNew_.lower_bound(below);
  while (it != declaredNew_.end() && it->compare(0, below.size(), below) == 0) it = declaredNew_.erase(it);
}

void CPackageJournal::NoteFolderRemoved(const std::wstring& folder, unsigned long attributes, bool is64Bit) {
  Note(PathRecord(UndoKind::FolderRemoved, folder, is64Bit, attributes));
}

void CPackageJournal::NoteAttributes(const std::wstring& path, unsigned long attributes, bool is64Bit) {
  Note(PathRecord(UndoKind::AttributesChanged, path, is64Bit, attributes));
}

void CPackageJournal::NoteValue(int root, bool is64BitView, const std::wstring& keyPath,
                                const std::wstring& name) {
  const std::wstring value = ValueKey(root, is64BitView, keyPath, name);
  if (!declaredValues_.insert(value).second && !declaring_) return;
  WinMachineRegistry once;
  WinMachineRegistry& registry = declaring_ ? declaredRegistry_ : once;
  UndoRecord record;
  if (RecordOldValue(registry, RegistryKeyName{root, is64BitView, keyPath}, name, record) == kSysFileTooLarge)
    throw CUpdaterException("a registry value too large to keep");
  Note(record);
  if (record.existed) missingValues_.erase(value);
  else missingValues_.insert(value);
}

bool CPackageJournal::TakeFoundMissing(int root, bool is64BitView, const std::wstring& keyPath,
                                       const std::wstring& name) {
  return missingValues_.erase(ValueKey(root, is64BitView, keyPath, name)) != 0;
}

void CPackageJournal::NoteMissingKeys(int root, bool is64BitView, const std::wstring& keyPath) {
  if (!WinMachineRegistry::RootKey(root)) return;
  // A path looked at once in a pass needs no second look: its missing keys are journaled, and
  // a write pass removes no key.
  if (!checkedKeyPaths_.insert(KeyKey(root, is64BitView, keyPath)).second) return;
  WinMachineRegistry once;
  WinMachineRegistry& registry = declaring_ ? declaredRegistry_ : once;
  std::vector<UndoRecord> missing;
  const unsigned long looked =
      RecordMissingKeys(registry, RegistryKeyName{root, is64BitView, keyPath}, missing);
  if (looked != kSysSuccess) throw CUpdaterException("a registry key cannot be looked at for an undo");
  for (const UndoRecord& record : missing) {
    if (!declaredNew_.insert(KeyKey(root, is64BitView, record.path)).second) continue;
    Note(record);
  }
}

void CPackageJournal::NoteKeyRemoved(int root, bool is64BitView, const std::wstring& keyPath) {
  checkedKeyPaths_.clear();
  declaredRegistry_.EndStep();
  Note(RecordKeyRemoved(RegistryKeyName{root, is64BitView, keyPath}));
}

bool CPackageJournalComNotes::NoteServer(const std::wstring& path, bool is64Bit, bool registering) {
  return CPackageJournal::Try(journal_,
                              [&](CPackageJournal& journal) { journal.NoteCom(path, is64Bit, registering); });
}

bool CPackageJournalComNotes::NoteWaitingRegistration(const std::wstring& valueName) {
  return CPackageJournal::Try(journal_, [&](CPackageJournal& journal) {
    journal.NoteMissingKeys(kRegRootLocalMachine, false, kRunOnceKey);
    journal.NoteValue(kRegRootLocalMachine, false, kRunOnceKey, valueName);
  });
}

bool CPackageJournalNotes::NoteWrite(const RegistryKeyName& key, const std::wstring& name) {
  return CPackageJournal::Try(journal_, [&](CPackageJournal& journal) {
    journal.NoteMissingKeys(key.root, key.is64BitView, key.path);
    journal.NoteValue(key.root, key.is64BitView, key.path, name);
  });
}

bool CPackageJournalNotes::NoteDeletion(const RegistryKeyName& key, const std::wstring& name) {
  return CPackageJournal::Try(journal_, [&](CPackageJournal& journal) {
    journal.NoteValue(key.root, key.is64BitView, key.path, name);
  });
}

bool CPackageJournalNotes::FoundMissing(const RegistryKeyName& key, const std::wstring& name) {
  return journal_.TakeFoundMissing(key.root, key.is64BitView, key.path, name);
}

bool CPackageJournalNotes::NoteKeyRemoved(const RegistryKeyName& key) {
  return CPackageJournal::Try(journal_, [&](CPackageJournal& journal) {
    journal.NoteKeyRemoved(key.root, key.is64BitView, key.path);
  });
}

bool CPackageJournalFileNotes::NoteMoveAside(const std::wstring& path, bool is64Bit, std::wstring& backup) {
  backup.clear();
  return CPackageJournal::Try(
      journal_, [&](CPackageJournal& journal) { backup = journal.BackupForMove(path, is64Bit); });
}

bool CPackageJournalFileNotes::NoteCreated(const std::wstring& path, bool isFolder, bool is64Bit) {
  return CPackageJournal::Try(journal_, [&](CPackageJournal& journal) {
    if (isFolder) journal.NoteNewFolder(path, is64Bit);
    else journal.NoteNewFile(path, is64Bit);
  });
}

bool CPackageJournalFileNotes::NoteFolderRemoved(const std::wstring& path, std::uint32_t attributes,
                                                 bool is64Bit) {
  return CPackageJournal::Try(
      journal_, [&](CPackageJournal& journal) { journal.NoteFolderRemoved(path, attributes, is64Bit); });
}

bool CPackageJournalFileNotes::NoteAttributes(const std::wstring& path, std::uint32_t attributes,
                                              bool is64Bit) {
  return CPackageJournal::Try(
      journal_, [&](CPackageJournal& journal) { journal.NoteAttributes(path, attributes, is64Bit); });
}

bool CPackageJournalFileNotes::NoteRestartMove(const std::wstring& source, const std::wstring& destination) {
  return CPackageJournal::Try(
      journal_, [&](CPackageJournal& journal) { journal.NoteRestartMove(source, destination); });
}

void CPackageJournal::NoteRestartMove(const std::wstring& source, const std::wstring& destination) {
  UndoRecord record;
  record.kind = UndoKind::RestartMoveQueued;
  record.path = source;
  record.other = destination;
  Note(record);
}

namespace {

// This process's own registry view: the one an in-process server's registration writes in.
const bool kOwnViewIs64Bit = sizeof(void*) == 8;
// A key whose present tree is no larger than this is kept whole before a registration that
// writes in it: an unregistration may remove it with everything below it. A larger one (the
// shared SOFTWARE, Classes, CLSID) keeps only the values the registration writes in it.
const size_t kMaxKeptKeys = 64;
const size_t kMaxKeptValues = 1024;

int RootCodeOf(ComTraceRoot root) {
  switch (root) {
    case ComTraceRoot::ClassesRoot: return kRegRootClassesRoot;
    case ComTraceRoot::LocalMachine: return kRegRootLocalMachine;
    case ComTraceRoot::CurrentUser: return kRegRootCurrentUser;
  }
  return kRegRootLocalMachine;
}

std::vector<std::wstring> NamesOf(HKEY key, bool values) {
  std::vector<std::wstring> names;
  std::wstring name(16384, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG status =
        values ? RegEnumValueW(key, index, &name[0], &length, nullptr, nullptr, nullptr, nullptr)
               : RegEnumKeyExW(key, index, &name[0], &length, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) break;
    names.push_back(name.substr(0, length));
  }
  return names;
}

// Counts the keys and values of the tree, up to the limits; false once one is passed.
bool TreeWithinLimits(HKEY key, size_t& keys, size_t& values) {
  DWORD subKeys = 0, ownValues = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &ownValues, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  keys += 1;
  values += ownValues;
  if (keys + subKeys > kMaxKeptKeys || values > kMaxKeptValues) return false;
  for (const std::wstring& name : NamesOf(key, false)) {
    UniqueRegKey child;
    if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, child.Receive()) != ERROR_SUCCESS) return false;
    if (!TreeWithinLimits(child.Get(), keys, values)) return false;
  }
  return true;
}

// The registry's present state of what a COM server's registration writes, as the registry
// family's records: every key of the registration that is missing (made by it: removed by the
// undo), every value it writes (given back or removed), and the whole present tree of each key
// it writes that is small enough (keys made again, values given back: what an unregistration
// or a registration that first clears its key would remove).
class ComRegistryState {
 public:
  explicit ComRegistryState(std::vector<UndoRecord>& records) : records_(records) {}

  void Add(const ComTracedKey& traced) {
    const int root = RootCodeOf(traced.root);
    const HKEY rootKey = CRegistryActions::RootKey(root);
    if (!rootKey) return;
    UniqueRegKey key;
    const bool exists = RegOpenKeyExW(rootKey, traced.path.c_str(), 0, KEY_READ | ViewOf(kOwnViewIs64Bit),
                                      key.Receive()) == ERROR_SUCCESS;
    if (!exists) {
      AddMissingKeys(root, rootKey, traced.path);
    } else if (!Kept(root, traced.path)) {
      size_t keys = 0, values = 0;
      if (TreeWithinLimits(key.Get(), keys, values)) KeepTree(root, key.Get(), traced.path);
    }
    for (const std::wstring& name : traced.values)
      AddValue(root, exists ? key.Get() : nullptr, traced.path, name);
  }

 private:
  std::wstring Id(int root, const std::wstring& path) const { return KeyKey(root, kOwnViewIs64Bit, path); }

  // Inside a tree kept whole already.
  bool Kept(int root, const std::wstring& path) const {
    for (const std::wstring& kept : keptTrees_) {
      const std::wstring id = Id(root, path);
      if (id.size() >= kept.size() &&
          CompareStringOrdinal(id.c_str(), static_cast<int>(kept.size()), kept.c_str(),
                               static_cast<int>(kept.size()), TRUE) == CSTR_EQUAL &&
          (id.size() == kept.size() || id[kept.size()] == L'\\'))
        return true;
    }
    return false;
  }

  void AddMissingKeys(int root, HKEY rootKey, const std::wstring& path) {
    bool missing = false;
    for (size_t at = 0; at <= path.size(); ++at) {
      if (at != path.size() && path[at] != L'\\') continue;
      const std::wstring prefix = path.substr(0, at);
      if (!missing) {
        UniqueRegKey key;
        if (RegOpenKeyExW(rootKey, prefix.c_str(), 0, KEY_READ | ViewOf(kOwnViewIs64Bit), key.Receive()) ==
            ERROR_SUCCESS)
          continue;
        missing = true;
      }
      if (keys_.insert(Lowered(Id(root, prefix))).second)
        records_.push_back(KeyRecord(UndoKind::RegistryKeyCreated, root, kOwnViewIs64Bit, prefix));
    }
  }

  void KeepTree(int root, HKEY key, const std::wstring& path) {
    keptTrees_.push_back(Id(root, path));
    if (keys_.insert(Lowered(Id(root, path))).second)
      records_.push_back(KeyRecord(UndoKind::RegistryKeyRemoved, root, kOwnViewIs64Bit, path));
    for (const std::wstring& name : NamesOf(key, true)) AddValue(root, key, path, name);
    for (const std::wstring& name : NamesOf(key, false)) {
      UniqueRegKey child;
      if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, child.Receive()) != ERROR_SUCCESS)
        throw CUpdaterException("a registry key cannot be read for an undo");
      KeepTree(root, child.Get(), path + L"\\" + name);
    }
  }

  void AddValue(int root, HKEY key, const std::wstring& path, const std::wstring& name) {
    if (!values_.insert(Lowered(ValueKey(root, kOwnViewIs64Bit, path, name))).second) return;
    UndoRecord record = ValueRecord(root, kOwnViewIs64Bit, path, name);
    if (key) ReadOldValue(key, name, record);
    records_.push_back(std::move(record));
  }

  std::vector<UndoRecord>& records_;
  std::set<std::wstring> keys_, values_;
  std::vector<std::wstring> keptTrees_;
};

}  // namespace

void CPackageJournal::NoteCom(const std::wstring& path, bool is64Bit, bool registering) {
  UndoRecord com =
      PathRecord(registering ? UndoKind::ComRegistered : UndoKind::ComUnregistered, path, is64Bit);
  std::vector<UndoRecord> records;
  std::vector<ComTracedKey> traced;
  // A server of the other bitness is not loaded here (the shipped program is 32-bit); nor is
  // a local server, which registers in its own process.
  const bool loadable = !(is64Bit && !kOwnViewIs64Bit) && !CComRegistration::IsLocalServer(path);
  if (loadable && TraceComRegistration(path, traced)) {
    // The registry's state is kept: the undo gives it back and runs nothing of the server.
    com.existed = true;
    records.push_back(com);
    ComRegistryState state(records);
    for (const ComTracedKey& key : traced) state.Add(key);
  } else {
    records.push_back(com);
  }
  if (declaring_) {
    batch_.insert(batch_.end(), records.begin(), records.end());
    return;
  }
  // The server's (un)registration makes and removes keys: a path looked at before is looked at
  // again by the next write.
  checkedKeyPaths_.clear();
  declaredRegistry_.EndStep();
  if (!RecordAll(records)) {
    WriteServiceLog({L"-", path, L"error", std::to_wstring(GetLastError())}, L"BR", L"UNDO_JOURNAL_WRITE");
    throw CUpdaterException("the undo journal cannot be written");
  }
}

void CPackageJournal::Commit() {
  if (finished_) return;
  finished_ = true;
  declaredRegistry_.EndStep();
  // Emptied through its own handle before it is removed: should another program hold it open
  // so that it cannot be removed, what is left is a journal of no change, never one that the
  // next run would take back (with the backups gone, that would break the kept package).
  Forget();
  Close();
  ReleaseFolders();
  // First: from then on nothing is undone.
  const bool removed = RemoveJournal(folder_ + L"\\" + journalName_);
  CrashPoint("journal-removed");
  if (removed) {
    ForgetIdentity(journalName_);
    CrashPoint("identity-forgotten");
  }
  g_keptBackups = folder_ + L"\\" + BackupNameOf(hex_);
}

void RemoveKeptBackups() {
  if (g_keptBackups.empty()) return;
  RemoveLeftover(g_keptBackups);
  g_keptBackups.clear();
  CrashPoint("backups-removed");
}

bool CPackageJournal::Undo() {
  if (finished_) return true;
  finished_ = true;
  declaredRegistry_.EndStep();
  ReleaseFolders();
  const std::vector<UndoRecord> records = Records();
  LogFields fields = PackageFields(records);
  WriteServiceLog(fields, L"BR", L"UNDO_PACKAGE");
  // The journal stays open for the marks of the steps done.
  const bool undone = UndoOnTheMachine(records, *this);
  Close();
  if (undone) FinishJournal(folder_, journalName_, hex_);
  else HalfUndone().insert(Lowered(ApplicationOf(records)));  // the next run takes it up again
  fields.push_back(undone ? L"success" : L"error");
  WriteServiceLog(fields, L"BR", L"UNDO_PACKAGE");
  return undone;
}

// ---- recovery at the next run -----------------------------------------------------------------

namespace {

// The names of the entries of the folder that match the pattern.
std::vector<std::wstring> NamesIn(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\" + pattern).c_str(), &found));
  if (!find) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileW(find.Get(), &found));
  return names;
}

// The file's owner, read through its handle, is Administrators, SYSTEM, or this process's own
// account (the owner it gives what it creates, or its user): no other account made the file,
// nor keeps the right to change its list. (Another process of the same account is caught by
// the recorded identity instead.)
bool OwnedByAdministrators(HANDLE file) {
  std::vector<unsigned char> ownerSid = OwnerOfHandle(file);
  if (ownerSid.empty()) return false;
  const PSID owner = ownerSid.data();
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
    return true;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  UniqueHandle held(token);
  char buffer[512];
  DWORD size = 0;
  if (GetTokenInformation(token, TokenOwner, buffer, sizeof(buffer), &size) &&
      EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner))
    return true;
  return GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
         EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// The program wrote this journal: the identity recorded when its package began names this very
// file (volume, file ID) and the tag its header repeats; it is a plain file, not a link, owned
// by the administrators.
bool WrittenByTheProgram(HANDLE file, const std::wstring& journalName, const std::wstring& hex,
                         const JournalContents& contents) {
  if (hex.empty() || IsLinkByHandle(file) || !OwnedByAdministrators(file) ||
      contents.tag.size() != kJournalTagBytes || HexOf(contents.tag) != hex)
    return false;
  std::string identity;
  const std::string recorded = RecordedIdentity(journalName);
  return !recorded.empty() && IdentityOf(file, contents.tag, identity) && identity == recorded;
}

// Every record stays within what a package may do: the first one begins the package, and an
// old file waits in that package's own backup folder, below it, by a plain path.
bool RecordsStayInside(const std::vector<UndoRecord>& records, const std::wstring& backupFolder) {
  if (records.empty()) return true;
  if (records.front().kind != UndoKind::PackageBegun) return false;
  const std::wstring inside = Lowered(backupFolder + L"\\");
  for (size_t i = 0; i < records.size(); ++i) {
    const UndoRecord& record = records[i];
    if (i > 0 && record.kind == UndoKind::PackageBegun) return false;
    if (record.kind == UndoKind::StepUndone && record.attributes >= records.size()) return false;
    if (record.kind != UndoKind::FileMovedAside) continue;
    const std::wstring backup = Lowered(record.other);
    if (backup.compare(0, inside.size(), inside) != 0 || backup.find(L"\\..") != std::wstring::npos ||
        backup.find(L"\\.\\") != std::wstring::npos || backup.find(L'/') != std::wstring::npos ||
        backup.find(L':', 2) != std::wstring::npos)
      return false;
  }
  return true;
}

// Reads the whole file through its handle.
bool ReadThroughHandle(HANDLE file, std::string& bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart > static_cast<LONGLONG>(kMaxJournalWriteBytes))
    return false;
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  return bytes.empty() || (ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                           read == bytes.size());
}

// Cuts a torn end off, so that the marks of the undo follow the last whole write.
bool CutAt(HANDLE file, size_t wholeBytes) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(wholeBytes);
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file) && FlushFileBuffers(file);
}

void RecoverJournal(const std::wstring& folder, const std::wstring& journalName, const std::wstring& hex) {
  const std::wstring journalPath = folder + L"\\" + journalName;
  UniqueFile file(CreateFileW(journalPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_WRITE_THROUGH,
                              nullptr));
  std::string bytes;
  if (!file || !ReadThroughHandle(file.Get(), bytes)) {
    // Held by another program, for instance: it stays for the next run.
    WriteServiceLog({L"-", journalPath, L"error", std::to_wstring(GetLastError())}, L"BR", L"UNDO_JOURNAL");
    return;
  }
  const JournalContents contents = ParseJournal(bytes);
  // A package whose start was cut short: its journal made, its header not yet whole (the
  // identity may not be recorded yet), so nothing of the package was changed. A file of the
  // program's own (not a link, owned by the administrators) is removed with its backups, as
  // an empty journal is: set aside as untrusted, it would stay for good after a mere power cut.
  if (contents.state == JournalState::Empty && contents.tag.empty() && !hex.empty() &&
      !IsLinkByHandle(file.Get()) && OwnedByAdministrators(file.Get())) {
    file.Reset();
    FinishJournal(folder, journalName, hex);
    return;
  }
  if (!WrittenByTheProgram(file.Get(), journalName, hex, contents) ||
      !RecordsStayInside(contents.records, folder + L"\\" + BackupNameOf(hex))) {
    file.Reset();
    SetAside(folder, journalName, hex, L"untrusted");
    WriteServiceLog({L"-", journalPath, L"untrusted"}, L"BR", L"UNDO_JOURNAL");
    return;
  }
  switch (contents.state) {
    case JournalState::Empty:
      file.Reset();
      FinishJournal(folder, journalName, hex);
      return;
    case JournalState::Unreadable:
      file.Reset();
      WriteServiceLog({L"-", journalPath, L"unreadable"}, L"BR", L"UNDO_JOURNAL");
      SetAside(folder, journalName, hex, L"kept");
      ForgetIdentity(journalName);
      return;
    case JournalState::Complete:
    case JournalState::TornTail: break;
  }
  LogFields fields = PackageFields(contents.records);
  fields.push_back(contents.state == JournalState::TornTail ? L"torn" : L"complete");
  WriteServiceLog(fields, L"BR", L"UNDO_JOURNAL");
  bool undone = false;
  if (CutAt(file.Get(), contents.wholeBytes)) {
    CrashPoint("journal-cut");
    CQXChangeJournal journal(std::make_unique<JournalFileSink>(std::move(file)));
    journal.Adopt(contents.records);
    undone = UndoOnTheMachine(contents.records, journal);
  }
  if (undone) FinishJournal(folder, journalName, hex);
  else HalfUndone().insert(Lowered(ApplicationOf(contents.records)));  // the journal stays for the next run
  fields.back() = undone ? L"success" : L"error";
  WriteServiceLog(fields, L"BR", L"UNDO_PACKAGE");
}

// Backups whose journal is gone (a kept package's, removal cut short) and identities of journals
// that are gone.
void RemoveLeftovers(const std::wstring& folder) {
  for (const std::wstring& name : NamesIn(folder, std::wstring(kBackupPrefix) + L"*")) {
    const std::wstring hex = name.substr(wcslen(kBackupPrefix));
    if (IsTagHex(hex) && !PathExists(folder + L"\\" + JournalNameOf(hex))) {
      RemoveLeftover(folder + L"\\" + name);
      CrashPoint("leftover-removed");
    }
  }
  if (!PathExists(folder + L"\\" + kLegacyJournalName)) RemoveLeftover(folder + L"\\" + kLegacyBackupName);
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIdentityKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | kIdentityView,
                    key.Receive()) != ERROR_SUCCESS)
    return;
  std::vector<std::wstring> stale;
  for (DWORD index = 0;; ++index) {
    std::vector<wchar_t> name(16384);  // the longest value name the registry allows, and its end
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueW(key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    const std::wstring value(name.data(), length);
    if (!PathExists(folder + L"\\" + value)) stale.push_back(value);
  }
  for (const std::wstring& name : stale) {
    RegDeleteValueW(key.Get(), name.c_str());
    CrashPoint("leftover-removed");
  }
}

}  // namespace

void RecoverInterruptedPackage() {
  std::wstring folder;
  {
    ProtectedFolder undo;
    if (!OpenUndoFolder(undo)) return;
    folder = undo.Path();
  }
  RemoveKeptBackups();
  HalfUndone().clear();
  std::vector<std::wstring> journals = NamesIn(folder, std::wstring(kJournalPrefix) + L"*" + kJournalSuffix);
  if (PathExists(folder + L"\\" + kLegacyJournalName)) journals.push_back(kLegacyJournalName);
  for (const std::wstring& name : journals) {
    std::wstring hex;
    if (TagOfJournalName(name, hex)) RecoverJournal(folder, name, hex);
  }
  RemoveLeftovers(folder);
}

}  // namespace brindle
