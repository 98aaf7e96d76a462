// The sub-updater: the one object through which every change to the machine is made during a
// patch. Its operations are added as the actions are built; the driver passes it along and
// publishes it for the run.
#pragma once

namespace brindle {

class CQXSubUpdater {
 public:
  virtual ~CQXSubUpdater() = default;
};

// The sub-updater published for the run (none outside a run).
CQXSubUpdater* GetSubUpdater();
void SetSubUpdater(CQXSubUpdater* subUpdater);

#ifdef _WIN32
class CWinQXSubUpdater : public CQXSubUpdater {};
#endif

}  // namespace brindle
