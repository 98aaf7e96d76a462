// COM server registration against the real registry and COM: a test server library built by
// the project (brindle_com_server.dll) registers under HKLM\SOFTWARE\Classes; copied under a
// name containing "fail" its DllRegisterServer fails.
#include <gtest/gtest.h>

#include "support/run_once_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "sys/com_registration_win.h"
#include "sys/com_registry_trace_win.h"
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
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Classes\\BrindleTestServer." + NameOf(path)).c_str(),
                       0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

const wchar_t kTraceScratches[] = L"SOFTWARE\\Tamek\\Brindle\\ComTrace";

std::vector<std::wstring> ScratchNames() {
  std::vector<std::wstring> names;
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTraceScratches, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
    return names;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(name);
  }
  return names;
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

// A trial registration writes into a scratch key, never into the machine: what it wrote is read
// back (parents first, with the names of the values), the scratch is removed, and the roots
// are the machine's again afterwards. A trial that fails, or of a local server, tells nothing.
TEST(ComRegistration, ATrialRegistrationIsReadBackFromAScratchKeyAndLeavesTheMachineAlone) {
  ScratchFolder scratch;
  const std::wstring server = CopyServer(scratch, L"traced_server.dll");
  // A scratch key left by a process that ended in the middle of a trial.
  StartedProcess ended = StartProgram(ProgramPath(L"brindle_probe.exe"), L"hidden - 1");
  WaitForExit(ended, 30000);
  const std::wstring stale =
      std::wstring(kTraceScratches) + L"\\" + std::to_wstring(GetProcessId(ended.process.Get())) + L"-1";
  {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (stale + L"\\HKLM\\Left").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
  }

  std::vector<ComTracedKey> keys;
  ASSERT_TRUE(TraceComRegistration(server, keys));
  const std::wstring classKey = L"SOFTWARE\\Classes\\BrindleTestServer.traced_server.dll";
  std::vector<std::wstring> paths;
  for (const ComTracedKey& key : keys) {
    EXPECT_EQ(key.root, ComTraceRoot::LocalMachine);
    paths.push_back(key.path);
  }
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"SOFTWARE", L"SOFTWARE\\Classes", classKey,
                                              classKey + L"\\InprocServer32"}));
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_TRUE(keys[2].values.empty());
  EXPECT_EQ(keys[3].values, (std::vector<std::wstring>{L""}));
  EXPECT_FALSE(ServerKeyExists(server));
  EXPECT_TRUE(ScratchNames().empty());

  // The roots are the machine's again: a real registration lands in the machine.
  EXPECT_TRUE(CComRegistration::RegisterInProcess(server));
  EXPECT_TRUE(ServerKeyExists(server));
  EXPECT_TRUE(CComRegistration::UnregisterInProcess(server));

  EXPECT_FALSE(TraceComRegistration(CopyServer(scratch, L"fail_traced.dll"), keys));
  EXPECT_TRUE(keys.empty());
  EXPECT_FALSE(TraceComRegistration(ToBackslashes(scratch.File(L"absent.dll")), keys));
  const std::wstring local = ToBackslashes(scratch.File(L"local_server.exe"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_local_server.exe").c_str(), local.c_str(), FALSE));
  EXPECT_FALSE(TraceComRegistration(local, keys));
  EXPECT_TRUE(ScratchNames().empty());
}
