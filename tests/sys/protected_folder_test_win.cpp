// Protected folders against the real file system, with links planted the way an unelevated
// process would plant them. Wine stores no access lists on files (a list that is set reads back
// as the default), so the list itself cannot be checked here; what can be seen is checked: where
// the folder is, that links are never followed, and that a held folder cannot be moved away.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <thread>
#include <vector>

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
  ASSERT_EQ(root.OpenChild(L"temp1", ProtectedFolder::Mode::CreateNew, child), ProtectedFolderStatus::Ready);
  EXPECT_TRUE(SamePath(child.Path(), Back(base.File(L"Work/temp1"))));
  ProtectedFolder again;
  EXPECT_EQ(root.OpenChild(L"temp1", ProtectedFolder::Mode::CreateNew, again),
            ProtectedFolderStatus::AlreadyExists);
  EXPECT_EQ(root.OpenChild(L"..", ProtectedFolder::Mode::CreateNew, again), ProtectedFolderStatus::NoBase);
  EXPECT_EQ(root.OpenChild(L"temp1", ProtectedFolder::Mode::OpenOrCreate, again),
            ProtectedFolderStatus::Ready);
  again.Close();

  root.Close();  // the child still holds the work folder
  EXPECT_FALSE(MoveFileW(Back(base.File(L"Work")).c_str(), Back(base.File(L"Moved")).c_str()));
  child.Close();
  EXPECT_TRUE(RemoveTree(base.File(L"Work")));
}

// Someone who may write in the parent (the work root is in a folder users can make) watches for
// the next work folder and, the moment it appears, moves it away and makes one of their own in
// its place, with a file in it. The folder is made relative to its parent's handle and held
// from the moment it exists, so the swap never succeeds and the folder handed out is always the
// one made: empty and at its path.
TEST(ProtectedFolder, AFolderSwappedBetweenMakingAndOpeningIsNeverUsed) {
  ScratchFolder base;
  ProtectedFolder root;
  ASSERT_EQ(root.Open(base.Path(), L"Work"), ProtectedFolderStatus::Ready);
  std::atomic<int> next{0};
  std::atomic<bool> stop{false};
  std::atomic<int> swaps{0};
  std::thread attacker([&] {
    // A folder of their own with a file in it, made beforehand and renamed into place at once.
    int moved = 0;
    std::wstring prepared;
    while (!stop) {
      if (prepared.empty()) {
        prepared = Back(base.File(L"theirs" + std::to_wstring(moved)));
        if (!CreateDirectoryW(prepared.c_str(), nullptr) ||
            !WriteBytes(prepared + L"\\planted.txt", "theirs"))
          break;
      }
      const std::wstring name = Back(base.File(L"Work/temp" + std::to_wstring(next.load())));
      const std::wstring away = Back(base.File(L"Work/away" + std::to_wstring(moved)));
      if (MoveFileW(name.c_str(), away.c_str())) {
        ++moved;
        if (MoveFileW(prepared.c_str(), name.c_str())) ++swaps;
        prepared.clear();
      }
    }
  });
  int ready = 0;
  // Every folder handed out stays held to the end: the one in use cannot be moved away.
  std::vector<ProtectedFolder> held(300);
  for (int i = 1; i <= 300; ++i) {
    next = i;
    ProtectedFolder& child = held[i - 1];
    const ProtectedFolderStatus status =
        root.OpenChild(L"temp" + std::to_wstring(i), ProtectedFolder::Mode::CreateNew, child);
    if (status != ProtectedFolderStatus::Ready) continue;
    ++ready;
    EXPECT_FALSE(FileExists(child.Path() + L"\\planted.txt")) << i;
    EXPECT_TRUE(SamePath(FinalPathOfHandle(child.Handle()), child.Path())) << i;
  }
  stop = true;
  attacker.join();
  EXPECT_EQ(ready, 300);
  EXPECT_EQ(swaps, 0);
  held.clear();
  root.Close();
}

