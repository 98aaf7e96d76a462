// Copies into a folder the user owns: the name is replaced, never the file behind it. Hard links
// behave under Wine as on Windows (one file, two names), so what a planted link would reach is
// checked directly.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/folder_link_win.h"
#include "support/scratch.h"
#include "sys/file_replace_win.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"

using namespace brindle;
using namespace brindle::test;

namespace {

std::wstring Back(const std::wstring& path) { return ToBackslashes(path); }

struct HeldFolder {
  std::vector<UniqueFile> chain;
  explicit HeldFolder(const std::wstring& path) {
    EXPECT_TRUE(OpenFolderChainNoFollow(Back(path), false, chain));
  }
  HANDLE Get() const { return chain.empty() ? INVALID_HANDLE_VALUE : chain.back().Get(); }
};

TEST(FileReplace, AHardLinkAtTheNameLosesItsNameAndTheLinkedFileStaysAsItWas) {
  ScratchFolder source, target, elsewhere;
  ASSERT_TRUE(WriteBytes(source.File(L"setup.dll"), "the wrapper's library"));
  ASSERT_TRUE(WriteBytes(elsewhere.File(L"system.dll"), "precious"));
  ASSERT_TRUE(CreateHardLinkW(Back(target.File(L"setup.dll")).c_str(),
                              Back(elsewhere.File(L"system.dll")).c_str(), nullptr));
  {
    HeldFolder folder(target.Path());
    UniqueFile placed;
    ASSERT_TRUE(ReplaceFileInFolder(folder.Get(), Back(target.Path()), L"setup.dll",
                                    Back(source.File(L"setup.dll")), placed));
    // Held for reading only, shared for reading only: nobody writes, renames or removes it.
    EXPECT_EQ(CreateFileW(Back(target.File(L"setup.dll")).c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileW(Back(target.File(L"setup.dll")).c_str(), Back(target.File(L"moved.dll")).c_str()));
    std::string read;
    EXPECT_TRUE(ReadBytes(target.File(L"setup.dll"), read));  // readable, as Install.exe loads it
    EXPECT_EQ(read, "the wrapper's library");
  }
  std::string kept;
  ASSERT_TRUE(ReadBytes(elsewhere.File(L"system.dll"), kept));
  EXPECT_EQ(kept, "precious");
  // Nothing but the copy is left in the folder: the temporary name went with the rename.
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(Back(target.File(L"*")).c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::vector<std::wstring> names;
  do {
    if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..")
      names.push_back(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_EQ(names, std::vector<std::wstring>{L"setup.dll"});
}

TEST(FileReplace, AnExistingFileIsReplacedAndAMissingSourceOrAFolderAtTheNameFails) {
  ScratchFolder source, target;
  ASSERT_TRUE(WriteBytes(source.File(L"Install.exe"), "new installer"));
  ASSERT_TRUE(WriteBytes(target.File(L"Install.exe"), "old installer, longer than the new one"));
  ASSERT_TRUE(CreateFolderChain(target.File(L"setup.dll")));
  HeldFolder folder(target.Path());
  UniqueFile placed;
  EXPECT_TRUE(ReplaceFileInFolder(folder.Get(), Back(target.Path()), L"Install.exe",
                                  Back(source.File(L"Install.exe")), placed));
  placed.Reset();
  std::string read;
  EXPECT_TRUE(ReadBytes(target.File(L"Install.exe"), read));
  EXPECT_EQ(read, "new installer");
  EXPECT_FALSE(ReplaceFileInFolder(folder.Get(), Back(target.Path()), L"Install.exe",
                                   Back(source.File(L"missing.exe")), placed));
  EXPECT_FALSE(ReplaceFileInFolder(folder.Get(), Back(target.Path()), L"setup.dll",
                                   Back(source.File(L"Install.exe")), placed));
  EXPECT_FALSE(placed.Valid());
}

}  // namespace
