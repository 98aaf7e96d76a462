// The service log lies in the session user's profile, where that user may plant links. Links
// planted in its folder chain or at the file itself (under Wine, host symbolic links, which Wine
// shows as reparse points) must not make Brindle.exe create or append a file anywhere else: the
// line is lost instead. Brindle.exe runs with a list that does not exist, which ends at once
// with exit code 100 after writing its lines.
#include <gtest/gtest.h>

#include <windows.h>

#include "logs/service_log.h"
#include "support/folder_link_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/text.h"

using namespace brindle;
using namespace brindle::test;

namespace {

// Moves a real file or folder of the log's chain aside for the test and puts it back after,
// removing whatever link the test planted in its place.
class SetAside {
 public:
  explicit SetAside(const std::wstring& path) : path_(ToBackslashes(path)), aside_(path_ + L".aside") {
    moved_ = MoveFileW(path_.c_str(), aside_.c_str()) != FALSE;
  }
  ~SetAside() {
    RemoveFolderLink(path_);
    if (moved_) MoveFileW(aside_.c_str(), path_.c_str());
  }
  SetAside(const SetAside&) = delete;
  SetAside& operator=(const SetAside&) = delete;

 private:
  std::wstring path_, aside_;
  bool moved_ = false;
};

int RunWithMissingList() {
  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"C:\\no\\such\\list.xml /component_install X");
  return WaitForExit(run, 30000);
}

const std::wstring LogFile() { return JoinPath(ServiceLogFolder(), kServiceLogFileName); }

TEST(ServiceLogLinks, ALinkInTheFolderChainRedirectsNothing) {
  // The run writes its lines where nothing is planted.
  {
    ServiceLogTail tail;
    EXPECT_EQ(RunWithMissingList(), 100);
    EXPECT_EQ(tail.Details(L"PROCESS_END"), std::vector<std::wstring>{L"-,100"});
  }
  // "Tamek_Inc_RW/ServiceLog" made a link to a folder of the user's choice.
  ScratchFolder elsewhere;
  const std::wstring chainFolder = ParentFolder(ServiceLogFolder());
  SetAside aside(chainFolder);
  ASSERT_TRUE(MakeFolderLink(ToBackslashes(chainFolder), ToBackslashes(elsewhere.Path())));
  EXPECT_EQ(RunWithMissingList(), 100);
  EXPECT_FALSE(FileExists(elsewhere.File(L"OstrelService")));
  EXPECT_FALSE(FileExists(elsewhere.File(std::wstring(L"OstrelService/") + kServiceLogFileName)));
}

// A symbolic link of the host in the file's place, removed again at the end. Wine shows such a
// link to a file as the file itself (no reparse point), so only the program's check of where
// the opened file really is can catch it.
class HostFileLink {
 public:
  HostFileLink(const std::wstring& link, const std::wstring& target)
      : host_(UnixPath(ToBackslashes(ParentFolder(link))) + "/" + Utf8FromWide(LastPathComponent(link))) {
    const std::string hostTarget = UnixPath(ToBackslashes(target));
    made_ = !hostTarget.empty() && RunUnixProgram("/bin/ln", {"-s", hostTarget, host_}) == 0;
  }
  ~HostFileLink() {
    if (made_) RunUnixProgram("/bin/rm", {"-f", host_});
  }
  HostFileLink(const HostFileLink&) = delete;
  HostFileLink& operator=(const HostFileLink&) = delete;
  bool Made() const { return made_; }

 private:
  std::string host_;
  bool made_ = false;
};

TEST(ServiceLogLinks, ALinkAtTheFileRedirectsNothing) {
  // Make sure the folder and the file exist, then put a link to another file in the file's place.
  EXPECT_EQ(RunWithMissingList(), 100);
  ScratchFolder elsewhere;
  const std::wstring target = elsewhere.File(L"system.ini");
  ASSERT_TRUE(WriteBytes(target, "[untouched]\r\n"));
  SetAside aside(LogFile());
  HostFileLink link(LogFile(), target);
  if (!link.Made()) GTEST_SKIP() << "no host symbolic link can be made here";
  std::string seen;
  ASSERT_TRUE(ReadBytes(LogFile(), seen));  // the link leads to the target
  ASSERT_EQ(seen, "[untouched]\r\n");
  EXPECT_EQ(RunWithMissingList(), 100);
  std::string bytes;
  ASSERT_TRUE(ReadBytes(target, bytes));
  EXPECT_EQ(bytes, "[untouched]\r\n");
}

}  // namespace
