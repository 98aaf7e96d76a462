// Removal of trees through handles, with links planted inside them the way another process
// would plant them. Windows removes a junction as a junction. Under Wine the link is a host
// symbolic link that Wine opens through even when asked not to, so it cannot be removed as a
// link: there it is left where it is, and what can be seen is that it is never followed.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/folder_link_win.h"
#include "support/scratch.h"
#include "sys/folder_removal.h"
#include "sys/paths.h"

using namespace brindle;
using namespace brindle::test;

namespace {

std::wstring Back(const std::wstring& path) { return ToBackslashes(path); }

// A folder outside the tree with a file that must survive every removal.
struct Elsewhere {
  ScratchFolder folder;
  Elsewhere() { WriteBytes(folder.File(L"keep.txt"), "precious"); }
  bool Intact() const {
    std::string bytes;
    return ReadBytes(folder.File(L"keep.txt"), bytes) && bytes == "precious";
  }
};

TEST(FolderRemoval, RemovesATreeWithReadOnlyFilesAndLinksWithoutEnteringTheLinks) {
  ScratchFolder scratch;
  Elsewhere elsewhere;
  const std::wstring tree = scratch.File(L"tree");
  ASSERT_TRUE(CreateFolderChain(tree + L"/a/b"));
  ASSERT_TRUE(WriteBytes(tree + L"/a/b/deep.bin", "1"));
  ASSERT_TRUE(WriteBytes(tree + L"/top.txt", "2"));
  ASSERT_TRUE(SetFileAttributesW(Back(tree + L"/top.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(MakeFolderLink(Back(tree + L"/a/link"), Back(elsewhere.folder.Path())));

  const bool removed = RemoveTreeNoFollow(tree);
  EXPECT_FALSE(FileExists(tree + L"/top.txt"));
  EXPECT_FALSE(FileExists(tree + L"/a/b"));
  if (removed) {
    EXPECT_FALSE(FileExists(tree));
  } else {
    EXPECT_TRUE(IsFolderLink(Back(tree + L"/a/link")));  // the only thing left
    RemoveFolderLink(Back(tree + L"/a/link"));
  }
  EXPECT_TRUE(elsewhere.Intact());
}

TEST(FolderRemoval, ALinkAtThePathIsRemovedAsALink) {
  ScratchFolder scratch;
  Elsewhere elsewhere;
  const std::wstring link = scratch.File(L"link");
  ASSERT_TRUE(MakeFolderLink(Back(link), Back(elsewhere.folder.Path())));
  // Gone as a link, or (Wine) left as a link; never entered.
  EXPECT_EQ(RemoveTreeNoFollow(link), !IsFolderLink(Back(link)));
  EXPECT_TRUE(elsewhere.Intact());
  // Nor is a link opened as a folder to empty.
  RemoveFolderLink(Back(link));
  ASSERT_TRUE(MakeFolderLink(Back(link), Back(elsewhere.folder.Path())));
  EXPECT_FALSE(OpenFolderForRemoval(link).Valid());
  EXPECT_EQ(RemoveLinkNoFollow(link), !IsFolderLink(Back(link)));
  EXPECT_FALSE(RemoveLinkNoFollow(scratch.Path()));  // a real folder is not a link
  EXPECT_TRUE(elsewhere.Intact());
  RemoveFolderLink(Back(link));
}

TEST(FolderRemoval, EmptyingKeepsTheHeldFolderAndAMissingPathIsNothingToRemove) {
  ScratchFolder scratch;
  Elsewhere elsewhere;
  const std::wstring folder = scratch.File(L"work");
  ASSERT_TRUE(CreateFolderChain(folder + L"/temp1/INST"));
  ASSERT_TRUE(WriteBytes(folder + L"/temp1/INST/a.dll", "x"));
  ASSERT_TRUE(MakeFolderLink(Back(folder + L"/temp2"), Back(elsewhere.folder.Path())));
  UniqueFile held = OpenFolderForRemoval(folder);
  ASSERT_TRUE(held.Valid());
  EXPECT_EQ(EmptyFolderNoFollow(held.Get()), !IsFolderLink(Back(folder + L"/temp2")));
  held.Reset();
  EXPECT_TRUE(FileExists(folder));
  EXPECT_FALSE(FileExists(folder + L"/temp1"));
  EXPECT_TRUE(elsewhere.Intact());
  RemoveFolderLink(Back(folder + L"/temp2"));
  EXPECT_TRUE(RemoveTreeNoFollow(scratch.File(L"missing")));
}

// Most of a tree is plain files, each removed through one handle; a link to a file elsewhere is
// removed as a link or left where it is, never followed, and a file another program holds
// without sharing its deletion stays, with the removal reporting it.
TEST(FolderRemoval, PlainFilesGoAndAFileLinkIsNeverFollowedNorAFileInUseTaken) {
  ScratchFolder scratch;
  Elsewhere elsewhere;
  const std::wstring tree = scratch.File(L"tree");
  ASSERT_TRUE(CreateFolderChain(tree + L"/0000"));
  ASSERT_TRUE(CreateFolderChain(tree + L"/0001"));
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(
        WriteBytes(tree + L"/000" + std::to_wstring(i % 2) + L"/" + std::to_wstring(i) + L".old", "o"));
  const std::wstring link = Back(tree + L"/0001/link.old");
  if (!MakeFileLink(link, Back(elsewhere.folder.File(L"keep.txt"))))
    GTEST_SKIP() << "no link to a file can be made here";
  const std::wstring held = Back(tree + L"/0000/held.old");
  ASSERT_TRUE(WriteBytes(held, "held"));
  UniqueFile holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.Valid());

  EXPECT_FALSE(RemoveTreeNoFollow(tree));
  for (int i = 0; i < 40; ++i)
    EXPECT_FALSE(FileExists(tree + L"/000" + std::to_wstring(i % 2) + L"/" + std::to_wstring(i) + L".old"));
  EXPECT_TRUE(FileExists(held));
  EXPECT_TRUE(elsewhere.Intact());  // the link gone as a link, or (Wine) left where it is

  holder.Reset();
  RemoveFolderLink(link);
  EXPECT_EQ(RemoveTreeNoFollow(tree), !FileExists(tree));
  EXPECT_FALSE(FileExists(held));
  EXPECT_TRUE(elsewhere.Intact());
}

// A read-only file in the tree that is a hard link to a file elsewhere shares that file's
// attributes: the removal takes the name away without clearing read-only, which would clear it
// on the other file too. Where the system cannot delete a read-only name as it is (Windows
// before 10 1809; Wine keeps read-only as the file's mode and refuses), the name stays.
TEST(FolderRemoval, AReadOnlyHardLinkGoesWithoutChangingTheLinkedFile) {
  ScratchFolder scratch;
  Elsewhere elsewhere;
  const std::wstring tree = scratch.File(L"tree");
  ASSERT_TRUE(CreateFolderChain(tree));
  const std::wstring outside = Back(elsewhere.folder.File(L"keep.txt"));
  ASSERT_TRUE(SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateHardLinkW(Back(tree + L"/linked.txt").c_str(), outside.c_str(), nullptr));
  // A read-only file of its own still goes, attribute cleared.
  ASSERT_TRUE(WriteBytes(tree + L"/own.txt", "own"));
  ASSERT_TRUE(SetFileAttributesW(Back(tree + L"/own.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  const bool removed = RemoveTreeNoFollow(tree);
  EXPECT_FALSE(FileExists(tree + L"/own.txt"));
  EXPECT_EQ(removed, !FileExists(tree + L"/linked.txt"));
  const DWORD attributes = GetFileAttributesW(outside.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(elsewhere.Intact());
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!removed) SetFileAttributesW(Back(tree + L"/linked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
