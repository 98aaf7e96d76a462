// COM server registration against the real registry and COM: a test server library built by
// the project (brindle_com_server.dll) registers under HKLM\SOFTWARE\Classes; copied under a
// name containing "fail" its DllRegisterServer fails.
#include <gtest/gtest.h>

#include "support/run_once_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "sys/com_registration_win.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <objbase.h>

#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {


std::wstring CopyServer(const ScratchFolder& scratch, const std::wstring& relative) {
  const std::wstring target = ToBackslashes(scratch.File(relative));
  CreateFolderChain(ParentFolder(target));
  EXPECT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), target.c_str(), FALSE));
  return target;
}

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

bool ServerKeyExists(const std::wstring& path) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Classes\\BrindleTestServer." + NameOf(path)).c_str(), 0,
                       KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

std::wstring ShortOrLong(const std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? buffer : path;
}

}  // namespace

// The update's worker thread may already have COM in the multithreaded mode (a hook or the
// shell may have set it): registration must still work there.
TEST(ComRegistration, InProcessServersWorkOnAThreadAlreadyInTheOtherComMode) {
  ScratchFolder scratch;
  const std::wstring server = CopyServer(scratch, L"mta_server.dll");
  bool registered = false, keyAfterRegister = false, unregistered = false, keyAfterUnregister = true;
  std::thread worker([&] {
    const HRESULT mode = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    registered = CComRegistration::RegisterInProcess(server);
    keyAfterRegister = ServerKeyExists(server);
    unregistered = CComRegistration::UnregisterInProcess(server);
    keyAfterUnregister = ServerKeyExists(server);
    if (SUCCEEDED(mode)) CoUninitialize();
  });
  worker.join();
  EXPECT_TRUE(registered);
  EXPECT_TRUE(keyAfterRegister);
  EXPECT_TRUE(unregistered);
  EXPECT_FALSE(keyAfterUnregister);
}

TEST(ComRegistration, AFailingLibraryWaitsForTheNextLogonUnderItsShortPath) {
  ScratchFolder scratch;
  const std::wstring server = CopyServer(scratch, L"A long folder name\\failing server.dll");
  const std::wstring queuedName = ShortOrLong(ToBackslashes(ParentFolder(server))) + L"\\failing server.dll";
  wchar_t wow64[MAX_PATH] = {};
  std::wstring systemFolder = GetSystemWow64DirectoryW(wow64, MAX_PATH) ? wow64 : L"";
  if (systemFolder.empty()) {
    GetSystemDirectoryW(wow64, MAX_PATH);
    systemFolder = wow64;
  }
  DeleteRunOnceValue(queuedName);
  unsigned char restart = 0;
  EXPECT_TRUE(CComRegistration::Register32(server, &restart));
  EXPECT_EQ(restart, 1);
  EXPECT_FALSE(ServerKeyExists(server));
  EXPECT_EQ(RunOnceValue(queuedName),
            ShortOrLong(systemFolder + L"\\regsvr32.exe") + L" /s \"" + queuedName + L"\"");
  DeleteRunOnceValue(queuedName);

  // A library that exists nowhere, not even as a copy awaiting the restart, cannot be queued.
  restart = 0;
  EXPECT_FALSE(CComRegistration::Register32(ToBackslashes(scratch.File(L"absent.dll")), &restart));
  EXPECT_EQ(restart, 0);
  EXPECT_EQ(RunOnceValue(ShortOrLong(ToBackslashes(scratch.Path())) + L"\\absent.dll"), L"<missing>");
  // One that is put in place at the next restart is queued for the logon after it.
  const std::wstring pending = ToBackslashes(scratch.File(L"pending.dll"));
  ASSERT_TRUE(WriteBytes(pending + L".tmp0001", "new library"));
  EXPECT_TRUE(CComRegistration::Register32(pending, &restart));
  EXPECT_EQ(restart, 1);
  const std::wstring pendingName = ShortOrLong(ToBackslashes(scratch.Path())) + L"\\pending.dll";
  EXPECT_NE(RunOnceValue(pendingName), L"<missing>");
  DeleteRunOnceValue(pendingName);
}

TEST(ComRegistration, UnregisteringAMissingLibraryFailsWithoutALineOfItsOwn) {
  ScratchFolder scratch;
  const std::wstring missing = ToBackslashes(scratch.File(L"missing.dll"));
  ServiceLogTail tail;
  unsigned long code = 99;
  EXPECT_FALSE(CComRegistration::Unregister(missing, false, &code));
  EXPECT_EQ(code, 0u);
  // The line is the caller's (the file actions write UNREGISTER_COM).
  EXPECT_TRUE(tail.Details(L"UNREGISTER_COM").empty());
}
