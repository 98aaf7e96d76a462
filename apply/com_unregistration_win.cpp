#include "apply/com_unregistration_win.h"

#include "apply/win_machine_com_win.h"
#include "logs/service_log.h"

namespace brindle {

ComChangeResult UnregisterComServer(const std::wstring& path, bool is64Bit, ComChangeJournal& notes) {
  WinMachineCom com;
  const ComChangeResult result = UnregisterComServerRecord(com, notes, path, is64Bit);
  if (result.outcome == ComChangeOutcome::kFailPackage) return result;
  const bool done = result.outcome == ComChangeOutcome::kDone;
  WriteServiceLog({L"-", path, done ? L"success" : L"error", std::to_wstring(result.code)}, L"BR",
                  L"UNREGISTER_COM");
  return result;
}

}  // namespace brindle
