// The file changes with their undo, on the in-memory machine: a file record deleted or copied and
// the folders a deletion left empty, decided from the files as they are, each change's undo
// journaled before it; each record's inverse; and a package mixing file and registry changes cut
// off by a crash before every change the machine or the journal sees, then recovered from the
// journal as the next run recovers it (its undo itself cut off at every step and repeated): the
// files and the registry end exactly as they were before the package.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

#include "apply/file_changes.h"
#include "apply/memory_files.h"
#include "apply/memory_registry.h"
#include "apply/nothing_noted.h"
#include "apply/package_executor.h"
#include "apply/registry_changes.h"
#include "package/diff_distribute.h"
#include "package/object_records.h"
#include "support/filling_notes.h"
#include "support/package_action_text.h"
#include "support/power_cut.h"
#include "support/registry_values.h"
#include "support/tree_picture.h"
#include "uninstlog/path_key.h"

namespace brindle {
namespace {

const std::wstring kApp = L"C:\\Program Files\\Tamek\\App";
const std::wstring kInst = L"C:\\Work\\Package\\INST";
const std::wstring kBackups = L"C:\\Work\\Backup";
const std::vector<std::wstring> kProtected = {L"C:\\Program Files", L"C:\\Windows", L"C:\\Windows\\System32"};

FileFacts Version(std::uint64_t version) {
  FileFacts facts;
  facts.hasVersion = true;
  facts.version = version;
  return facts;
}

class FileChangesTest : public ::testing::Test {
 protected:
  FileChangesTest()
      : journal_(std::make_unique<CutSink>(disk_, power_)),
        notes_(journal_, kBackups),
        registryNotes_(registry_, journal_) {
    files_.AddFolder(kBackups, true);
    journal_.Start();
  }

  FileChangeResult Delete(const std::wstring& target, int delInfo = kDelInfoDelete, bool inUpdate = false) {
    FileDeletionRequest request;
    request.target = target;
    request.is64Bit = true;
    request.delInfo = delInfo;
    request.inUpdate = inUpdate;
    return DeleteFileRecord(files_, notes_, registry_, registryNotes_, request);
  }

  FileCopyRequest CopyOf(const std::wstring& name, const std::wstring& target, bool inAdd = true) {
    FileCopyRequest request;
    request.source = kInst + L"\\" + name;
    request.target = target;
    request.is64Bit = true;
    request.delInfo = kDelInfoDelete;
    request.inAdd = inAdd;
    return request;
  }

  FileChangeResult Copy(const FileCopyRequest& request) {
    return CopyFileRecord(files_, notes_, registry_, registryNotes_, request);
  }

  // The kinds of the journal's records after its start, in order.
  std::vector<UndoKind> Kinds() const {
    std::vector<UndoKind> kinds;
    for (const UndoRecord& record : journal_.Records()) kinds.push_back(record.kind);
    return kinds;
  }

  // The whole journal taken back, last record first.
  void UndoAll() {
    FileUndo fileUndo(files_);
    RegistryUndo registryUndo(registry_);
    EXPECT_TRUE(UndoByFamilies(journal_.Records(), {&fileUndo, &registryUndo}));
  }

  std::uint32_t Count(const std::wstring& file) {
    SharedCount count;
    EXPECT_EQ(ReadSharedCount(registry_, file, count), kSysSuccess);
    return count.present ? count.count : 0;
  }

