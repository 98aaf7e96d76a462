// Whole runs of Brindle.exe with what an unelevated user could have put in its way beforehand: a
// list naming a setup program outside the list's folder, and a hard link in a temporary folder
// the run removes. The setup program's stand-in reads back where and how it was started.
#include <gtest/gtest.h>

#include "app/coordination.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

namespace {

const REGSAM kView = KEY_WOW64_32KEY;

void RemoveProtocolKey() {
  UniqueRegKey parent;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tamek", 0, KEY_ALL_ACCESS | kView, parent.Receive()) ==
      ERROR_SUCCESS)
    RegDeleteTreeW(parent.Get(), L"Zentor Master Setup");
}

std::wstring WriteSetupList(const ScratchFolder& folder, const std::string& fileName) {
  const std::wstring list = folder.File(L"list.xml");
  EXPECT_TRUE(WriteBytes(
      list, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><Package Order=\"1\"><FileName>" +
                fileName +
                "</FileName><AppName>A</AppName><DisplayName>Alpha</DisplayName>"
                "</Package></DiffLocalList>"));
  return list;
}

// The stand-in setup program at path, answering success.
void PlaceSetupProgram(const std::wstring& path) {
  ASSERT_TRUE(CreateFolderChain(ParentFolder(path)));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"fake_setup.exe").c_str(), ToBackslashes(path).c_str(), FALSE));
  ASSERT_TRUE(WriteBytes(path + L".answers", "Status 2\nReturn Value 2\nRebootNeeded FALSE\n"));
}

class SecurityRun : public testing::Test {
 protected:
  void SetUp() override { RemoveProtocolKey(); }
  void TearDown() override { RemoveProtocolKey(); }
  ScratchFolder folder_;
};

}  // namespace

// The list may name a setup program only by one plain name in its own folder: a folder, a drive
// or a parent reference in the name is refused with a line saying so, and nothing is started.
TEST_F(SecurityRun, ASetupProgramNamedOutsideTheListsFolderIsRefused) {
  ScratchFolder other;
  PlaceSetupProgram(folder_.File(L"sub/setup.exe"));
  PlaceSetupProgram(other.File(L"setup.exe"));
  const std::string outside = Utf8FromWide(ToBackslashes(other.File(L"setup.exe")));
  for (const std::string& name : {std::string("sub\\setup.exe"), outside}) {
    SCOPED_TRACE(name);
    const std::wstring list = WriteSetupList(folder_, name);
    ServiceLogTail log;
    StartedProcess run =
        StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /normal_install");
    HWND box = FindDialog(L"Alpha", 30000, run.processId);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(StaticTexts(box), L"Une erreur s'est produite pendant la mise \u00e0 jour de Alpha.");
    PressButton(box, L"OK");
    EXPECT_EQ(WaitForExit(run, 30000), 100);
    EXPECT_EQ(log.Details(L"SETUP_PROGRAM"),
              std::vector<std::wstring>{L"-," + WideFromUtf8(name) + L",error,not a plain file name"});
  }
  EXPECT_FALSE(FileExists(folder_.File(L"sub/setup.exe.log")));
  EXPECT_FALSE(FileExists(other.File(L"setup.exe.log")));
}

// A setup program the list names properly runs from its own folder, not from the folder the
// update service started Brindle.exe in, by its full path in quotes.
TEST_F(SecurityRun, ASetupProgramStartsFromItsOwnFolderByItsQuotedPath) {
  const std::wstring program = ToBackslashes(folder_.File(L"setup.exe"));
  PlaceSetupProgram(program);
  const std::wstring list = WriteSetupList(folder_, "setup.exe");
  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /non_notification");
  EXPECT_EQ(WaitForExit(run, 60000), 200);
  std::string place;
  ASSERT_TRUE(ReadBytes(program + L".place", place));
  EXPECT_EQ(place, Utf8FromWide(ToBackslashes(folder_.Path())) + "\n\"" + Utf8FromWide(program) + "\"\n");
}

// A read-only file in the user's temporary folder that the run removes, planted as a hard link
// to a file elsewhere: the link goes (where the system can delete a read-only name as it is)
// and the other file keeps its read-only attribute and its bytes.
TEST_F(SecurityRun, AReadOnlyHardLinkInATemporaryFolderLeavesTheLinkedFileAsItWas) {
  const std::wstring temp = ToBackslashes(JoinPath(UserTempFolder(), L"Tamek_Inc_RW/Pollwick"));
  ASSERT_TRUE(CreateFolderChain(temp));
  const std::wstring outside = ToBackslashes(folder_.File(L"keep.txt"));
  ASSERT_TRUE(WriteBytes(outside, "precious"));
  ASSERT_TRUE(SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::wstring link = temp + L"\\linked.txt";
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), outside.c_str(), nullptr));

  const std::wstring list = folder_.File(L"actions.xml");
  ASSERT_TRUE(WriteBytes(list,
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ActionList ParentAppName=\"Viewer\">"
                         "<Action ID=\"d1\" Action=\"DELETE\"/></ActionList>"));
  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /component_install");
  EXPECT_EQ(WaitForExit(run, 60000), 100);  // no installed parent: the item fails

  const DWORD attributes = GetFileAttributesW(outside.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  std::string bytes;
  EXPECT_TRUE(ReadBytes(outside, bytes));
  EXPECT_EQ(bytes, "precious");
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(link.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(link.c_str());
}
