#include "app/brindle_app.h"

#include "app/command_line.h"
#include "apply/crash_point.h"
#include "sys/system_util.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <vector>

namespace brindle {

namespace {

std::vector<std::wstring> SplitProcessCommandLine() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  const UniqueLocal owner(argv);
  std::vector<std::wstring> arguments;
  for (int i = 1; argv && i < count; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace

bool CBrindleApp::InitInstance() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
  // Dialogs of this program host only standard controls; COM is initialised for the thread and
  // stays initialised until the process ends.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (!kCrashPointBuild) ::Sleep(3000);
  const RunResult result = RunFromCommandLine(SplitProcessCommandLine());
  std::unique_ptr<CQXSystemUtil> ownSystem;
  CQXSystemUtil* system = GetSystemUtil();
  if (!system) {
    ownSystem.reset(new CWinQXSystemUtil());
    system = ownSystem.get();
  }
  exitCode_ = FinishRun(result, *system);
  return false;
}

int CBrindleApp::ExitInstance() { return exitCode_; }

}  // namespace brindle
