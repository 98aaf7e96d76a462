#include "apply/package_transaction.h"

#include "apply/sub_updater.h"

namespace brindle {

std::unique_ptr<CPackageTransaction> CPackageTransaction::Begin(CQXSubUpdater& updater,
                                                                const std::wstring& packageFile) {
  if (!updater.BeginPackage(packageFile)) return nullptr;
  return std::unique_ptr<CPackageTransaction>(new CPackageTransaction(updater));
}

CPackageTransaction::~CPackageTransaction() {
  // Nothing may leave a destructor: an undo that stops with an exception has written its line,
  // and the journal it leaves is finished by the next run's recovery.
  try {
    Undo();
  } catch (...) {
  }
}

void CPackageTransaction::Keep() {
  if (!open_) return;
  open_ = false;
  updater_.CommitPackage();
}

bool CPackageTransaction::Undo() {
  if (!open_) return true;
  open_ = false;
  return updater_.UndoPackage();
}

}  // namespace brindle
