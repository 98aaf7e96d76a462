// Waits for child programs end on the program's end, on the run's cancel request or after the
// time-out. A waitable event stands in for the program here: the end-to-end case (a wrapper
// that never ends, cancelled by the launcher) is in tests/app/component_run_test_win.cpp.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/process_win.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/child_wait.h"
#include "sys/text.h"
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

// A copy of the started program's handle that outlives its tie.
UniqueHandle Watch(const CQXTiedProgram& program) {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), program.Process(), GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  return UniqueHandle(copy);
}

// A program started tied ends with its tie, as it does when this process is ended; one untied
// (left running after its wait) outlives it.
TEST(TiedProgram, EndsWithItsTieUnlessUntied) {
  const ChildStart probe = {brindle::test::ProgramPath(L"brindle_probe.exe"), L"hidden - 60000",
                            brindle::test::ProgramFolder()};
  unsigned long error = 0;
  UniqueHandle tiedOne, untiedOne;
  {
    CQXTiedProgram program;
    ASSERT_TRUE(program.Start(probe, error)) << error;
    EXPECT_TRUE(program.IsTied());
    tiedOne = Watch(program);
    EXPECT_EQ(WaitForSingleObject(program.Process(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
  }
  EXPECT_EQ(WaitForSingleObject(tiedOne.Get(), 10000), WAIT_OBJECT_0);
  {
    CQXTiedProgram program;
    ASSERT_TRUE(program.Start(probe, error)) << error;
    untiedOne = Watch(program);
    program.Untie();
    EXPECT_FALSE(program.IsTied());
  }
  EXPECT_EQ(WaitForSingleObject(untiedOne.Get(), 1000), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(untiedOne.Get(), 0);
  WaitForSingleObject(untiedOne.Get(), 5000);

  CQXTiedProgram missing;
  EXPECT_FALSE(missing.Start(
      {brindle::test::ProgramPath(L"no_such_program.exe"), L"", brindle::test::ProgramFolder()}, error));
  EXPECT_EQ(error, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
}

// A stand-in copied into a folder whose name has a blank reads back where it was started and
// how: the current folder is the one chosen, not the test's, and the command line starts with
// the program's path in quotes.
TEST(ChildStart, AProgramStartsByItsQuotedFullPathInTheFolderChosen) {
  test::ScratchFolder scratch;
  const std::wstring program = ToBackslashes(scratch.File(L"with blank/stand-in.exe"));
  ASSERT_TRUE(CreateFolderChain(FolderOfProgram(program)));
  ASSERT_TRUE(CopyFileW(test::ProgramPath(L"fake_wrapper.exe").c_str(), program.c_str(), FALSE));
  const std::wstring system = SystemFolderPath();
  ASSERT_FALSE(system.empty());
  for (const std::wstring& folder : {system, FolderOfProgram(program)}) {
    const ChildStart start = {program, L"/s \"x y\"", folder};
    PROCESS_INFORMATION info = {};
    unsigned long error = 0;
    ASSERT_TRUE(StartChild(start, 0, SW_HIDE, info, error)) << error;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    ASSERT_EQ(WaitForSingleObject(process.Get(), 30000), WAIT_OBJECT_0);
  }
  std::string place;
  ASSERT_TRUE(test::ReadBytes(program + L".place", place));
  const std::string line = "\"" + Utf8FromWide(program) + "\" /s \"x y\"\n";
  EXPECT_EQ(place, Utf8FromWide(system) + "\n" + line + Utf8FromWide(FolderOfProgram(program)) + "\n" + line);
}

TEST(ChildStart, OnlyFullPathsAreStarted) {
  PROCESS_INFORMATION info = {};
  unsigned long error = 0;
  const std::wstring system = SystemFolderPath();
  EXPECT_FALSE(StartChild({L"fake_wrapper.exe", L"", system}, 0, SW_HIDE, info, error));
  EXPECT_EQ(error, static_cast<unsigned long>(ERROR_BAD_PATHNAME));
  EXPECT_FALSE(StartChild({test::ProgramPath(L"fake_wrapper.exe"), L"", L"."}, 0, SW_HIDE, info, error));
  EXPECT_FALSE(StartChild({L"C:\\a\"b.exe", L"", system}, 0, SW_HIDE, info, error));
  EXPECT_EQ(info.hProcess, nullptr);
  EXPECT_EQ(ChildCommandLine({L"C:\\x.exe", L"", system}), L"\"C:\\x.exe\"");
  EXPECT_EQ(FolderOfProgram(L"C:\\x.exe"), L"C:\\");
  EXPECT_EQ(FolderOfProgram(L"C:\\a b\\x.exe"), L"C:\\a b");
}

}  // namespace
