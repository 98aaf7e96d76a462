#include <gtest/gtest.h>

#include "app/command_line.h"

using namespace brindle;

TEST(CommandLine, FewerThanTwoArgumentsAreRefusedAndLoggedAsAHyphen) {
  for (const auto& args : {std::vector<std::wstring>{}, std::vector<std::wstring>{L"C:\\list.xml"}}) {
    const CommandLineRequest r = ReadCommandLine(args);
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(JoinLogFields(r.logFields), L"-");
  }
}

TEST(CommandLine, PathGetsForwardSlashesAndAThirdArgumentIsOnlyLogged) {
  const CommandLineRequest r = ReadCommandLine({L"C:\\a\\b\\list.xml", L"/component_install", L"X"});
  ASSERT_TRUE(r.complete);
  EXPECT_EQ(r.listPath, L"C:/a/b/list.xml");
  EXPECT_EQ(r.mode, UpdateMode::kComponent);
  EXPECT_EQ(JoinLogFields(r.logFields), L"-,C:/a/b/list.xml,/component_install,X");
  // Four or more arguments: nothing beyond the switch is logged.
  const CommandLineRequest four = ReadCommandLine({L"p", L"/normal_install", L"X", L"Y"});
  EXPECT_EQ(JoinLogFields(four.logFields), L"-,p,/normal_install");
  EXPECT_EQ(four.mode, UpdateMode::kNormal);
}

TEST(CommandLine, SwitchesMatchExactlyAndCaseSensitively) {
  EXPECT_EQ(ModeFromSwitch(L"/normal_install"), UpdateMode::kNormal);
  EXPECT_EQ(ModeFromSwitch(L"/non_notification"), UpdateMode::kNoNotification);
  EXPECT_EQ(ModeFromSwitch(L"/component_install"), UpdateMode::kComponent);
  EXPECT_EQ(ModeFromSwitch(L"/NORMAL_INSTALL"), UpdateMode::kUnknown);
  EXPECT_EQ(ModeFromSwitch(L"/normal_install "), UpdateMode::kUnknown);
  EXPECT_EQ(ModeFromSwitch(L""), UpdateMode::kUnknown);
}

TEST(CommandLine, RunResultsMapToTheTwoExitCodes) {
  EXPECT_EQ(ExitCodeForResult(RunResult::kDone), 200);
  EXPECT_EQ(ExitCodeForResult(RunResult::kDoneReboot), 200);
  EXPECT_EQ(ExitCodeForResult(RunResult::kFailed), 100);
}