  std::string disk_;
  Power power_;
  MemoryFiles files_;
  MemoryRegistry registry_;
  CQXChangeJournal journal_;
  FileNotesToJournal notes_;
  RegistryNotesToJournal registryNotes_;
};

// ---- the in-memory machine ----------------------------------------------------------------------

TEST(MemoryFiles, ComparesPathsAsWindowsAndKeepsTheSystemFolderOfEachView) {
  MemoryFiles f;
  f.AddFile(L"C:\\Windows\\System32\\a.dll", true, "64");
  f.AddFile(L"C:\\Windows\\System32\\a.dll", false, "32");
  EXPECT_EQ(f.Bytes(L"c:/windows//system32\\A.DLL", true), "64");
  EXPECT_EQ(f.Bytes(L"C:\\Windows\\SysWOW64\\a.dll", true), "32");
  f.AddFile(L"C:\\Tamek\\b.dll", false, "shared");
  EXPECT_EQ(f.Bytes(L"C:\\TAMEK\\B.dll", true), "shared");

  PathState state;
  ASSERT_EQ(f.Look(L"C:\\Tamek\\nothing.dll", true, state), kSysSuccess);
  EXPECT_FALSE(state.exists);
  EXPECT_EQ(f.RemoveFile(L"C:\\Tamek\\nothing.dll", true), kSysFileNotFound);
  EXPECT_EQ(f.RemoveFile(L"C:\\Nowhere\\nothing.dll", true), kSysPathNotFound);
  EXPECT_EQ(f.RemoveFolder(L"C:\\Tamek", true), kSysDirNotEmpty);
  EXPECT_EQ(f.CreateFolder(L"C:\\Nowhere\\Deep", true), kSysPathNotFound);
}

TEST(MemoryFiles, AFileInUseOrReadOnlyRefusesAsWindowsDoes) {
  MemoryFiles f;
  f.AddFile(L"C:\\Tamek\\used.dll", true, "u");
  f.AddFile(L"C:\\Tamek\\kept.dll", true, "k", {}, kAttributeReadOnly);
  f.AddFile(L"C:\\Tamek\\new.dll", true, "n");
  f.SetInUse(L"C:\\Tamek\\used.dll", true);
  EXPECT_EQ(f.RenameFile(L"C:\\Tamek\\used.dll", L"C:\\Tamek\\moved.dll", true, false), kSysSharingViolation);
  EXPECT_EQ(f.RemoveFile(L"C:\\Tamek\\used.dll", true), kSysSharingViolation);
  EXPECT_EQ(f.PlaceFile(L"C:\\Tamek\\new.dll", L"C:\\Tamek\\used.dll", true, false), kSysSharingViolation);
  EXPECT_EQ(f.RemoveFile(L"C:\\Tamek\\kept.dll", true), kSysAccessDenied);
  EXPECT_EQ(f.PlaceFile(L"C:\\Tamek\\new.dll", L"C:\\Tamek\\kept.dll", true, false), kSysAccessDenied);
  EXPECT_EQ(f.RenameFile(L"C:\\Tamek\\new.dll", L"C:\\Tamek\\kept.dll", true, false), kSysAlreadyExists);
  // A read-only file is renamed, as Windows renames it.
  EXPECT_EQ(f.RenameFile(L"C:\\Tamek\\kept.dll", L"C:\\Tamek\\renamed.dll", true, false), kSysSuccess);
  EXPECT_EQ(f.Attributes(L"C:\\Tamek\\renamed.dll", true), std::uint32_t(kAttributeReadOnly));
}

// ---- deletion -----------------------------------------------------------------------------------

TEST_F(FileChangesTest, AHeldFileStaysAndItsLineSaysSuccess) {
  files_.AddFile(kApp + L"\\held.dll", true, "h");
  const FileChangeResult result = Delete(kApp + L"\\held.dll", kDelInfoHold);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(result.code, kSysSuccess);
  EXPECT_TRUE(files_.HasFile(kApp + L"\\held.dll", true));
  EXPECT_TRUE(Kinds().empty());
}

TEST_F(FileChangesTest, ASharedFileOthersStillUseHasItsCountLoweredAndStays) {
  const std::wstring dll = kApp + L"\\shared.dll";
  files_.AddFile(dll, true, "s");
  registry_.WriteValue(SharedCountsKey(), dll, DwordValue(3), false);
  const FileChangeResult result = Delete(dll, kDelInfoReference);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(result.code, kSysSuccess);
  EXPECT_EQ(Count(dll), 2u);
  EXPECT_TRUE(files_.HasFile(dll, true));
  EXPECT_EQ(Kinds(), std::vector<UndoKind>({UndoKind::RegistryValue}));
}

TEST_F(FileChangesTest, TheLastUserMovesTheFileAsideAndTakesItsCount) {
  const std::wstring dll = kApp + L"\\last.dll";
  files_.AddFile(dll, true, "old");
  registry_.WriteValue(SharedCountsKey(), dll, DwordValue(1), false);
  const std::wstring before = files_.Listing() + registry_.Listing();
  const FileChangeResult result = Delete(dll, kDelInfoReference);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(result.code, kSysSuccess);
  EXPECT_FALSE(result.queuedAtRestart);
  EXPECT_FALSE(files_.HasFile(dll, true));
  EXPECT_EQ(Count(dll), 0u);
  ASSERT_EQ(Kinds(), std::vector<UndoKind>({UndoKind::RegistryValue, UndoKind::FileMovedAside}));
  const UndoRecord& aside = journal_.Records()[1];
  EXPECT_EQ(aside.other, kBackups + L"\\000001.old");
  EXPECT_EQ(files_.Bytes(aside.other, true), "old");
  UndoAll();
  EXPECT_EQ(files_.Listing() + registry_.Listing(), before);
}

TEST_F(FileChangesTest, AMissingFileCountsAsDeletedWithTheSystemsCode) {
  files_.AddFolder(kApp, true);
  FileChangeResult result = Delete(kApp + L"\\gone.dll");
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(result.code, kSysFileNotFound);
  result = Delete(kApp + L"\\NoFolder\\gone.dll");
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(result.code, kSysPathNotFound);
  EXPECT_TRUE(Kinds().empty());
}

TEST_F(FileChangesTest, AReadOnlyFileInUseIsQueuedForTheRestartWithItsAttributesNoted) {
  const std::wstring dll = kApp + L"\\busy.dll";
  files_.AddFile(dll, true, "b", {}, kAttributeReadOnly);
  files_.SetInUse(dll, true);
  const std::wstring before = files_.Listing();
  const FileChangeResult result = Delete(dll);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(result.code, kSysSharingViolation);  // the line carries the move's error
  EXPECT_TRUE(result.queuedAtRestart);
  EXPECT_EQ(files_.Attributes(dll, true), std::uint32_t(kAttributeNormal));
  ASSERT_EQ(files_.RestartQueue().size(), 1u);
  EXPECT_EQ(files_.RestartQueue()[0].first, dll);
  EXPECT_EQ(files_.RestartQueue()[0].second, L"");
  ASSERT_EQ(Kinds(), std::vector<UndoKind>({UndoKind::FileMovedAside, UndoKind::AttributesChanged,
                                            UndoKind::RestartMoveQueued}));
  EXPECT_EQ(journal_.Records()[1].attributes, std::uint32_t(kAttributeReadOnly));
  UndoAll();
  EXPECT_EQ(files_.Listing(), before);
}

TEST_F(FileChangesTest, ADeletionTheRestartQueueRefusesFailsWithItsCode) {
  const std::wstring dll = kApp + L"\\busy.dll";
  files_.AddFile(dll, true, "b");
  files_.SetInUse(dll, true);
  files_.RefuseRestartMoves(kSysAccessDenied);
  const FileChangeResult result = Delete(dll);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kFailed);
  EXPECT_EQ(result.code, kSysAccessDenied);
  EXPECT_FALSE(result.queuedAtRestart);
}

TEST_F(FileChangesTest, AFolderInTheFilesPlaceIsLeftAloneAndTheDeletionFails) {
  files_.AddFile(kApp + L"\\odd.dll\\inside.txt", true, "i");
  registry_.WriteValue(SharedCountsKey(), kApp + L"\\odd.dll", DwordValue(1), false);
  const FileChangeResult result = Delete(kApp + L"\\odd.dll", kDelInfoReference);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kFailed);
  EXPECT_EQ(result.code, kSysAccessDenied);
  EXPECT_TRUE(files_.HasFile(kApp + L"\\odd.dll\\inside.txt", true));
  EXPECT_TRUE(files_.RestartQueue().empty());
  EXPECT_EQ(Count(kApp + L"\\odd.dll"), 1u);
  EXPECT_TRUE(Kinds().empty());
}

TEST_F(FileChangesTest, AnUpdatesDeletionLeavesTheCountAlone) {
  const std::wstring dll = kApp + L"\\shared.dll";
  files_.AddFile(dll, true, "s");
  registry_.WriteValue(SharedCountsKey(), dll, DwordValue(1), false);
  EXPECT_EQ(Delete(dll, kDelInfoReference, true).outcome, FileChangeOutcome::kDone);
  EXPECT_FALSE(files_.HasFile(dll, true));
  EXPECT_EQ(Count(dll), 1u);
}

