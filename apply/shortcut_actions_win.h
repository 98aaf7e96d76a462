// The shortcut actions of a patch: creating and deleting the shell links a package lists, on
// the all-users desktop or in the all-users program menu, through the shell's link object. The
// shortcut's name comes from the package and must stay inside its folder. Every action writes
// its service-log line; links created by an add and removed by a delete are recorded in the
// uninstall log.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "apply/package_executor.h"

namespace brindle {

class CQXShortCut;
struct PackageContext;

using ShortCutList = std::vector<std::unique_ptr<CQXShortCut>>;

// The shortcut family of the package's actions, driven by the executor one step at a time.
class CShortcutActions : public CQXActionFamily {
 public:
  explicit CShortcutActions(PackageContext& context) : context_(context) {}

  StepOutcome BeginStep(const PackageStep&, const std::vector<PackageAction>&) override {
    return StepOutcome::kCompleted;
  }
  // The create step: verb ADD_SHORTCUT in the add section, else UPDATE_SHORTCUT_ADD. A shortcut
  // that cannot be written is logged with its error and skipped (kNotApplied): the step does
  // not fail for it. The delete step: verb UPDATE_SHORTCUT_DELETE in the update section, else
  // DELETE_SHORTCUT, which also removes folders left empty and the link's uninstall-log entry;
  // a shortcut that could not be deleted answers kFailed, so the step fails after trying all.
  ActionOutcome Do(const PackageAction& action) override;
  StepOutcome EndStep(const PackageStep&) override { return StepOutcome::kCompleted; }

  // The link file's path (forward slashes): the desktop or program-menu folder joined with the
  // expanded name and ".lnk". Empty, with error set, when the folder is unknown, the name could
  // reach outside the folder (ERROR_INVALID_NAME) or the path is longer than 259 characters
  // (ERROR_FILENAME_EXCED_RANGE); object then receives a text naming the shortcut for the log.
  std::wstring ShortcutPath(const CQXShortCut& record, unsigned long& error, std::wstring& object) const;
  // Writes the link through IShellLinkW and IPersistFile and its action line; true only after
  // a successful save.
  bool WriteShortcut(const std::wstring& target, const std::wstring& arguments,
                     const std::wstring& workFolder, const std::wstring& shortcutPath, int showCommand,
                     const std::wstring& description, bool isAdd);

  // The show command for a WindowSize code: normal 1, maximised 3, minimised without
  // activation 7.
  static int ShowCommand(int windowSize);

 private:
  ActionOutcome CreateAction(const CQXShortCut* record, bool isAdd);
  ActionOutcome DeleteAction(const CQXShortCut* record, bool isUpdate);
  // Creates the folder and its missing parents, each journaled first when the package is.
  void CreateFolders(const std::wstring& folder);

  PackageContext& context_;
};

}  // namespace brindle
