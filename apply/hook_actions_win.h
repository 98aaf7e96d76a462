// The package's own hook libraries: CUSTOM\<name> is loaded before the changes
// (Update_BeforeUpdate) and after them (Update_AfterUpdate). Each hook may veto the update by
// returning 1 or ask for a restart through the byte it is handed.
#pragma once
#include <string>

namespace brindle {

class CQXCustomFunction;
class CQXFileName;
class CWinQXSubUpdater;

class CHookActions {
 public:
  explicit CHookActions(CWinQXSubUpdater& updater) : updater_(updater) {}

  // The hook's result, or 1 when it is not named (no FileName of its type), its name is empty or
  // could reach outside the package's
  // CUSTOM folder, its library is missing or lacks the export. Throws CUpdaterException when
  // the library exists but cannot be loaded. *restart is set to 0 before the call.
  int RunBeforeUpdate(const CQXCustomFunction& hooks, unsigned char* restart);
  int RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart);

 private:
  int Run(const CQXFileName& hook, bool named, const char* exportName, unsigned char* restart);

  CWinQXSubUpdater& updater_;
};

}  // namespace brindle
