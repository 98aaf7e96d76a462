#include "apply/file_actions_win.h"

#include "apply/file_decisions.h"

#include "apply/action_line.h"
#include "apply/com_unregistration_win.h"
#include "apply/win_machine_com_win.h"
#include "apply/package_context.h"
#include "apply/file_changes.h"
#include "apply/package_notes.h"
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
  targets_.emplace(&file, target);
  return target;
}

// ---- the copy pass ---------------------------------------------------------------------------

bool CFileActions::DeclareCopies(const std::vector<PackageAction>& actions, bool isAdd) {
  return context_.journal->DeclareStep([&](StepDeclarations& journal) {
    for (const PackageAction& action : actions) {
      const CQXFile* file = action.file;
      bool skip = false;
      if (!file) continue;
      if ((declarationSwitchError_ = SwitchRedirection(*file, skip)) != 0) return;
      if (skip) continue;
      const std::wstring target = ExpandedTarget(*file);
      if (target.empty() || (context_.pendingDeletions && context_.pendingDeletions->count(target))) continue;
      journal.DeclareFile(target, file->wow.wow == kWow64);
      CQXUninstallLog* log = context_.uninstallLog;
      if (file->delInfo == kDelInfoReference && (isAdd || (log && !log->ListsFile(*file)))) {
        journal.DeclareValue(SharedCountsKey().root, SharedCountsKey().is64BitView, SharedCountsKey().path,
                             target);
      }
    }
  });
}

// ---- the steps ---------------------------------------------------------------------------------

StepOutcome CFileActions::BeginStep(const PackageStep& step, const std::vector<PackageAction>& actions) {
  stepFailed_ = false;
  declarationSwitchError_ = 0;
  deletedFromFolders_.clear();
  ensuredFolders_.clear();
  linkChecks_.Release();
  bool declared = true;
  if (step.pass == PackagePass::kDeleteFiles)
    declared = DeclareDeletions(actions, step.section == PackageSection::kUpdate);
  if (step.pass == PackagePass::kCopyFiles)
    declared = DeclareCopies(actions, step.section == PackageSection::kAdd);
  return declared ? StepOutcome::kCompleted : StepOutcome::kFailed;
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
  files_.EndStep();
  // Let go before the step's emptied folders are removed.
  linkChecks_.Release();
  if (step.pass == PackagePass::kQueueComServers) return StepOutcome::kCompleted;
  if (step.pass == PackagePass::kDeleteFiles && !RemoveEmptiedFolders()) stepFailed_ = true;
  // Every file step ends with redirection switched back on for this thread.
  if (CQXWow64Redirection* guard = CQXWow64Redirection::Get()) guard->Revert();
  if (step.pass == PackagePass::kDeleteFiles) CQXWow64Redirection::Release();
  return stepFailed_ ? StepOutcome::kFailed : StepOutcome::kCompleted;
}

bool CFileActions::RemoveEmptiedFolders() {
  bool noted = true;
  // The folders of each view swept together: a folder above many of them is looked at once.
  for (const bool is64Bit : {false, true}) {
    std::vector<std::wstring> folders;
    const CQXFile* record = nullptr;
    for (const auto& folder : deletedFromFolders_) {
      if (folder.first.second != is64Bit) continue;
      folders.push_back(folder.first.first);
      record = folder.second;
    }
    bool skip = false;
    if (!record || SwitchRedirection(*record, skip) != 0 || skip) continue;
    if (!protectedFolders_)
      protectedFolders_ = std::make_unique<std::vector<std::wstring>>(ProtectedFolders());
    // A removal whose undo cannot be noted is not made, and the step fails. The step's files
    // are let go of: each folder is looked at afresh.
    WinMachineFiles files;
    if (brindle::RemoveEmptiedFolders(files, context_.journal->FileNotes(), folders, RefilledFolders(is64Bit),
                                      *protectedFolders_, is64Bit) == FileChangeOutcome::kFailPackage) {
      noted = false;
      break;
    }
  }
  deletedFromFolders_.clear();
  return noted;
}

std::vector<std::wstring> CFileActions::RefilledFolders(bool is64Bit) {
  if (!context_.package) return {};
  return FoldersCopiesFill(*context_.package, is64Bit, CQXWow64Redirection::Get() != nullptr,
                           [this](const CQXFile& file) { return ExpandedTarget(file); });
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
  return CopyOne(*file, isAdd);
}

