// A wait that does not see the program end leaves a line naming the program in the service log.
#include <gtest/gtest.h>

#include <windows.h>

#include "logs/program_wait.h"
#include "support/service_log_reader.h"
#include "sys/win_handles.h"

using namespace brindle;
using namespace brindle::test;

TEST(ProgramWait, ATimeOutOrACancelIsLoggedWithTheProgramAndAnEndIsNot) {
  ClearCancel();
  UniqueHandle program(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(program);
  ServiceLogTail tail;
  EXPECT_FALSE(WaitForProgram(program.Get(), L"C:\\Setup, new\\setup.exe", 1500));
  SignalCancel();
  EXPECT_FALSE(WaitForProgram(program.Get(), L"C:\\tools\\regsvr32.exe /s \"x.dll\"", 600000));
  ClearCancel();
  SetEvent(program.Get());
  EXPECT_TRUE(WaitForProgram(program.Get(), L"C:\\ended.exe", 1000));
  EXPECT_EQ(tail.Details(L"WAIT_PROGRAM"),
            (std::vector<std::wstring>{L"-,\"C:\\Setup, new\\setup.exe\",timeout,1",
                                       L"-,\"C:\\tools\\regsvr32.exe /s \"\"x.dll\"\"\",cancelled,600"}));
}
