#include "apply/file_changes.h"

#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "package/diff_distribute.h"
#include "package/object_records.h"
#include "sys/paths.h"
#include "uninstlog/path_key.h"

namespace brindle {

namespace {

const wchar_t kReplaceAtRestart[] = L"REPLACE_AT_RESTART";
const int kMaxTemporaryNumber = 9999;

bool IsMissing(unsigned long code) { return code == kSysFileNotFound || code == kSysPathNotFound; }

std::wstring WithoutEndSlashes(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring WithoutAnyEndSlash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// The folder and each folder above it, innermost first, until visit answers false.
void WalkUp(const std::wstring& start, const std::function<bool(const std::wstring&)>& visit) {
  for (std::wstring folder = WithoutEndSlashes(ToBackslashes(start)); !folder.empty();
       folder = WithoutEndSlashes(FolderOf(folder)))
    if (!visit(folder)) return;
}

// True when folder lies strictly inside base: base's text, then a '\', then more (ignoring case).
bool IsStrictlyInside(const std::wstring& folder, const std::wstring& protectedFolder) {
  const std::wstring base = WithoutAnyEndSlash(protectedFolder);
  if (base.empty() || folder.size() <= base.size() + 1 || folder[base.size()] != L'\\') return false;
  return UpperOrdinal(folder.substr(0, base.size())) == UpperOrdinal(base);
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return UpperOrdinal(WithoutAnyEndSlash(a)) == UpperOrdinal(WithoutAnyEndSlash(b));
}

UndoRecord PathRecord(UndoKind kind, const std::wstring& path, bool is64Bit, std::uint32_t attributes = 0) {
  UndoRecord record;
  record.kind = kind;
  record.is64Bit = is64Bit;
  record.path = path;
  record.attributes = attributes;
  return record;
}

FileChangeResult Result(FileChangeOutcome outcome, unsigned long code) {
  FileChangeResult result;
  result.outcome = outcome;
  result.code = code;
  return result;
}

FileChangeResult FailPackage(unsigned long code = kSysSuccess, const wchar_t* lineVerb = nullptr) {
  FileChangeResult result = Result(FileChangeOutcome::kFailPackage, code);
  result.lineVerb = lineVerb;
  return result;
}

// The target's missing folders made, outermost first, each noted before it is made.
bool MakeTargetFolders(MachineFiles& files, FileChangeJournal& notes, const std::wstring& target,
                       bool is64Bit) {
  return MakeFolders(files, notes, FolderOf(target), is64Bit);
}

// The first free name beside the target (target.tmp0001...); empty when all are taken.
std::wstring FreeTemporaryName(MachineFiles& files, const std::wstring& target, bool is64Bit) {
  for (int n = 1; n <= kMaxTemporaryNumber; ++n) {
    wchar_t suffix[16];
    std::swprintf(suffix, 16, L".tmp%04d", n);
    PathState state;
    if (files.Look(target + suffix, is64Bit, state) == kSysSuccess && !state.exists) return target + suffix;
  }
  return std::wstring();
}

// The new file put beside the target in use, and queued to replace it at the next restart.
FileChangeResult ReplaceAtRestart(MachineFiles& files, FileChangeJournal& notes,
                                  const FileCopyRequest& request, unsigned long code) {
  const std::wstring temporary = FreeTemporaryName(files, request.target, request.is64Bit);
  if (temporary.empty()) return FailPackage(kSysFileExists, kReplaceAtRestart);
  if (!MakeTargetFolders(files, notes, request.target, request.is64Bit)) return FailPackage();
  if (!notes.NoteCreated(temporary, false, request.is64Bit)) return FailPackage();
  const unsigned long copied = files.PlaceFile(request.source, temporary, request.is64Bit, false);
  if (copied != kSysSuccess) {
    FileChangeResult failed = FailPackage(copied, kReplaceAtRestart);
    failed.lineObject = temporary;
    return failed;
  }
  // The destination is named by its long path: when the old file's deletion is queued ahead of
  // this move, the restart removes it first, and a short name would then be taken as the
  // literal name of the new file.
  const std::wstring from = files.RestartName(temporary, request.is64Bit);
  if (!notes.NoteRestartMove(from, request.target)) return FailPackage();
  const unsigned long queued = files.QueueRestartMove(from, request.target);
  if (queued != kSysSuccess) {
    files.RemoveFile(temporary, request.is64Bit);
    return FailPackage(queued, kReplaceAtRestart);
  }
  FileChangeResult result = Result(FileChangeOutcome::kDone, code);
  result.queuedAtRestart = true;
  return result;
}

// The new file placed over (or where) the old one was; one that cannot be placed replaces it
// at the restart. existedBefore: an add-section target found older, still to be moved aside.
FileChangeResult PlaceNewFile(MachineFiles& files, FileChangeJournal& notes, const FileCopyRequest& request,
                              bool existedBefore, bool movedAside) {
  const std::wstring& target = request.target;
  const bool is64 = request.is64Bit;
  if (!request.folderExists && !MakeTargetFolders(files, notes, target, is64)) return FailPackage();
  // A newer file is put over the old one: the old one is first moved aside, so the new file never
  // overwrites bytes that an undo needs (and its undo puts the old one back over the new).
  unsigned long asideError = kSysSuccess;
  bool inPlace = true;
  if (existedBefore) {
    const FileAside aside = MoveFileAside(files, notes, target, is64, asideError);
    if (aside == FileAside::kNotNoted) return FailPackage();
    inPlace = aside != FileAside::kRefused;
    movedAside = aside == FileAside::kMoved;
  }
  if (!inPlace) return ReplaceAtRestart(files, notes, request, asideError);
  // Every way here without a move aside found no file at the target.
  if (!movedAside && !notes.NoteCreated(target, false, is64)) return FailPackage();
  unsigned long placed = files.PlaceFile(request.source, target, is64, request.sourceUsedOnce);
  // A folder removed by another program since it was looked at is made again, once. The new
  // file is noted again after its folders, so that an undo (last first) removes it before them.
  if (IsMissing(placed)) {
    if (!MakeTargetFolders(files, notes, target, is64) || !notes.NoteCreated(target, false, is64))
      return FailPackage();
    placed = files.PlaceFile(request.source, target, is64, request.sourceUsedOnce);
  }
  if (placed != kSysSuccess) return ReplaceAtRestart(files, notes, request, placed);
  return Result(FileChangeOutcome::kDone, kSysSuccess);
}

// The copied file's count raised when the uninstall log gets a new line for it; only an undo
// that cannot be noted changes the outcome (a count of another kind is left as it is).
bool RaiseCountOfCopy(MachineRegistry& registry, RegistryChangeJournal& registryNotes,
                      const FileCopyRequest& request) {
  if (request.delInfo != kDelInfoReference || !request.raisesCount) return true;
  return RaiseSharedCount(registry, registryNotes, request.target).outcome !=
         RegistryChangeOutcome::kFailPackage;
}

}  // namespace

// ---- moving aside and making folders ---------------------------------------------------------

// A folder in the file's place is never moved with everything in it: it refuses as the system
// refuses to delete it (access denied).
FileAside MoveFileAside(MachineFiles& files, FileChangeJournal& notes, const std::wstring& target,
                        bool is64Bit, unsigned long& error, const PathState* known) {
  error = kSysSuccess;
  PathState state;
  if (known) state = *known;
  else if ((error = files.Look(target, is64Bit, state)) != kSysSuccess) return FileAside::kRefused;
  if (!state.exists) {
    PathState folder;
    const bool folderThere =
        files.Look(FolderOf(target), is64Bit, folder) == kSysSuccess && folder.exists && folder.isFolder;
    error = folderThere ? kSysFileNotFound : kSysPathNotFound;
    return FileAside::kNothingThere;
  }
  if (state.isFolder) {
    error = kSysAccessDenied;
    return FileAside::kRefused;
  }
  std::wstring backup;
  if (!notes.NoteMoveAside(target, is64Bit, backup)) return FileAside::kNotNoted;
  if (backup.empty()) {
    // No backup is kept (the benchmark's build without the journal): the old file is deleted,
    // read-only or not.
    if (state.attributes & kAttributeReadOnly)
      files.SetAttributes(target, is64Bit,
                          state.attributes & ~static_cast<std::uint32_t>(kAttributeReadOnly));
    error = files.RemoveFile(target, is64Bit);
  } else {
    error = files.RenameFile(target, backup, is64Bit, false);
  }
  if (error == kSysSuccess) return FileAside::kMoved;
  return IsMissing(error) ? FileAside::kNothingThere : FileAside::kRefused;
}

bool MakeFolders(MachineFiles& files, FileChangeJournal& notes, const std::wstring& folder, bool is64Bit) {
  std::vector<std::wstring> missing;
  for (std::wstring at = WithoutEndSlashes(ToBackslashes(folder)); !at.empty();) {
    PathState state;
    if (files.Look(at, is64Bit, state) != kSysSuccess || state.exists) break;
    missing.push_back(at);
    const size_t slash = at.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash < 2) break;
    at = at.substr(0, slash);
  }
  for (auto made = missing.rbegin(); made != missing.rend(); ++made) {
    if (!notes.NoteCreated(*made, true, is64Bit)) return false;
    const unsigned long code = files.CreateFolder(*made, is64Bit);
    if (code != kSysSuccess && code != kSysAlreadyExists) break;
  }
  return true;
}

// ---- the journal ------------------------------------------------------------------------------

bool FileNotesToJournal::NoteMoveAside(const std::wstring& path, bool is64Bit, std::wstring& backup) {
  wchar_t name[32];
  std::swprintf(name, 32, L"%06u.old", backups_ + 1);
  UndoRecord record = PathRecord(UndoKind::FileMovedAside, path, is64Bit);
  record.other = backupFolder_ + L"\\" + name;
  if (!journal_.Record(record)) return false;
  ++backups_;
  backup = record.other;
  return true;
}

bool FileNotesToJournal::NoteCreated(const std::wstring& path, bool isFolder, bool is64Bit) {
  return journal_.Record(
      PathRecord(isFolder ? UndoKind::FolderCreated : UndoKind::FileCreated, path, is64Bit));
}

bool FileNotesToJournal::NoteFolderRemoved(const std::wstring& path, std::uint32_t attributes, bool is64Bit) {
  return journal_.Record(PathRecord(UndoKind::FolderRemoved, path, is64Bit, attributes));
}

bool FileNotesToJournal::NoteAttributes(const std::wstring& path, std::uint32_t attributes, bool is64Bit) {
  return journal_.Record(PathRecord(UndoKind::AttributesChanged, path, is64Bit, attributes));
}

bool FileNotesToJournal::NoteRestartMove(const std::wstring& source, const std::wstring& destination) {
  UndoRecord record = PathRecord(UndoKind::RestartMoveQueued, source, false);
  record.other = destination;
  return journal_.Record(record);
}

// ---- deletion ---------------------------------------------------------------------------------

FileChangeResult DeleteFileRecord(MachineFiles& files, FileChangeJournal& fileNotes,
                                  MachineRegistry& registry, RegistryChangeJournal& registryNotes,
                                  const FileDeletionRequest& request) {
  const std::wstring& target = request.target;
  const bool is64 = request.is64Bit;
  SharedCount shared;
  if (request.delInfo == kDelInfoReference && !request.inUpdate) {
    const unsigned long read = ReadSharedCount(registry, target, shared);
    if (read != kSysSuccess) return Result(FileChangeOutcome::kFailed, read);
  }
  const FileDeletion deletion = DecideFileDeletion(request.delInfo, request.inUpdate, shared);
  if (deletion.kind == FileDeletionKind::kHeld) return Result(FileChangeOutcome::kDone, kSysSuccess);
  PathState before;
  if (deletion.kind == FileDeletionKind::kRemoved) {
    const unsigned long looked = files.Look(target, is64, before);
    if (looked != kSysSuccess) return Result(FileChangeOutcome::kFailed, looked);
    // A folder in the file's place is not the package's file: it is left alone, its count too,
    // and the deletion fails with the system's answer to deleting a folder as a file.
    if (before.exists && before.isFolder) return Result(FileChangeOutcome::kFailed, kSysAccessDenied);
  }
  const RegistryChangeResult counted = ChangeCountForDeletion(registry, registryNotes, target, deletion);
  if (counted.outcome == RegistryChangeOutcome::kFailPackage) return FailPackage(counted.code);
  if (counted.outcome == RegistryChangeOutcome::kFailed)
    return Result(FileChangeOutcome::kFailed, counted.code);
  if (deletion.kind == FileDeletionKind::kCountLowered) return Result(FileChangeOutcome::kDone, kSysSuccess);

  unsigned long error = kSysSuccess;
  const FileAside aside = MoveFileAside(files, fileNotes, target, is64, error, &before);
  if (aside == FileAside::kNotNoted) return FailPackage();
  if (aside == FileAside::kMoved) return Result(FileChangeOutcome::kDone, kSysSuccess);
  // Already gone: the line carries the error, and the deletion counts as done.
  if (aside == FileAside::kNothingThere) return Result(FileChangeOutcome::kDone, error);

  // In use: deleted at the next restart, read-only cleared first so that the restart can.
  if (before.attributes & kAttributeReadOnly) {
    if (!fileNotes.NoteAttributes(target, before.attributes, is64)) return FailPackage();
    files.SetAttributes(target, is64, before.attributes & ~static_cast<std::uint32_t>(kAttributeReadOnly));
  }
  const std::wstring queued = files.RestartName(target, is64);
  if (!fileNotes.NoteRestartMove(queued, std::wstring())) return FailPackage();
  const unsigned long refused = files.QueueRestartMove(queued, std::wstring());
  if (refused != kSysSuccess) return Result(FileChangeOutcome::kFailed, refused);
  FileChangeResult result = Result(FileChangeOutcome::kDone, error);
  result.queuedAtRestart = true;
  return result;
}

// ---- copy -------------------------------------------------------------------------------------

FileChangeResult CopyFileRecord(MachineFiles& files, FileChangeJournal& fileNotes, MachineRegistry& registry,
                                RegistryChangeJournal& registryNotes, const FileCopyRequest& request) {
  const std::wstring& target = request.target;
  const bool is64 = request.is64Bit;
  FileChangeResult result;
  if (request.pendingDeletion) {
    result = ReplaceAtRestart(files, fileNotes, request, kSysSuccess);
  } else {
    bool existedBefore = false;
    bool movedAside = false;
    if (request.inAdd) {
      PathState state;
      const unsigned long looked = files.Look(target, is64, state);
      if (looked != kSysSuccess) return FailPackage(looked);
      existedBefore = state.exists;
      if (existedBefore) {
        FileFacts source, installed;  // facts that cannot be read are unknown
        files.Facts(request.source, is64, source);
        files.Facts(target, is64, installed);
        if (!SourceIsNewer(source, installed)) {
          // The installed file is not older: kept. A shared one still counts the package's use.
          FileChangeResult kept = Result(FileChangeOutcome::kDone, kSysSuccess);
          kept.written = request.delInfo == kDelInfoReference;
          kept.targetExisted = true;
          if (kept.written && !RaiseCountOfCopy(registry, registryNotes, request)) return FailPackage();
          return kept;
        }
      }
    } else {
      unsigned long error = kSysSuccess;
      const FileAside aside = MoveFileAside(files, fileNotes, target, is64, error);
      if (aside == FileAside::kNotNoted) return FailPackage();
      if (aside == FileAside::kRefused) return FailPackage(error);
      movedAside = aside == FileAside::kMoved;
    }
    result = PlaceNewFile(files, fileNotes, request, existedBefore, movedAside);
    result.targetExisted = existedBefore;
  }
  if (result.outcome == FileChangeOutcome::kFailPackage) return result;
  // The file is now in place or queued for the restart, and the uninstall log lists it either
  // way: its count rises with it, or a later uninstall would lower a count never raised.
  if (!RaiseCountOfCopy(registry, registryNotes, request)) return FailPackage();
  return result;
}

// ---- emptied folders --------------------------------------------------------------------------

namespace {

enum class FolderSweep { kRemoved, kLeft, kOutside, kNotNoted };

// One folder of a sweep: removed when it is empty and lies strictly inside one of the protected
// folders (never one of those), its removal's undo noted first.
FolderSweep SweepFolder(MachineFiles& files, FileChangeJournal& notes, const std::wstring& folder,
                        const std::vector<std::wstring>& protectedFolders, bool is64Bit) {
  bool inside = false;
  for (const std::wstring& special : protectedFolders) {
    if (SameFolder(folder, special)) return FolderSweep::kOutside;  // a protected folder stays
    if (IsStrictlyInside(folder, special)) inside = true;
  }
  if (!inside) return FolderSweep::kOutside;
  bool empty = false;
  if (files.IsFolderEmpty(folder, is64Bit, empty) != kSysSuccess || !empty) return FolderSweep::kLeft;
  PathState state;
  if (files.Look(folder, is64Bit, state) != kSysSuccess || !state.exists) return FolderSweep::kLeft;
  if (!notes.NoteFolderRemoved(folder, state.attributes, is64Bit)) return FolderSweep::kNotNoted;
  if (state.attributes & kAttributeReadOnly)
    files.SetAttributes(folder, is64Bit, state.attributes & ~static_cast<std::uint32_t>(kAttributeReadOnly));
  return files.RemoveFolder(folder, is64Bit) == kSysSuccess ? FolderSweep::kRemoved : FolderSweep::kLeft;
}

}  // namespace

FileChangeOutcome RemoveEmptyFolders(MachineFiles& files, FileChangeJournal& notes, const std::wstring& start,
                                     const std::vector<std::wstring>& protectedFolders, bool is64Bit) {
  FileChangeOutcome outcome = FileChangeOutcome::kDone;
  WalkUp(start, [&](const std::wstring& folder) {
    const FolderSweep swept = SweepFolder(files, notes, folder, protectedFolders, is64Bit);
    if (swept == FolderSweep::kNotNoted) outcome = FileChangeOutcome::kFailPackage;
    return swept == FolderSweep::kRemoved;
  });
  return outcome;
}

FileChangeOutcome RemoveEmptiedFolders(MachineFiles& files, FileChangeJournal& notes,
                                       const std::vector<std::wstring>& starts,
                                       const std::vector<std::wstring>& refilled,
                                       const std::vector<std::wstring>& protectedFolders, bool is64Bit) {
  // A refilled folder and every folder above it, by comparison key.
  std::set<std::wstring> kept;
  for (const std::wstring& folder : refilled)  // a folder in already has the rest above it in
    WalkUp(folder, [&kept](const std::wstring& above) { return kept.insert(UpperOrdinal(above)).second; });
  // Each folder and every folder above it, by comparison key in falling order: whatever lies
  // below a folder comes before it.
  struct Candidate {
    std::wstring path;
    bool start = false;         // a folder the pass emptied: looked at in any case
    bool childRemoved = false;  // a folder above one: looked at once something below it went
  };
  std::map<std::wstring, Candidate, std::greater<>> candidates;
  for (const std::wstring& start : starts) {
    bool first = true;
    WalkUp(start, [&](const std::wstring& folder) {
      Candidate& candidate = candidates[UpperOrdinal(folder)];
      if (candidate.path.empty()) candidate.path = folder;
      candidate.start = candidate.start || first;
      first = false;
      return true;
    });
  }
  for (auto& entry : candidates) {
    Candidate& candidate = entry.second;
    if (!candidate.start && !candidate.childRemoved) continue;
    if (kept.count(entry.first)) continue;
    const FolderSweep swept = SweepFolder(files, notes, candidate.path, protectedFolders, is64Bit);
    if (swept == FolderSweep::kNotNoted) return FileChangeOutcome::kFailPackage;
    if (swept != FolderSweep::kRemoved) continue;
    const auto parent = candidates.find(UpperOrdinal(WithoutEndSlashes(FolderOf(candidate.path))));
    if (parent != candidates.end()) parent->second.childRemoved = true;
  }
  return FileChangeOutcome::kDone;
}

std::vector<std::wstring> FoldersCopiesFill(const CQXDiffDistribute& package, bool is64Bit, bool bothViews,
                                            const std::function<std::wstring(const CQXFile&)>& target) {
  std::vector<std::wstring> folders;
  if (is64Bit && !bothViews) return folders;  // 64-bit records are skipped on such a system
  for (const CQXBaseObjects* group : {static_cast<const CQXBaseObjects*>(package.updateObjects.get()),
                                      static_cast<const CQXBaseObjects*>(package.addObjects.get())}) {
    if (!group) continue;
    for (const std::unique_ptr<CQXFile>& file : group->files) {
      if (!file || (file->wow.wow == kWow64) != is64Bit) continue;
      const std::wstring path = target(*file);
      if (!path.empty()) folders.push_back(FolderOf(path));
    }
  }
  return folders;
}

// ---- undo -------------------------------------------------------------------------------------

namespace {

unsigned long PutBackMovedFile(MachineFiles& files, const UndoRecord& record) {
  PathState backup;
  const unsigned long looked = files.Look(record.other, record.is64Bit, backup);
  if (looked != kSysSuccess) return looked;
  if (!backup.exists) return kSysSuccess;  // it never left its place
  unsigned long moved = files.RenameFile(record.other, record.path, record.is64Bit, true);
  if (moved == kSysAccessDenied) {
    // A read-only file in the way (one the package made) is not the old one: it goes. This is
    // the one place that clears it, for every machine.
    files.SetAttributes(record.path, record.is64Bit, kAttributeNormal);
    moved = files.RenameFile(record.other, record.path, record.is64Bit, true);
  }
  return moved;
}

unsigned long RemoveCreatedFile(MachineFiles& files, const UndoRecord& record) {
  PathState state;
  const unsigned long looked = files.Look(record.path, record.is64Bit, state);
  if (looked != kSysSuccess) return looked;
  if (!state.exists) return kSysSuccess;
  if (state.isFolder) return kSysDirectory;
  if (state.attributes & kAttributeReadOnly)
    files.SetAttributes(record.path, record.is64Bit,
                        state.attributes & ~static_cast<std::uint32_t>(kAttributeReadOnly));
  const unsigned long deleted = files.RemoveFile(record.path, record.is64Bit);
  return IsMissing(deleted) ? kSysSuccess : deleted;
}

unsigned long RemoveCreatedFolder(MachineFiles& files, const UndoRecord& record) {
  const unsigned long removed = files.RemoveFolder(record.path, record.is64Bit);
  return IsMissing(removed) ? kSysSuccess : removed;
}

unsigned long MakeRemovedFolder(MachineFiles& files, const UndoRecord& record) {
  const unsigned long made = files.CreateFolder(record.path, record.is64Bit);
  if (made != kSysSuccess && made != kSysAlreadyExists) return made;
  const std::uint32_t kept = record.attributes & ~static_cast<std::uint32_t>(kAttributeDirectory);
  return kept != 0 ? files.SetAttributes(record.path, record.is64Bit, kept) : kSysSuccess;
}

unsigned long GiveBackAttributes(MachineFiles& files, const UndoRecord& record) {
  PathState state;
  const unsigned long looked = files.Look(record.path, record.is64Bit, state);
  if (looked != kSysSuccess) return looked;
  if (!state.exists) return kSysSuccess;
  return files.SetAttributes(record.path, record.is64Bit, record.attributes);
}

}  // namespace

unsigned long UndoFileRecord(MachineFiles& files, const UndoRecord& record) {
  switch (record.kind) {
    case UndoKind::FileMovedAside: return PutBackMovedFile(files, record);
    case UndoKind::FileCreated: return RemoveCreatedFile(files, record);
    case UndoKind::FolderCreated: return RemoveCreatedFolder(files, record);
    case UndoKind::FolderRemoved: return MakeRemovedFolder(files, record);
    case UndoKind::AttributesChanged: return GiveBackAttributes(files, record);
    case UndoKind::RestartMoveQueued: return files.UnqueueRestartMove(record.path, record.other);
    default: return kSysInvalidParameter;
  }
}

bool FileUndo::Undoes(UndoKind kind) const {
  switch (kind) {
    case UndoKind::FileMovedAside:
    case UndoKind::FileCreated:
    case UndoKind::FolderCreated:
    case UndoKind::FolderRemoved:
    case UndoKind::AttributesChanged:
    case UndoKind::RestartMoveQueued: return true;
    default: return false;
  }
}

}  // namespace brindle
