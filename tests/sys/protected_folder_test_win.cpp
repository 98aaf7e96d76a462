// Protected folders against the real file system, with links planted the way an unelevated
// process would plant them. Wine stores no access lists on files (a list that is set reads back
// as the default), so the list itself cannot be checked here; what can be seen is checked: where
// the folder is, that links are never followed, and that a held folder cannot be moved away.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/folder_link_win.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"

using namespace brindle;
using namespace brindle::test;

namespace {

std::wstring Back(const std::wstring& path) { return ToBackslashes(path); }

bool IsRealFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(Back(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST(ProtectedFolder, CreatesTheChainAndHoldsItSoNoFolderOfItCanBeMovedAway) {
  ScratchFolder base;
  ProtectedFolder folder;
  ASSERT_EQ(folder.Open(base.Path(), L"Maker/Work"), ProtectedFolderStatus::Ready);
  EXPECT_TRUE(SamePath(folder.Path(), Back(base.File(L"Maker/Work"))));
  EXPECT_TRUE(IsRealFolder(base.File(L"Maker/Work")));
  EXPECT_TRUE(SamePath(FinalPathOfHandle(folder.Handle()), folder.Path()));

  // Held open without delete sharing: neither the folder nor its parent can be renamed, so no
  // link can take their place while the folder is in use.
  EXPECT_FALSE(MoveFileW(Back(base.File(L"Maker/Work")).c_str(), Back(base.File(L"Maker/Moved")).c_str()));
  EXPECT_FALSE(MoveFileW(Back(base.File(L"Maker")).c_str(), Back(base.File(L"Moved")).c_str()));
  EXPECT_TRUE(IsRealFolder(base.File(L"Maker/Work")));

  folder.Close();
  EXPECT_TRUE(MoveFileW(Back(base.File(L"Maker/Work")).c_str(), Back(base.File(L"Maker/Moved")).c_str()));
}

// Windows removes a junction planted in the chain and makes the folder anew. Wine cannot remove
// the host's link that stands in for a junction (and opens what it leads to even when asked not
// to): there the folder is refused. Either way nothing is made or changed where the link leads.
TEST(ProtectedFolder, ALinkPlantedInTheChainIsRemovedOrRefusedAndNeverFollowed) {
  ScratchFolder base, elsewhere;
  ASSERT_TRUE(WriteBytes(elsewhere.File(L"keep.txt"), "precious"));
  // At the last name, then at a folder in the middle of the chain.
  for (const std::wstring planted : {L"Maker/Work", L"Maker"}) {
    SCOPED_TRACE(std::string(planted.begin(), planted.end()));
    if (planted != L"Maker") {
      ASSERT_TRUE(CreateFolderChain(base.File(L"Maker")));
    }
    ASSERT_TRUE(MakeFolderLink(Back(base.File(planted)), Back(elsewhere.Path())));

    ProtectedFolder folder;
    const ProtectedFolderStatus status = folder.Open(base.Path(), L"Maker/Work");
    if (status == ProtectedFolderStatus::Ready) {
      EXPECT_TRUE(IsRealFolder(base.File(L"Maker")));
      EXPECT_TRUE(IsRealFolder(base.File(L"Maker/Work")));
    } else {
      EXPECT_EQ(status, ProtectedFolderStatus::Link);
      EXPECT_FALSE(folder.IsOpen());
      EXPECT_TRUE(IsFolderLink(Back(base.File(planted))));
    }
    EXPECT_FALSE(FileExists(elsewhere.File(L"Work")));
    std::string kept;
    EXPECT_TRUE(ReadBytes(elsewhere.File(L"keep.txt"), kept));
    EXPECT_EQ(kept, "precious");
    folder.Close();
    RemoveFolderLink(Back(base.File(planted)));
    RemoveTree(base.File(L"Maker"));
  }
}

TEST(ProtectedFolder, RefusesWhatItCannotTrust) {
  ScratchFolder base;
  ProtectedFolder folder;
  // A file where a folder belongs, an unsafe sub-path, no base at all.
  ASSERT_TRUE(WriteBytes(base.File(L"File"), "x"));
  EXPECT_EQ(folder.Open(base.Path(), L"File/Work"), ProtectedFolderStatus::NotAFolder);
  EXPECT_EQ(folder.Open(base.Path(), L"Maker/../Work"), ProtectedFolderStatus::NoBase);
  EXPECT_EQ(folder.Open(base.Path(), L""), ProtectedFolderStatus::NoBase);
  EXPECT_EQ(folder.Open(base.File(L"missing"), L"Work"), ProtectedFolderStatus::NoBase);
  EXPECT_FALSE(folder.IsOpen());
  EXPECT_FALSE(FileExists(base.File(L"Work")));
  // A base that is itself a link is not a base.
  ScratchFolder elsewhere;
  ASSERT_TRUE(MakeFolderLink(Back(base.File(L"LinkedBase")), Back(elsewhere.Path())));
  EXPECT_EQ(folder.Open(base.File(L"LinkedBase"), L"Work"), ProtectedFolderStatus::Link);
  EXPECT_FALSE(FileExists(elsewhere.File(L"Work")));
  RemoveFolderLink(Back(base.File(L"LinkedBase")));
}

TEST(ProtectedFolder, ANewFolderMustBeNewAndAChildHoldsTheChainOnItsOwn) {
  ScratchFolder base;
  ProtectedFolder root;
  ASSERT_EQ(root.Open(base.Path(), L"Work"), ProtectedFolderStatus::Ready);
  ProtectedFolder child;
  ASSERT_EQ(root.OpenChild(L"temp1", ProtectedFolder::Mode::CreateNew, child),
            ProtectedFolderStatus::Ready);
  EXPECT_TRUE(SamePath(child.Path(), Back(base.File(L"Work/temp1"))));
  ProtectedFolder again;
  EXPECT_EQ(root.OpenChild(L"temp1", ProtectedFolder::Mode::CreateNew, again),
            ProtectedFolderStatus::AlreadyExists);
  EXPECT_EQ(root.OpenChild(L"..", ProtectedFolder::Mode::CreateNew, again),
            ProtectedFolderStatus::NoBase);
  EXPECT_EQ(root.OpenChild(L"temp1", ProtectedFolder::Mode::OpenOrCreate, again),
            ProtectedFolderStatus::Ready);
  again.Close();

  root.Close();  // the child still holds the work folder
  EXPECT_FALSE(MoveFileW(Back(base.File(L"Work")).c_str(), Back(base.File(L"Moved")).c_str()));
  child.Close();
  EXPECT_TRUE(RemoveTree(base.File(L"Work")));
}

TEST(ProtectedFolder, CommonAppDataFolderIsARealFolder) {
  const std::wstring folder = CommonAppDataFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(IsRealFolder(folder));
}

}  // namespace
