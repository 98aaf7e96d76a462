#include "apply/file_actions_win.h"

#include "apply/file_decisions.h"

#include "apply/action_line.h"
#include "apply/com_unregistration_win.h"
#include "apply/package_context.h"
#include "apply/package_journal_win.h"
#include "apply/sub_updater.h"
#include "package/object_records.h"
#include "sys/com_registration_win.h"
#include "sys/env.h"
#include "sys/file_util.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/safe_names.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"
#include "package/diff_distribute.h"
#include "uninstlog/path_key.h"
#include "uninstlog/uninstall_log.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <cwchar>
#include <functional>
#include <map>

namespace brindle {

namespace {

// The shared-DLL counts and the machine's folder values are read where the 32-bit program reads
// them, so the 32-bit and the 64-bit build keep the same counts.
const REGSAM kMachineView = KEY_WOW64_32KEY;

const wchar_t* Verb(bool copy, bool plain) {
  if (copy) return plain ? L"ADD_FILE" : L"UPDATE_FILE_ADD";
  return plain ? L"DELETE_FILE" : L"UPDATE_FILE_DELETE";
}

// The short (8.3) form of a path, or the path itself when the system has none for it.
std::wstring ShortPathOrLong(const std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return path;
  return buffer;
}

// The folder part of a path in backslashes (the text before the last '\').
std::wstring FolderOf(const std::wstring& path) {
  const std::wstring normalised = ToBackslashes(path);
  const size_t slash = normalised.find_last_of(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  return normalised.substr(0, slash);
}

// Reads a REG_SZ or REG_EXPAND_SZ value of at most 259 characters, terminator present.
bool ReadFolderValue(HKEY root, const wchar_t* keyPath, const wchar_t* name, std::wstring& value) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, keyPath, 0, KEY_READ | kMachineView, key.Receive()) != ERROR_SUCCESS) return false;
  wchar_t buffer[MAX_PATH] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(buffer);
  if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
      ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  const size_t units = bytes / sizeof(wchar_t);
  if (units == 0 || buffer[units - 1] != L'\0') return false;  // unterminated: not trusted
  value = buffer;
  return !value.empty();
}

const wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool SpecialFolderFallback(int csidl, std::wstring& folder) {
  switch (csidl) {
    case CSIDL_PROGRAMS: return ReadFolderValue(HKEY_CURRENT_USER, kShellFolders, L"Programs", folder);
    case CSIDL_DESKTOPDIRECTORY:
    case CSIDL_DESKTOP: return ReadFolderValue(HKEY_CURRENT_USER, kShellFolders, L"Desktop", folder);
    case CSIDL_COMMON_PROGRAMS:
      return ReadFolderValue(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs", folder) ||
             CFileActions::GetSpecialFolder(CSIDL_PROGRAMS, folder);
    case CSIDL_COMMON_DESKTOPDIRECTORY:
      return ReadFolderValue(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Desktop", folder) ||
             CFileActions::GetSpecialFolder(CSIDL_DESKTOP, folder);
    case CSIDL_WINDOWS: {
      wchar_t buffer[MAX_PATH];
      const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
      if (n == 0 || n >= MAX_PATH) return false;
      folder = buffer;
      return true;
    }
    case CSIDL_SYSTEM: {
      wchar_t buffer[MAX_PATH];
      const UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
      if (n == 0 || n >= MAX_PATH) return false;
      folder = buffer;
      return true;
    }
    case CSIDL_PROGRAM_FILES:
    case CSIDL_PROGRAM_FILESX86:
      return ReadFolderValue(HKEY_LOCAL_MACHINE, kCurrentVersion, L"ProgramFilesDir", folder);
    case CSIDL_MYPICTURES: return ReadFolderValue(HKEY_CURRENT_USER, kShellFolders, L"My Pictures", folder);
    case CSIDL_PROGRAM_FILES_COMMON:
    case CSIDL_PROGRAM_FILES_COMMONX86:
      return ReadFolderValue(HKEY_LOCAL_MACHINE, kCurrentVersion, L"CommonFilesDir", folder);
    default: return false;
  }
}

}  // namespace

// The folders a removal must stay strictly inside; each one itself is never removed. Both
// program-files folders and both system folders count on 64-bit Windows.
std::vector<std::wstring> CFileActions::ProtectedFolders() {
  static const int kCsidls[] = {
      CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS,
      CSIDL_PROGRAM_FILES,           CSIDL_PROGRAM_FILESX86, CSIDL_SYSTEM,          CSIDL_WINDOWS};
  std::vector<std::wstring> folders;
  for (int csidl : kCsidls) {
    std::wstring folder;
    if (CFileActions::GetSpecialFolder(csidl, folder)) folders.push_back(folder);
  }
  // The shell names only one program-files folder for each kind of program: add both.
  wchar_t buffer[MAX_PATH] = {};
  for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
    if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) && buffer[0])
      folders.push_back(buffer);
  }
  std::wstring programFiles64;
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_READ | KEY_WOW64_64KEY, key.Receive()) ==
      ERROR_SUCCESS) {
    DWORD type = 0, bytes = sizeof(buffer) - sizeof(wchar_t);
    buffer[0] = 0;
    if (RegQueryValueExW(key.Get(), L"ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &bytes) == ERROR_SUCCESS &&
        type == REG_SZ) {
      buffer[bytes / sizeof(wchar_t)] = 0;
      if (buffer[0]) folders.push_back(buffer);
    }
  }
  const UINT n = GetSystemWow64DirectoryW(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) folders.push_back(buffer);
  return folders;
}

