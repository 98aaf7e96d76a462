#include "apply/shortcut_actions_win.h"

#include "apply/action_line.h"
#include "apply/file_actions_win.h"
#include "apply/package_context.h"
#include "apply/package_journal_win.h"
#include "apply/sub_updater.h"
#include "logs/service_log.h"
#include "package/object_records.h"
#include "sys/env.h"
#include "sys/paths.h"
#include "sys/safe_names.h"
#include "sys/win_handles.h"
#include "uninstlog/uninstall_log.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

namespace brindle {

namespace {

// Longest link path the shell link object and the file calls take (MAX_PATH less the
// terminator).
constexpr size_t kShortcutPathLimit = MAX_PATH - 1;

const wchar_t* CreateVerb(bool isAdd) { return isAdd ? L"ADD_SHORTCUT" : L"UPDATE_SHORTCUT_ADD"; }
const wchar_t* DeleteVerb(bool isUpdate) { return isUpdate ? L"UPDATE_SHORTCUT_DELETE" : L"DELETE_SHORTCUT"; }

// The shell's results are written as signed numbers, as the system defines them.
void WriteResultLine(const wchar_t* verb, const std::wstring& path, HRESULT result) {
  WriteServiceLog(
      {L"-", path, SUCCEEDED(result) ? L"success" : L"error", std::to_wstring(static_cast<long>(result))},
      L"BR", verb);
}

}  // namespace

void CShortcutActions::CreateFolders(const std::wstring& folder) {
  if (context_.journal) context_.journal->CreateFolders(ToBackslashes(folder), false);
  else CreateFolderChain(folder);
}

int CShortcutActions::ShowCommand(int windowSize) {
  switch (windowSize) {
    case kWindowMaximised: return SW_SHOWMAXIMIZED;
    case kWindowMinimised: return SW_SHOWMINNOACTIVE;
    default: return SW_SHOWNORMAL;
  }
}

std::wstring CShortcutActions::ShortcutPath(const CQXShortCut& record, unsigned long& error,
                                            std::wstring& object) const {
  const int csidl =
      record.name.type == kShortcutGroup ? CSIDL_COMMON_PROGRAMS : CSIDL_COMMON_DESKTOPDIRECTORY;
  const std::wstring name = context_.env.Expand(record.name.name);
  std::wstring folder;
  if (!CFileActions::GetSpecialFolder(csidl, folder)) {
    error = ERROR_PATH_NOT_FOUND;
    object = name + L".lnk";
    return std::wstring();
  }
  object = ToForwardSlashes(folder + L"\\" + name + L".lnk");
  // The program runs elevated: a name that climbs out of the folder, names a drive or an
  // alternate stream would place or remove a link anywhere. The length is checked on its own,
  // below, so that a long name is reported as such.
  if (!IsSafeRelativePath(name, static_cast<size_t>(-1))) {
    error = ERROR_INVALID_NAME;
    return std::wstring();
  }
  const std::wstring path = JoinPath(folder, name + L".lnk");
  object = path;
  if (path.size() > kShortcutPathLimit) {
    error = ERROR_FILENAME_EXCED_RANGE;
    return std::wstring();
  }
  error = 0;
  return path;
}

// ---- the create pass ---------------------------------------------------------------------------

ActionOutcome CShortcutActions::Do(const PackageAction& action) {
  if (action.step.pass == PackagePass::kCreateShortcuts)
    return CreateAction(action.shortcut, action.step.section == PackageSection::kAdd);
  if (action.step.pass == PackagePass::kDeleteShortcuts)
    return DeleteAction(action.shortcut, action.step.section == PackageSection::kUpdate);
  throw CUpdaterException("a step the shortcut actions do not take");
}

ActionOutcome CShortcutActions::CreateAction(const CQXShortCut* record, bool isAdd) {
  if (!record) {
    WriteMissingRecordLine(CreateVerb(isAdd));
    return ActionOutcome::kMissingRecord;
  }
  const CQXEnv& env = context_.env;
  const std::wstring workFolder = env.Expand(record->workFolder.path);
  const std::wstring target = env.Expand(record->target.path);
  const std::wstring arguments = env.Expand(record->parameters);
  const std::wstring description = env.Expand(record->text);
  unsigned long error = 0;
  std::wstring object;
  const std::wstring path = ShortcutPath(*record, error, object);
  if (path.empty()) {
    WriteActionError(CreateVerb(isAdd), object, error);
    return ActionOutcome::kNotApplied;
  }
  const std::wstring folder = ParentFolder(path);
  if (!PathExists(folder)) CreateFolders(folder);
  // A target that is not there yet is placed later, by a later group of this package or by a
  // later package: only the folder it goes in is made. A folder of the target's own name
  // would stand where the file goes and refuse it. (A target written with a final backslash
  // names a folder, and is the folder made.)
  const std::wstring targetFolder = target.empty() ? std::wstring() : ParentFolder(target);
  if (!targetFolder.empty() && !PathExists(targetFolder)) CreateFolders(targetFolder);
  // A folder standing where the link would go is never moved: the save fails on it and the
  // line says so.
  const DWORD present = GetFileAttributesW(path.c_str());
  const bool folderInTheWay = present != INVALID_FILE_ATTRIBUTES && (present & FILE_ATTRIBUTE_DIRECTORY) != 0;
  CPackageJournal* journal = folderInTheWay ? nullptr : context_.journal;
  if (journal) {
    // The link is saved in place: an old one is moved aside first, so its bytes stay whole.
    const std::wstring systemPath = ToBackslashes(path);
    unsigned long moveError = 0;
    if (PathExists(path) && !journal->MoveAside(systemPath, false, moveError)) {
      WriteResultLine(CreateVerb(isAdd), path, HRESULT_FROM_WIN32(moveError));
      return ActionOutcome::kNotApplied;
    }
    journal->NoteNewFile(systemPath, false);
  }
  if (!WriteShortcut(target, arguments, workFolder, path, ShowCommand(record->windowSize.type), description,
                     isAdd))
    return ActionOutcome::kNotApplied;
  if (isAdd && context_.uninstallLog) context_.uninstallLog->AddShortcutEntry(ToBackslashes(path));
  return ActionOutcome::kDone;
}

bool CShortcutActions::WriteShortcut(const std::wstring& target, const std::wstring& arguments,
                                     const std::wstring& workFolder, const std::wstring& shortcutPath,
                                     int showCommand, const std::wstring& description, bool isAdd) {
  ComPtr<IShellLinkW> link;
  HRESULT result =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid());
  ComPtr<IPersistFile> file;
  if (SUCCEEDED(result)) result = link.As(file, IID_IPersistFile);
  if (SUCCEEDED(result)) result = link->SetPath(target.c_str());
  if (SUCCEEDED(result) && !arguments.empty()) result = link->SetArguments(arguments.c_str());
  if (SUCCEEDED(result) && !workFolder.empty()) result = link->SetWorkingDirectory(workFolder.c_str());
  if (SUCCEEDED(result)) result = link->SetShowCmd(showCommand);
  if (SUCCEEDED(result) && !description.empty()) result = link->SetDescription(description.c_str());
  if (SUCCEEDED(result)) result = file->Save(ToBackslashes(shortcutPath).c_str(), TRUE);
  WriteResultLine(CreateVerb(isAdd), shortcutPath, result);
  return SUCCEEDED(result);
}

