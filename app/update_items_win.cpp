#include "app/update_items.h"

#include "app/progress_context.h"

namespace brindle {

int CWinQXUpdateItems::ApplyPatchPackage(CQXInstallLog&, const DiffLocalEntry&, const std::wstring&) {
  return kPatchFailed;
}

int CWinQXUpdateItems::RunSetupProgram(const std::wstring&, const DiffLocalEntry&) {
  return kSetupFailed;
}

int CWinQXUpdateItems::DeleteComponent(const CQXActionListXML&, const std::wstring&,
                                       ProgressContext& context) {
  context.failed = true;
  return kComponentFailed;
}

int CWinQXUpdateItems::AddComponent(const CQXActionListXML&, const std::wstring&,
                                    ProgressContext& context) {
  context.failed = true;
  return kComponentFailed;
}

bool CWinQXUpdateItems::RebootNeeded() const { return false; }

}  // namespace brindle
