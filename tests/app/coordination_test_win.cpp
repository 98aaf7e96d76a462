// The named mutexes, the launcher messages and the temporary folders through the real system.
#include <gtest/gtest.h>

#include "app/coordination.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <fstream>
#include <sstream>

using namespace brindle;
using namespace brindle::test;

TEST(InstanceMutex, SeenByTheBusyCheckWhileHeldAndGoneAfterClose) {
  ASSERT_FALSE(IsUpdateRunning());
  UniqueHandle mutex(static_cast<HANDLE>(CreateInstanceMutex()));
  ASSERT_TRUE(mutex);
  EXPECT_TRUE(IsUpdateRunning());
  mutex.Reset();
  EXPECT_FALSE(IsUpdateRunning());
}

TEST(InstallerMutexes, AnyOneOfTheThreeAloneMeansBusy) {
  const auto names = InstallerMutexNames();
  ASSERT_EQ(names.size(), 3u);
  EXPECT_FALSE(IsInstallerBusy(names));
  for (const std::wstring& name : names) {
    UniqueHandle held(CreateMutexW(nullptr, TRUE, name.c_str()));
    ASSERT_TRUE(held);
    EXPECT_TRUE(IsInstallerBusy(names)) << std::string(name.begin(), name.end());
  }
  EXPECT_FALSE(IsInstallerBusy(names));
  EXPECT_FALSE(IsInstallerBusy({}));
}

TEST(TempFolders, RemovedWithEverythingInsideWhileTheParentStays) {
  const std::wstring root = JoinPath(UserTempFolder(), L"Tamek_Inc_RW/Brindle");
  ASSERT_TRUE(CreateFolderChain(root + L"/temp1/INST/sub"));
  ASSERT_TRUE(WriteBytes(root + L"/temp1/INST/sub/a.dll", "x"));
  ASSERT_TRUE(WriteBytes(root + L"/temp1/diff.xml", "y"));
  SetFileAttributesW(ToBackslashes(root + L"/temp1/diff.xml").c_str(), FILE_ATTRIBUTE_READONLY);
  RemoveTempFolder(L"Tamek_Inc_RW/Brindle");
  EXPECT_FALSE(FileExists(root));
  EXPECT_TRUE(FileExists(JoinPath(UserTempFolder(), L"Tamek_Inc_RW")));
  // A folder that does not exist is no error and does not exist afterwards.
  RemoveTempFolder(L"Tamek_Inc_RW/Pollwick");
  EXPECT_FALSE(FileExists(JoinPath(UserTempFolder(), L"Tamek_Inc_RW/Pollwick")));
}

TEST(Gatewatch, ReceivesTheProgressRecordAndTheEndMessageFromAnotherProcess) {
  ScratchFolder folder;
  const std::wstring out = folder.File(L"gatewatch.txt");
  StartedProcess gatewatch = StartProgram(ProgramPath(L"fake_gatewatch.exe"),
                                          L"\"" + ToBackslashes(out) + L"\" 20000");
  ASSERT_TRUE(gatewatch.process);
  for (int i = 0; i < 100 && !FindWindowW(kGatewatchWindowClass, nullptr); ++i) Sleep(50);
  ASSERT_NE(FindWindowW(kGatewatchWindowClass, nullptr), nullptr);
  NotifyGatewatch(std::wstring(300, L'x'), kNoticeUpdatePass, 3, 1, 200, L"");
  NotifyGatewatch(L"", kNoticeRun, 0, 0, 10, L"");
  SendEndOfRun();
  PostMessageW(FindWindowW(kGatewatchWindowClass, nullptr), WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(gatewatch, 10000), 0);
  std::string text;
  ASSERT_TRUE(ReadBytes(out, text));
  EXPECT_EQ(text, "ready\nrecord 0 4 3 1 200 552 ok " + std::string(255, 'x') +
                      "\nrecord 0 0 0 0 10 552 ok \nend\n");
}

TEST(Gatewatch, NoLauncherWindowMeansTheMessagesAreLostWithoutHarm) {
  ASSERT_EQ(FindWindowW(kGatewatchWindowClass, nullptr), nullptr);
  NotifyGatewatch(L"x", kNoticeAddPass, 1, 0, 0, kHiddenWindowClass);
  SendEndOfRun();
  SUCCEED();
}
