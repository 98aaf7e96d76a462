// Waits for child programs end on the program's end, on the run's cancel request or after the
// time-out. A waitable event stands in for the program here: the end-to-end case (a wrapper
// that never ends, cancelled by the launcher) is in tests/app/component_run_test_win.cpp.
#include <gtest/gtest.h>

#include <windows.h>

#include "sys/child_wait.h"
#include "sys/win_handles.h"

using namespace brindle;

namespace {

DWORD WINAPI CancelSoon(void*) {
  Sleep(100);
  SignalCancel();
  return 0;
}

TEST(ChildWait, EndsOnTheProgramsEndTheCancelOrTheTimeOut) {
  ClearCancel();
  UniqueHandle program(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(program);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(WaitForChild(program.Get(), 200), ChildWait::TimedOut);
  EXPECT_GE(GetTickCount64() - start, 150u);

  // A cancel request from another thread ends a long wait at once, and stays until cleared.
  HANDLE canceller = CreateThread(nullptr, 0, CancelSoon, nullptr, 0, nullptr);
  ASSERT_NE(canceller, nullptr);
  UniqueHandle thread(canceller);
  const ULONGLONG cancelStart = GetTickCount64();
  EXPECT_EQ(WaitForChild(program.Get(), 60000), ChildWait::Cancelled);
  EXPECT_LT(GetTickCount64() - cancelStart, 10000u);
  EXPECT_TRUE(CancelSignalled());
  EXPECT_EQ(WaitForChild(program.Get(), 60000), ChildWait::Cancelled);
  ClearCancel();
  EXPECT_FALSE(CancelSignalled());

  SetEvent(program.Get());
  EXPECT_EQ(WaitForChild(program.Get(), 60000), ChildWait::Ended);
  EXPECT_EQ(WaitForChild(nullptr, 10), ChildWait::Failed);
}

}  // namespace
