// Process entry of Brindle.exe.
#include "app/brindle_app.h"
#include "sys/library_loading.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  brindle::HardenProcess();
  brindle::CBrindleApp app;
  app.InitInstance();
  return app.ExitInstance();
}
