// Renaming a file through its open handle, the path forms such a rename takes, and the moved
// file's identity (the handle follows the file, not the name).
#include <gtest/gtest.h>

#include "support/scratch.h"
#include "sys/file_placement_win.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

namespace {

// The path of the scratch folder's relative name, its folder made; with the bytes written when
// some are given.
std::wstring PathIn(const ScratchFolder& scratch, const wchar_t* relative, const std::string& bytes = "") {
  const std::wstring path = ToBackslashes(scratch.File(relative));
  EXPECT_TRUE(CreateFolderChain(ParentFolder(path)));
  if (!bytes.empty()) {
    EXPECT_TRUE(WriteBytes(path, bytes));
  }
  return path;
}

}  // namespace

TEST(FilePlacement, SystemPathNamesOfTheFullPathForms) {
  EXPECT_EQ(SystemPathName(L"C:\\Program Files\\App\\a.dll"), L"\\??\\C:\\Program Files\\App\\a.dll");
  EXPECT_EQ(SystemPathName(L"d:\\x"), L"\\??\\d:\\x");
  EXPECT_EQ(SystemPathName(L"\\\\?\\C:\\very\\long"), L"\\??\\C:\\very\\long");
  EXPECT_EQ(SystemPathName(L"\\\\server\\share\\a.dll"), L"\\??\\UNC\\server\\share\\a.dll");
  // Relative, drive-relative and device paths are not taken.
  for (const wchar_t* refused : {L"a.dll", L"App\\a.dll", L"C:a.dll", L"\\App\\a.dll",
                                 L"\\\\.\\PhysicalDrive0", L"\\\\?\\", L"", L"1:\\x"})
    EXPECT_EQ(SystemPathName(refused), L"") << refused;
}

TEST(FilePlacement, AnOpenFileIsRenamedIntoAnotherFolderOverAnExistingFileOnlyWhenAsked) {
  ScratchFolder scratch;
  const std::wstring from = PathIn(scratch, L"work\\new.bin", "new");
  const std::wstring to = PathIn(scratch, L"app\\old.bin", "old");
  UniqueFile file = OpenToMove(from);
  ASSERT_TRUE(file);

  EXPECT_FALSE(RenameOpenFile(file.Get(), to, false));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(to, bytes));
  EXPECT_EQ(bytes, "old");

  ASSERT_TRUE(RenameOpenFile(file.Get(), to, true)) << GetLastError();
  EXPECT_FALSE(FileExists(from));
  ASSERT_TRUE(ReadBytes(to, bytes));
  EXPECT_EQ(bytes, "new");
  // The handle still names the file: it is moved back through it.
  ASSERT_TRUE(RenameOpenFile(file.Get(), from, false)) << GetLastError();
  EXPECT_FALSE(FileExists(to));
  ASSERT_TRUE(ReadBytes(from, bytes));
  EXPECT_EQ(bytes, "new");

  EXPECT_FALSE(RenameOpenFile(file.Get(), L"relative\\name.bin", true));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST(FilePlacement, AFileIsMovedAsideThroughItsHandleNeverOverAnotherUnlessAsked) {
  ScratchFolder scratch;
  const std::wstring file = PathIn(scratch, L"app\\a.dll", "old bytes");
  const std::wstring aside = PathIn(scratch, L"backup\\0000\\000001.old");
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));  // moved all the same

  ASSERT_TRUE(MoveFileThroughHandle(file, aside, false)) << GetLastError();
  EXPECT_FALSE(FileExists(file));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(aside, bytes));
  EXPECT_EQ(bytes, "old bytes");

  // Nothing is put over an existing file unless asked, and a missing source says so.
  ASSERT_TRUE(WriteBytes(file, "new bytes"));
  EXPECT_FALSE(MoveFileThroughHandle(file, aside, false));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(ReadBytes(aside, bytes));
  EXPECT_EQ(bytes, "old bytes");
  EXPECT_FALSE(MoveFileThroughHandle(file + L".missing", aside + L".2", false));
  EXPECT_TRUE(GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
      << GetLastError();
  SetFileAttributesW(aside.c_str(), FILE_ATTRIBUTE_NORMAL);
}