// Only the folders below the shared ones are given the protected list; a shared folder the
// program has to make gets what its parent hands down, so the programs that share it keep
// their access to what is made in it later. Wine reads back an access list only where it could
// store one: there the lists are compared, elsewhere only the folders are checked.
TEST(ProtectedFolder, ASharedFolderItMakesKeepsWhatItsParentHandsDown) {
  ScratchFolder base;
  ProtectedFolder folder;
  ASSERT_EQ(folder.Open(base.Path(), L"Shared/Own", ProtectedFolder::Mode::OpenOrCreate, 1),
            ProtectedFolderStatus::Ready);
  EXPECT_TRUE(IsRealFolder(base.File(L"Shared")));
  EXPECT_TRUE(IsRealFolder(base.File(L"Shared/Own")));
  auto isProtected = [](const std::wstring& path, bool& known) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    known = GetNamedSecurityInfoW(Back(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    const bool result = known && GetSecurityDescriptorControl(descriptor, &control, &revision) &&
                        (control & SE_DACL_PROTECTED);
    LocalFree(descriptor);
    return result;
  };
  bool known = false;
  if (!isProtected(base.File(L"Shared/Own"), known))
    GTEST_LOG_(INFO) << "this file system keeps no access lists: only the folders are checked";
  else EXPECT_FALSE(isProtected(base.File(L"Shared"), known));
  // At least one folder of its own must follow the shared ones.
  EXPECT_EQ(folder.Open(base.Path(), L"Shared", ProtectedFolder::Mode::OpenOrCreate, 1),
            ProtectedFolderStatus::NoBase);
}

// Who may own a folder of the program's own for it to be trusted as it is. Wine reports every
// file as owned by the user it runs as, so the taking over of a folder someone else owns cannot
// be seen here; the rule is checked on the owners themselves.
TEST(ProtectedFolder, OnlyAdministratorsSystemAndTheOwnerItGivesAreTrustedOwners) {
  auto trusted = [](const wchar_t* sddl) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(sddl, &sid)) return false;
    const bool result = IsTrustedOwner(sid);
    LocalFree(sid);
    return result;
  };
  EXPECT_TRUE(trusted(L"BA"));
  EXPECT_TRUE(trusted(L"SY"));
  EXPECT_TRUE(
      trusted(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"));  // installer service
  EXPECT_FALSE(trusted(L"BU"));                                                     // Users
  EXPECT_FALSE(trusted(L"WD"));                                                     // Everyone
  EXPECT_FALSE(trusted(L"AU"));                                                     // Authenticated Users
  EXPECT_FALSE(trusted(L"S-1-5-21-1111-2222-3333-1001"));                           // another user
  EXPECT_FALSE(IsTrustedOwner(nullptr));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool read = GetTokenInformation(token, TokenOwner, buffer, sizeof buffer, &size);
  CloseHandle(token);
  ASSERT_TRUE(read);
  EXPECT_TRUE(IsTrustedOwner(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner));  // what it makes itself
}

// A link among the folders above a file the package changes is followed only when its owner is
// trusted. Wine reports every file as the running user's, so the refusal is shown here with a
// rule that trusts nobody, and the default rule with the running user's own link.
TEST(ProtectedFolder, ALinkAboveATargetIsFollowedOnlyWhenItsOwnerIsTrusted) {
  ScratchFolder base, elsewhere;
  ASSERT_TRUE(MakeFolderLink(Back(base.File(L"bin")), Back(elsewhere.Path())));
  ASSERT_TRUE(CreateFolderChain(base.File(L"plain/deeper")));
  auto nobody = [](void*) { return false; };
  EXPECT_TRUE(SamePath(UntrustedLinkAbove(Back(base.File(L"bin/old.dll")), nobody), Back(base.File(L"bin"))));
  EXPECT_TRUE(SamePath(UntrustedLinkAbove(base.File(L"bin/sub/old.dll"), nobody), Back(base.File(L"bin"))));
  EXPECT_EQ(UntrustedLinkAbove(Back(base.File(L"bin/old.dll"))), L"");  // the running user's link
  // Plain folders, missing folders and a link that is the target itself are no link above it.
  EXPECT_EQ(UntrustedLinkAbove(Back(base.File(L"plain/deeper/old.dll")), nobody), L"");
  EXPECT_EQ(UntrustedLinkAbove(Back(base.File(L"missing/deeper/old.dll")), nobody), L"");
  EXPECT_EQ(UntrustedLinkAbove(Back(base.File(L"bin")), nobody), L"");
  RemoveFolderLink(Back(base.File(L"bin")));
}

// A pass walks each folder once: what the single walk finds, it finds, and each plain folder
// it walked stays held, so that nobody moves it away until the pass lets go.
TEST(ProtectedFolder, APassHoldsThePlainFoldersItWalkedAndFindsTheLinksTheWalkFinds) {
  ScratchFolder base, elsewhere;
  ASSERT_TRUE(MakeFolderLink(Back(base.File(L"bin")), Back(elsewhere.Path())));
  ASSERT_TRUE(CreateFolderChain(base.File(L"plain/deeper")));
  ASSERT_TRUE(CreateFolderChain(elsewhere.File(L"sub")));
  LinkCheckedFolders nobody([](void*) { return false; });
  EXPECT_TRUE(SamePath(nobody.UntrustedLinkAbove(Back(base.File(L"bin/old.dll"))), Back(base.File(L"bin"))));
  EXPECT_TRUE(
      SamePath(nobody.UntrustedLinkAbove(Back(base.File(L"bin/sub/old.dll"))), Back(base.File(L"bin"))));
  EXPECT_EQ(nobody.UntrustedLinkAbove(Back(base.File(L"plain/deeper/old.dll"))), L"");
  const size_t held = nobody.HeldCount();
  EXPECT_GE(held, 2u);  // at least plain and deeper, besides the scratch folder's own chain
  EXPECT_EQ(nobody.UntrustedLinkAbove(Back(base.File(L"plain/deeper/new.dll"))), L"");
  EXPECT_EQ(nobody.UntrustedLinkAbove(Back(base.File(L"plain/other.dll"))), L"");
  EXPECT_EQ(nobody.HeldCount(), held);  // nothing walked twice
  EXPECT_EQ(nobody.UntrustedLinkAbove(Back(base.File(L"missing/deeper/old.dll"))), L"");
  EXPECT_EQ(nobody.HeldCount(), held);  // a missing folder is not held
  // A held folder cannot be moved away; once let go, it can.
  const std::wstring plain = Back(base.File(L"plain")), moved = Back(base.File(L"moved"));
  EXPECT_FALSE(MoveFileExW(plain.c_str(), moved.c_str(), 0));
  nobody.Release();
  EXPECT_EQ(nobody.HeldCount(), 0u);
  ASSERT_TRUE(MoveFileExW(plain.c_str(), moved.c_str(), 0));
  ASSERT_TRUE(MoveFileExW(moved.c_str(), plain.c_str(), 0));
  // A folder another program holds for deletion cannot be held: it and what is below it are
  // walked for every target, and a link below it is still found.
  ASSERT_TRUE(CreateFolderChain(base.File(L"plain/deeper/under")));
  ASSERT_TRUE(MakeFolderLink(Back(base.File(L"plain/deeper/linked")), Back(elsewhere.Path())));
  {
    UniqueFile deleting(CreateFileW(plain.c_str(), DELETE | FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(deleting.Valid());
    LinkCheckedFolders busy([](void*) { return false; });
    EXPECT_EQ(busy.UntrustedLinkAbove(Back(base.File(L"plain/deeper/under/old.dll"))), L"");
    const size_t aboveBusy = busy.HeldCount();
    EXPECT_TRUE(SamePath(busy.UntrustedLinkAbove(Back(base.File(L"plain/deeper/linked/old.dll"))),
                         Back(base.File(L"plain/deeper/linked"))));
    EXPECT_EQ(busy.UntrustedLinkAbove(Back(base.File(L"plain/deeper/under/new.dll"))), L"");
    EXPECT_EQ(busy.HeldCount(), aboveBusy);  // nothing at or below the busy folder
  }
  RemoveFolderLink(Back(base.File(L"plain/deeper/linked")));
  // A link whose owner is trusted is followed, and nothing at or below it is held: it is walked
  // again for every target.
  LinkCheckedFolders trusting;
  EXPECT_EQ(trusting.UntrustedLinkAbove(Back(base.File(L"bin/sub/old.dll"))), L"");
  const size_t aboveLink = trusting.HeldCount();
  EXPECT_EQ(trusting.UntrustedLinkAbove(Back(base.File(L"plain/deeper/old.dll"))), L"");
  EXPECT_EQ(trusting.HeldCount(), aboveLink + 2);  // plain and deeper only
  trusting.Release();
  RemoveFolderLink(Back(base.File(L"bin")));
}

// A held folder that is made a link where it stands (an empty folder can be, by whoever may
// write its attributes) is found at the next target below it.
TEST(ProtectedFolder, AHeldFolderMadeALinkIsFoundByTheNextTargetBelowIt) {
  ScratchFolder base, elsewhere;
  ASSERT_TRUE(CreateFolderChain(base.File(L"app/empty")));
  LinkCheckedFolders nobody([](void*) { return false; });
  ASSERT_EQ(nobody.UntrustedLinkAbove(Back(base.File(L"app/empty/first.dll"))), L"");
  const size_t held = nobody.HeldCount();
  ASSERT_TRUE(TurnFolderIntoLink(Back(base.File(L"app/empty")), Back(elsewhere.Path())));
  EXPECT_TRUE(SamePath(nobody.UntrustedLinkAbove(Back(base.File(L"app/empty/second.dll"))),
                       Back(base.File(L"app/empty"))));
  EXPECT_EQ(nobody.HeldCount(), held - 1);  // the link is no longer held
  nobody.Release();
  RemoveFolderLink(Back(base.File(L"app/empty")));
  RemoveDirectoryW(Back(base.File(L"app/empty.moved")).c_str());
}

TEST(ProtectedFolder, CommonAppDataFolderIsARealFolder) {
  const std::wstring folder = CommonAppDataFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(IsRealFolder(folder));
}

}  // namespace
