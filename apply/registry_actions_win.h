// The registry actions of a patch (their undo is RegistryUndo, registry_changes.h): writing the values a package lists and deleting the ones it
// removes, each in the registry view its record names (the 64-bit view for 64-bit records, the
// 32-bit view for all others), with a key left empty by a deletion removed too. Every action
// writes its service-log line; values written by an add and keys removed by a delete are
// recorded in the uninstall log.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "apply/package_executor.h"
#include "apply/machine_registry.h"
#include "apply/win_machine_registry_win.h"

namespace brindle {

class CQXRegistry;
struct PackageContext;

using RegistryList = std::vector<std::unique_ptr<CQXRegistry>>;

// The registry family of the package's actions, driven by the executor one step at a time.
class CRegistryActions : public CQXActionFamily {
 public:
  explicit CRegistryActions(PackageContext& context) : context_(context) {}

  // The write step declares the undo records of all its values first, in one trip to the disk.
  StepOutcome BeginStep(const PackageStep& step, const std::vector<PackageAction>& actions) override;
  // The write step: verb ADD_REG in the add section, else UPDATE_REG_ADD (which deletes the old
  // value first). A record that cannot be applied (data that does not convert, a key that
  // cannot be created, a value that cannot be stored) gets an error line, changes nothing and
  // answers kFailed: the step goes on with the other records and then fails the package.
  // The delete step: verb UPDATE_REG_DELETE in the update section, else DELETE_REG, which also
  // removes the value's key when it is left empty (one level only). A value or key that does
  // not exist gives an error line with code 2 and the step goes on. Any other failure gives an
  // error line for the record and answers kFailed.
  ActionOutcome Do(const PackageAction& action) override;
  // Closes the keys the step kept open.
  StepOutcome EndStep(const PackageStep&) override;

  // The root key of a record's root code (HKCR, HKLM, HKCU); null for an unknown code.
  static HKEY RootKey(int root);
  // The view flag of a record: KEY_WOW64_64KEY for 64-bit records, else KEY_WOW64_32KEY.
  static REGSAM View(const CQXRegistry& record);

 private:
  // The old data of every value of a write or delete step, written in one trip to the disk;
  // for a write step also the keys of their paths that are missing.
  bool DeclareValues(const std::vector<PackageAction>& actions, bool writing);
  // Each applies its record through the change shared with the tests (registry_changes.h) and
  // writes its line: kFailed when the record could not be applied, kFailPackage when its undo
  // could not be noted (nothing changed, no line).
  ActionOutcome WriteOne(const CQXRegistry& record, bool isAdd);
  ActionOutcome DeleteOne(const CQXRegistry& record, bool isUpdate);
  // The record's key with its path expanded.
  RegistryKeyName KeyOf(const CQXRegistry& record) const;
  // A 64-bit record on 32-bit Windows: it does not exist there and is skipped without a line.
  static bool Skipped(const CQXRegistry& record);

  PackageContext& context_;
  // The machine's registry; it keeps the step's keys open for all their values.
  WinMachineRegistry registry_;
};

}  // namespace brindle
