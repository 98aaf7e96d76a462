// Process entry of Brindle.exe.
#include "logs/program_wait.h"
#include "app/brindle_app.h"
#include "sys/library_loading.h"

#include <windows.h>

namespace {

// Hardens the process before any other initialisation of the program's own runs (the highest
// initialisation priority there is): heap corruption ends the process, libraries come from the
// system folder only.
struct EarlyHardening {
  EarlyHardening() { brindle::HardenProcess(); }
};
const EarlyHardening g_earlyHardening __attribute__((init_priority(101)));

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  brindle::ReportUnendedWaitsInServiceLog();
  brindle::CBrindleApp app;
  app.InitInstance();
  return app.ExitInstance();
}
