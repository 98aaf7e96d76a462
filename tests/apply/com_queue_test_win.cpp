// The COM queue of the sub-updater: servers copied by a package are registered after all of its
// groups, in queue order, and the queue is emptied whatever stops the registration.
#include <gtest/gtest.h>

#include "apply/win_sub_updater_win.h"
#include "logs/install_log.h"
#include "package/object_records.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

namespace {

std::unique_ptr<CQXFile> ComServer(const std::wstring& path) {
  auto file = std::make_unique<CQXFile>();
  file->com = kComRegister;
  file->fullPath = std::make_unique<FullPathValue>();
  file->fullPath->path = path;
  return file;
}

bool ServerKeyExists(const std::wstring& name) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Classes\\BrindleTestServer." + name).c_str(), 0,
                       KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

}  // namespace

TEST(ComQueue, AServerThatCannotBeRegisteredStopsThePassAndTheQueueIsEmptiedAnyway) {
  ScratchFolder scratch;
  const std::wstring good = ToBackslashes(scratch.File(L"queued_server.dll"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), good.c_str(), FALSE));
  const auto missing = ComServer(ToBackslashes(scratch.File(L"never_copied.dll")));
  const auto server = ComServer(good);

  CQXInstallLog log;
  CWinQXSubUpdater updater;
  updater.BeginApplication(&log, nullptr);
  ASSERT_TRUE(updater.BeginPackage(L"queued.cab"));
  updater.ComQueue() = {missing.get(), server.get()};
  updater.RegisterPendingComServers();
  EXPECT_TRUE(updater.ComQueue().empty());
  EXPECT_FALSE(ServerKeyExists(L"queued_server.dll"));  // the pass stopped before it
  EXPECT_FALSE(updater.RebootNeeded());

  // Nothing of the first pass is registered again later; a new queue registers its servers.
  updater.ComQueue() = {server.get()};
  updater.RegisterPendingComServers();
  EXPECT_TRUE(updater.ComQueue().empty());
  EXPECT_TRUE(ServerKeyExists(L"queued_server.dll"));
  EXPECT_FALSE(updater.RebootNeeded());
  // The registration is the package's: taken back with it.
  EXPECT_TRUE(updater.UndoPackage());
  EXPECT_FALSE(ServerKeyExists(L"queued_server.dll"));
  UniqueRegKey classes;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", 0, KEY_ALL_ACCESS, classes.Receive()),
            ERROR_SUCCESS);
  RegDeleteTreeW(classes.Get(), L"BrindleTestServer.queued_server.dll");
}
