#include "packtool/package_plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "logs/application_env.h"
#include "logs/install_log.h"
#include "package/diff_distribute.h"
#include "apply/com_changes.h"
#include "apply/file_changes.h"
#include "apply/file_decisions.h"
#include "apply/memory_com.h"
#include "apply/memory_files.h"
#include "apply/memory_registry.h"
#include "apply/memory_shortcuts.h"
#include "apply/package_steps.h"
#include "apply/registry_data.h"
#include "apply/registry_changes.h"
#include "apply/registry_decisions.h"
#include "apply/shortcut_changes.h"
#include "package/package_passes.h"
#include "package/uninstaller_files.h"
#include "packtool/file_access.h"
#include "packtool/log_tool.h"
#include "packtool/package_check.h"
#include "packtool/pe_image.h"
#include "packtool/text_input.h"
#include "packtool/uninstlog_check.h"
#include "uninstlog/ini_file.h"
#include "uninstlog/path_key.h"
#include "sys/env.h"
#include "sys/paths.h"
#include "sys/safe_names.h"
#include "sys/text.h"

namespace brindle::pack {

namespace {

// The machine as the shipped 32-bit program sees a 64-bit Windows with the usual folders.
MachineFolders UsualMachineFolders() {
  MachineFolders m;
  m.progFolder = L"C:\\Program Files (x86)";
  m.progFolder64 = L"C:\\Program Files";
  m.winFolder = L"C:\\Windows";
  m.sysFolder = L"C:\\Windows\\SysWOW64";
  m.sysFolder64 = L"C:\\Windows\\system32";
  m.sysDrive = L"C:";
  m.commonFiles = L"C:\\Program Files (x86)\\Common Files";
  return m;
}

// The common folders of shortcuts on drive C of the usual Windows, below C:\.
const wchar_t kCommonDesktop[] = L"Users\\Public\\Desktop";
const wchar_t kCommonPrograms[] = L"ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";

// The machine's registry from a "reg export" file; null (with the finding) when it cannot be read.
std::unique_ptr<MemoryRegistry> LoadRegistryExport(const std::wstring& path, Report& report) {
  std::string bytes;
  std::wstring text, reason;
  if (!ReadFileBytes(path, bytes) || !ReadAuthorText(bytes, text, reason)) {
    report.Error(path, 0, L"", reason.empty() ? L"cannot be read" : reason, L"fatal");
    return nullptr;
  }
  // Exports joined one after the other (cat, copy /b) bring each one's byte-order mark along.
  for (size_t at = text.find(L"\n\xFEFF"); at != std::wstring::npos; at = text.find(L"\n\xFEFF", at))
    text.erase(at + 1, 1);
  auto registry = std::make_unique<MemoryRegistry>();
  size_t badLine = 0;
  if (!registry->LoadExport(text, badLine)) {
    report.Error(path, badLine, L"",
                 L"not a line of a registry export (\"reg export\" writes [key] and \"name\"=data lines)",
                 L"fatal");
    return nullptr;
  }
  return registry;
}

// The shared-library counts the uninstall log relies on: every file it lists as shared
// (INST_REF) has a count of at least one, or an uninstall lowers a count this application never
// raised and may remove a library another product uses.
void VerifySharedCounts(const CIniFile& ini, const std::wstring& uninstLog, MemoryRegistry& registry,
                        Report& report) {
  int32_t shared = 0;
  FlagValue(L"INST_REF", shared);
  for (const CSection* section : ini.Sections())
    for (const CKey* key : section->Keys()) {
      if (key->Kind() != kKindFile || !key->Entry().path || key->Entry().remove != shared) continue;
      const std::wstring& path = *key->Entry().path;
      RegistryValueBytes count;
      std::uint32_t n = 0;
      const bool has = registry.ReadValue(SharedCountsKey(), path, count) == kSysSuccess &&
                       count.type == kStoredDword && count.bytes.size() == 4;
      for (size_t i = 0; has && i < 4; ++i)
        n |= std::uint32_t(static_cast<unsigned char>(count.bytes[i])) << (8 * i);
      if (!has || n == 0)
        report.Error(uninstLog, 0, L"[" + section->Name() + L"]",
                     path + L" is listed as shared (INST_REF) but its SharedDLLs count is " +
                         (has ? L"0" : L"missing") +
                         L": an uninstall may remove a library another product uses",
                     L"shared-counts");
    }
}

// The package's values on the machine: each value it writes there with its data (a value whose
// data holds the time of the run only present), each value it deletes gone.
void VerifyPackageValues(const CQXDiffDistribute& package, const CQXEnv& env, const std::wstring& where,
                         MemoryRegistry& registry, Report& report) {
  auto keyOf = [&env](const CQXRegistry& record) {
    return RegistryKeyName{record.keyPath.root, record.wow.wow == kWow64,
                           env.ExpandKeepingSystemFolders(record.keyPath.path)};
  };
  for (const auto& record : package.deleteObjects->registries) {
    const std::wstring name = env.ExpandKeepingSystemFolders(record->valueName);
    RegistryValueBytes value;
    if (registry.ReadValue(keyOf(*record), name, value) == kSysSuccess)
      report.Error(
          where, 0, L"",
          L"value \"" + name + L"\" of " + keyOf(*record).path + L" is still there; the package deletes it",
          L"registry-values");
  }
  for (const CQXBaseObjects* group : {static_cast<const CQXBaseObjects*>(package.updateObjects.get()),
                                      static_cast<const CQXBaseObjects*>(package.addObjects.get())})
    for (const auto& record : group->registries) {
      const std::wstring name = env.ExpandKeepingSystemFolders(record->valueName);
      const std::wstring data = env.ExpandKeepingSystemFolders(record->data.data);
      const RegistryKeyName key = keyOf(*record);
      RegistryValueBytes have, want;
      if (registry.ReadValue(key, name, have) != kSysSuccess) {
        report.Error(where, 0, L"",
                     L"value \"" + name + L"\" of " + key.path + L" is missing; the package writes it",
                     L"registry-values");
        continue;
      }
      const bool timed = ReplaceInstallTimeWith(data, 1) != data;
      if (!timed && ConvertRegistryData(record->data.type, data, want) &&
          (have.type != want.type || have.bytes != want.bytes))
        report.Error(where, 0, L"",
                     L"value \"" + name + L"\" of " + key.path + L" differs from the package's data " + data,
                     L"registry-values");
    }
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
  return text;
}

// Whether any section of the package has a file record.
bool HasFileRecords(const CQXDiffDistribute& package) {
  return !package.deleteObjects->files.empty() || !package.updateObjects->files.empty() ||
         !package.addObjects->files.empty();
}

// Where the plan's file changes note their undo: nowhere. A file moved aside goes to a backup
// folder of its own, apart from the folders the package touches (so that a folder a deletion
// empties is empty), as in the journaled program; the notes about each path are kept, so that
// the plan can tell whether a change reached the record's target.
class PlanFileNotes : public FileChangeJournal {
 public:
  static constexpr const wchar_t* kBackupFolder = L"Z:\\brindle-pack plan\\backups";

