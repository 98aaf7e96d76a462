// The named mutexes, the launcher messages and the temporary folders through the real system.
#include <gtest/gtest.h>

#include "app/coordination.h"
#include "ui/progress_context.h"
#include "app/updater.h"
#include "support/folder_link_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <sddl.h>

#include <cwchar>
#include <fstream>
#include <sstream>
#include <thread>

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

TEST(InstanceMutex, OneThatAlreadyExistsMeansAnotherCopyIsStartingAndIsNotTaken) {
  // The other copy created it between this copy's busy check and its own creation.
  UniqueHandle other(CreateMutexW(nullptr, FALSE, kInstanceMutexName));
  ASSERT_TRUE(other);
  EXPECT_EQ(CreateInstanceMutex(), nullptr);
  other.Reset();
  UniqueHandle own(static_cast<HANDLE>(CreateInstanceMutex()));
  EXPECT_TRUE(own);
}

// A mutex made by a program that grants others little or nothing (Wine enforces the access
// lists of named objects): it still exists, so the installer or the other update is running.
TEST(InstallerMutexes, OneWhoseAccessListGrantsLittleOrNothingStillMeansBusy) {
  const auto names = InstallerMutexNames();
  // Everyone may only wait on it; nobody may do anything with it.
  for (const wchar_t* list : {L"D:P(A;;0x00100000;;;WD)", L"D:P"}) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorW(list, SDDL_REVISION_1, &descriptor, nullptr));
    UniqueLocal owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    UniqueHandle installer(CreateMutexW(&attributes, TRUE, names[1].c_str()));
    ASSERT_TRUE(installer);
    EXPECT_TRUE(IsInstallerBusy(names)) << std::string(list, list + wcslen(list));
    installer.Reset();
    UniqueHandle update(CreateMutexW(&attributes, TRUE, kInstanceMutexName));
    ASSERT_TRUE(update);
    EXPECT_TRUE(IsUpdateRunning());
  }
  EXPECT_FALSE(IsInstallerBusy(names));
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

// A link planted in the user's temporary folder, which is writable without elevation, must not
// make this (possibly elevated) program empty the folder it points to: wherever the link is,
// it is never followed, and it goes (where the system can remove it: Wine cannot remove the
// host's links that stand in for junctions there, and then it stays a link).
TEST(TempFolders, APlantedLinkIsNeverFollowedWhereverItIs) {
  ScratchFolder elsewhere;
  ASSERT_TRUE(WriteBytes(elsewhere.File(L"keep.txt"), "k"));
  ASSERT_TRUE(CreateFolderChain(elsewhere.File(L"Brindle/sub")));
  ASSERT_TRUE(WriteBytes(elsewhere.File(L"Brindle/sub/keep.txt"), "k"));
  const std::wstring shared = JoinPath(UserTempFolder(), L"Tamek_Inc_RW");
  const std::wstring folder = shared + L"/Brindle";
  // Whatever happens, no link stays behind for the other tests.
  struct Unlink {
    std::wstring shared, folder;
    ~Unlink() {
      RemoveFolderLink(folder + L"/temp1/INST");
      RemoveFolderLink(folder);
      RemoveFolderLink(shared);
      CreateFolderChain(shared);
    }
  } unlink{shared, folder};
  auto untouched = [&] {
    return FileExists(elsewhere.File(L"keep.txt")) && FileExists(elsewhere.File(L"Brindle/sub/keep.txt")) &&
           !FileExists(elsewhere.File(L"Pollwick"));
  };
  auto goneOrStillALink = [](const std::wstring& path) { return !FileExists(path) || IsFolderLink(path); };
  ASSERT_TRUE(RemoveFolderLink(folder));
  RemoveTree(folder);
  ASSERT_TRUE(CreateFolderChain(shared));
  if (!MakeFolderLink(folder, elsewhere.Path())) GTEST_SKIP() << "no folder link can be made here";

  // The folder to remove is the link.
  RemoveTempFolder(L"Tamek_Inc_RW/Brindle");
  EXPECT_TRUE(untouched());
  EXPECT_TRUE(goneOrStillALink(folder));
  EXPECT_TRUE(FileExists(shared));
  ASSERT_TRUE(RemoveFolderLink(folder));

  // A link inside the folder.
  ASSERT_TRUE(CreateFolderChain(folder + L"/temp1"));
  ASSERT_TRUE(WriteBytes(folder + L"/temp1/a.dll", "x"));
  ASSERT_TRUE(MakeFolderLink(folder + L"/temp1/INST", elsewhere.Path()));
  RemoveTempFolder(L"Tamek_Inc_RW/Brindle");
  EXPECT_TRUE(untouched());
  EXPECT_FALSE(FileExists(folder + L"/temp1/a.dll"));
  EXPECT_TRUE(goneOrStillALink(folder + L"/temp1/INST"));
  ASSERT_TRUE(RemoveFolderLink(folder + L"/temp1/INST"));
  RemoveTree(folder);

  // The shared parent is the link: nothing is removed or made behind it.
  ASSERT_TRUE(RemoveTree(shared));
  ASSERT_TRUE(MakeFolderLink(shared, elsewhere.Path()));
  RemoveTempFolder(L"Tamek_Inc_RW/Pollwick");
  RemoveTempFolder(L"Tamek_Inc_RW/Brindle");
  EXPECT_TRUE(untouched());
  EXPECT_TRUE(goneOrStillALink(shared));
}

