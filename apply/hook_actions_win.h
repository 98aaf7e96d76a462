// The package's own hook libraries: CUSTOM\<name> is loaded before the changes
// (Update_BeforeUpdate) and after them (Update_AfterUpdate). Each hook may veto the update by
// returning 1 or ask for a restart through the byte it is handed.
#pragma once
#include <string>

#include "apply/sub_updater.h"

namespace brindle {

class CQXCustomFunction;
class CQXFileName;
struct PackageContext;

class CHookActions {
 public:
  // The hooks are found in the package's folder of the context.
  explicit CHookActions(const PackageContext& context) : context_(context) {}

  // kStop when the hook returns 1 (its veto), or when it is not named (no FileName of its
  // type), its name is empty or could reach outside the package's CUSTOM folder, its library
  // is missing or lacks the export; kGoOn for any other result. Throws CUpdaterException when
  // the library exists but cannot be loaded. *restart is set to 0 before the call.
  HookVerdict RunBeforeUpdate(const CQXCustomFunction& hooks, unsigned char* restart);
  HookVerdict RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart);

 private:
  // The hook's own result, or 1 when it cannot be run.
  int Run(const CQXFileName& hook, bool named, const char* exportName, unsigned char* restart);

  const PackageContext& context_;
};

}  // namespace brindle