  bool NoteMoveAside(const std::wstring& path, bool, std::wstring& backup) override {
    backup = std::wstring(kBackupFolder) + L"\\" + ToWideDecimal(++backups_) + L".old";
    touched_.insert(FilePathKey(path));
    return true;
  }
  bool NoteCreated(const std::wstring& path, bool isFolder, bool) override {
    if (!isFolder) touched_.insert(FilePathKey(path));
    return true;
  }
  bool NoteFolderRemoved(const std::wstring&, std::uint32_t, bool) override { return true; }
  bool NoteAttributes(const std::wstring&, std::uint32_t, bool) override { return true; }
  bool NoteRestartMove(const std::wstring&, const std::wstring&) override { return true; }

  // Whether a file was moved aside or created at the path since the last Forget.
  bool Touched(const std::wstring& path) const { return touched_.count(FilePathKey(path)) != 0; }
  void Forget() { touched_.clear(); }

 private:
  unsigned backups_ = 0;
  std::set<std::wstring> touched_;
};

// Where the plan's COM changes note their undo: nowhere.
class PlanComNotes : public ComChangeJournal {
 public:
  bool NoteServer(const std::wstring&, bool, bool) override { return true; }
  bool NoteWaitingRegistration(const std::wstring&) override { return true; }
};

// Where the package's own files (INST) stand on the in-memory machine.
const wchar_t kPackageFolder[] = L"Z:\\brindle-pack plan\\package";

class Planner {
 public:
  Planner(const PackageSource& source, const PlanOptions& options, std::ostream& out)
      : source_(source), options_(options), out_(out) {}
  bool Run(Report& report);

 private:
  void Action(const std::wstring& verb, const std::wstring& object) {
    if (options_.json)
      out_ << "{\"verb\":" << JsonString(verb) << ",\"object\":" << JsonString(object) << "}\n";
    else PrintLine(out_, verb + L" " + object);
  }
  void Note(const std::wstring& text) {
    if (options_.quiet) return;
    if (options_.json) out_ << "{\"note\":" << JsonString(text) << "}\n";
    else PrintLine(out_, L"# " + text);
  }
  void RunStep(const PackageStep& step);
  bool packageFails_ = false;  // a record of a pass is refused: the program fails the package
  CQXEnv Env() const {
    return ApplicationEnv(machine_, entry_->AppName, log_.get(), package_.get(), uninstallerVersion_);
  }
  std::wstring ShortcutFolder(bool programMenu) const;
  // The links' common folders as the plan names them, and the folders the emptied folders'
  // sweep stays inside (the usual ones of Windows).
  void LoadShortcutFolders();
  // A folder of drive C (C:\...) with the letter case of the folder below --root that stands
  // for it, as the system there names it to the program (Wine's drive C has C:\windows and
  // C:\users); the folder as given without --root or when nothing below the root matches.
  std::wstring AsBelowRoot(const std::wstring& folder) const;
  // The usual folders of a 64-bit Windows, each with the case of its folder below --root.
  MachineFolders RootedMachineFolders() const;
  void UnregisterCom(const CQXBaseObjects& group);
  void DeleteFiles(const CQXBaseObjects& group, const std::wstring& verb);
  void CopyFiles(const CQXBaseObjects& group, bool isAdd);
  void DeleteRegistry(const CQXBaseObjects& group, const std::wstring& verb);
  void WriteRegistry(const CQXBaseObjects& group, const std::wstring& verb);
  void DeleteShortcuts(const CQXBaseObjects& group, const std::wstring& verb);
  void CreateShortcuts(const CQXBaseObjects& group, const std::wstring& verb);
  // The file below --root that stands for a path of drive C, or empty text (also when a folder
  // stands there).
  std::wstring UnderRoot(const std::wstring& path) const;
  // The folder below --root that stands for a folder of drive C, or empty text.
  std::wstring FolderUnderRoot(const std::wstring& folder) const;
  // The in-memory machine the file passes change: each record's target as it is below --root
  // (a file with what the version rule reads of it, a folder, or the folder it would go in),
  // and each package file of INST.
  void LoadFiles();
  void LoadTarget(const std::wstring& target, bool is64Bit);
  std::wstring PackageFile(const std::wstring& name) const {
    return std::wstring(kPackageFolder) + L"\\INST\\" + ToBackslashes(name);
  }
  // The file's shared-library count on the in-memory registry, for the notes.
  SharedCount CountOf(const std::wstring& file) {
    SharedCount count;
    ReadSharedCount(*registry_, file, count);
    return count;
  }
  // The notes of a file's count after its deletion or copy, from the count before and after.
  void NoteDeletedCount(const CQXFile& file, bool inUpdate, const SharedCount& before,
                        const std::wstring& target);
  void NoteCopiedCount(const CQXFile& file, bool isAdd, bool raisesCount, const SharedCount& before,
                       const std::wstring& target);
  // A file change the program stops the package at: its line when it writes one, the reason.
  void FailHere(const std::wstring& line, const std::wstring& object, const std::wstring& why);
  void ReadUninstallerVersion();
  // The files the uninstall log lists (below --root, or the machine's own on Windows), kept as
  // the run changes them: a deletion of the delete section takes a file's line away, a copy
  // gives it one. An updated shared file the log does not list gets its line and a count.
  void ReadListedFiles();
  static std::wstring ListedKey(const CQXFile& file, const std::wstring& target) {
    return (file.wow.wow == kWow64 ? L"Files64|" : L"Files|") + FilePathKey(target);
  }
  // Loads --registry into registry_ (an empty registry without it); false (with the finding)
  // when it cannot be read.
  bool LoadRegistry(Report& report);
  RegistryKeyName KeyOf(const CQXRegistry& record) const {
    return RegistryKeyName{record.keyPath.root, record.wow.wow == kWow64,
                           Env().ExpandKeepingSystemFolders(record.keyPath.path)};
  }