namespace {

// True when folder lies strictly inside base: base's text, then a '\', then more (ignoring case).
bool IsStrictlyInside(const std::wstring& folder, std::wstring base) {
  while (!base.empty() && base.back() == L'\\') base.pop_back();
  if (base.empty() || folder.size() <= base.size() + 1) return false;
  if (folder[base.size()] != L'\\') return false;
  return CompareStringOrdinal(folder.c_str(), static_cast<int>(base.size()), base.c_str(),
                              static_cast<int>(base.size()), TRUE) == CSTR_EQUAL;
}

bool SameFolder(std::wstring a, std::wstring b) {
  while (!a.empty() && a.back() == L'\\') a.pop_back();
  while (!b.empty() && b.back() == L'\\') b.pop_back();
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool IsFolderEmpty(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\*.*").c_str(), &found));
  if (!find) return true;  // a folder that cannot be listed counts as empty
  do {
    const wchar_t* name = found.cFileName;
    if (wcscmp(name, L".") != 0 && wcscmp(name, L"..") != 0) return false;
  } while (FindNextFileW(find.Get(), &found));
  return true;
}

// Ends every pass with redirection switched back on for this thread, however the pass ends.
class RedirectionRestorer {
 public:
  ~RedirectionRestorer() {
    if (CQXWow64Redirection* guard = CQXWow64Redirection::Get()) guard->Revert();
  }
};

}  // namespace

// ---- the 64-bit rule ---------------------------------------------------------------------------

unsigned long CFileActions::SwitchRedirection(const CQXFile& file, bool& skip) {
  skip = false;
  CQXWow64Redirection* guard = CQXWow64Redirection::Get();
  if (!guard) {
    skip = file.wow.wow == kWow64;  // no 64-bit files on 32-bit Windows
    return 0;
  }
  if (file.wow.wow == kWow64 ? guard->Disable() : guard->Revert()) return 0;
  const DWORD error = GetLastError();
  return error ? error : ERROR_INVALID_FUNCTION;
}

// A pass used to stop here without a line, and the package was reported as applied with the
// rest of the pass never done: now the record's error line, and the package fails and is undone.
ActionOutcome CFileActions::RedirectionFailed(const wchar_t* verb, const CQXFile& file, unsigned long code) {
  WriteActionError(verb, ExpandedTarget(file), code);
  return ActionOutcome::kFailPackage;
}

// The package's one variable table serves every record: the machine's folders and the
// application's rows do not change while files are copied or deleted, and reading them from the
// registry for each of thousands of files was a large share of an update's time.
// A pass that declares its undo records first expands each target twice: the second time is
// a look-up.
std::wstring CFileActions::ExpandedTarget(const CQXFile& file) {
  const auto known = targets_.find(&file);
  if (known != targets_.end()) return known->second;
  std::wstring target = ToBackslashes(context_.env.Expand(file.Path()));
  if (context_.journal) targets_.emplace(&file, target);
  return target;
}

bool CFileActions::RemoveOldFile(const std::wstring& target, bool is64Bit, unsigned long& error) {
  error = 0;
  const DWORD attributes = GetFileAttributesW(target.c_str());
  // A folder in the file's place is never moved away with everything in it.
  if (context_.journal && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return context_.journal->MoveAside(target, is64Bit, error);
  if (attributes == INVALID_FILE_ATTRIBUTES && context_.journal) {
    error = GetLastError();
    return false;
  }
  if (::DeleteFileW(target.c_str())) return true;
  error = GetLastError();
  return false;
}

// The same folder name may name two folders, one for each view of the file system.
std::wstring CFileActions::FolderKey(const std::wstring& target, bool is64Bit) {
  return (is64Bit ? L"64|" : L"32|") + FilePathKey(FolderOf(target));
}

bool CFileActions::CreateTargetFolder(const std::wstring& target, bool is64Bit, bool again) {
  const std::wstring folder = FolderOf(target);
  const std::wstring key = FolderKey(target, is64Bit);
  if (!again && ensuredFolders_.count(key)) return true;
  const bool made =
      context_.journal ? context_.journal->CreateFolders(folder, is64Bit) : CreateFolderChain(folder);
  if (made) ensuredFolders_.insert(key);
  else ensuredFolders_.erase(key);
  return made;
}

// ---- the copy pass ---------------------------------------------------------------------------

void CFileActions::DeclareCopies(const std::vector<PackageAction>& actions, bool isAdd) {
  CPackageJournal* journal = context_.journal;
  journal->BeginDeclarations();
  for (const PackageAction& action : actions) {
    const CQXFile* file = action.file;
    bool skip = false;
    if (!file) continue;
    if ((declarationSwitchError_ = SwitchRedirection(*file, skip)) != 0) break;
    if (skip) continue;
    const std::wstring target = ExpandedTarget(*file);
    if (target.empty() || (context_.pendingDeletions && context_.pendingDeletions->count(target))) continue;
    journal->DeclareFile(target, file->wow.wow == kWow64);
    CQXUninstallLog* log = context_.uninstallLog;
    if (file->delInfo == kDelInfoReference && (isAdd || (log && !log->ListsFile(*file)))) {
      journal->DeclareValue(SharedCountsKey().root, SharedCountsKey().is64BitView, SharedCountsKey().path,
                            target);
    }
  }
  journal->EndDeclarations();
}

// ---- the steps ---------------------------------------------------------------------------------

void CFileActions::BeginStep(const PackageStep& step, const std::vector<PackageAction>& actions) {
  stepFailed_ = false;
  declarationSwitchError_ = 0;
  deletedFromFolders_.clear();
  ensuredFolders_.clear();
  inheritedAccess_.Clear();
  linkChecks_.Release();
  if (!context_.journal) return;
  if (step.pass == PackagePass::kDeleteFiles)
    DeclareDeletions(actions, step.section == PackageSection::kUpdate);
  if (step.pass == PackagePass::kCopyFiles) DeclareCopies(actions, step.section == PackageSection::kAdd);
}

ActionOutcome CFileActions::Do(const PackageAction& action) {
  switch (action.step.pass) {
    case PackagePass::kCopyFiles: return CopyAction(action.file, action.step.section == PackageSection::kAdd);
    case PackagePass::kDeleteFiles:
      return DeleteAction(action.file, action.step.section == PackageSection::kUpdate);
    case PackagePass::kUnregisterComServers:
      return action.file ? RegisterComAction(*action.file, true) : ActionOutcome::kSkipped;
    case PackagePass::kQueueComServers:
      if (action.file && context_.comQueue) context_.comQueue->push_back(action.file);
      return ActionOutcome::kDone;
    default: break;
  }
  throw CUpdaterException("a step the file actions do not take");
}

StepOutcome CFileActions::EndStep(const PackageStep& step) {
  counts_.EndStep();
  // Let go before the step's emptied folders are removed.
  linkChecks_.Release();
  if (step.pass == PackagePass::kQueueComServers) return StepOutcome::kCompleted;
  if (step.pass == PackagePass::kDeleteFiles) RemoveEmptiedFolders();
  // Every file step ends with redirection switched back on for this thread.
  if (CQXWow64Redirection* guard = CQXWow64Redirection::Get()) guard->Revert();
  if (step.pass == PackagePass::kDeleteFiles) CQXWow64Redirection::Release();
  return stepFailed_ ? StepOutcome::kFailed : StepOutcome::kCompleted;
}

void CFileActions::RemoveEmptiedFolders() {
  for (const auto& folder : deletedFromFolders_) {
    bool skip = false;
    if (SwitchRedirection(*folder.second, skip) != 0 || skip) continue;
    if (!protectedFolders_)
      protectedFolders_ = std::make_unique<std::vector<std::wstring>>(ProtectedFolders());
    RemoveEmptyFolders(folder.first.first, *protectedFolders_, context_.journal, folder.first.second);
  }
  deletedFromFolders_.clear();
}

// Files are replaced, moved aside and deleted by their paths: a link among the folders above a
// target would take that change, made with administrator rights, wherever it leads. A link an
// administrator made (an application moved elsewhere with a junction) is followed; any other
// fails the record with an error line.
bool CFileActions::ChainIsFollowed(const wchar_t* verb, const std::wstring& target) {
  if (linkChecks_.UntrustedLinkAbove(target, current64Bit_).empty()) return true;
  const unsigned long kStoppedOnLink = 681;  // ERROR_STOPPED_ON_SYMLINK
  WriteActionError(verb, target, kStoppedOnLink);
  return false;
}

ActionOutcome CFileActions::CopyAction(const CQXFile* file, bool isAdd) {
  if (!file) {
    WriteMissingRecordLine(Verb(true, isAdd));
    return ActionOutcome::kMissingRecord;
  }
  bool skip = false;
  const unsigned long switchError =
      declarationSwitchError_ ? declarationSwitchError_ : SwitchRedirection(*file, skip);
  if (switchError) return RedirectionFailed(Verb(true, isAdd), *file, switchError);
  if (skip) return ActionOutcome::kSkipped;
  CopyOne(*file, isAdd);
  return ActionOutcome::kDone;
}

void CFileActions::CopyOne(const CQXFile& file, bool isAdd) {
  const wchar_t* verb = Verb(true, isAdd);
  const std::wstring target = ExpandedTarget(file);
  const std::wstring name = file.fileName ? file.fileName->name : std::wstring();
  // The source name comes from the package and is joined to the package folder: a name that
  // could reach outside INST is refused, and so is a record that names no target.
  if (!IsSafeRelativePath(name) || target.empty()) {
    WriteActionError(verb, target.empty() ? name : target, ERROR_INVALID_NAME);
    throw CUpdaterException("unsafe or missing file name in a file record");
  }
  const std::wstring source = ToBackslashes(context_.packageFolder) + L"\\INST\\" + ToBackslashes(name);
  current64Bit_ = file.wow.wow == kWow64;
  if (!ChainIsFollowed(verb, target)) throw CUpdaterException("a link in the target's folders");

  DWORD code = 0;
  bool existedBefore = false;
  bool movedAside = false;
  CQXUninstallLog* log = context_.uninstallLog;
  if (context_.pendingDeletions && context_.pendingDeletions->count(target) != 0) {
    ReplaceAtRestart(source, target);
  } else {
    if (isAdd) {
      if (PathExists(target)) {
        existedBefore = true;
        if (!IsSourceNewer(source, target)) {
          if (file.delInfo != kDelInfoReference) return;  // the installed file is newer: kept
          IncrementSharedCount(file, isAdd);
          if (log) log->AddFileEntry(file, existedBefore);
          WriteActionLine(verb, target, 0);
          return;
        }
      }
    } else {
      unsigned long error = 0;
      if (RemoveOldFile(target, current64Bit_, error)) {
        movedAside = context_.journal != nullptr;
      } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        WriteActionError(verb, target, error);
        throw CUpdaterException("the file to update cannot be removed");
      }
    }
    CreateTargetFolder(target, current64Bit_);
    // A newer file is put over the old one: with a journal, the old one is first moved aside,
    // so the new file never overwrites bytes that an undo needs (and its undo puts the old one
    // back over the new).
    unsigned long asideError = 0;
    bool inPlace = true;
    if (isAdd && existedBefore && context_.journal) {
      inPlace = RemoveOldFile(target, current64Bit_, asideError);
      movedAside = inPlace;
    }
    if (context_.journal && inPlace && !movedAside) context_.journal->NoteNewFile(target, current64Bit_);
    bool placed = inPlace && PlaceNewFile(source, target, name);
    // A folder removed by another program since this step found it is made again, once.
    if (inPlace && !placed && IsMissingPathError(GetLastError()) &&
        CreateTargetFolder(target, current64Bit_, true))
      placed = PlaceNewFile(source, target, name);
    if (!placed) {
      code = inPlace ? GetLastError() : asideError;
      ReplaceAtRestart(source, target);
    }
  }
  // The file is now in place or queued for the restart, and the uninstall log lists it as
  // referenced either way: its count rises with it, or a later uninstall would lower a count
  // that was never raised.
  // An update of a file the log does not list gives it a line as well, and so a count.
  const bool newLine = isAdd || (log && !log->ListsFile(file));
  if (file.delInfo == kDelInfoReference) IncrementSharedCount(file, newLine);
  if (log) {
    if (isAdd) log->AddFileEntry(file, existedBefore);
    else log->UpdateFileEntry(file);
  }
  WriteActionLine(verb, target, code);
}

bool CFileActions::IsOnlyUseOfSource(const std::wstring& name) {
  if (!sourceUses_) {
    sourceUses_ = std::make_unique<std::unordered_map<std::wstring, int>>();
    const CQXDiffDistribute* package = context_.package;
    auto count = [this](const FileList& files) {
      for (const std::unique_ptr<CQXFile>& file : files)
        if (file && file->fileName) ++(*sourceUses_)[FilePathKey(file->fileName->name)];
    };
    if (package && package->updateObjects) count(package->updateObjects->files);
    if (package && package->addObjects) count(package->addObjects->files);
  }
  const auto uses = sourceUses_->find(FilePathKey(name));
  return uses != sourceUses_->end() && uses->second == 1;
}

// Moving is renaming on one volume: no byte is written again, and the work folder has one file
// fewer to remove at the end. What cannot be moved (another volume, a target in use, a source
// that another record still needs) is copied, with the copy's outcome.
bool CFileActions::PlaceNewFile(const std::wstring& source, const std::wstring& target,
                                const std::wstring& name) {
  if (IsOnlyUseOfSource(name)) {
    const Move moved = MoveIntoPlace(source, target);
    if (moved == Move::kPlaced) return true;
    if (moved == Move::kLost) return false;
  }
  return CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
}

// The file is opened once: the rename and the new access list act on the very file that was
// unpacked, whatever happens to the names meanwhile. It keeps the work folder's access list
// (administrators only) until the target folder's is set, and is not left in place with it.
CFileActions::Move CFileActions::MoveIntoPlace(const std::wstring& source, const std::wstring& target) {
  UniqueFile file = OpenToMove(source, READ_CONTROL | WRITE_DAC);
  if (!file || !RenameOpenFile(file.Get(), target, true)) return Move::kNotMoved;
  if (inheritedAccess_.Give(file.Get(), FolderKey(target, current64Bit_))) return Move::kPlaced;
  const DWORD error = GetLastError();
  if (RenameOpenFile(file.Get(), source, false)) return Move::kNotMoved;
  file.Reset();
  ::DeleteFileW(target.c_str());
  SetLastError(error);
  return Move::kLost;
}

bool CFileActions::IsSourceNewer(const std::wstring& source, const std::wstring& target) {
  return SourceIsNewer(FileFactsOf(source), FileFactsOf(target));
}

FileFacts CFileActions::FileFactsOf(const std::wstring& path) {
  FileFacts facts;
  std::uint32_t high = 0, low = 0;
  facts.hasVersion = GetFileVersion(path, high, low);
  if (facts.hasVersion) facts.version = FileVersionNumber(high, low);
  if (!GetFileWriteTime(path, facts.writeTime)) facts.writeTime = 0;
  return facts;
}

void CFileActions::ReplaceAtRestart(const std::wstring& source, const std::wstring& target) {
  std::wstring temporary;
  for (int n = 1; n <= 9999; ++n) {
    wchar_t suffix[16];
    swprintf(suffix, 16, L".tmp%04d", n);
    if (!PathExists(target + suffix)) {
      temporary = target + suffix;
      break;
    }
  }
  if (temporary.empty()) {
    WriteActionError(L"REPLACE_AT_RESTART", target, ERROR_FILE_EXISTS);
    throw CUpdaterException("no free temporary name for a file in use");
  }
  CreateTargetFolder(target, current64Bit_);
  if (context_.journal) context_.journal->NoteNewFile(temporary, current64Bit_);
  if (!CopyFileW(source.c_str(), temporary.c_str(), FALSE)) {
    WriteActionError(L"REPLACE_AT_RESTART", temporary, GetLastError());
    throw CUpdaterException("the new file cannot be placed beside the file in use");
  }
  // The destination is named by its long path: when the old file's deletion is queued ahead
  // of this move, the restart removes it first, and a short name would then be taken as the
  // literal name of the new file (LongFileName.dll would come back as LONGFI~1.DLL).
  const std::wstring from = ShortPathOrLong(temporary);
  const std::wstring& to = target;
  if (context_.journal) context_.journal->NoteRestartMove(from, to);
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
    const DWORD error = GetLastError();
    ::DeleteFileW(temporary.c_str());
    WriteActionError(L"REPLACE_AT_RESTART", target, error);
    throw CUpdaterException("the system refused to replace a file at the next restart");
  }
  context_.SetRebootNeeded();
}