// ---- the delete pass ---------------------------------------------------------------------------

ActionOutcome CShortcutActions::DeleteAction(const CQXShortCut* record, bool isUpdate) {
  if (!record) {
    WriteMissingRecordLine(DeleteVerb(isUpdate));
    return ActionOutcome::kMissingRecord;
  }
  unsigned long error = 0;
  std::wstring object;
  const std::wstring path = ShortcutPath(*record, error, object);
  if (path.empty()) {
    WriteActionError(DeleteVerb(isUpdate), object, error);
    return ActionOutcome::kFailed;
  }
  const std::wstring systemPath = ToBackslashes(path);
  bool removed = true;
  if (PathExists(path)) {
    unsigned long removeError = 0;
    removed = context_.journal ? context_.journal->MoveAside(systemPath, false, removeError)
                               : DeleteFileW(systemPath.c_str()) != FALSE;
    if (!removed) {
      error = context_.journal ? removeError : GetLastError();
    } else if (!isUpdate) {
      // Only a link that is really gone leaves the uninstall log.
      CFileActions::RemoveEmptyFolders(ParentFolder(path), context_.journal);
      if (context_.uninstallLog) context_.uninstallLog->RemoveFileEntryByPath(L"Files", systemPath);
    }
  }
  WriteActionLine(DeleteVerb(isUpdate), path, error);
  return removed ? ActionOutcome::kDone : ActionOutcome::kFailed;
}

}  // namespace brindle
