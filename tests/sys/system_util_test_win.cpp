// The system utilities against the real system (under Wine in the test run).
#include <gtest/gtest.h>

#include "support/process_win.h"
#include "support/scratch.h"
#include "support/ui_driver_win.h"
#include "sys/system_util.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"

#include <atomic>
#include <regex>
#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {

// A running probe program; killed when the test ends.
struct Probe {
  StartedProcess started;
  explicit Probe(const std::wstring& arguments)
      : started(StartProgram(ProgramPath(L"brindle_probe.exe"), arguments)) {}
  ~Probe() {
    if (started.process) {
      TerminateProcess(started.process.Get(), 0);
      WaitForSingleObject(started.process.Get(), 5000);
    }
  }
};

}  // namespace

TEST(ProcessSearch, FindsARunningProgramByNameInOtherLetterCaseWithItsWindowTitle) {
  Probe probe(L"window \"Probe Title\" 20000");
  ASSERT_TRUE(probe.started.process);
  ASSERT_NE(FindProcessWindow(probe.started.processId, 10000), nullptr);
  EXPECT_TRUE(IsProcessRunning(L"BRINDLE_PROBE.EXE"));
  EXPECT_TRUE(IsProcessRunning(L"brindle_probe.exe"));
  EXPECT_FALSE(IsProcessRunning(L"brindle_probe"));  // the extension is part of the name
  std::wstring title;
  EXPECT_TRUE(FindRunningProcess(L"Brindle_Probe.exe", title));
  EXPECT_EQ(title, L"Probe Title");
  EXPECT_TRUE(GetProcessWindowTitle(probe.started.processId, title));
  EXPECT_EQ(title, L"Probe Title");
}

TEST(ProcessSearch, AProgramWithoutVisibleWindowIsFoundWithAnEmptyTitle) {
  Probe probe(L"hidden x 20000");
  ASSERT_TRUE(probe.started.process);
  WaitForInputIdle(probe.started.process.Get(), 5000);
  std::wstring title = L"stale";
  for (int i = 0; i < 50 && !FindRunningProcess(L"brindle_probe.exe", title); ++i) Sleep(100);
  EXPECT_TRUE(FindRunningProcess(L"brindle_probe.exe", title));
  EXPECT_EQ(title, L"");
  EXPECT_FALSE(GetProcessWindowTitle(probe.started.processId, title));
}

TEST(ProcessSearch, FindRunningProcessSkipsTheCallingProcess) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name = self;
  name = name.substr(name.find_last_of(L'\\') + 1);
  EXPECT_TRUE(IsProcessRunning(name));
  std::wstring title;
  EXPECT_FALSE(FindRunningProcess(name, title));
  EXPECT_FALSE(IsProcessRunning(L"no-such-program-anywhere.exe"));
}

TEST(SystemUtil, FreeSpaceMustBeStrictlyMoreThanRequired) {
  CWinQXSystemUtil system;
  ScratchFolder folder;
  bool checked = false;
  for (int attempt = 0; attempt < 20 && !checked; ++attempt) {
    ULARGE_INTEGER before = {}, after = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(folder.Path().c_str(), &before, nullptr, nullptr));
    const bool exact = system.HasFreeSpace(before.QuadPart, folder.Path());
    const bool oneLess = system.HasFreeSpace(before.QuadPart - 1, folder.Path());
    ASSERT_TRUE(GetDiskFreeSpaceExW(folder.Path().c_str(), &after, nullptr, nullptr));
    if (before.QuadPart != after.QuadPart) continue;  // other programs are writing: ask again
    EXPECT_FALSE(exact);
    EXPECT_TRUE(oneLess);
    checked = true;
  }
  EXPECT_TRUE(checked);
  EXPECT_FALSE(system.HasFreeSpace(0, L"Q:/no/such/volume"));
}

TEST(SystemUtil, ReadsTheInstalledWrapperVersionFromItsKey) {
  CWinQXSystemUtil system;
  const std::wstring component = L"BrindleTest_" + std::to_wstring(GetCurrentProcessId());
  const std::wstring path = L"SOFTWARE\\Tamek_Inc_RW\\" + component;
  EXPECT_EQ(system.GetInstalledWrapperVersion(component), L"");
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                            nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(system.GetInstalledWrapperVersion(component), L"");  // key without the value
  const wchar_t version[] = L"3.2.1.0";
  ASSERT_EQ(RegSetValueExW(key.Get(), L"InstVersion_forZNQ", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(version), sizeof version),
            ERROR_SUCCESS);
  EXPECT_EQ(system.GetInstalledWrapperVersion(component), L"3.2.1.0");
  key.Reset();
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_32KEY, 0);
}

TEST(SystemUtil, VersionUserAndLocaleAnswers) {
  CWinQXSystemUtil system;
  std::wstring text = L"v";
  EXPECT_TRUE(system.GetOSVersionText(text));
  EXPECT_TRUE(std::regex_match(std::string(text.begin(), text.end()), std::regex("v[0-9]+\\.[0-9]+")));
  int major = -1, minor = -1, sp = -1;
  ASSERT_TRUE(system.GetOSVersion(major, minor, sp));
  EXPECT_GE(major, 5);
  EXPECT_EQ(system.GetServicePackMajor(), sp);
  EXPECT_EQ(system.GetSystemLocaleId(), std::to_wstring(GetSystemDefaultLCID()));
  wchar_t user[300];
  DWORD size = 300;
  ASSERT_TRUE(GetUserNameW(user, &size));
  EXPECT_EQ(system.GetUserName(), user);
  std::wstring session;
  if (GetSessionUserName(session)) {
    EXPECT_FALSE(session.empty());
  }
}

TEST(SystemUtil, StartsAThreadAndWaitsForIt) {
  CWinQXSystemUtil system;
  static std::atomic<int> ran{0};
  ran = 0;
  const unsigned id = system.StartThread(
      [](void* p) -> unsigned {
        Sleep(200);
        *static_cast<std::atomic<int>*>(p) = 7;
        return 0;
      },
      &ran);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(system.WaitForThread(id), 1);
  EXPECT_EQ(ran.load(), 7);
  EXPECT_EQ(system.WaitForThread(0xFFFFFFF0u), 0);
}

TEST(Wow64Redirection, SwitchesPerThreadAndForgetsEverythingOnRelease) {
  ASSERT_TRUE(IsWow64Windows());
  CQXWow64Redirection* guard = CQXWow64Redirection::Get();
  ASSERT_NE(guard, nullptr);
  EXPECT_EQ(CQXWow64Redirection::Get(), guard);
  EXPECT_TRUE(guard->Revert());  // nothing switched: succeeds at once
  EXPECT_TRUE(guard->Disable());
  EXPECT_TRUE(guard->Disable());  // already off on this thread
  EXPECT_TRUE(guard->IsDisabledOnThisThread());
  bool otherThreadSeesOff = true;
  std::thread other([&] { otherThreadSeesOff = guard->IsDisabledOnThisThread(); });
  other.join();
  EXPECT_FALSE(otherThreadSeesOff);
  EXPECT_TRUE(guard->Revert());
  EXPECT_FALSE(guard->IsDisabledOnThisThread());
  EXPECT_TRUE(guard->Disable());
  CQXWow64Redirection::Release();
  CQXWow64Redirection* fresh = CQXWow64Redirection::Get();
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(fresh->IsDisabledOnThisThread());
  CQXWow64Redirection::Release();
}