  const PackageSource& source_;
  const PlanOptions& options_;
  std::ostream& out_;
  MachineFolders machine_;
  std::unique_ptr<CQXInstallLog> log_;
  InstallLogEntry* entry_ = nullptr;
  std::unique_ptr<CQXDiffDistribute> package_;
  std::wstring uninstallerVersion_;
  mutable CaseBlindFinder finder_;  // the package's and the root's folders, each listed once
  // The machine's registry from --registry, changed as the run would change it; empty, and
  // unknown to the notes, without it.
  std::unique_ptr<MemoryRegistry> registry_;
  bool registryKnown_ = false;
  // The machine's files as the run changes them; known when --root (or, on Windows, the machine
  // itself) shows them.
  MemoryFiles files_;
  bool filesKnown_ = false;
  PlanFileNotes fileNotes_;
  MemoryCom com_{files_};  // the servers as the run registers and unregisters them
  // The links in the common folders, on those files, as the shortcut changes write them.
  MemoryShortcuts shortcuts_{files_};
  std::set<std::wstring> pendingDeletions_;  // targets whose deletion waits for the restart
  std::map<std::wstring, int> sourceUses_;   // records of each package file, by FilePathKey
  bool stopsHere_ = false;                   // the package fails at a record, not after the pass
  bool listedRead_ = false;                  // the uninstall log was read
  std::set<std::wstring> listedFiles_;       // its file lines, by ListedKey
};

void Planner::ReadListedFiles() {
  const std::wstring path = entry_->UninstLog.empty() ? std::wstring() : UnderRoot(entry_->UninstLog);
  std::string bytes;
  CIniFile ini;
  if (path.empty() || !ReadFileBytes(path, bytes) || ini.LoadFromBytes(bytes) != IniLoadResult::kLoaded)
    return;
  listedRead_ = true;
  for (const CSection* section : ini.Sections()) {
    const std::wstring name = Upper(section->Name());
    if (name != L"FILES" && name != L"FILES64") continue;
    for (const CKey* key : section->Keys())
      if (key->Kind() == kKindFile && key->Entry().path)
        listedFiles_.insert((name == L"FILES" ? L"Files|" : L"Files64|") + FilePathKey(*key->Entry().path));
  }
}

bool Planner::LoadRegistry(Report& report) {
  registryKnown_ = !options_.registry.empty();
  registry_ =
      registryKnown_ ? LoadRegistryExport(options_.registry, report) : std::make_unique<MemoryRegistry>();
  return registry_ != nullptr;
}

std::wstring Planner::FolderUnderRoot(const std::wstring& folder) const {
#ifdef _WIN32
  if (options_.root.empty()) return IsFolder(folder) ? folder : std::wstring();
#endif
  if (options_.root.empty() || folder.size() < 3 || (folder[0] != L'C' && folder[0] != L'c') ||
      folder[1] != L':')
    return std::wstring();
  const std::wstring found = finder_.Find(options_.root, folder.substr(3));
  return !found.empty() && IsFolder(found) ? found : std::wstring();
}

void Planner::LoadTarget(const std::wstring& target, bool is64Bit) {
  PathState state;
  if (files_.Look(target, is64Bit, state) == kSysSuccess && state.exists) return;
  const std::wstring installed = UnderRoot(target);
  if (!installed.empty()) {
    files_.AddFile(target, is64Bit, std::string(), FileFactsOf(installed));
    return;
  }
  if (!FolderUnderRoot(target).empty()) {
    files_.AddFolder(target, is64Bit);
    return;
  }
  // The folder it would go in, so that a missing file is answered as the system answers it.
  const size_t slash = target.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 2 && !FolderUnderRoot(target.substr(0, slash)).empty())
    files_.AddFolder(target.substr(0, slash), is64Bit);
}

void Planner::LoadFiles() {
#ifdef _WIN32
  filesKnown_ = true;
#else
  filesKnown_ = !options_.root.empty();
#endif
  files_.AddFolder(PlanFileNotes::kBackupFolder, false);
  const CQXDiffDistribute& p = *package_;
  if (!finder_.Find(source_.Folder(), L"INST").empty()) files_.AddFolder(PackageFile(L""), false);
  for (const CQXBaseObjects* group : {static_cast<const CQXBaseObjects*>(p.deleteObjects.get()),
                                      static_cast<const CQXBaseObjects*>(p.updateObjects.get()),
                                      static_cast<const CQXBaseObjects*>(p.addObjects.get())})
    for (const auto& file : group->files) {
      if (!file) continue;
      const std::wstring target = Env().Expand(file->Path());
      if (!target.empty()) LoadTarget(target, file->wow.wow == kWow64);
      if (group == p.deleteObjects.get() || !file->fileName) continue;
      // The program counts the uses of a package file over the update and add sections: one
      // that only one record uses is moved into place, the others copied.
      const std::wstring& name = file->fileName->name;
      ++sourceUses_[FilePathKey(name)];
      const std::wstring stored =
          IsSafeRelativePath(name) ? finder_.Find(source_.Folder(), L"INST/" + name) : L"";
      if (!stored.empty() && !files_.HasFile(PackageFile(name), false))
        files_.AddFile(PackageFile(name), false, std::string(), FileFactsOf(stored));
    }
  // Each link's place as it is below --root: a link there, a folder in its way, or its folder.
  for (const CQXBaseObjects* group : {static_cast<const CQXBaseObjects*>(p.deleteObjects.get()),
                                      static_cast<const CQXBaseObjects*>(p.updateObjects.get()),
                                      static_cast<const CQXBaseObjects*>(p.addObjects.get())})
    for (const auto& shortcut : group->shortCuts) {
      ShortcutChangeResult failure;
      const std::wstring link = ShortcutLinkPath(shortcuts_, ShortcutRequestOf(*shortcut, Env()), failure);
      if (!link.empty()) LoadTarget(ToBackslashes(link), false);
    }
}

void Planner::LoadShortcutFolders() {
  const std::wstring desktop = ShortcutFolder(false), programs = ShortcutFolder(true);
  shortcuts_.SetCommonFolder(ShortcutPlace::kDesktop, desktop);
  shortcuts_.SetCommonFolder(ShortcutPlace::kProgramMenu, programs);
  shortcuts_.SetProtectedFolders({desktop, programs, machine_.progFolder, machine_.progFolder64,
                                  machine_.winFolder, machine_.sysFolder, machine_.sysFolder64});
}

std::wstring Planner::UnderRoot(const std::wstring& path) const {
#ifdef _WIN32
  // On the machine itself the installed files are where the paths say.
  if (options_.root.empty()) return IsFile(path) ? path : std::wstring();
#endif
  if (options_.root.empty() || path.size() < 3 || (path[0] != L'C' && path[0] != L'c') || path[1] != L':')
    return std::wstring();
  const std::wstring found = finder_.Find(options_.root, path.substr(3));
  return !found.empty() && IsFile(found) ? found : std::wstring();
}

// The common folder as the system names it to the program, letter case included: below --root
// the folder on that disk with its own case (Windows has C:\Users\Public\Desktop, Wine
// C:\users\Public\Desktop); on Windows without --root the machine's own; otherwise the usual
// folder of Windows.
std::wstring Planner::ShortcutFolder(bool programMenu) const {
  const std::wstring usual = std::wstring(L"C:\\") + (programMenu ? kCommonPrograms : kCommonDesktop);
  std::wstring folder;
  if (options_.root.empty() && MachineShortcutFolder(programMenu, folder)) return folder;
  return AsBelowRoot(usual);
}

std::wstring Planner::AsBelowRoot(const std::wstring& folder) const {
  if (options_.root.empty() || folder.size() < 4) return folder;
  const std::wstring found = finder_.Find(options_.root, folder.substr(3));
  if (found.size() <= options_.root.size() + 1) return folder;
  std::wstring relative = found.substr(options_.root.size() + 1);
  std::replace(relative.begin(), relative.end(), L'/', L'\\');
  return folder.substr(0, 3) + relative;
}

MachineFolders Planner::RootedMachineFolders() const {
  MachineFolders m = UsualMachineFolders();
  for (std::wstring* folder :
       {&m.progFolder, &m.progFolder64, &m.winFolder, &m.sysFolder, &m.sysFolder64, &m.commonFiles})
    *folder = AsBelowRoot(*folder);
  return m;
}

void Planner::ReadUninstallerVersion() {
  std::wstring file = finder_.Find(source_.BesideFolder(), L"ZNQ/INSTALL/COMMON/UninsVer.txt");
  if (file.empty()) file = finder_.Find(source_.Folder(), L"ZNQ/INSTALL/COMMON/UninsVer.txt");
  std::string text;
  if (file.empty() || !ReadFileBytes(file, text) || !UninstallerVersionFromText(text, uninstallerVersion_))
    uninstallerVersion_.clear();
}

// Each unregistration is the program's own change on the servers as --root shows them: one that
// is not there fails, and the rest of the pass is not handled.
void Planner::UnregisterCom(const CQXBaseObjects& group) {
  for (const auto& file : group.files) {
    if (file->com != kComRegister) continue;
    const std::wstring target = Env().Expand(file->Path());
    PlanComNotes notes;
    const ComChangeResult result = UnregisterComServerRecord(com_, notes, target, file->wow.wow == kWow64);
    Action(L"UNREGISTER_COM", target);
    if (filesKnown_ && result.outcome == ComChangeOutcome::kFailed) {
      Note(L"  the server is not there: the line says error " + ToWideDecimal(result.code) +
           L", and the rest of this pass is not handled (the package goes on)");
      return;
    }
  }
}

// Each deletion is the program's own change (DeleteFileRecord) on the files and the registry as
// the run leaves them at this point; the line is the record's, its code the change's.
void Planner::DeleteFiles(const CQXBaseObjects& group, const std::wstring& verb) {
  const bool inUpdate = verb != L"DELETE_FILE";
  bool stepFailed = false;
  for (const auto& file : group.files) {
    FileDeletionRequest request;
    request.target = Env().Expand(file->Path());
    request.is64Bit = file->wow.wow == kWow64;
    request.delInfo = file->delInfo;
    request.inUpdate = inUpdate;
    const SharedCount before = CountOf(request.target);
    NothingNoted registryNotes;
    const FileChangeResult result = DeleteFileRecord(files_, fileNotes_, *registry_, registryNotes, request);
    Action(verb, request.target);
    const bool done = result.outcome == FileChangeOutcome::kDone;
    if (!done) stepFailed = true;
    if (result.queuedAtRestart) pendingDeletions_.insert(request.target);
    // Once a deletion of the step failed, the uninstall log keeps the files deleted after it.
    if (!inUpdate && !stepFailed) listedFiles_.erase(ListedKey(*file, request.target));
    if (!done) {
      Note(L"  not deleted (the line says error " + ToWideDecimal(result.code) +
           (result.code == kSysAccessDenied ? L": a folder stands in the file's place" : L"") +
           L"); the package fails at the end of this pass");
      packageFails_ = true;
      continue;
    }
    NoteDeletedCount(*file, inUpdate, before, request.target);
    if (filesKnown_ && result.code != kSysSuccess && !result.queuedAtRestart)
      Note(L"  the file is not there: the line says error " + ToWideDecimal(result.code));
  }
}

void Planner::NoteDeletedCount(const CQXFile& file, bool inUpdate, const SharedCount& before,
                               const std::wstring& target) {
  if (file.delInfo == kDelInfoHold) {
    Note(inUpdate ? L"  held (INST_HLD): not deleted here; the update's copy replaces it"
                  : L"  held (INST_HLD): the file stays");
    return;
  }
  if (file.delInfo != kDelInfoReference || inUpdate) return;
  if (!registryKnown_) {
    Note(L"  shared (INST_REF): deleted only when its SharedDLLs count falls to zero (--registry tells)");
    return;
  }
  const SharedCount after = CountOf(target);
  if (after.present)
    Note(L"  shared (INST_REF): its SharedDLLs count goes from " + ToWideDecimal(before.count) + L" to " +
         ToWideDecimal(after.count) + L"; the file stays");
  else
    Note(before.present ? L"  shared (INST_REF): its last SharedDLLs count goes with the file"
                        : L"  shared (INST_REF) without a SharedDLLs count: the file is deleted");
}

void Planner::NoteCopiedCount(const CQXFile& file, bool isAdd, bool raisesCount, const SharedCount& before,
                              const std::wstring& target) {
  if (file.delInfo != kDelInfoReference) return;
  if (!raisesCount) {
    if (!isAdd && !listedRead_)
      Note(L"  its SharedDLLs count rises by one when the uninstall log does not list it (--root tells)");
    return;
  }
  if (!registryKnown_) Note(L"  its SharedDLLs count rises by one");
  else if (before.present && !before.isNumber)
    Note(L"  its SharedDLLs value is not a number: the program leaves it as it is");
  else Note(L"  its SharedDLLs count becomes " + ToWideDecimal(CountOf(target).count));
}

void Planner::FailHere(const std::wstring& verb, const std::wstring& object, const std::wstring& why) {
  if (!verb.empty()) Action(verb, object);
  Note(L"  " + why + L": the package fails at this record, the records after it are not done");
  packageFails_ = stopsHere_ = true;
}

// Each copy is the program's own change (CopyFileRecord): an installed file that is not older
// kept, an old one moved aside, the package's file placed; the line is the record's, or the one
// the change names when it stops the package.
void Planner::CopyFiles(const CQXBaseObjects& group, bool isAdd) {
  const std::wstring verb = isAdd ? L"ADD_FILE" : L"UPDATE_FILE_ADD";
  for (const auto& file : group.files) {
    FileCopyRequest request;
    request.target = Env().Expand(file->Path());
    const std::wstring name = file->fileName ? file->fileName->name : std::wstring();
    // The program refuses a record without a target, or whose package file could lie outside INST.
    if (!IsSafeRelativePath(name) || request.target.empty()) {
      FailHere(verb, request.target.empty() ? name : request.target,
               L"refused, the line says error 123: " +
                   std::wstring(request.target.empty() ? L"the record names no target"
                                                       : L"its package file is not a plain name below INST"));
      return;
    }
    request.source = PackageFile(name);
    request.is64Bit = file->wow.wow == kWow64;
    request.delInfo = file->delInfo;
    request.inAdd = isAdd;
    const std::wstring listedKey = ListedKey(*file, request.target);
    request.raisesCount =
        file->delInfo == kDelInfoReference && (isAdd || (listedRead_ && !listedFiles_.count(listedKey)));
    request.pendingDeletion = pendingDeletions_.count(request.target) != 0;
    const auto uses = sourceUses_.find(FilePathKey(name));
    request.sourceUsedOnce = uses != sourceUses_.end() && uses->second == 1;
    const bool packaged = files_.HasFile(request.source, request.is64Bit);
    const SharedCount before = CountOf(request.target);
    NothingNoted registryNotes;
    fileNotes_.Forget();
    const FileChangeResult result = CopyFileRecord(files_, fileNotes_, *registry_, registryNotes, request);
    if (result.outcome == FileChangeOutcome::kFailPackage) {
      const std::wstring code = L"error " + ToWideDecimal(result.code);
      FailHere(
          result.code == kSysSuccess ? std::wstring()
          : result.lineVerb          ? result.lineVerb
                                     : verb,
          result.lineObject.empty() ? request.target : result.lineObject,
          packaged ? L"the line says " + code : L"INST\\" + name + L" is not in the package (" + code + L")");
      return;
    }
    if (!result.written) {
      Note(L"skipped, no action line: " + verb + L" " + request.target +
           L" (the installed file is not older)");
      continue;
    }
    Action(verb, request.target);
    listedFiles_.insert(listedKey);
    if (result.queuedAtRestart)
      Note(L"  copied beside the file and put in its place at the next restart" +
           (result.code == kSysSuccess ? std::wstring()
                                       : L" (the line says error " + ToWideDecimal(result.code) + L")"));
    else if (!fileNotes_.Touched(request.target)) Note(L"  not copied: the installed file is not older");
    NoteCopiedCount(*file, isAdd, request.raisesCount, before, request.target);
  }
}

void Planner::DeleteRegistry(const CQXBaseObjects& group, const std::wstring& verb) {
  const bool inUpdate = verb == L"UPDATE_REG_DELETE";
  for (const auto& registry : group.registries) {
    const RegistryKeyName key = KeyOf(*registry);
    const std::wstring valueName = Env().ExpandKeepingSystemFolders(registry->valueName);
    if (!registryKnown_) {
      Action(verb, key.path);
      if (!inUpdate)
        Note(L"  value \"" + valueName +
             L"\"; the line says UPDATE_REG_DELETE when the key keeps other values (--registry tells)");
      continue;
    }
    // The program's own change, on the registry as the run leaves it at this point.
    const bool keyExists = registry_->HasKey(key);
    NothingNoted noUndo;
    const RegistryChangeResult result = DeleteRegistryValue(*registry_, noUndo, key, valueName, inUpdate);
    Action(result.verb, key.path);
    if (!keyExists) Note(L"  the key does not exist (code 2)");
    else if (result.code == kSysFileNotFound) Note(L"  value \"" + valueName + L"\" does not exist (code 2)");
    if (result.keyRemoved) Note(L"  the key is left empty and is removed");
  }
}

void Planner::WriteRegistry(const CQXBaseObjects& group, const std::wstring& verb) {
  for (const auto& registry : group.registries) {
    const CQXEnv env = Env();
    const std::wstring key = env.ExpandKeepingSystemFolders(registry->keyPath.path);
    const std::wstring data = env.ExpandKeepingSystemFolders(registry->data.data);
    // The time of the run is a number, whatever it is.
    if (!RegistryDataProblem(registry->data.type, ReplaceInstallTimeWith(data, 1)).empty()) {
      // The program writes the record's line all the same, with error 13.
      Action(verb, key);
      Note(L"the record of " + key +
           L" is refused (its data does not convert): its line says error 13, the program "
           L"writes the other records of the pass, then the package fails");
      packageFails_ = true;
      continue;
    }
    Action(verb, key);
    Note(L"  value \"" + env.ExpandKeepingSystemFolders(registry->valueName) + L"\" = " + data);
    RegistryValueBytes value;
    NothingNoted noUndo;
    if (registryKnown_ && ConvertRegistryData(registry->data.type, ReplaceInstallTimeWith(data, 1), value))
      WriteRegistryValue(*registry_, noUndo, KeyOf(*registry),
                         env.ExpandKeepingSystemFolders(registry->valueName), value, verb == L"ADD_REG");
  }
}

// Each link's deletion and creation is the program's own change (DeleteShortcutRecord,
// CreateShortcutRecord) on the files as the run leaves them at this point; the line's object is
// the change's.
void Planner::DeleteShortcuts(const CQXBaseObjects& group, const std::wstring& verb) {
  const bool inUpdate = verb == L"UPDATE_SHORTCUT_DELETE";
  for (const auto& shortcut : group.shortCuts) {
    const ShortcutChangeResult result =
        DeleteShortcutRecord(files_, shortcuts_, fileNotes_, ShortcutRequestOf(*shortcut, Env()), !inUpdate);
    Action(verb, result.object);
    if (result.outcome == ShortcutChangeOutcome::kDone) continue;
    Note(L"  not deleted (the line says error " + std::to_wstring(result.code) +
         (result.code == kSysAccessDenied ? L": a folder stands in the link's place" : L"") +
         L"); the package fails at the end of this pass");
    packageFails_ = true;
  }
}

void Planner::CreateShortcuts(const CQXBaseObjects& group, const std::wstring& verb) {
  for (const auto& shortcut : group.shortCuts) {
    const ShortcutRequest request = ShortcutRequestOf(*shortcut, Env());
    const ShortcutChangeResult result = CreateShortcutRecord(files_, shortcuts_, fileNotes_, request);
    Action(verb, result.object);
    Note(L"  target " + request.link.target);
    if (result.outcome != ShortcutChangeOutcome::kDone)
      Note(L"  not written (the line says error " + std::to_wstring(result.code) +
           (result.shellResult && result.code == ShellResultOf(kSysAccessDenied)
                ? L": a folder stands in the link's place"
                : L"") +
           L"); the run goes on without it");
  }
}

void Planner::RunStep(const PackageStep& step) {
  const CQXDiffDistribute& p = *package_;
  const bool inAdd = step.section == PackageSection::kAdd;
  const CQXBaseObjects& group = step.section == PackageSection::kDelete
                                    ? static_cast<const CQXBaseObjects&>(*p.deleteObjects)
                                : inAdd ? static_cast<const CQXBaseObjects&>(*p.addObjects)
                                        : static_cast<const CQXBaseObjects&>(*p.updateObjects);
  const std::wstring verb = step.verb ? step.verb : L"";
  switch (step.pass) {
    case PackagePass::kUnregisterComServers: UnregisterCom(group); break;
    case PackagePass::kDeleteShortcuts: DeleteShortcuts(group, verb); break;
    case PackagePass::kDeleteRegistry: DeleteRegistry(group, verb); break;
    case PackagePass::kDeleteFiles: DeleteFiles(group, verb); break;
    case PackagePass::kCopyFiles: CopyFiles(group, inAdd); break;
    case PackagePass::kQueueComServers: break;  // registered after the last section
    case PackagePass::kWriteRegistry: WriteRegistry(group, verb); break;
    case PackagePass::kCreateShortcuts: CreateShortcuts(group, verb); break;
    case PackagePass::kUninstallTargets:
      for (const std::wstring& target :
           (inAdd ? p.addObjects->uninstTarget : p.deleteObjects->uninstTarget).targets)
        Note(L"uninstall log: the target " + target + (inAdd ? L" is added" : L" is removed"));
      break;
    case PackagePass::kUninstallCustomFunction:
      if (!p.updateObjects->uninstallCustomFunction.absent)
        Note(L"uninstall log: the uninstaller's custom-function library becomes " +
             p.updateObjects->uninstallCustomFunction.fullPath.path);
      break;
  }
}

bool Planner::Run(Report& report) {
  std::string plain;
  std::wstring reason, text;
  if (!DecodeLogFile(options_.installLog, plain, reason)) {
    report.Error(options_.installLog, 0, L"", reason);
    return false;
  }
  if (!WideFromAnsi(plain, text)) {
    report.Error(options_.installLog, 0, L"", L"the text is not in the ANSI code page");
    return false;
  }
  log_ = std::make_unique<CQXInstallLog>();
  if (ParseInstallLog(text, *log_) != InstallLogParse::kParsed) {
    report.Error(options_.installLog, 0, L"", L"the deciphered text is not an AppLocalList document");
    return false;
  }
  if (!options_.appName.empty()) {
    entry_ = FindEntry(*log_, options_.appName);
  } else if (log_->entries.size() == 1) {
    entry_ = log_->entries.front().get();
  }
  if (!entry_) {
    std::wstring names;
    for (const auto& e : log_->entries) names += (names.empty() ? L"" : L", ") + e->AppName;
    report.Error(
        options_.installLog, 0, L"",
        (options_.appName.empty() ? L"name the application with --app" : L"no entry " + options_.appName) +
            L" (the log holds: " + names + L")");
    return false;
  }
  const std::wstring diffXml = finder_.Find(source_.Folder(), L"diff.xml");
  package_ = diffXml.empty() ? nullptr : LoadDiffDistribute(diffXml);
  if (!package_) {
    report.Error(source_.Path(), 0, L"", L"no usable diff.xml: the program stops (brindle-pack check)");
    return false;
  }
#ifdef _WIN32
  machine_ = options_.root.empty() ? ReadMachineFolders() : RootedMachineFolders();
#else
  machine_ = RootedMachineFolders();
#endif
  ReadUninstallerVersion();
  ReadListedFiles();
  if (!LoadRegistry(report)) return false;
  LoadShortcutFolders();
  LoadFiles();
  const CQXDiffDistribute& p = *package_;
  Note(L"application " + entry_->AppName + L" (" + entry_->DisplayName.name + L") " +
       entry_->applicationVersion.text + L" -> " + p.generalInfo->version.text + L", installed in " +
       entry_->FullPath);
  if (p.generalInfo->version.Compare(entry_->applicationVersion) < 0)
    report.Warning(source_.Path(), 0, L"",
                   L"the version goes down: " + entry_->AppName + L" is installed in version " +
                       entry_->applicationVersion.text + L" and the package brings " +
                       p.generalInfo->version.text + L"; the program applies it all the same",
                   L"version-down");
  Note(L"a 64-bit Windows is assumed; on a 32-bit Windows the INST_64BIT records are skipped");
  Note(L"uninstaller files " + uninstallerVersion_ + L" -> " + Env().Lookup(L"$UninsFolder$"));
  for (const std::wstring& name : p.generalInfo->checkAppNames)
    Note(L"waits until " + name + L" is not running");
  if (!p.customFunction->beforeUpdate.name.empty())
    Note(L"before-update hook: CUSTOM/" + p.customFunction->beforeUpdate.name +
         L" Update_BeforeUpdate (the update stops when it returns 1)");
  Note(L"uninstall log: " + entry_->UninstLog);
  if (HasFileRecords(p))
    Note(
        L"a file in use when the program runs (open in a program that does not share its deletion) "
        L"cannot be foreseen: the line of its deletion (DELETE_FILE, UPDATE_FILE_DELETE) or of an "
        L"ADD_FILE over an older copy says error 32, the file is deleted or replaced at the next "
        L"restart and the run ends with the restart question; the lines below are those of files "
        L"not in use");
  // The program's own list of steps, with the verbs of the lines each writes.
  const std::vector<PackageStep>& steps = PackageSteps();
  size_t records = 0;
  for (const CQXBaseObjects* group : {static_cast<const CQXBaseObjects*>(p.deleteObjects.get()),
                                      static_cast<const CQXBaseObjects*>(p.updateObjects.get()),
                                      static_cast<const CQXBaseObjects*>(p.addObjects.get())})
    records += group->files.size() + group->registries.size() + group->shortCuts.size();
  Progress progress(options_.progress, L"plan");
  for (size_t i = 0; i < steps.size(); ++i) {
    RunStep(steps[i]);
    progress.Step(L"steps", i + 1, steps.size(), records);
    if (packageFails_) {
      Note((stopsHere_ ? L"the package fails" : L"the package fails at the end of this pass") +
           std::wstring(L": nothing later is done and the install log keeps version ") +
           entry_->applicationVersion.text);
      return true;
    }
    const bool sectionEnds = i + 1 == steps.size() || steps[i + 1].section != steps[i].section;
    if (sectionEnds && steps[i].section == PackageSection::kUpdate &&
        !p.updateObjects->displayName.name.empty())
      Note(L"the display name becomes " + p.updateObjects->displayName.name);
  }
  Action(L"UPDATE_ZNQ_UNINSTLOG", entry_->UninstLog);
  for (const CQXBaseObjects* group : {static_cast<const CQXBaseObjects*>(p.updateObjects.get()),
                                      static_cast<const CQXBaseObjects*>(p.addObjects.get())})
    for (const auto& file : group->files)
      if (file->com == kComRegister) Note(L"registers the COM server " + Env().Expand(file->Path()));
  if (!p.customFunction->afterUpdate.name.empty())
    Note(L"after-update hook: CUSTOM/" + p.customFunction->afterUpdate.name + L" Update_AfterUpdate");
  Note(L"install log: " + entry_->AppName + L" becomes version " + p.generalInfo->version.text);
  return true;
}

}  // namespace

