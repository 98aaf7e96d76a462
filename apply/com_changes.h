// The COM steps' changes with their undo notes: a server that a package deletes is unregistered,
// one that it places is registered after the last section. Each notes what takes it back before
// it changes anything, then changes the machine through MachineCom; the program runs them on the
// system, the tests and brindle-pack's plan on MemoryCom.
#pragma once
#include <string>

#include "apply/machine_com.h"

namespace brindle {

// Where a COM change notes its undo: the server (the undo registers or unregisters it again, or
// gives back what its registration changed), and the RunOnce value a registration may wait under.
// Each note answers false when it cannot be written: the change is then not made.
class ComChangeJournal {
 public:
  virtual ~ComChangeJournal() = default;
  virtual bool NoteServer(const std::wstring& path, bool is64Bit, bool registering) = 0;
  virtual bool NoteWaitingRegistration(const std::wstring& valueName) = 0;
};

enum class ComChangeOutcome {
  kDone,         // done (a registration may wait for the next logon)
  kFailed,       // the server would not (un)register: the rest of its step is not handled
  kFailPackage,  // its undo could not be noted: nothing was changed, and the package fails
};

struct ComChangeResult {
  ComChangeOutcome outcome = ComChangeOutcome::kDone;
  unsigned long code = 0;      // an unregistration's line: the failing step's code
  bool waitsForLogon = false;  // a registration queued for the next logon: a restart is asked
};

ComChangeResult UnregisterComServerRecord(MachineCom& com, ComChangeJournal& journal,
                                          const std::wstring& path, bool is64Bit);
ComChangeResult RegisterComServerRecord(MachineCom& com, ComChangeJournal& journal, const std::wstring& path,
                                        bool is64Bit);

}  // namespace brindle