bool CFileActions::IncrementSharedCount(const CQXFile& file, bool isAdd) {
  if (!isAdd) return true;
  CPackageJournalNotes notes(context_.journal);
  return CountChanged(RaiseSharedCount(counts_, notes, ExpandedTarget(file)));
}

bool CFileActions::CountChanged(const RegistryChangeResult& result) {
  // A count whose undo cannot be noted is not changed, and the package fails.
  if (result.outcome == RegistryChangeOutcome::kFailPackage)
    throw CUpdaterException("the undo journal cannot be written");
  return result.outcome == RegistryChangeOutcome::kDone;
}

// ---- the delete pass ---------------------------------------------------------------------------

void CFileActions::DeclareDeletions(const std::vector<PackageAction>& actions, bool isUpdate) {
  CPackageJournal* journal = context_.journal;
  journal->BeginDeclarations();
  for (const PackageAction& action : actions) {
    const CQXFile* file = action.file;
    bool skip = false;
    if (!file || file->delInfo == kDelInfoHold) continue;
    if ((declarationSwitchError_ = SwitchRedirection(*file, skip)) != 0) break;
    if (skip) continue;
    const std::wstring target = ExpandedTarget(*file);
    if (target.empty()) continue;
    if (file->delInfo == kDelInfoReference && !isUpdate)
      journal->DeclareValue(SharedCountsKey().root, SharedCountsKey().is64BitView, SharedCountsKey().path,
                            target);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      journal->DeclareFile(target, file->wow.wow == kWow64);
  }
  journal->EndDeclarations();
}

