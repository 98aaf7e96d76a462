// How the real Brindle.exe puts the package's new files in place: a file that one record alone
// uses is moved out of the work folder, one that several records use is copied for each, and
// either way every target ends with the package's bytes and time stamp. (Wine stores no access
// lists, so the access list a moved file is given cannot be observed here.)
#include <gtest/gtest.h>

#include "apply/file_actions_win.h"
#include "apply/undo_journal.h"
#include "support/patch_fixture_win.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

using namespace brindle;
using namespace brindle::test;

namespace {

bool WriteTime(const std::wstring& path, FILETIME& time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  time = data.ftLastWriteTime;
  return true;
}

}  // namespace

TEST_F(PatchFixture, NewFilesArePlacedWhetherOneOrSeveralRecordsUseThem) {
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\n[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n"
                            "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\updated.txt", "old"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\replaced.txt", "old"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\shared.txt", "shared"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\own.txt", "own"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\newer.txt", "newer"));
  FILETIME packaged = {};
  ASSERT_TRUE(WriteTime(packageSource_ + L"\\INST\\own.txt", packaged));
  auto file = [](const std::string& path, const std::string& name) {
    return "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>" + path +
           "</FullPath><FileName>" + name + "</FileName></File>";
  };
  // shared.txt serves three records in two groups, once in other letter case; own.txt one;
  // newer.txt replaces an older installed file in the add group.
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute>"
      "<GeneralInfo><Version>1.1</Version></GeneralInfo><UpdateObjects>" +
      file("$InsFolder$\\updated.txt", "shared.txt") + "</UpdateObjects><AddObjects>" +
      file("$InsFolder$\\a\\shared.txt", "shared.txt") + file("$InsFolder$\\b\\shared.txt", "SHARED.TXT") +
      file("$InsFolder$\\c\\own.txt", "own.txt") + file("$InsFolder$\\replaced.txt", "newer.txt") +
      "</AddObjects></DiffDistribute>");
  // The installed file is older than the package's.
  FILETIME old = {};
  SYSTEMTIME st = {2001, 6, 0, 1, 12, 0, 0, 0};
  SystemTimeToFileTime(&st, &old);
  {
    UniqueFile h(CreateFileW((app_ + L"\\replaced.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h);
    ASSERT_TRUE(SetFileTime(h.Get(), nullptr, nullptr, &old));
  }
  ASSERT_EQ(RunBrindle(list, L"/non_notification"), 200);

  EXPECT_EQ(FileText(app_ + L"\\updated.txt"), "shared");
  EXPECT_EQ(FileText(app_ + L"\\a\\shared.txt"), "shared");
  EXPECT_EQ(FileText(app_ + L"\\b\\shared.txt"), "shared");
  EXPECT_EQ(FileText(app_ + L"\\c\\own.txt"), "own");
  EXPECT_EQ(FileText(app_ + L"\\replaced.txt"), "newer");
  // The time stamp is the package's (the cabinet keeps it to the even second), as a copy has it.
  FILETIME placed = {};
  ASSERT_TRUE(WriteTime(app_ + L"\\c\\own.txt", placed));
  const auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  EXPECT_LE(
      ticks(placed) > ticks(packaged) ? ticks(placed) - ticks(packaged) : ticks(packaged) - ticks(placed),
      20000000ull);
  // Every placed file is logged for the uninstaller.
  const std::string log = FileText(app_ + L"\\uninst.ini");
  for (const char* name : {"a\\\\shared.txt", "b\\\\shared.txt", "c\\\\own.txt", "replaced.txt"})
    EXPECT_NE(log.find(name), std::string::npos) << name;
}

namespace {

// The access list of the file as text; empty when it cannot be read.
std::wstring AccessListText(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return std::wstring();
  UniqueLocal owned(descriptor);
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                            DACL_SECURITY_INFORMATION, &text, nullptr))
    return std::wstring();
  UniqueLocal ownedText(text);
  return text;
}

// The list the system gives a file of the folder that keeps only what the folder hands down.
std::wstring ListTheFolderHandsDown(const std::wstring& folder) {
  const std::wstring probe = folder + L"\\probe.tmp";
  if (!WriteFileText(probe, "probe")) return L"(no probe)";
  ACL empty;
  InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
  SetNamedSecurityInfoW(const_cast<wchar_t*>(probe.c_str()), SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &empty, nullptr);
  const std::wstring text = AccessListText(probe);
  DeleteFileW(probe.c_str());
  return text;
}

}  // namespace

// Every file moved out of the work folder (administrators only) ends with the list its new
// folder hands down, whether it is the first file placed in that folder (the system works the
// list out) or a later one (the list learnt from the first is set as it is). On Windows this
// compares real access lists. Wine keeps none: it reads back a list made from the file's mode,
// which the work folder's list does not change, so here the test only shows that the lists are
// read and set without failing the files' placement.
TEST_F(PatchFixture, EveryMovedFileGetsTheListItsNewFolderHandsDown) {
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\n[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n"
                            "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  std::string records;
  std::vector<std::wstring> placed;
  for (const char* folder : {"one", "two"}) {
    for (int i = 0; i < 3; ++i) {
      const std::string name = std::string(folder) + std::to_string(i) + ".txt";
      ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\" + WideFromUtf8(name), name));
      records += "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\" +
                 std::string(folder) + "\\" + name + "</FullPath><FileName>" + name + "</FileName></File>";
      placed.push_back(app_ + L"\\" + WideFromUtf8(folder) + L"\\" + WideFromUtf8(name));
    }
  }
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
      "</GeneralInfo><AddObjects>" +
      records + "</AddObjects></DiffDistribute>");
  ASSERT_EQ(RunBrindle(list, L"/non_notification"), 200);

  for (const std::wstring& path : placed) {
    const std::wstring expected = ListTheFolderHandsDown(path.substr(0, path.find_last_of(L'\\')));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(AccessListText(path), expected) << Utf8FromWide(path);
  }
}

// A backup kept as a second hard link of a file that was never replaced is that file: putting it
// back moves nothing, also while another program holds the file without sharing its writing
// (the move would fail). A backup with a name of its own is put back over the file.
TEST(FileUndo, ABackupThatIsTheFilesSecondLinkStaysAndABackupOfItsOwnIsPutBack) {
  ScratchFolder scratch;
  const std::wstring file = ToBackslashes(scratch.File(L"uninst.ini"));
  const std::wstring link = ToBackslashes(scratch.File(L"000001.old"));
  ASSERT_TRUE(WriteBytes(file, "kept"));
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), file.c_str(), nullptr));
  UndoRecord record;
  record.kind = UndoKind::FileMovedAside;
  record.path = file;
  record.other = link;
  {
    const UniqueFile held(
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(CFileActions::Undo(record), 0u);
  }
  std::string bytes;
  EXPECT_TRUE(ReadBytes(file, bytes));
  EXPECT_EQ(bytes, "kept");

  const std::wstring own = ToBackslashes(scratch.File(L"000002.old"));
  ASSERT_TRUE(WriteBytes(own, "old"));
  record.other = own;
  EXPECT_EQ(CFileActions::Undo(record), 0u);
  EXPECT_TRUE(ReadBytes(file, bytes));
  EXPECT_EQ(bytes, "old");
  EXPECT_FALSE(FileExists(own));
}
