// The sub-updater: the one object through which every change to the machine is made during a
// patch. Its operations are added as the actions are built; the driver only passes it along.
#pragma once

namespace brindle {

class CQXSubUpdater {
 public:
  virtual ~CQXSubUpdater() = default;
};

#ifdef _WIN32
class CWinQXSubUpdater : public CQXSubUpdater {};
#endif

}  // namespace brindle
