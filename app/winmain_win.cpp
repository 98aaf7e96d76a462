// Process entry of Brindle.exe.
#include "app/brindle_app.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  brindle::CBrindleApp app;
  app.InitInstance();
  return app.ExitInstance();
}
