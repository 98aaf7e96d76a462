// The stand-in launcher for whole runs of Brindle.exe: fake_gatewatch.exe registers the
// launcher's window class and writes one line per message it receives; the test reads the
// lines after the run.
#pragma once
#include <string>
#include <vector>

#include "support/process_win.h"
#include "support/scratch.h"

namespace brindle::test {

class Launcher {
 public:
  // Starts the stand-in (extra: its optional arguments, such as "cancel-after 1") and waits
  // until its window exists.
  explicit Launcher(const ScratchFolder& folder, const std::wstring& extra = L"");
  ~Launcher();
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;
  bool Running() const;
  // The lines written so far. The first record of a run may leave before the updater's hidden
  // window exists; its window flag is then 0 and is reported as 1.
  std::vector<std::string> Lines() const;

 private:
  std::wstring out_;
  StartedProcess process_;
};

}  // namespace brindle::test