bool PlanPackage(const PackageSource& source, const PlanOptions& options, std::ostream& out, Report& report) {
  return Planner(source, options, out).Run(report);
}

namespace {

// The file below root that stands for a path of drive C ('\\' or '/' separated), or empty text
// for a path elsewhere.
std::wstring BelowRoot(CaseBlindFinder& finder, const std::wstring& root, const std::wstring& path) {
  if (path.size() < 3 || (path[0] != L'C' && path[0] != L'c') || path[1] != L':') return std::wstring();
  return finder.Find(root, path.substr(3));
}

}  // namespace

bool VerifyInstallation(const VerifyOptions& options, Report& report) {
  std::string plain;
  std::wstring reason, text;
  if (!DecodeLogFile(options.installLog, plain, reason) || !WideFromAnsi(plain, text)) {
    report.Error(options.installLog, 0, L"",
                 reason.empty() ? L"the text is not in the ANSI code page" : reason, L"fatal");
    return false;
  }
  CQXInstallLog log;
  if (ParseInstallLog(text, log) != InstallLogParse::kParsed) {
    report.Error(options.installLog, 0, L"", L"the deciphered text is not an AppLocalList document",
                 L"fatal");
    return false;
  }
  InstallLogEntry* entry = options.appName.empty()
                               ? (log.entries.size() == 1 ? log.entries.front().get() : nullptr)
                               : FindEntry(log, options.appName);
  if (!entry) {
    report.Error(
        options.installLog, 0, L"",
        options.appName.empty() ? L"name the application with --app" : L"no entry " + options.appName,
        L"fatal");
    return false;
  }
  std::unique_ptr<MemoryRegistry> registry;
  if (!options.registry.empty() && !(registry = LoadRegistryExport(options.registry, report))) return false;
  CaseBlindFinder finder;
  const std::wstring& root = options.root;
  if (BelowRoot(finder, root, entry->FullPath).empty())
    report.Error(options.installLog, 0, L"", L"the installation folder " + entry->FullPath + L" is missing",
                 L"installed-files");
  // The uninstall log: present, readable by the program line by line, its files present.
  std::set<std::wstring> listed;  // files the uninstall log names (upper case)
  bool iniLoaded = false;
  const std::wstring uninstLog =
      entry->UninstLog.empty() ? std::wstring() : BelowRoot(finder, root, entry->UninstLog);
  std::string bytes;
  if (entry->UninstLog.empty()) {
    report.Error(options.installLog, 0, L"", L"the entry names no uninstall log (UninstLog)",
                 L"uninstall-log");
  } else if (uninstLog.empty() || !ReadFileBytes(uninstLog, bytes)) {
    report.Error(entry->UninstLog, 0, L"",
                 L"the uninstall log is missing: every update of " + entry->AppName + L" fails",
                 L"uninstall-log");
  } else {
    Report lines;
    lines.defaultRule = L"uninstall-log";
    CheckUninstallLog(bytes, entry->UninstLog, lines);
    for (Finding& f : lines.findings) {
      if (f.rule.empty()) f.rule = L"uninstall-log";
      report.findings.push_back(f);
    }
    CIniFile ini;
    iniLoaded = ini.LoadFromBytes(bytes) == IniLoadResult::kLoaded;
    if (iniLoaded) {
      for (const CSection* section : ini.Sections())
        for (const CKey* key : section->Keys()) {
          if (key->Kind() != kKindFile || !key->Entry().path) continue;
          const std::wstring& path = *key->Entry().path;
          listed.insert(Upper(path));
          if (path.size() > 2 && path[1] == L':' && BelowRoot(finder, root, path).empty())
            report.Error(entry->UninstLog, 0, L"[" + section->Name() + L"]",
                         L"the uninstall log lists " + path + L", which is not installed",
                         L"installed-files");
        }
      if (registry) VerifySharedCounts(ini, entry->UninstLog, *registry, report);
    }
  }
  if (options.package.empty()) return true;
  // What the package applied: its files in place with its bytes, its deletions gone.
  PackageSource source;
  if (!source.Open(options.package, reason)) {
    report.Error(options.package, 0, L"", reason, L"fatal");
    return false;
  }
  const std::wstring diffXml = finder.Find(source.Folder(), L"diff.xml");
  std::unique_ptr<CQXDiffDistribute> package = diffXml.empty() ? nullptr : LoadDiffDistribute(diffXml);
  if (!package) {
    report.Error(options.package, 0, L"", L"no usable diff.xml (brindle-pack check says why)", L"fatal");
    return false;
  }
  const CQXEnv env = ApplicationEnv(UsualMachineFolders(), entry->AppName, &log, nullptr, L"");
  if (registry) VerifyPackageValues(*package, env, options.package, *registry, report);
  for (const auto& file : package->deleteObjects->files) {
    const std::wstring path = env.Expand(file->Path());
    if (!BelowRoot(finder, root, path).empty())
      report.Error(options.package, 0, L"", path + L" is still installed; the package deletes it",
                   L"installed-files");
  }
  for (const CQXBaseObjects* group : {static_cast<const CQXBaseObjects*>(package->updateObjects.get()),
                                      static_cast<const CQXBaseObjects*>(package->addObjects.get())})
    for (const auto& file : group->files) {
      const std::wstring path = env.Expand(file->Path());
      const std::wstring installed = BelowRoot(finder, root, path);
      if (installed.empty()) {
        report.Error(options.package, 0, L"", path + L" is missing; the package installs it",
                     L"installed-files");
        continue;
      }
      std::string have, want;
      const std::wstring stored =
          file->fileName ? finder.Find(source.Folder(), L"INST/" + file->fileName->name) : L"";
      if (!stored.empty() && ReadFileBytes(stored, want) && ReadFileBytes(installed, have) && have != want)
        report.Error(options.package, 0, L"", path + L" differs from the package's file", L"installed-files");
      if (iniLoaded && !listed.count(Upper(path)))
        report.Warning(entry->UninstLog, 0, L"",
                       path +
                           L" is installed by the package but not listed in the uninstall log: "
                           L"an uninstall leaves it behind",
                       L"uninstall-log");
    }
  return true;
}

}  // namespace brindle::pack
