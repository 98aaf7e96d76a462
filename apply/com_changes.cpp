#include "apply/com_changes.h"

#include "sys/paths.h"

namespace brindle {

ComChangeResult UnregisterComServerRecord(MachineCom& com, ComChangeJournal& journal,
                                          const std::wstring& path, bool is64Bit) {
  ComChangeResult result;
  if (!journal.NoteServer(path, is64Bit, false)) {
    result.outcome = ComChangeOutcome::kFailPackage;
    return result;
  }
  if (!com.Unregister(path, is64Bit, result.code)) result.outcome = ComChangeOutcome::kFailed;
  return result;
}

ComChangeResult RegisterComServerRecord(MachineCom& com, ComChangeJournal& journal, const std::wstring& path,
                                        bool is64Bit) {
  ComChangeResult result;
  // A registration that cannot be done now waits under RunOnce: that value's present state is
  // kept too.
  std::wstring waitingName;
  const bool noted = journal.NoteServer(path, is64Bit, true) &&
                     (HasExeExtension(path) || !com.WaitingRegistrationName(path, is64Bit, waitingName) ||
                      journal.NoteWaitingRegistration(waitingName));
  if (!noted) {
    result.outcome = ComChangeOutcome::kFailPackage;
    return result;
  }
  if (!com.Register(path, is64Bit, result.waitsForLogon)) result.outcome = ComChangeOutcome::kFailed;
  return result;
}

}  // namespace brindle