// The copy goes once from its decision through its journal notes to the machine
// (CopyFileRecord); what stays here is the run's part: the checks of the record and of the
// target's folders, the uninstall log, the line and the restart.
ActionOutcome CFileActions::CopyOne(const CQXFile& file, bool isAdd) {
  const wchar_t* verb = Verb(true, isAdd);
  FileCopyRequest request;
  request.target = ExpandedTarget(file);
  const std::wstring name = file.fileName ? file.fileName->name : std::wstring();
  // The source name comes from the package and is joined to the package folder: a name that
  // could reach outside INST is refused, and so is a record that names no target.
  if (!IsSafeRelativePath(name) || request.target.empty()) {
    WriteActionError(verb, request.target.empty() ? name : request.target, ERROR_INVALID_NAME);
    return ActionOutcome::kFailPackage;
  }
  request.source = ToBackslashes(context_.packageFolder) + L"\\INST\\" + ToBackslashes(name);
  request.is64Bit = current64Bit_ = file.wow.wow == kWow64;
  if (!ChainIsFollowed(verb, request.target)) return ActionOutcome::kFailPackage;
  CQXUninstallLog* log = context_.uninstallLog;
  request.delInfo = file.delInfo;
  request.inAdd = isAdd;
  // An add, or an update of a file the log does not list, gives the file a line in the log, and
  // so a shared file a count: raised even when it is only queued for the restart, or a later
  // uninstall would lower a count that was never raised.
  request.raisesCount = file.delInfo == kDelInfoReference && (isAdd || (log && !log->ListsFile(file)));
  request.pendingDeletion =
      context_.pendingDeletions && context_.pendingDeletions->count(request.target) != 0;
  request.sourceUsedOnce = IsOnlyUseOfSource(name);
  const std::wstring folderKey = FolderKey(request.target, current64Bit_);
  request.folderExists = ensuredFolders_.count(folderKey) != 0;

  const FileChangeResult result = CopyFileRecord(files_, context_.journal->FileNotes(), counts_,
                                                 context_.journal->RegistryNotes(), request);
  if (result.outcome == FileChangeOutcome::kFailPackage) {
    // An undo that could not be noted writes no line of its own (the journal wrote one).
    if (result.code != 0)
      WriteActionError(result.lineVerb ? result.lineVerb : verb,
                       result.lineObject.empty() ? request.target : result.lineObject, result.code);
    ensuredFolders_.erase(folderKey);
    return ActionOutcome::kFailPackage;
  }
  ensuredFolders_.insert(folderKey);
  if (result.queuedAtRestart) context_.SetRebootNeeded();
  if (!result.written) return ActionOutcome::kDone;  // the installed file is newer: kept
  if (log) {
    if (isAdd) log->AddFileEntry(file, result.targetExisted);
    else log->UpdateFileEntry(file);
  }
  WriteActionLine(verb, request.target, result.code);
  return ActionOutcome::kDone;
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

// The facts come from the machine the copies read them from: one version reader.
bool CFileActions::IsSourceNewer(const std::wstring& source, const std::wstring& target) {
  WinMachineFiles files;
  FileFacts sourceFacts, targetFacts;
  files.Facts(source, false, sourceFacts);
  files.Facts(target, false, targetFacts);
  return SourceIsNewer(sourceFacts, targetFacts);
}

// ---- the delete pass ---------------------------------------------------------------------------

bool CFileActions::DeclareDeletions(const std::vector<PackageAction>& actions, bool isUpdate) {
  return context_.journal->DeclareStep([&](StepDeclarations& journal) {
    for (const PackageAction& action : actions) {
      const CQXFile* file = action.file;
      bool skip = false;
      if (!file || file->delInfo == kDelInfoHold) continue;
      if ((declarationSwitchError_ = SwitchRedirection(*file, skip)) != 0) return;
      if (skip) continue;
      const std::wstring target = ExpandedTarget(*file);
      if (target.empty()) continue;
      if (file->delInfo == kDelInfoReference && !isUpdate)
        journal.DeclareValue(SharedCountsKey().root, SharedCountsKey().is64BitView, SharedCountsKey().path,
                             target);
      const DWORD attributes = GetFileAttributesW(target.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        journal.DeclareFile(target, file->wow.wow == kWow64);
    }
  });
}

ActionOutcome CFileActions::DeleteAction(const CQXFile* file, bool isUpdate) {
  bool skip = false;
  if (file) {
    const unsigned long switchError =
        declarationSwitchError_ ? declarationSwitchError_ : SwitchRedirection(*file, skip);
    if (switchError) return RedirectionFailed(Verb(false, !isUpdate), *file, switchError);
    if (skip) return ActionOutcome::kSkipped;
  }
  const ActionOutcome outcome = DeleteOne(file, isUpdate);
  const bool deleted = outcome == ActionOutcome::kDone;
  if (!deleted) stepFailed_ = true;
  if (!file || outcome == ActionOutcome::kFailPackage) return outcome;
  const std::wstring target = ExpandedTarget(*file);
  // Once a deletion of the step failed, the uninstall log keeps the files deleted after it.
  if (!isUpdate && !stepFailed_ && context_.uninstallLog) context_.uninstallLog->RemoveFileEntry(*file);
  // The file's folder is looked at once, when the step ends, not after every file in it.
  deletedFromFolders_.emplace(std::make_pair(FolderOf(target), file->wow.wow == kWow64), file);
  return outcome;
}

// The deletion goes once from its decision through its journal note to the machine
// (DeleteFileRecord); what stays here is the run's part: the link check, the line, the restart.
ActionOutcome CFileActions::DeleteOne(const CQXFile* file, bool isUpdate) {
  const wchar_t* verb = Verb(false, !isUpdate);
  if (!file) {
    WriteMissingRecordLine(verb);
    return ActionOutcome::kFailed;
  }
  FileDeletionRequest request;
  request.target = ExpandedTarget(*file);
  request.is64Bit = current64Bit_ = file->wow.wow == kWow64;
  request.delInfo = file->delInfo;
  request.inUpdate = isUpdate;
  if (file->delInfo != kDelInfoHold && !ChainIsFollowed(verb, request.target)) return ActionOutcome::kFailed;
  const FileChangeResult result = DeleteFileRecord(files_, context_.journal->FileNotes(), counts_,
                                                   context_.journal->RegistryNotes(), request);
  // An undo that could not be noted: nothing changed, no line (the journal wrote its own), and
  // the package fails.
  if (result.outcome == FileChangeOutcome::kFailPackage) return ActionOutcome::kFailPackage;
  if (result.outcome == FileChangeOutcome::kDone && result.code == 0)
    WriteActionLine(verb, request.target, 0);
  else WriteActionError(verb, request.target, result.code);
  if (result.queuedAtRestart) {
    if (context_.pendingDeletions) context_.pendingDeletions->insert(request.target);
    context_.SetRebootNeeded();
  }
  return result.outcome == FileChangeOutcome::kDone ? ActionOutcome::kDone : ActionOutcome::kFailed;
}

// ---- the COM pass ------------------------------------------------------------------------------

bool CFileActions::RegisterComFiles(const std::vector<const CQXFile*>& files, bool unregister) {
  RedirectionRestorer restorer;
  for (const CQXFile* file : files) {
    if (!file || file->com != kComRegister) continue;
    const ActionOutcome outcome = RegisterComAction(*file, unregister);
    if (outcome == ActionOutcome::kFailPackage) return false;
    if (outcome == ActionOutcome::kStopPass) return true;
  }
  return true;
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
  // A server whose undo cannot be noted is left as it is, and the package fails (the journal
  // wrote the line).
  ComChangeJournal& notes = context_.journal->ComNotes();
  WinMachineCom com;
  const ComChangeResult result = unregister ? UnregisterComServer(target, is64Bit, notes)
                                            : RegisterComServerRecord(com, notes, target, is64Bit);
  if (result.waitsForLogon) context_.SetRebootNeeded();
  switch (result.outcome) {
    case ComChangeOutcome::kDone: return ActionOutcome::kDone;
    case ComChangeOutcome::kFailed: return ActionOutcome::kStopPass;
    case ComChangeOutcome::kFailPackage: break;
  }
  return ActionOutcome::kFailPackage;
}

// ---- folders ---------------------------------------------------------------------------------

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