TEST_F(FileChangesTest, AChangeWhoseUndoCannotBeNotedIsNotMade) {
  const std::wstring busy = kApp + L"\\busy.dll";
  files_.AddFile(kApp + L"\\a.dll", true, "a");
  files_.AddFile(busy, true, "b", {}, kAttributeReadOnly);
  files_.SetInUse(busy, true);
  files_.AddFile(kInst + L"\\a.dll", true, "new", Version(2));
  files_.AddFile(kInst + L"\\b.dll", true, "new");
  files_.AddFolder(kApp + L"\\Empty", true);
  const std::wstring before = files_.Listing();
  auto deleteWith = [&](int allowed, const std::wstring& target) {
    FillingNotes notes(allowed, kBackups + L"\\000001.old");
    FileDeletionRequest request;
    request.target = target;
    request.is64Bit = true;
    request.delInfo = kDelInfoDelete;
    return DeleteFileRecord(files_, notes, registry_, registryNotes_, request).outcome;
  };
  auto copyWith = [&](int allowed, const FileCopyRequest& request) {
    FillingNotes notes(allowed, kBackups + L"\\000001.old");
    return CopyFileRecord(files_, notes, registry_, registryNotes_, request).outcome;
  };
  EXPECT_EQ(deleteWith(0, kApp + L"\\a.dll"), FileChangeOutcome::kFailPackage);
  EXPECT_EQ(copyWith(0, CopyOf(L"a.dll", kApp + L"\\a.dll", false)), FileChangeOutcome::kFailPackage);
  EXPECT_EQ(copyWith(0, CopyOf(L"b.dll", kApp + L"\\New\\b.dll")), FileChangeOutcome::kFailPackage);
  FillingNotes full(0, kBackups + L"\\000001.old");
  EXPECT_EQ(RemoveEmptyFolders(files_, full, kApp + L"\\Empty", kProtected, true),
            FileChangeOutcome::kFailPackage);
  EXPECT_EQ(files_.Listing(), before);

  // The file in use: its attributes stay when they cannot be noted, and nothing is queued.
  EXPECT_EQ(deleteWith(1, busy), FileChangeOutcome::kFailPackage);
  EXPECT_EQ(files_.Attributes(busy, true), std::uint32_t(kAttributeReadOnly));
  EXPECT_EQ(deleteWith(2, busy), FileChangeOutcome::kFailPackage);
  EXPECT_TRUE(files_.RestartQueue().empty());
  // The folder noted is made; the file that could not be noted is not placed.
  EXPECT_EQ(copyWith(1, CopyOf(L"b.dll", kApp + L"\\New\\b.dll")), FileChangeOutcome::kFailPackage);
  EXPECT_TRUE(files_.HasFolder(kApp + L"\\New", true));
  EXPECT_FALSE(files_.HasFile(kApp + L"\\New\\b.dll", true));
  // The replacement beside a file in use is placed, but not queued without its note.
  FileCopyRequest pending = CopyOf(L"a.dll", kApp + L"\\a.dll", false);
  pending.pendingDeletion = true;
  EXPECT_EQ(copyWith(1, pending), FileChangeOutcome::kFailPackage);
  EXPECT_TRUE(files_.RestartQueue().empty());
}

// ---- copy ---------------------------------------------------------------------------------------

TEST_F(FileChangesTest, ANewFileIsAddedWithItsFoldersMadeOutermostFirst) {
  files_.AddFile(kInst + L"\\new.dll", true, "new");
  files_.AddFolder(L"C:\\Program Files", true);
  const std::wstring before = files_.Listing();
  const FileChangeResult result = Copy(CopyOf(L"new.dll", kApp + L"\\Bin\\new.dll"));
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_TRUE(result.written);
  EXPECT_EQ(result.code, kSysSuccess);
  EXPECT_EQ(files_.Bytes(kApp + L"\\Bin\\new.dll", true), "new");
  EXPECT_FALSE(files_.HasFile(kInst + L"\\new.dll", true));  // used once: moved
  ASSERT_EQ(Kinds(), std::vector<UndoKind>({UndoKind::FolderCreated, UndoKind::FolderCreated,
                                            UndoKind::FolderCreated, UndoKind::FileCreated}));
  EXPECT_EQ(journal_.Records()[0].path, L"C:\\Program Files\\Tamek");
  EXPECT_EQ(journal_.Records()[2].path, kApp + L"\\Bin");
  UndoAll();
  files_.AddFile(kInst + L"\\new.dll", true, "new");  // the package's file goes with the package
  EXPECT_EQ(files_.Listing(), before);
}

