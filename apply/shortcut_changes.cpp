#include "apply/shortcut_changes.h"

#include "package/object_records.h"
#include "sys/env.h"
#include "sys/paths.h"
#include "sys/safe_names.h"

namespace brindle {

namespace {

const unsigned long kSysFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

// An undo that could not be noted: nothing more is changed, and the journal wrote its own line.
ShortcutChangeResult NotNoted(ShortcutChangeResult result) {
  result.outcome = ShortcutChangeOutcome::kFailPackage;
  result.hasLine = false;
  return result;
}

ShortcutChangeResult Failed(ShortcutChangeResult result, std::int32_t code, bool shellResult) {
  result.outcome = ShortcutChangeOutcome::kFailed;
  result.code = code;
  result.shellResult = shellResult;
  return result;
}

}  // namespace

int ShowCommandOf(int windowSize) {
  switch (windowSize) {
    case kWindowMaximised: return kShowMaximised;
    case kWindowMinimised: return kShowMinimisedNoActive;
    default: return kShowNormal;
  }
}

ShortcutRequest ShortcutRequestOf(const CQXShortCut& record, const CQXEnv& env) {
  ShortcutRequest request;
  request.place = record.name.type == kShortcutGroup ? ShortcutPlace::kProgramMenu : ShortcutPlace::kDesktop;
  request.name = env.Expand(record.name.name);
  request.link.target = env.Expand(record.target.path);
  request.link.arguments = env.Expand(record.parameters);
  request.link.workFolder = env.Expand(record.workFolder.path);
  request.link.description = env.Expand(record.text);
  request.link.showCommand = ShowCommandOf(record.windowSize.type);
  return request;
}

std::wstring ShortcutLinkPath(MachineShortcuts& shortcuts, const ShortcutRequest& request,
                              ShortcutChangeResult& failure) {
  const std::wstring& name = request.name;
  std::wstring folder;
  if (!shortcuts.CommonFolder(request.place, folder)) {
    failure = Failed(failure, kSysPathNotFound, false);
    failure.object = name + L".lnk";
    return std::wstring();
  }
  // The program runs elevated: a name that climbs out of the folder, names a drive or an
  // alternate stream would place or remove a link anywhere. The length is checked on its own,
  // below, so that a long name is reported as such.
  if (!IsSafeRelativePath(name, static_cast<size_t>(-1))) {
    failure = Failed(failure, kSysInvalidName, false);
    failure.object = ToForwardSlashes(folder + L"\\" + name + L".lnk");
    return std::wstring();
  }
  const std::wstring path = JoinPath(folder, name + L".lnk");
  if (path.size() > kShortcutPathLimit) {
    failure = Failed(failure, kSysFilenameTooLong, false);
    failure.object = path;
    return std::wstring();
  }
  return path;
}

ShortcutChangeResult CreateShortcutRecord(MachineFiles& files, MachineShortcuts& shortcuts,
                                          FileChangeJournal& notes, const ShortcutRequest& request) {
  ShortcutChangeResult result;
  const std::wstring path = ShortcutLinkPath(shortcuts, request, result);
  if (path.empty()) return result;
  result.object = path;
  const std::wstring link = ToBackslashes(path);
  if (!MakeFolders(files, notes, FolderOf(link), false)) return NotNoted(result);
  // A target that is not there yet is placed later, by a later group of this package or by a
  // later package: only the folder it goes in is made. A folder of the target's own name would
  // stand where the file goes and refuse it. (A target written with a final backslash names a
  // folder, and is the folder made.)
  const std::wstring& target = request.link.target;
  const std::wstring targetFolder = target.empty() ? std::wstring() : ToBackslashes(ParentFolder(target));
  if (!targetFolder.empty() && !MakeFolders(files, notes, targetFolder, false)) return NotNoted(result);
  PathState state;
  if (files.Look(link, false, state) != kSysSuccess) state = PathState();  // the write tells
  // A folder standing where the link would go is never moved: the write fails on it and the
  // line says so. An old link is moved aside first, so that its bytes stay whole for an undo.
  if (!state.isFolder) {
    if (state.exists) {
      unsigned long error = kSysSuccess;
      const FileAside aside = MoveFileAside(files, notes, link, false, error, &state);
      if (aside == FileAside::kNotNoted) return NotNoted(result);
      if (aside != FileAside::kMoved) return Failed(result, ShellResultOf(error), true);
    }
    if (!notes.NoteCreated(link, false, false)) return NotNoted(result);
  }
  const std::int32_t written = shortcuts.WriteLink(link, request.link);
  result.code = written;
  result.shellResult = true;
  result.changed = written >= 0;
  result.outcome = result.changed ? ShortcutChangeOutcome::kDone : ShortcutChangeOutcome::kFailed;
  return result;
}

ShortcutChangeResult DeleteShortcutRecord(MachineFiles& files, MachineShortcuts& shortcuts,
                                          FileChangeJournal& notes, const ShortcutRequest& request,
                                          bool sweepFolders) {
  ShortcutChangeResult result;
  const std::wstring path = ShortcutLinkPath(shortcuts, request, result);
  if (path.empty()) return result;
  result.object = path;
  const std::wstring link = ToBackslashes(path);
  PathState state;
  if (files.Look(link, false, state) != kSysSuccess || !state.exists) return result;
  unsigned long error = kSysSuccess;
  const FileAside aside = MoveFileAside(files, notes, link, false, error, &state);
  if (aside == FileAside::kNotNoted) return NotNoted(result);
  if (aside != FileAside::kMoved) return Failed(result, static_cast<std::int32_t>(error), false);
  result.changed = true;
  // The link is gone and its line says so; a removal of an emptied folder whose undo cannot be
  // noted is not made, and the package fails.
  if (sweepFolders && RemoveEmptyFolders(files, notes, FolderOf(link), shortcuts.ProtectedFolders(), false) ==
                          FileChangeOutcome::kFailPackage)
    result.outcome = ShortcutChangeOutcome::kFailPackage;
  return result;
}

}  // namespace brindle
