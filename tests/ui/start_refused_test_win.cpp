// The program started by hand, without the arguments of its service: the user sees the
// start-refused message in the program's own message box, and the program ends with 100.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/process_win.h"
#include "support/ui_driver_win.h"
#include "ui/messages.h"
#include "ui/resource.h"

namespace brindle {
namespace {

TEST(StartRefused, ADirectStartShowsTheMessageAndEndsWith100) {
  test::StartedProcess program = test::StartProgram(test::ProgramPath(L"Brindle.exe"), L"");
  ASSERT_TRUE(program.process);
  HWND box = test::FindDialog(L"Ostrel Service", 15000, program.processId);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(test::StaticTexts(box), L"Impossible de démarrer directement ce logiciel.");
  EXPECT_EQ(test::VisibleButtons(box), std::vector<std::wstring>{L"OK"});
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(box, IDC_MESSAGE_ICON)));
  EXPECT_TRUE(test::PressButton(box, L"OK"));
  EXPECT_EQ(test::WaitForExit(program, 10000), 100);
}

}  // namespace
}  // namespace brindle