TEST(Gatewatch, ReceivesTheProgressRecordAndTheEndMessageFromAnotherProcess) {
  ScratchFolder folder;
  const std::wstring out = folder.File(L"gatewatch.txt");
  StartedProcess gatewatch =
      StartProgram(ProgramPath(L"fake_gatewatch.exe"), L"\"" + ToBackslashes(out) + L"\" 20000");
  ASSERT_TRUE(gatewatch.process);
  for (int i = 0; i < 100 && !FindWindowW(kGatewatchWindowClass, nullptr); ++i) Sleep(50);
  ASSERT_NE(FindWindowW(kGatewatchWindowClass, nullptr), nullptr);
  NotifyGatewatch(std::wstring(300, L'x'), NoticeKind::kUpdatePass, 3, 1, 200, L"");
  NotifyGatewatch(L"", NoticeKind::kRun, 0, 0, 10, L"");
  SendEndOfRun();
  PostMessageW(FindWindowW(kGatewatchWindowClass, nullptr), WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(gatewatch, 10000), 0);
  std::string text;
  ASSERT_TRUE(ReadBytes(out, text));
  EXPECT_EQ(text, "ready\nrecord 0 4 3 1 200 552 ok " + std::string(255, 'x') +
                      "\nrecord 0 0 0 0 10 552 ok \nend\n");
}

TEST(Gatewatch, AHungLauncherIsGivenUpAfterTheTimeOutWithAServiceLogLine) {
  ScratchFolder folder;
  const std::wstring out = folder.File(L"gatewatch.txt");
  // It takes the first record, then answers nothing for 20 seconds.
  StartedProcess gatewatch =
      StartProgram(ProgramPath(L"fake_gatewatch.exe"), L"\"" + ToBackslashes(out) + L"\" 60000 hang 20000");
  ASSERT_TRUE(gatewatch.process);
  for (int i = 0; i < 100 && !FindWindowW(kGatewatchWindowClass, nullptr); ++i) Sleep(50);
  ASSERT_NE(FindWindowW(kGatewatchWindowClass, nullptr), nullptr);
  ServiceLogTail log;
  const ULONGLONG start = GetTickCount64();
  NotifyGatewatch(L"a", NoticeKind::kAddPass, 1, 0, 0, L"", 1000);
  SendEndOfRun(1000);
  const ULONGLONG took = GetTickCount64() - start;
  TerminateProcess(gatewatch.process.Get(), 0);
  WaitForExit(gatewatch, 5000);
  EXPECT_LT(took, 15000u) << "a message waited for the hung launcher";
  const std::vector<std::wstring> givenUp = log.Details(L"GATEWATCH_NO_ANSWER");
  ASSERT_EQ(givenUp.size(), 2u);
  EXPECT_EQ(givenUp[0].rfind(L"-,74,", 0), 0u) << "the progress record (WM_COPYDATA)";
  EXPECT_EQ(givenUp[1].rfind(L"-,2029,", 0), 0u) << "the end of the run";
  std::string text;
  ASSERT_TRUE(ReadBytes(out, text));
  EXPECT_EQ(text.rfind("ready\nrecord 0 5 1 0 0 552 ok a\n", 0), 0u) << "the record did arrive";
}

TEST(HiddenWindow, ServesACancelRequestAndLeavesNeitherWindowNorClassBehind) {
  // Run on this thread as the program runs it on its main thread; any module will do.
  HINSTANCE module = GetModuleHandleW(nullptr);
  ProgressContext context;
  bool windowFound = false;
  std::thread other([&] {
    HWND window = nullptr;
    for (int i = 0; i < 200 && !(window = FindWindowW(kHiddenWindowClass, nullptr)); ++i) Sleep(50);
    windowFound = window != nullptr;
    if (window) PostMessageW(window, kCancelRequestMessage, 0, 0);
    for (int i = 0; i < 200 && !context.cancelled; ++i) Sleep(50);
    context.finished = true;
  });
  RunHiddenWindowFor(module, context);
  other.join();
  EXPECT_TRUE(windowFound);
  EXPECT_TRUE(context.cancelled);
  EXPECT_EQ(FindWindowW(kHiddenWindowClass, nullptr), nullptr) << "no stale window is findable";
  WNDCLASSW registered = {};
  EXPECT_FALSE(GetClassInfoW(module, kHiddenWindowClass, &registered)) << "the class is unregistered";
}

TEST(Gatewatch, NoLauncherWindowMeansTheMessagesAreLostWithoutHarm) {
  ASSERT_EQ(FindWindowW(kGatewatchWindowClass, nullptr), nullptr);
  NotifyGatewatch(L"x", NoticeKind::kAddPass, 1, 0, 0, kHiddenWindowClass);
  SendEndOfRun();
  SUCCEED();
}
