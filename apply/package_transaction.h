// One package's changes as a whole. Begun once the package may change the machine (its undo
// journal started), it is taken back whenever it ends without having been kept: a failed
// stage, a veto, an exception or any early return undoes the package by leaving the scope
// that holds it. Keeping it is the one step that makes the package's changes stay.
#pragma once
#include <memory>
#include <string>

namespace brindle {

class CQXSubUpdater;

class CPackageTransaction {
 public:
  // Null when no undo journal can be begun (the updater writes the line saying so): a package
  // that cannot be taken back is not applied.
  static std::unique_ptr<CPackageTransaction> Begin(CQXSubUpdater& updater, const std::wstring& packageFile);
  ~CPackageTransaction();
  CPackageTransaction(const CPackageTransaction&) = delete;
  CPackageTransaction& operator=(const CPackageTransaction&) = delete;

  // Keeps every change (the journal's records and backups are let go).
  void Keep();
  // Takes every change back, last first; false when something could not be (the journal then
  // stays for the next run). Once kept or undone, nothing more happens.
  bool Undo();

 private:
  explicit CPackageTransaction(CQXSubUpdater& updater) : updater_(updater) {}
  CQXSubUpdater& updater_;
  bool open_ = true;
};

}  // namespace brindle