TEST_F(FileChangesTest, ASourceOtherRecordsNeedIsCopied) {
  files_.AddFile(kInst + L"\\new.dll", true, "new");
  FileCopyRequest request = CopyOf(L"new.dll", kApp + L"\\new.dll");
  request.sourceUsedOnce = false;
  EXPECT_EQ(Copy(request).outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(files_.Bytes(kApp + L"\\new.dll", true), "new");
  EXPECT_TRUE(files_.HasFile(kInst + L"\\new.dll", true));
}

TEST_F(FileChangesTest, AnInstalledFileNotOlderIsKeptAndWritesNoLine) {
  files_.AddFile(kInst + L"\\a.dll", true, "new", Version(2));
  files_.AddFile(kApp + L"\\a.dll", true, "installed", Version(3));
  const std::wstring before = files_.Listing();
  const FileChangeResult result = Copy(CopyOf(L"a.dll", kApp + L"\\a.dll"));
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_FALSE(result.written);
  EXPECT_EQ(files_.Listing(), before);
  EXPECT_TRUE(Kinds().empty());
}

TEST_F(FileChangesTest, AKeptSharedFileStillCountsThePackagesUse) {
  files_.AddFile(kInst + L"\\a.dll", true, "new", Version(2));
  files_.AddFile(kApp + L"\\a.dll", true, "installed", Version(2));
  registry_.WriteValue(SharedCountsKey(), kApp + L"\\a.dll", DwordValue(1), false);
  FileCopyRequest request = CopyOf(L"a.dll", kApp + L"\\a.dll");
  request.delInfo = kDelInfoReference;
  request.raisesCount = true;
  const FileChangeResult result = Copy(request);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_TRUE(result.written);
  EXPECT_EQ(result.code, kSysSuccess);
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll", true), "installed");
  EXPECT_EQ(Count(kApp + L"\\a.dll"), 2u);
  // A record the uninstall log already lists raises nothing.
  request.raisesCount = false;
  EXPECT_TRUE(Copy(request).written);
  EXPECT_EQ(Count(kApp + L"\\a.dll"), 2u);
}

TEST_F(FileChangesTest, AnOlderInstalledFileIsMovedAsideBeforeTheNewOneIsPlaced) {
  files_.AddFile(kInst + L"\\a.dll", true, "new", Version(3));
  files_.AddFile(kApp + L"\\a.dll", true, "old", Version(2));
  const std::wstring before = files_.Listing();
  const FileChangeResult result = Copy(CopyOf(L"a.dll", kApp + L"\\a.dll"));
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll", true), "new");
  ASSERT_EQ(Kinds(), std::vector<UndoKind>({UndoKind::FileMovedAside}));
  EXPECT_EQ(files_.Bytes(journal_.Records()[0].other, true), "old");
  UndoAll();
  files_.AddFile(kInst + L"\\a.dll", true, "new", Version(3));
  EXPECT_EQ(files_.Listing(), before);
}

TEST_F(FileChangesTest, AnUpdateReplacesTheInstalledFileWhateverItsAge) {
  files_.AddFile(kInst + L"\\a.dll", true, "new", Version(1));
  files_.AddFile(kApp + L"\\a.dll", true, "old", Version(5), kAttributeReadOnly);
  const FileChangeResult result = Copy(CopyOf(L"a.dll", kApp + L"\\a.dll", false));
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll", true), "new");
  EXPECT_EQ(Kinds(), std::vector<UndoKind>({UndoKind::FileMovedAside}));
  // One where there was none is new.
  files_.AddFile(kInst + L"\\b.dll", true, "b");
  EXPECT_EQ(Copy(CopyOf(L"b.dll", kApp + L"\\b.dll", false)).outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(Kinds().back(), UndoKind::FileCreated);
}

TEST_F(FileChangesTest, AnUpdateOfAFileInUseFailsThePackage) {
  files_.AddFile(kInst + L"\\a.dll", true, "new");
  files_.AddFile(kApp + L"\\a.dll", true, "old");
  files_.SetInUse(kApp + L"\\a.dll", true);
  const FileChangeResult result = Copy(CopyOf(L"a.dll", kApp + L"\\a.dll", false));
  EXPECT_EQ(result.outcome, FileChangeOutcome::kFailPackage);
  EXPECT_EQ(result.code, kSysSharingViolation);
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll", true), "old");
}

TEST_F(FileChangesTest, AnAddOverAFileInUseWaitsBesideItForTheRestart) {
  files_.AddFile(kInst + L"\\a.dll", true, "new", Version(3));
  files_.AddFile(kApp + L"\\a.dll", true, "old", Version(2));
  files_.AddFile(kApp + L"\\a.dll.tmp0001", true, "someone else's");
  files_.SetInUse(kApp + L"\\a.dll", true);
  registry_.WriteValue(SharedCountsKey(), kApp + L"\\a.dll", DwordValue(1), false);
  const std::wstring before = files_.Listing() + registry_.Listing();
  FileCopyRequest request = CopyOf(L"a.dll", kApp + L"\\a.dll");
  request.delInfo = kDelInfoReference;
  request.raisesCount = true;
  const FileChangeResult result = Copy(request);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(result.code, kSysSharingViolation);
  EXPECT_TRUE(result.queuedAtRestart);
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll", true), "old");
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll.tmp0002", true), "new");
  ASSERT_EQ(files_.RestartQueue().size(), 1u);
  EXPECT_EQ(files_.RestartQueue()[0].first, kApp + L"\\a.dll.tmp0002");
  EXPECT_EQ(files_.RestartQueue()[0].second, kApp + L"\\a.dll");
  EXPECT_EQ(Count(kApp + L"\\a.dll"), 2u);  // counted as if in place
  UndoAll();
  EXPECT_EQ(files_.Listing() + registry_.Listing(), before);
}

TEST_F(FileChangesTest, AFileWhoseDeletionIsPendingIsReplacedAtTheRestart) {
  files_.AddFile(kInst + L"\\a.dll", true, "new");
  files_.AddFile(kApp + L"\\a.dll", true, "old");
  FileCopyRequest request = CopyOf(L"a.dll", kApp + L"\\a.dll", false);
  request.pendingDeletion = true;
  const FileChangeResult result = Copy(request);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(result.code, kSysSuccess);
  EXPECT_TRUE(result.queuedAtRestart);
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll", true), "old");
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll.tmp0001", true), "new");
  EXPECT_TRUE(files_.HasFile(kInst + L"\\a.dll", true));  // the copy beside it is never a move
  EXPECT_EQ(Kinds(), std::vector<UndoKind>({UndoKind::FileCreated, UndoKind::RestartMoveQueued}));
}

TEST_F(FileChangesTest, AReplacementTheRestartQueueRefusesLeavesNothingBesideAndFailsThePackage) {
  files_.AddFile(kInst + L"\\a.dll", true, "new");
  files_.AddFile(kApp + L"\\a.dll", true, "old");
  files_.RefuseRestartMoves(kSysAccessDenied);
  FileCopyRequest request = CopyOf(L"a.dll", kApp + L"\\a.dll", false);
  request.pendingDeletion = true;
  const FileChangeResult result = Copy(request);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kFailPackage);
  EXPECT_EQ(result.code, kSysAccessDenied);
  ASSERT_NE(result.lineVerb, nullptr);
  EXPECT_EQ(std::wstring(result.lineVerb), L"REPLACE_AT_RESTART");
  EXPECT_FALSE(files_.HasFile(kApp + L"\\a.dll.tmp0001", true));
}

TEST_F(FileChangesTest, ACopyBesideAFileInUseThatFailsNamesTheFileItCouldNotMake) {
  files_.AddFile(kApp + L"\\a.dll", true, "old");
  files_.AddFolder(kInst, true);  // the package's own file is gone
  FileCopyRequest request = CopyOf(L"a.dll", kApp + L"\\a.dll", false);
  request.pendingDeletion = true;
  const FileChangeResult result = Copy(request);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kFailPackage);
  ASSERT_NE(result.lineVerb, nullptr);
  EXPECT_EQ(std::wstring(result.lineVerb), L"REPLACE_AT_RESTART");
  EXPECT_EQ(result.lineObject, kApp + L"\\a.dll.tmp0001");
  EXPECT_EQ(result.code, kSysFileNotFound);
}

// A folder the step found (or made) for an earlier file, removed by another program since, is
// made again (noted first) and the file placed.
TEST_F(FileChangesTest, AFolderKnownToTheStepButRemovedSinceIsMadeAgain) {
  files_.AddFile(kInst + L"\\a.dll", true, "new");
  FileCopyRequest request = CopyOf(L"a.dll", kApp + L"\\Gone\\a.dll");
  request.folderExists = true;
  const FileChangeResult result = Copy(request);
  EXPECT_EQ(result.outcome, FileChangeOutcome::kDone);
  EXPECT_FALSE(result.targetExisted);
  EXPECT_EQ(files_.Bytes(kApp + L"\\Gone\\a.dll", true), "new");
  UndoAll();
  EXPECT_FALSE(files_.HasFolder(kApp + L"\\Gone", true));
}

