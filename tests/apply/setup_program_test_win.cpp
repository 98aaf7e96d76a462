// A setup program named in a list: started with the protocol key's "Status" set to 0, its
// answers read from that key (32-bit view), the program file deleted after it ran, and the
// answers removed again.
#include <gtest/gtest.h>

#include "apply/setup_program_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

namespace {

const REGSAM kView = KEY_WOW64_32KEY;

bool ProtocolKeyExists() {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupProtocolKey, 0, KEY_READ | kView, key.Receive()) ==
         ERROR_SUCCESS;
}

void RemoveProtocolKey() {
  UniqueRegKey parent;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tamek", 0, KEY_ALL_ACCESS | kView, parent.Receive()) ==
      ERROR_SUCCESS)
    RegDeleteTreeW(parent.Get(), L"Zentor Master Setup");
}

void SetProtocolDword(const wchar_t* name, DWORD value) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSetupProtocolKey, 0, nullptr, 0, KEY_ALL_ACCESS | kView,
                            nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

class SetupProgram : public testing::Test {
 protected:
  void SetUp() override { RemoveProtocolKey(); }
  void TearDown() override { RemoveProtocolKey(); }

  // The stand-in copied as <name> with its answers; returns its path.
  std::wstring Program(const std::wstring& name, const std::string& answers) {
    const std::wstring path = ToBackslashes(folder_.File(name));
    EXPECT_TRUE(CopyFileW(ProgramPath(L"fake_setup.exe").c_str(), path.c_str(), FALSE));
    EXPECT_TRUE(WriteBytes(path + L".answers", answers));
    return path;
  }
  std::string StatusSeenAtStart(const std::wstring& path) {
    std::string log;
    return ReadBytes(path + L".log", log) ? log : "<not started>";
  }

  ScratchFolder folder_;
};

}  // namespace

TEST_F(SetupProgram, ASuccessIsReadFromTheKeyAndTheProgramAndItsAnswersAreRemoved) {
  const std::wstring path = Program(L"setup.exe", "Status 2\nReturn Value 2\nRebootNeeded FALSE\n");
  CSetupProgram program;
  EXPECT_EQ(program.Run(ToForwardSlashes(path)), RunProgramResult::kDone);
  EXPECT_EQ(StatusSeenAtStart(path), "0\n");  // the key said "running" before the start
  EXPECT_FALSE(program.RebootRequested());
  EXPECT_FALSE(PathExists(path));
  EXPECT_FALSE(ProtocolKeyExists());
}

TEST_F(SetupProgram, ARestartIsRequestedByAnyRebootNeededTextButFalse) {
  const std::wstring path = Program(L"Setup.EXE", "Status 2\nReturn Value 2\nRebootNeeded TRUE\n");
  CSetupProgram program;
  EXPECT_EQ(program.Run(path), RunProgramResult::kDone);
  EXPECT_TRUE(program.RebootRequested());
  EXPECT_FALSE(PathExists(path));
}

TEST_F(SetupProgram, AnotherReturnValueIsTheProgramsOwnReportedFailure) {
  const std::wstring path = Program(L"setup.exe", "Status 2\nReturn Value 1\nRebootNeeded TRUE\n");
  CSetupProgram program;
  EXPECT_EQ(program.Run(path), RunProgramResult::kReportedFailure);
  EXPECT_FALSE(program.RebootRequested());
  EXPECT_FALSE(PathExists(path));
  EXPECT_FALSE(ProtocolKeyExists());
}

TEST_F(SetupProgram, AProgramThatNeverSaysItFinishedHasFailed) {
  const std::wstring path = Program(L"setup.exe", "Return Value 2\n");
  CSetupProgram program;
  EXPECT_EQ(program.Run(path), RunProgramResult::kFailed);
  EXPECT_EQ(StatusSeenAtStart(path), "0\n");
  EXPECT_FALSE(ProtocolKeyExists());
}

// Answers left behind by an earlier run that was stopped half-way are not read as this run's.
TEST_F(SetupProgram, StaleAnswersOfAnEarlierRunAreNotTaken) {
  SetProtocolDword(L"Status", 2);
  SetProtocolDword(L"Return Value", 2);
  const std::wstring path = Program(L"setup.exe", "Status 2\n");
  CSetupProgram program;
  EXPECT_EQ(program.Run(path), RunProgramResult::kReportedFailure);
  EXPECT_EQ(StatusSeenAtStart(path), "0\n");
}

// A key holding values of others keeps them: only the answers are removed.
TEST_F(SetupProgram, OtherValuesOfTheKeyAreKept) {
  SetProtocolDword(L"Other", 7);
  const std::wstring path = Program(L"setup.exe", "Status 2\nReturn Value 2\nRebootNeeded FALSE\n");
  CSetupProgram program;
  EXPECT_EQ(program.Run(path), RunProgramResult::kDone);
  UniqueRegKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupProtocolKey, 0, KEY_READ | kView, key.Receive()),
            ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 1u);
}

// An "apz" entry is a setup program of a kind this program does not start: it fails and the file
// is left alone; a program that cannot be started fails too.
TEST_F(SetupProgram, AnApzOrAMissingProgramIsNotRunAndFails) {
  const std::wstring apz = Program(L"tool.apz", "Status 2\nReturn Value 2\n");
  CSetupProgram program;
  EXPECT_EQ(program.Run(apz), RunProgramResult::kFailed);
  EXPECT_EQ(StatusSeenAtStart(apz), "<not started>");
  EXPECT_TRUE(PathExists(apz));
  EXPECT_EQ(program.Run(ToBackslashes(folder_.File(L"missing.exe"))), RunProgramResult::kFailed);
  EXPECT_FALSE(ProtocolKeyExists());
}
