// Unregistering a COM server that a package deletes: the server's own DllUnregisterServer runs
// and one UNREGISTER_COM line tells how it went.
#include <gtest/gtest.h>

#include "apply/com_unregistration_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "sys/com_registration_win.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

namespace {

bool ServerKeyExists(const std::wstring& name) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Classes\\BrindleTestServer." + name).c_str(),
                       0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

}  // namespace

TEST(ComUnregistration, ARegisteredServerIsUnregisteredAndLoggedAsASuccess) {
  ScratchFolder scratch;
  const std::wstring server = ToBackslashes(scratch.File(L"unreg_server.dll"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), server.c_str(), FALSE));
  CComInitialization com;
  ASSERT_TRUE(CComRegistration::RegisterInProcess(server));
  ASSERT_TRUE(ServerKeyExists(L"unreg_server.dll"));

  ServiceLogTail tail;
  EXPECT_TRUE(UnregisterComServer(server, false));
  EXPECT_FALSE(ServerKeyExists(L"unreg_server.dll"));
  EXPECT_EQ(tail.Details(L"UNREGISTER_COM"), std::vector<std::wstring>{L"-," + server + L",success,0"});
}

TEST(ComUnregistration, AMissingLibraryIsLoggedAsAnError) {
  ScratchFolder scratch;
  const std::wstring missing = ToBackslashes(scratch.File(L"missing.dll"));
  ServiceLogTail tail;
  EXPECT_FALSE(UnregisterComServer(missing, false));
  EXPECT_EQ(tail.Details(L"UNREGISTER_COM"), std::vector<std::wstring>{L"-," + missing + L",error,0"});
}