ActionOutcome CFileActions::DeleteAction(const CQXFile* file, bool isUpdate) {
  bool skip = false;
  if (file) {
    const unsigned long switchError =
        declarationSwitchError_ ? declarationSwitchError_ : SwitchRedirection(*file, skip);
    if (switchError) return RedirectionFailed(Verb(false, !isUpdate), *file, switchError);
    if (skip) return ActionOutcome::kSkipped;
  }
  const bool deleted = DeleteRecordFile(file, isUpdate);
  if (!deleted) stepFailed_ = true;
  if (!file) return ActionOutcome::kFailed;
  const std::wstring target = ExpandedTarget(*file);
  // Once a deletion of the step failed, the uninstall log keeps the files deleted after it.
  if (!isUpdate && !stepFailed_ && context_.uninstallLog) context_.uninstallLog->RemoveFileEntry(*file);
  // The file's folder is looked at once, when the step ends, not after every file in it.
  deletedFromFolders_.emplace(std::make_pair(FolderOf(target), file->wow.wow == kWow64), file);
  return deleted ? ActionOutcome::kDone : ActionOutcome::kFailed;
}

bool CFileActions::DeleteRecordFile(const CQXFile* file, bool isUpdate) {
  const wchar_t* verb = Verb(false, !isUpdate);
  if (!file) {
    WriteMissingRecordLine(verb);
    return false;
  }
  const std::wstring target = ExpandedTarget(*file);
  current64Bit_ = file->wow.wow == kWow64;
  if (file->delInfo != kDelInfoHold && !ChainIsFollowed(verb, target)) return false;
  SharedCount shared;
  if (file->delInfo == kDelInfoReference && !isUpdate) {
    const unsigned long read = ReadSharedCount(counts_, target, shared);
    if (read != kSysSuccess) {
      WriteActionError(verb, target, read);
      return false;
    }
  }
  const FileDeletion deletion = DecideFileDeletion(file->delInfo, isUpdate, shared);
  if (deletion.kind == FileDeletionKind::kHeld) {
    WriteActionLine(verb, target, 0);
    return true;
  }
  CPackageJournalNotes notes(context_.journal);
  const RegistryChangeResult counted = ChangeCountForDeletion(counts_, notes, target, deletion);
  if (!CountChanged(counted)) {
    WriteActionError(verb, target, counted.code);
    return false;
  }
  if (deletion.kind == FileDeletionKind::kCountLowered) {
    WriteActionLine(verb, target, 0);
    return true;
  }
  const DWORD attributes = GetFileAttributesW(target.c_str());
  // Moved aside with its attributes when journaled; deleted otherwise, read-only or not.
  const bool clearReadOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  if (clearReadOnly && !context_.journal)
    SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  unsigned long error = 0;
  if (RemoveOldFile(target, current64Bit_, error)) {
    WriteActionLine(verb, target, 0);
    return true;
  }
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    if (clearReadOnly && context_.journal) {
      context_.journal->NoteAttributes(target, attributes, current64Bit_);
      SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    const std::wstring queued = ShortPathOrLong(target);
    if (context_.journal) context_.journal->NoteRestartMove(queued, std::wstring());
    if (!MoveFileExW(queued.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      WriteActionError(verb, target, GetLastError());
      return false;
    }
    if (context_.pendingDeletions) context_.pendingDeletions->insert(target);
    context_.SetRebootNeeded();
  }
  WriteActionError(verb, target, error);
  return true;
}

// ---- the COM pass ------------------------------------------------------------------------------

void CFileActions::RegisterComFiles(const std::vector<const CQXFile*>& files, bool unregister) {
  RedirectionRestorer restorer;
  for (const CQXFile* file : files) {
    if (!file || file->com != kComRegister) continue;
    const ActionOutcome outcome = RegisterComAction(*file, unregister);
    if (outcome == ActionOutcome::kStopPass || outcome == ActionOutcome::kFailPackage) return;
  }
}

ActionOutcome CFileActions::RegisterComAction(const CQXFile& file, bool unregister) {
  bool skip = false;
  if (const unsigned long switchError = SwitchRedirection(file, skip)) {
    // Registration writes no line of its own; an unregistration does.
    if (!unregister) return ActionOutcome::kStopPass;
    return RedirectionFailed(L"UNREGISTER_COM", file, switchError);
  }
  if (skip) return ActionOutcome::kSkipped;
  const bool is64Bit = file.wow.wow == kWow64;
  const std::wstring target = ExpandedTarget(file);
  unsigned char restart = 0;
  bool ok = false;
  if (CPackageJournal* journal = context_.journal) {
    journal->NoteCom(target, is64Bit, !unregister);
    // A registration that cannot be done now waits under RunOnce, named by the server's
    // short path: that value's present state is kept too.
    std::wstring commandLine, serverPath;
    if (!unregister && !CComRegistration::IsLocalServer(target) &&
        CComRegistration::MakeRegsvr32CommandLine(target, true, is64Bit, commandLine, serverPath)) {
      journal->NoteMissingKeys(kRegRootLocalMachine, false, kRunOnceKey);
      journal->NoteValue(kRegRootLocalMachine, false, kRunOnceKey, serverPath);
    }
  }
  if (unregister) ok = UnregisterComServer(target, is64Bit);
  else if (is64Bit) ok = CComRegistration::Register64(target, &restart);
  else ok = CComRegistration::Register32(target, &restart);
  if (restart) context_.SetRebootNeeded();
  return ok ? ActionOutcome::kDone : ActionOutcome::kStopPass;
}

// ---- folders ---------------------------------------------------------------------------------

void CFileActions::RemoveEmptyFolders(const std::wstring& start, CPackageJournal* journal, bool is64Bit) {
  if (start.empty()) return;
  RemoveEmptyFolders(start, ProtectedFolders(), journal, is64Bit);
}

void CFileActions::RemoveEmptyFolders(const std::wstring& start,
                                      const std::vector<std::wstring>& protectedFolders,
                                      CPackageJournal* journal, bool is64Bit) {
  std::wstring folder = ToBackslashes(start);
  if (folder.empty()) return;
  while (!folder.empty()) {
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    bool inside = false;
    for (const std::wstring& special : protectedFolders) {
      if (SameFolder(folder, special)) return;  // a special folder itself always stays
      if (IsStrictlyInside(folder, special)) inside = true;
    }
    if (!inside || !IsFolderEmpty(folder)) return;
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (journal) journal->NoteFolderRemoved(folder, attributes, is64Bit);
    if (attributes & FILE_ATTRIBUTE_READONLY)
      SetFileAttributesW(folder.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!RemoveDirectoryW(folder.c_str())) return;
    folder = FolderOf(folder);
  }
}

bool CFileActions::GetSpecialFolder(int csidl, std::wstring& folder) {
#ifdef _WIN64
  // The 32-bit program's program-files folders are the x86 ones.
  if (csidl == CSIDL_PROGRAM_FILES) csidl = CSIDL_PROGRAM_FILESX86;
  if (csidl == CSIDL_PROGRAM_FILES_COMMON) csidl = CSIDL_PROGRAM_FILES_COMMONX86;
#endif
  wchar_t buffer[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) && buffer[0]) {
    folder = buffer;
    return true;
  }
  return SpecialFolderFallback(csidl, folder);
}

}  // namespace brindle