TEST_F(FileChangesTest, WithoutBackupsOldFilesAreDeletedReadOnlyOrNot) {
  files_.AddFile(kInst + L"\\a.dll", true, "new");
  files_.AddFile(kApp + L"\\a.dll", true, "old", {}, kAttributeReadOnly);
  files_.AddFile(kApp + L"\\b.dll", true, "old", {}, kAttributeReadOnly);
  NothingNotedFiles none;
  NothingNoted noRegistryNotes;
  const FileChangeResult copied =
      CopyFileRecord(files_, none, registry_, noRegistryNotes, CopyOf(L"a.dll", kApp + L"\\a.dll", false));
  EXPECT_EQ(copied.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(copied.code, kSysSuccess);
  EXPECT_EQ(files_.Bytes(kApp + L"\\a.dll", true), "new");
  FileDeletionRequest deletion;
  deletion.target = kApp + L"\\b.dll";
  deletion.is64Bit = true;
  deletion.delInfo = kDelInfoDelete;
  const FileChangeResult deleted = DeleteFileRecord(files_, none, registry_, noRegistryNotes, deletion);
  EXPECT_EQ(deleted.outcome, FileChangeOutcome::kDone);
  EXPECT_EQ(deleted.code, kSysSuccess);
  EXPECT_FALSE(files_.HasFile(kApp + L"\\b.dll", true));
  EXPECT_FALSE(files_.HasFile(kBackups + L"\\000001.old", true));
}

// ---- the emptied folders ------------------------------------------------------------------------

TEST_F(FileChangesTest, EmptiedFoldersGoUpToTheProtectedOneWithTheirAttributesNoted) {
  files_.AddFolder(kApp + L"\\Sub\\Deep", true);
  files_.SetAttributes(kApp + L"\\Sub", true, kAttributeReadOnly);
  const std::wstring before = files_.Listing();
  EXPECT_EQ(RemoveEmptyFolders(files_, notes_, kApp + L"\\Sub\\Deep\\", kProtected, true),
            FileChangeOutcome::kDone);
  EXPECT_FALSE(files_.HasFolder(L"C:\\Program Files\\Tamek", true));
  EXPECT_TRUE(files_.HasFolder(L"C:\\Program Files", true));
  ASSERT_EQ(journal_.Records().size(), 4u);
  EXPECT_EQ(journal_.Records()[1].path, kApp + L"\\Sub");
  EXPECT_EQ(journal_.Records()[1].attributes, std::uint32_t(kAttributeDirectory | kAttributeReadOnly));
  UndoAll();
  EXPECT_EQ(files_.Listing(), before);
}

TEST_F(FileChangesTest, TheSweepStopsAtAFolderThatHoldsSomething) {
  files_.AddFolder(kApp + L"\\Sub", true);
  files_.AddFile(kApp + L"\\kept.txt", true, "k");
  RemoveEmptyFolders(files_, notes_, kApp + L"\\Sub", kProtected, true);
  EXPECT_FALSE(files_.HasFolder(kApp + L"\\Sub", true));
  EXPECT_TRUE(files_.HasFolder(kApp, true));
}

TEST_F(FileChangesTest, AProtectedFolderAndWhatLiesOutsideThemStay) {
  files_.AddFolder(L"C:\\Program Files", true);
  files_.AddFolder(L"C:\\Elsewhere\\Empty", true);
  files_.AddFolder(L"C:\\Windows\\System32\\Tamek", true);
  RemoveEmptyFolders(files_, notes_, L"c:\\program files\\", kProtected, true);
  RemoveEmptyFolders(files_, notes_, L"C:\\Elsewhere\\Empty", kProtected, true);
  EXPECT_TRUE(files_.HasFolder(L"C:\\Program Files", true));
  EXPECT_TRUE(files_.HasFolder(L"C:\\Elsewhere\\Empty", true));
  // Inside two protected folders: the inner one stops the walk.
  RemoveEmptyFolders(files_, notes_, L"C:\\WINDOWS\\system32\\tamek", kProtected, true);
  EXPECT_FALSE(files_.HasFolder(L"C:\\Windows\\System32\\Tamek", true));
  EXPECT_TRUE(files_.HasFolder(L"C:\\Windows\\System32", true));
  EXPECT_EQ(Kinds(), std::vector<UndoKind>({UndoKind::FolderRemoved}));
}

// The folders' emptiness looked at, counted.
class CountingLooks : public MemoryFiles {
 public:
  unsigned long IsFolderEmpty(const std::wstring& path, bool is64Bit, bool& empty) override {
    if (!removing_) ++looks[UpperOrdinal(path)];
    return MemoryFiles::IsFolderEmpty(path, is64Bit, empty);
  }
  unsigned long RemoveFolder(const std::wstring& path, bool is64Bit) override {
    removing_ = true;  // its own look at the folder is not the sweep's
    const unsigned long removed = MemoryFiles::RemoveFolder(path, is64Bit);
    removing_ = false;
    return removed;
  }
  std::map<std::wstring, int> looks;

 private:
  bool removing_ = false;
};

// A pass that emptied many folders sweeps them together: each folder is looked at once, a folder
// above several of them after all below it, and what goes is what the walk from each would
// remove; the undo brings every folder back.
TEST_F(FileChangesTest, EmptiedFoldersSweptTogetherAreEachLookedAtOnce) {
  CountingLooks files;
  files.AddFolder(kApp + L"\\a", true);
  files.AddFolder(kApp + L"\\B\\c", true);
  files.AddFolder(kApp + L"\\d", true);
  files.AddFile(kApp + L"\\keep\\x.txt", true, "x");
  MemoryFiles oneByOne = files;
  const std::vector<std::wstring> emptied = {kApp + L"\\a", kApp + L"\\b\\C\\", kApp + L"\\d",
                                             kApp + L"\\keep"};
  const std::wstring before = files.Listing();

  EXPECT_EQ(RemoveEmptiedFolders(files, notes_, emptied, {}, kProtected, true), FileChangeOutcome::kDone);
  std::string otherDisk;
  Power otherPower;
  CQXChangeJournal other(std::make_unique<CutSink>(otherDisk, otherPower));
  other.Start();
  FileNotesToJournal otherNotes(other, kBackups);
  for (const std::wstring& folder : emptied)
    RemoveEmptyFolders(oneByOne, otherNotes, folder, kProtected, true);
  EXPECT_EQ(files.Listing(), oneByOne.Listing());
  EXPECT_FALSE(files.HasFolder(kApp + L"\\B", true));
  EXPECT_TRUE(files.HasFolder(kApp + L"\\keep", true));
  EXPECT_EQ(files.looks[UpperOrdinal(kApp)], 1);
  for (const auto& looked : files.looks) EXPECT_EQ(looked.second, 1) << looked.first;

  // The last folder of the application going takes the application's folders with it.
  files.RemoveFile(kApp + L"\\keep\\x.txt", true);
  files.looks.clear();
  EXPECT_EQ(RemoveEmptiedFolders(files, notes_, {kApp + L"\\keep"}, {}, kProtected, true),
            FileChangeOutcome::kDone);
  EXPECT_FALSE(files.HasFolder(L"C:\\Program Files\\Tamek", true));
  EXPECT_TRUE(files.HasFolder(L"C:\\Program Files", true));

  // Undone last first: every folder back (the file was removed outside the journal).
  FileUndo undo(files);
  EXPECT_TRUE(UndoByFamilies(journal_.Records(), {&undo}));
  files.AddFile(kApp + L"\\keep\\x.txt", true, "x");
  EXPECT_EQ(files.Listing(), before);
}

// A folder a later copy of the package places files in is not removed only to be made again: it
// stays, with its attributes, and so do the folders above it; the other emptied folders go.
TEST_F(FileChangesTest, EmptiedFoldersThePackageRefillsStayWithTheFoldersAboveThem) {
  MemoryFiles files;
  files.AddFolder(kApp + L"\\bin", true);
  files.SetAttributes(kApp + L"\\bin", true, kAttributeDirectory | kAttributeReadOnly);
  files.AddFolder(kApp + L"\\lib\\old", true);
  files.AddFolder(kApp + L"\\doc", true);
  const std::vector<std::wstring> emptied = {kApp + L"\\bin", kApp + L"\\lib\\old", kApp + L"\\doc"};
  // The first refilled in other letters, the second a folder still to be made below an emptied one.
  const std::vector<std::wstring> refilled = {kApp + L"\\BIN\\", kApp + L"\\lib\\new\\x"};

  EXPECT_EQ(RemoveEmptiedFolders(files, notes_, emptied, refilled, kProtected, true),
            FileChangeOutcome::kDone);
  PathState bin;
  ASSERT_EQ(files.Look(kApp + L"\\bin", true, bin), kSysSuccess);
  EXPECT_TRUE(bin.exists);
  EXPECT_TRUE(bin.attributes & kAttributeReadOnly);
  EXPECT_TRUE(files.HasFolder(kApp + L"\\lib", true));
  EXPECT_FALSE(files.HasFolder(kApp + L"\\lib\\old", true));
  EXPECT_FALSE(files.HasFolder(kApp + L"\\doc", true));
  // Only the two removals are noted.
  EXPECT_EQ(journal_.Records().size(), 2u);
}

// The folders refilled are those of the update and add groups' records in the view asked for; a
// record without a target, the delete group's records and, on a system without a 64-bit file
// system, the 64-bit records place nothing.
TEST(FoldersCopiesFill, AreTheCopiedRecordsFoldersInTheirView) {
  const std::wstring wide =
      L"<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_64BIT\"><FullPath>C:\\w64\\x.dll</FullPath></File>";
  auto document = brindle::test::Parse(
      L"<DiffDistribute><DeleteObjects>" + brindle::test::FileRecordXml(L"C:\\gone\\d.txt") +
      L"</DeleteObjects><UpdateObjects>" + brindle::test::FileRecordXml(L"C:\\app\\bin\\u.exe") + wide +
      brindle::test::FileRecordXml(L"$Unknown$\\v.txt") + L"</UpdateObjects><AddObjects>" +
      brindle::test::FileRecordXml(L"C:\\app\\new\\sub\\a.txt") + L"</AddObjects></DiffDistribute>");
  CQXDiffDistribute package;
  ASSERT_EQ(package.FromXML(document->GetRoot()), 0);
  // An expansion that knows no variable: its record has no target.
  auto target = [](const CQXFile& file) {
    return file.Path().find(L'$') == std::wstring::npos ? file.Path() : std::wstring();
  };
  EXPECT_EQ(FoldersCopiesFill(package, false, true, target),
            (std::vector<std::wstring>{L"C:\\app\\bin", L"C:\\app\\new\\sub"}));
  EXPECT_EQ(FoldersCopiesFill(package, true, true, target), std::vector<std::wstring>{L"C:\\w64"});
  EXPECT_TRUE(FoldersCopiesFill(package, true, false, target).empty());
}

// ---- the inverses -------------------------------------------------------------------------------

UndoRecord Record(UndoKind kind, const std::wstring& path, const std::wstring& other = L"",
                  std::uint32_t attributes = 0) {
  UndoRecord record;
  record.kind = kind;
  record.is64Bit = true;
  record.path = path;
  record.other = other;
  record.attributes = attributes;
  return record;
}

TEST(FileUndo, AFileMovedAsideIsPutBackOverWhateverTookItsPlace) {
  MemoryFiles f;
  f.AddFile(L"C:\\Backup\\000001.old", true, "old");
  f.AddFile(L"C:\\App\\a.dll", true, "new", {}, kAttributeReadOnly);
  const UndoRecord aside = Record(UndoKind::FileMovedAside, L"C:\\App\\a.dll", L"C:\\Backup\\000001.old");
  EXPECT_EQ(UndoFileRecord(f, aside), kSysSuccess);
  EXPECT_EQ(f.Bytes(L"C:\\App\\a.dll", true), "old");
  EXPECT_FALSE(f.HasFile(L"C:\\Backup\\000001.old", true));
  EXPECT_EQ(UndoFileRecord(f, aside), kSysSuccess);  // the backup is gone: nothing left to do
  EXPECT_EQ(f.Bytes(L"C:\\App\\a.dll", true), "old");
}

TEST(FileUndo, ANewFileIsRemovedButAFolderInItsPlaceIsNot) {
  MemoryFiles f;
  f.AddFile(L"C:\\App\\new.dll", true, "n", {}, kAttributeReadOnly);
  EXPECT_EQ(UndoFileRecord(f, Record(UndoKind::FileCreated, L"C:\\App\\new.dll")), kSysSuccess);
  EXPECT_FALSE(f.HasFile(L"C:\\App\\new.dll", true));
  EXPECT_EQ(UndoFileRecord(f, Record(UndoKind::FileCreated, L"C:\\App\\new.dll")), kSysSuccess);
  EXPECT_EQ(UndoFileRecord(f, Record(UndoKind::FileCreated, L"C:\\App")), kSysDirectory);
  EXPECT_TRUE(f.HasFolder(L"C:\\App", true));
}

TEST(FileUndo, ANewFolderGoesOnlyWhileEmpty) {
  MemoryFiles f;
  f.AddFile(L"C:\\App\\Made\\theirs.txt", true, "t");
  const UndoRecord made = Record(UndoKind::FolderCreated, L"C:\\App\\Made");
  EXPECT_EQ(UndoFileRecord(f, made), kSysDirNotEmpty);
  EXPECT_TRUE(f.HasFolder(L"C:\\App\\Made", true));
  f.RemoveFile(L"C:\\App\\Made\\theirs.txt", true);
  EXPECT_EQ(UndoFileRecord(f, made), kSysSuccess);
  EXPECT_FALSE(f.HasFolder(L"C:\\App\\Made", true));
  EXPECT_EQ(UndoFileRecord(f, made), kSysSuccess);
}

TEST(FileUndo, ARemovedFolderComesBackWithItsAttributes) {
  MemoryFiles f;
  f.AddFolder(L"C:\\App", true);
  const UndoRecord removed =
      Record(UndoKind::FolderRemoved, L"C:\\App\\Gone", L"", kAttributeDirectory | kAttributeReadOnly);
  EXPECT_EQ(UndoFileRecord(f, removed), kSysSuccess);
  EXPECT_EQ(f.Attributes(L"C:\\App\\Gone", true), std::uint32_t(kAttributeDirectory | kAttributeReadOnly));
  EXPECT_EQ(UndoFileRecord(f, removed), kSysSuccess);  // already there
}

TEST(FileUndo, AttributesAreGivenBackToAFileStillThere) {
  MemoryFiles f;
  f.AddFile(L"C:\\App\\a.dll", true, "a");
  EXPECT_EQ(
      UndoFileRecord(f, Record(UndoKind::AttributesChanged, L"C:\\App\\a.dll", L"", kAttributeReadOnly)),
      kSysSuccess);
  EXPECT_EQ(f.Attributes(L"C:\\App\\a.dll", true), std::uint32_t(kAttributeReadOnly));
  EXPECT_EQ(UndoFileRecord(f, Record(UndoKind::AttributesChanged, L"C:\\App\\gone.dll", L"", 1)),
            kSysSuccess);
}

TEST(FileUndo, AQueuedMoveIsTakenOutOfTheQueueLastFirst) {
  MemoryFiles f;
  f.QueueRestartMove(L"C:\\App\\a.dll", L"");
  f.QueueRestartMove(L"C:\\App\\b.tmp0001", L"C:\\App\\b.dll");
  f.QueueRestartMove(L"C:\\App\\a.dll", L"");
  EXPECT_EQ(UndoFileRecord(f, Record(UndoKind::RestartMoveQueued, L"c:\\app\\A.dll")), kSysSuccess);
  ASSERT_EQ(f.RestartQueue().size(), 2u);
  EXPECT_EQ(f.RestartQueue()[1].first, L"C:\\App\\b.tmp0001");
  EXPECT_EQ(UndoFileRecord(f, Record(UndoKind::RestartMoveQueued, L"C:\\App\\x.dll")), kSysSuccess);
  EXPECT_EQ(f.RestartQueue().size(), 2u);
}

TEST(FileUndo, TheFamilyTakesExactlyTheFileKinds) {
  MemoryFiles f;
  FileUndo family(f);
  for (UndoKind kind : {UndoKind::FileMovedAside, UndoKind::FileCreated, UndoKind::FolderCreated,
                        UndoKind::FolderRemoved, UndoKind::AttributesChanged, UndoKind::RestartMoveQueued})
    EXPECT_TRUE(family.Undoes(kind)) << int(kind);
  for (UndoKind kind : {UndoKind::PackageBegun, UndoKind::RegistryValue, UndoKind::RegistryKeyCreated,
                        UndoKind::RegistryKeyRemoved, UndoKind::ComUnregistered, UndoKind::ComRegistered,
                        UndoKind::StepUndone}) {
    EXPECT_FALSE(family.Undoes(kind)) << int(kind);
    EXPECT_EQ(UndoFileRecord(f, Record(kind, L"C:\\App\\a.dll")), kSysInvalidParameter) << int(kind);
  }
}

// ---- a package cut off anywhere -----------------------------------------------------------------

const std::wstring kOld = L"C:\\Program Files\\Tamek\\Old";
const std::wstring kShared = L"C:\\Program Files\\Common\\Tamek";

RegistryKeyName AppKey() { return RegistryKeyName{kRegRootLocalMachine, true, L"Software\\Tamek\\App"}; }

struct Machine {
  MemoryFiles files;
  MemoryRegistry registry;
};

Machine MakeInstalled() {
  Machine m;
  MemoryFiles& f = m.files;
  f.AddFolder(kBackups, true);
  f.AddFile(kApp + L"\\app.exe", true, "app 1", Version(1));
  f.AddFile(kApp + L"\\busy.dll", true, "busy 1", Version(1));
  f.AddFile(kApp + L"\\stale.dat", true, "stale", {}, kAttributeReadOnly);
  f.AddFile(kApp + L"\\locked.log", true, "locked", {}, kAttributeReadOnly);
  f.SetInUse(kApp + L"\\busy.dll", true);
  f.SetInUse(kApp + L"\\locked.log", true);
  f.AddFile(kOld + L"\\gone.dll", true, "gone");
  f.AddFile(kOld + L"\\Sub\\last.dll", true, "last");
  f.AddFile(kShared + L"\\common.dll", true, "common 1", Version(1));
  f.AddFile(L"C:\\Windows\\System32\\tamek32.dll", false, "32 1", Version(1));
  for (const wchar_t* name : {L"app.exe", L"busy.dll", L"fresh.dll", L"common.dll", L"tamek32.dll"})
    f.AddFile(kInst + L"\\" + name, true, std::string("new ") + std::string(name, name + 3), Version(2));
  MemoryRegistry& r = m.registry;
  r.WriteValue(SharedCountsKey(), kOld + L"\\Sub\\last.dll", DwordValue(1), false);
  r.WriteValue(SharedCountsKey(), kShared + L"\\common.dll", DwordValue(2), false);
  r.WriteValue(AppKey(), L"Version", RegistryText(L"1"), false);
  return m;
}

const Machine& Installed() {
  static const Machine installed = MakeInstalled();
  return installed;
}

// The machine as a comparison sees it: the package's own folder, whose files are moved into
// place, goes with the package and is not compared.
std::wstring Picture(const Machine& m) {
  std::wistringstream lines(m.files.Listing());
  std::wstring line, picture;
  while (std::getline(lines, line))
    if (line.compare(0, 15, L"C:\\WORK\\PACKAGE") != 0) picture += line + L"\n";
  return picture + m.registry.Listing();
}

FileCopyRequest PackageCopy(const wchar_t* name, const std::wstring& folder, bool inAdd,
                            bool is64Bit = true) {
  FileCopyRequest request;
  request.source = kInst + L"\\" + name;
  request.target = folder + L"\\" + name;
  request.is64Bit = is64Bit;
  request.delInfo = kDelInfoDelete;
  request.inAdd = inAdd;
  return request;
}

FileDeletionRequest PackageDeletion(const std::wstring& target, int delInfo = kDelInfoDelete) {
  FileDeletionRequest request;
  request.target = target;
  request.is64Bit = true;
  request.delInfo = delInfo;
  return request;
}

// The package in order, each change's undo journaled first: the outcomes of its file changes.
std::vector<FileChangeOutcome> ApplyPackage(MachineFiles& files, MachineRegistry& registry,
                                            CQXChangeJournal& journal) {
  FileNotesToJournal fileNotes(journal, kBackups);
  RegistryNotesToJournal registryNotes(registry, journal);
  std::vector<FileChangeOutcome> outcomes;
  FileCopyRequest common = PackageCopy(L"common.dll", kShared, true);
  common.delInfo = kDelInfoReference;
  common.raisesCount = true;
  FileCopyRequest system32 = PackageCopy(L"tamek32.dll", L"C:\\Windows\\System32", false, false);
  system32.sourceUsedOnce = false;
  for (const FileCopyRequest& copy :
       {PackageCopy(L"app.exe", kApp, false), PackageCopy(L"busy.dll", kApp, true),
        PackageCopy(L"fresh.dll", kApp + L"\\Plugins\\Fresh", true), common, system32})
    outcomes.push_back(CopyFileRecord(files, fileNotes, registry, registryNotes, copy).outcome);
  for (const FileDeletionRequest& deletion :
       {PackageDeletion(kOld + L"\\gone.dll"), PackageDeletion(kOld + L"\\Sub\\last.dll", kDelInfoReference),
        PackageDeletion(kApp + L"\\stale.dat"), PackageDeletion(kApp + L"\\locked.log"),
        PackageDeletion(kApp + L"\\never.txt")})
    outcomes.push_back(DeleteFileRecord(files, fileNotes, registry, registryNotes, deletion).outcome);
  outcomes.push_back(RemoveEmptyFolders(files, fileNotes, kOld + L"\\Sub", kProtected, true));
  WriteRegistryValue(registry, registryNotes, AppKey(), L"Version", RegistryText(L"2"), false);
  WriteRegistryValue(registry, registryNotes, AppKey(), L"Plugins", RegistryText(L"Fresh"), true);
  return outcomes;
}

// The next run's recovery: the journal read back from the disk, its records undone last first
// by the file and registry families, each step marked done in the journal. False when a step
// failed.
bool Recover(MachineFiles& files, MachineRegistry& registry, std::string& disk, Power& power) {
  const JournalContents read = ParseJournal(disk);
  EXPECT_NE(read.state, JournalState::Unreadable);
  disk.resize(read.wholeBytes);  // a torn end is cut before anything is appended
  CQXChangeJournal reopened(std::make_unique<CutSink>(disk, power));
  reopened.Adopt(read.records);
  FileUndo fileFamily(files);
  RegistryUndo registryFamily(registry);
  return UndoByFamilies(read.records, {&fileFamily, &registryFamily},
                        [&](const std::vector<size_t>& indexes) { return reopened.MarkUndone(indexes); });
}

TEST(FileChangesCrash, ThePackageAppliedWholeDoesWhatItSaysAndIsUndoneWhole) {
  Machine m = Installed();
  const std::wstring before = Picture(m);
  std::string disk;
  Power power;
  CutFiles files(m.files, power);
  CutRegistry registry(m.registry, power);
  CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
  ASSERT_TRUE(journal.Start());
  const std::vector<FileChangeOutcome> outcomes = ApplyPackage(files, registry, journal);
  EXPECT_EQ(outcomes, std::vector<FileChangeOutcome>(outcomes.size(), FileChangeOutcome::kDone));
  EXPECT_EQ(m.files.Bytes(kApp + L"\\app.exe", true), "new app");
  EXPECT_EQ(m.files.Bytes(kApp + L"\\busy.dll", true), "busy 1");
  EXPECT_EQ(m.files.Bytes(kApp + L"\\busy.dll.tmp0001", true), "new bus");
  EXPECT_EQ(m.files.Bytes(kApp + L"\\Plugins\\Fresh\\fresh.dll", true), "new fre");
  EXPECT_EQ(m.files.Bytes(L"C:\\Windows\\SysWOW64\\tamek32.dll", true), "new tam");
  EXPECT_FALSE(m.files.HasFile(L"C:\\Windows\\System32\\tamek32.dll", true));
  EXPECT_FALSE(m.files.HasFolder(kOld, true));
  EXPECT_EQ(m.files.RestartQueue().size(), 2u);  // busy.dll replaced, locked.log deleted
  RegistryValueBytes count;
  ASSERT_EQ(m.registry.ReadValue(SharedCountsKey(), kShared + L"\\common.dll", count), kSysSuccess);
  EXPECT_EQ(count.bytes, DwordValue(3).bytes);
  EXPECT_NE(Picture(m), before);

  EXPECT_TRUE(Recover(files, registry, disk, power));
  EXPECT_EQ(Picture(m), before);
  EXPECT_TRUE(Recover(files, registry, disk, power));
  EXPECT_EQ(Picture(m), before);
}

// Every change of the apply, and then every change of the recovery's own undo, is the last one
// before the process ends; the recovery after that (and after a second end) leaves the files and
// the registry exactly as they were, and one more recovery changes nothing.
TEST(FileChangesCrash, ACrashBeforeAnyChangeOfTheApplyOrOfItsUndoEndsWithTheMachineAsBefore) {
  const std::wstring before = Picture(Installed());
  int applyChanges = 0;
  {
    Machine m = Installed();
    std::string disk;
    Power power;
    CutFiles files(m.files, power);
    CutRegistry registry(m.registry, power);
    CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
    journal.Start();
    ApplyPackage(files, registry, journal);
    applyChanges = power.changes;
  }
  ASSERT_GT(applyChanges, 40);  // the start, and a note and a change for each change at least
  int tried = 0;
  for (int cut = 0; cut <= applyChanges; ++cut) {
    for (int undoCut = 0;; ++undoCut) {
      Machine m = Installed();
      std::string disk;
      Power power;
      CutFiles files(m.files, power);
      CutRegistry registry(m.registry, power);
      try {
        CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
        power.cutAt = cut;  // the journal's start is a change too
        journal.Start();
        ApplyPackage(files, registry, journal);
      } catch (const PowerCut&) {
      }
      // The next run: its undo ends before its change numbered undoCut.
      Power undoPower;
      undoPower.cutAt = undoCut;
      CutFiles undoFiles(m.files, undoPower);
      CutRegistry undoRegistry(m.registry, undoPower);
      bool undoEnded = false;
      try {
        Recover(undoFiles, undoRegistry, disk, undoPower);
      } catch (const PowerCut&) {
        undoEnded = true;
      }
      // The run after it finishes, and one more finds nothing left to change.
      Power after;
      CutFiles afterFiles(m.files, after);
      CutRegistry afterRegistry(m.registry, after);
      EXPECT_TRUE(Recover(afterFiles, afterRegistry, disk, after))
          << "cut " << cut << ", undo cut " << undoCut;
      ASSERT_EQ(Picture(m), before) << "cut before change " << cut << ", undo cut before change " << undoCut;
      Power again;
      CutFiles againFiles(m.files, again);
      CutRegistry againRegistry(m.registry, again);
      EXPECT_TRUE(Recover(againFiles, againRegistry, disk, again));
      EXPECT_EQ(again.changes, 0) << "cut " << cut << ", undo cut " << undoCut;
      ++tried;
      if (!undoEnded) break;
    }
  }
  EXPECT_GT(tried, applyChanges * 5);  // most cuts leave an undo of several changes to cut
  std::printf("crash run: %d cut points of the apply, %d runs with the undo cut\n", applyChanges + 1, tried);
}

}  // namespace
}  // namespace brindle
