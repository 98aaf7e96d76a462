#include "support/launcher_win.h"

#include "app/coordination.h"
#include "sys/paths.h"

#include <windows.h>

#include <sstream>

namespace brindle::test {

namespace {
// The stand-in ends by itself only if the test never closes it (a crashed case). It must outlive
// the slowest whole run it watches: a component run of the 32-bit build under emulation takes
// well over a minute, and a launcher gone by then drops the run's last records.
constexpr int kLifetimeMs = 900000;
}  // namespace

Launcher::Launcher(const ScratchFolder& folder, const std::wstring& extra)
    : out_(folder.File(L"launcher.txt")),
      process_(
          StartProgram(ProgramPath(L"fake_gatewatch.exe"),
                       L"\"" + ToBackslashes(out_) + L"\" " + std::to_wstring(kLifetimeMs) + L" " + extra)) {
  for (int i = 0; i < 100 && !FindWindowW(kGatewatchWindowClass, nullptr); ++i) Sleep(50);
}

Launcher::~Launcher() {
  if (HWND w = FindWindowW(kGatewatchWindowClass, nullptr)) PostMessageW(w, WM_CLOSE, 0, 0);
  WaitForExit(process_, 5000);
}

bool Launcher::Running() const { return FindWindowW(kGatewatchWindowClass, nullptr) != nullptr; }

std::vector<std::string> Launcher::Lines() const {
  std::string text;
  ReadBytes(out_, text);
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.size() > 1 && lines[1].rfind("record 0 ", 0) == 0 && lines[1].size() > 9 && lines[1][9] != '0')
    lines[1][7] = '1';
  return lines;
}

}  // namespace brindle::test
