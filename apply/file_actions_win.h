// The file actions of a patch: copying the package's new files into the installed application,
// deleting the files it removes, keeping the system's shared-DLL counts, replacing or deleting
// files in use at the next restart, and removing folders that a deletion left empty. Every
// action writes its service-log line and records its result in the uninstall log.
#pragma once
#include "apply/file_decisions.h"
#include "apply/package_executor.h"
#include "apply/registry_changes.h"
#include "apply/win_machine_files_win.h"
#include "apply/win_machine_registry_win.h"
#include "sys/env.h"
#include "sys/file_placement_win.h"
#include "sys/protected_folder.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brindle {

class CQXFile;
struct PackageContext;

using FileList = std::vector<std::unique_ptr<CQXFile>>;

// The file family of the package's actions (the file passes and the COM passes), driven by the
// executor one step at a time.
class CFileActions : public CQXActionFamily {
 public:
  explicit CFileActions(PackageContext& context) : context_(context) {}

  // A file pass: the undo records of all its records are declared first, in one trip to the
  // disk; redirection is switched back on when it ends.
  StepOutcome BeginStep(const PackageStep& step, const std::vector<PackageAction>& actions) override;
  // The copy step (verb ADD_FILE in the add section, else UPDATE_FILE_ADD) fails the package
  // when an old file cannot be removed, a file cannot be queued for the restart, or a record
  // names an unsafe source. The delete step (verb UPDATE_FILE_DELETE in
  // the update section, else DELETE_FILE) answers kFailed for a deletion that failed. The
  // unregistration step ends at the first server that fails, without an error. The queue step
  // puts the server in the queue registered after the last section.
  ActionOutcome Do(const PackageAction& action) override;
  StepOutcome EndStep(const PackageStep& step) override;

  // The undo of the journal records the file actions (and the shortcut actions) write: old
  // files put back, new files and folders removed, removed folders and attributes restored,
  // queued restart moves taken out of the queue, COM servers registered or unregistered
  // again. 0 when the change is taken back (or there was nothing to take back), else the
  // system's error code.
  static bool Undoes(UndoKind kind);
  static unsigned long Undo(const UndoRecord& record);

  // Registers (or unregisters) every COM server of the list with the tool of its bitness and
  // ORs a queued registration's restart request into reboot needed. The first server that
  // fails ends the pass, without an error.
  bool RegisterComFiles(const std::vector<const CQXFile*>& files, bool unregister);

  // The source has a higher file version, or (without two versions to compare, or with a
  // version not higher) a later last-write time.
  static bool IsSourceNewer(const std::wstring& source, const std::wstring& target);
  // The special folders that hold applications: a removal stays strictly inside one of them
  // and never removes one of them.
  static std::vector<std::wstring> ProtectedFolders();
  // A special folder's path (CSIDL), with the registry fallbacks when the shell has none.
  static bool GetSpecialFolder(int csidl, std::wstring& folder);

 private:
  // The per-record switch of file-system redirection: 0 when switched, else the system's error
  // code; skip set when the record does not exist on this system (64-bit record, 32-bit Windows).
  unsigned long SwitchRedirection(const CQXFile& file, bool& skip);
  // A record whose redirection could not be switched (now or while the step declared its undo
  // records): its error line, and the package fails, so nothing of the step goes on unjournaled.
  ActionOutcome RedirectionFailed(const wchar_t* verb, const CQXFile& file, unsigned long code);
  ActionOutcome CopyAction(const CQXFile* file, bool isAdd);
  // False, with the record's error line, when a link among the target's folders is not one an
  // administrator made.
  bool ChainIsFollowed(const wchar_t* verb, const std::wstring& target);
  ActionOutcome DeleteAction(const CQXFile* file, bool isUpdate);
  // One deletion with its line: kDone, kFailed (a missing record, a link above the target, a
  // count or a deletion the system refused) or kFailPackage (its undo could not be noted).
  ActionOutcome DeleteOne(const CQXFile* file, bool isUpdate);
  // Removes the folders the delete step emptied, and their parents while empty (RemoveEmptyFolders);
  // false when a removal's undo could not be noted.
  bool RemoveEmptiedFolders();
  // The folders the package's copy steps place files in, in the view asked for.
  std::vector<std::wstring> RefilledFolders(bool is64Bit);
  // One COM server; kStopPass when it could not be (un)registered (its line is written), and
  // kFailPackage when its redirection could not be switched.
  ActionOutcome RegisterComAction(const CQXFile& file, bool unregister);
  // One copy with its line: kDone, or kFailPackage (an unsafe record, a link above the target,
  // an old file that cannot be removed, a restart replacement the system refused, an undo that
  // could not be noted).
  ActionOutcome CopyOne(const CQXFile& file, bool isAdd);
  // Whether no other file record of the package names the same source file.
  bool IsOnlyUseOfSource(const std::wstring& name);
  // The undo records of the whole copy pass, written in one trip to the disk.
  bool DeclareCopies(const std::vector<PackageAction>& actions, bool isAdd);
  bool DeclareDeletions(const std::vector<PackageAction>& actions, bool isUpdate);
  std::wstring ExpandedTarget(const CQXFile& file);

  PackageContext& context_;
  bool stepFailed_ = false;  // a deletion of the step in hand failed
  // The error of a redirection switch that failed while the step declared its undo records.
  unsigned long declarationSwitchError_ = 0;
  // The folders files of the delete step were deleted from (with the view of a record in
  // each), deepest first: each is looked at once when the step ends.
  std::map<std::pair<std::wstring, bool>, const CQXFile*, std::greater<>> deletedFromFolders_;
  std::unordered_map<const CQXFile*, std::wstring> targets_;  // expanded targets of the pass
  bool current64Bit_ = false;  // the record in hand belongs to the 64-bit file system
  // The protected folders, read at the first deletion: they cannot change during a pass, and
  // asking the shell and the registry for them for every deleted file was slow.
  std::unique_ptr<std::vector<std::wstring>> protectedFolders_;
  // How many file records of the package's update and add groups name each source (by its
  // name compared as Windows compares paths), counted at the first copy.
  std::unique_ptr<std::unordered_map<std::wstring, int>> sourceUses_;
  // The target folders of the copy step in hand that exist (by comparison key and view).
  std::unordered_set<std::wstring> ensuredFolders_;
  // The folders above the step's targets found to be no link, held until the step ends.
  LinkCheckedFolders linkChecks_;
  // The machine's registry where the shared-DLL counts are read and changed.
  WinMachineRegistry counts_;
  // The machine's files, as the file changes see them.
  WinMachineFiles files_;
};

}  // namespace brindle
