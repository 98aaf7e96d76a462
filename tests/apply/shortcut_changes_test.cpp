// The shortcut changes with their undo, on the in-memory machine: a link created or deleted in an
// all-users folder, decided from the files as they are, each change's undo journaled before it
// and taken back by the file family; and a package of links cut off by a crash before every
// change, then recovered from the journal: the files end exactly as they were.
#include <gtest/gtest.h>

#include <memory>

#include "apply/file_changes.h"
#include "apply/memory_files.h"
#include "apply/memory_shortcuts.h"
#include "apply/shortcut_changes.h"
#include "package/object_records.h"
#include "support/filling_notes.h"
#include "support/power_cut.h"
#include "sys/paths.h"

namespace brindle {
namespace {

const std::wstring kPrograms = MemoryShortcuts::kUsualPrograms;
const std::wstring kDesktop = MemoryShortcuts::kUsualDesktop;
const std::wstring kBackups = L"C:\\Work\\Backup";
const std::wstring kApp = L"C:\\Program Files\\Tamek\\App";

// The shell's results for access denied, path not found and a sharing violation.
const std::int32_t kShellAccessDenied = -2147024891;
const std::int32_t kShellPathNotFound = -2147024893;
const std::int32_t kShellSharingViolation = -2147024864;

ShortcutRequest MenuLink(const std::wstring& name, const std::wstring& target = kApp + L"\\app.exe") {
  ShortcutRequest request;
  request.place = ShortcutPlace::kProgramMenu;
  request.name = name;
  request.link.target = target;
  request.link.arguments = L"/quiet";
  request.link.workFolder = kApp;
  request.link.description = L"Tamek App";
  request.link.showCommand = ShowCommandOf(kWindowMaximised);
  return request;
}

// A change that was made: its line is a success, the shell's own result for a link written.
void ExpectMade(const ShortcutChangeResult& result, bool byTheShell) {
  EXPECT_EQ(result.outcome, ShortcutChangeOutcome::kDone);
  EXPECT_EQ(result.shellResult, byTheShell);
  EXPECT_EQ(result.code, 0);
  EXPECT_TRUE(result.changed);
}

class ShortcutChangesTest : public ::testing::Test {
 protected:
  ShortcutChangesTest() : journal_(std::make_unique<CutSink>(disk_, power_)), notes_(journal_, kBackups) {
    for (const std::wstring& folder : {kBackups, kPrograms, kDesktop}) files_.AddFolder(folder, true);
    journal_.Start();
  }

  ShortcutChangeResult Create(const ShortcutRequest& request) {
    return CreateShortcutRecord(files_, shortcuts_, notes_, request);
  }
  ShortcutChangeResult Delete(const ShortcutRequest& request, bool sweep = true) {
    return DeleteShortcutRecord(files_, shortcuts_, notes_, request, sweep);
  }
  std::vector<UndoKind> Kinds() const {
    std::vector<UndoKind> kinds;
    for (const UndoRecord& record : journal_.Records()) kinds.push_back(record.kind);
    return kinds;
  }
  void UndoAll() {
    FileUndo undo(files_);
    EXPECT_TRUE(UndoByFamilies(journal_.Records(), {&undo}));
  }

  std::string disk_;
  Power power_;
  MemoryFiles files_;
  MemoryShortcuts shortcuts_{files_};
  CQXChangeJournal journal_;
  FileNotesToJournal notes_;
};

// ---- the in-memory links and the link's path ----------------------------------------------------

TEST(MemoryShortcuts, AWriteIsRefusedAsTheShellsSaveRefusesIt) {
  MemoryFiles files;
  MemoryShortcuts shortcuts(files);
  files.AddFolder(kPrograms + L"\\Folder.lnk", true);
  files.AddFile(kPrograms + L"\\ReadOnly.lnk", true, "old", {}, kAttributeReadOnly);
  ShortcutLink link;
  link.target = kApp + L"\\app.exe";
  EXPECT_EQ(shortcuts.WriteLink(kPrograms + L"\\Folder.lnk", link), kShellAccessDenied);
  EXPECT_EQ(shortcuts.WriteLink(kPrograms + L"\\ReadOnly.lnk", link), kShellAccessDenied);
  EXPECT_EQ(shortcuts.WriteLink(kPrograms + L"\\Missing\\App.lnk", link), kShellPathNotFound);
  EXPECT_FALSE(files.HasFolder(kPrograms + L"\\Missing", true));
  EXPECT_EQ(shortcuts.WriteLink(kPrograms + L"\\App.lnk", link), 0);
  ShortcutLink read;
  ASSERT_TRUE(shortcuts.ReadLink(kPrograms + L"\\App.lnk", read));
  EXPECT_EQ(read.target, link.target);
  EXPECT_FALSE(shortcuts.ReadLink(kPrograms + L"\\ReadOnly.lnk", read));  // a file, not a link
}

TEST(ShortcutLinkPath, AnUnknownFolderAnEscapingNameOrALongPathGiveTheLinesCodeAndObject) {
  MemoryFiles files;
  MemoryShortcuts shortcuts(files);
  ShortcutChangeResult result;
  EXPECT_EQ(ShortcutLinkPath(shortcuts, MenuLink(L"Tamek\\App"), result),
            L"C:/ProgramData/Microsoft/Windows/Start Menu/Programs/Tamek/App.lnk");
  EXPECT_EQ(result.outcome, ShortcutChangeOutcome::kDone);
  for (const wchar_t* escaping : {L"..\\..\\Evil", L"C:\\Evil", L"App:stream"}) {
    result = ShortcutChangeResult();
    EXPECT_EQ(ShortcutLinkPath(shortcuts, MenuLink(escaping), result), L"") << escaping;
    EXPECT_EQ(result.code, 123);
    EXPECT_EQ(result.object, L"C:/ProgramData/Microsoft/Windows/Start Menu/Programs/" +
                                 ToForwardSlashes(escaping) + L".lnk");
  }
  result = ShortcutChangeResult();
  const std::wstring longName(220, L'x');
  EXPECT_EQ(ShortcutLinkPath(shortcuts, MenuLink(longName), result), L"");
  EXPECT_EQ(result.code, 206);
  EXPECT_EQ(result.object, L"C:/ProgramData/Microsoft/Windows/Start Menu/Programs/" + longName + L".lnk");
  shortcuts.SetCommonFolder(ShortcutPlace::kProgramMenu, L"");
  result = ShortcutChangeResult();
  EXPECT_EQ(ShortcutLinkPath(shortcuts, MenuLink(L"App"), result), L"");
  EXPECT_EQ(result.outcome, ShortcutChangeOutcome::kFailed);
  EXPECT_EQ(result.code, 3);
  EXPECT_EQ(result.object, L"App.lnk");
  EXPECT_FALSE(result.shellResult);
}

// ---- create -------------------------------------------------------------------------------------

TEST_F(ShortcutChangesTest, ANewLinkIsWrittenAfterItsFoldersAndItsOwnCreationAreNoted) {
  files_.AddFile(kApp + L"\\app.exe", true, "app");
  const std::wstring before = files_.Listing();
  const ShortcutChangeResult result = Create(MenuLink(L"Tamek\\Tools\\App"));
  ExpectMade(result, true);
  EXPECT_EQ(result.object, L"C:/ProgramData/Microsoft/Windows/Start Menu/Programs/Tamek/Tools/App.lnk");
  ShortcutLink link;
  ASSERT_TRUE(shortcuts_.ReadLink(kPrograms + L"\\Tamek\\Tools\\App.lnk", link));
  EXPECT_EQ(link.arguments, L"/quiet");
  EXPECT_EQ(link.workFolder, kApp);
  EXPECT_EQ(link.description, L"Tamek App");
  EXPECT_EQ(link.showCommand, kShowMaximised);
  EXPECT_EQ(Kinds(),
            (std::vector<UndoKind>{UndoKind::FolderCreated, UndoKind::FolderCreated, UndoKind::FileCreated}));
  EXPECT_EQ(journal_.Records()[0].path, kPrograms + L"\\Tamek");
  UndoAll();
  EXPECT_EQ(files_.Listing(), before);
}

// A target not there yet is placed later: only its folder is made, never a folder of its own
// name; a target with a final backslash names a folder, and that folder is made.
TEST_F(ShortcutChangesTest, ALinkToATargetNotThereYetMakesOnlyTheFolderItGoesIn) {
  EXPECT_EQ(Create(MenuLink(L"App", kApp + L"\\bin\\app.exe")).outcome, ShortcutChangeOutcome::kDone);
  EXPECT_TRUE(files_.HasFolder(kApp + L"\\bin", true));
  PathState state;
  files_.Look(kApp + L"\\bin\\app.exe", false, state);
  EXPECT_FALSE(state.exists);
  EXPECT_EQ(Create(MenuLink(L"Data", kApp + L"\\data\\")).outcome, ShortcutChangeOutcome::kDone);
  EXPECT_TRUE(files_.HasFolder(kApp + L"\\data", true));
  UndoAll();
  EXPECT_FALSE(files_.HasFolder(L"C:\\Program Files", true));
}

TEST_F(ShortcutChangesTest, AnOldLinkIsMovedAsideBeforeTheNewOneAndComesBackOnUndo) {
  files_.AddFile(kDesktop + L"\\App.lnk", true, "old link");
  ShortcutRequest request = MenuLink(L"App");
  request.place = ShortcutPlace::kDesktop;
  EXPECT_EQ(Create(request).outcome, ShortcutChangeOutcome::kDone);
  EXPECT_EQ(Kinds(),
            (std::vector<UndoKind>{UndoKind::FolderCreated, UndoKind::FolderCreated, UndoKind::FolderCreated,
                                   UndoKind::FileMovedAside, UndoKind::FileCreated}));
  ShortcutLink link;
  EXPECT_TRUE(shortcuts_.ReadLink(kDesktop + L"\\App.lnk", link));
  UndoAll();
  EXPECT_EQ(files_.Bytes(kDesktop + L"\\App.lnk", true), "old link");
}

TEST_F(ShortcutChangesTest, AFolderOrAFileInUseWhereTheLinkGoesFailsTheLinkWithTheShellsResult) {
  files_.AddFolder(kPrograms + L"\\Folder.lnk", true);
  files_.AddFile(kPrograms + L"\\Used.lnk", true, "used");
  files_.SetInUse(kPrograms + L"\\Used.lnk", true);
  files_.AddFolder(kApp, true);
  const std::wstring before = files_.Listing();
  const ShortcutChangeResult folder = Create(MenuLink(L"Folder"));
  EXPECT_EQ(folder.outcome, ShortcutChangeOutcome::kFailed);
  EXPECT_TRUE(folder.shellResult);
  EXPECT_EQ(folder.code, kShellAccessDenied);
  EXPECT_FALSE(folder.changed);
  const ShortcutChangeResult used = Create(MenuLink(L"Used"));
  EXPECT_EQ(used.outcome, ShortcutChangeOutcome::kFailed);
  EXPECT_EQ(used.code, kShellSharingViolation);
  EXPECT_EQ(files_.Listing(), before);
  EXPECT_EQ(files_.Bytes(kPrograms + L"\\Used.lnk", true), "used");
}

// Each note refused in turn (the target's three folders, the old link's move aside, the new
// link): nothing is changed after the refused note, no line is written, and the package fails.
TEST_F(ShortcutChangesTest, AChangeWhoseUndoCannotBeNotedIsNotMade) {
  files_.AddFile(kPrograms + L"\\Tamek\\Old.lnk", true, "old");
  const std::wstring before = files_.Listing();
  for (int allowed = 0; allowed < 5; ++allowed) {
    MemoryFiles files = files_;
    MemoryShortcuts shortcuts(files);
    FillingNotes notes(allowed, kBackups + L"\\000001.old");
    const ShortcutChangeResult result =
        CreateShortcutRecord(files, shortcuts, notes, MenuLink(L"Tamek\\Old"));
    EXPECT_EQ(result.outcome, ShortcutChangeOutcome::kFailPackage) << allowed;
    EXPECT_FALSE(result.hasLine);
    ShortcutLink link;
    EXPECT_FALSE(shortcuts.ReadLink(kPrograms + L"\\Tamek\\Old.lnk", link)) << allowed;
  }
  FillingNotes none(0, kBackups + L"\\000001.old");
  EXPECT_EQ(DeleteShortcutRecord(files_, shortcuts_, none, MenuLink(L"Tamek\\Old"), true).outcome,
            ShortcutChangeOutcome::kFailPackage);
  EXPECT_EQ(files_.Listing(), before);
  // The link's move aside is noted, the emptied folder's removal is not: the link is gone and
  // its line says so, the folder stays, and the package fails.
  FillingNotes one(1, kBackups + L"\\000001.old");
  const ShortcutChangeResult swept =
      DeleteShortcutRecord(files_, shortcuts_, one, MenuLink(L"Tamek\\Old"), true);
  EXPECT_EQ(swept.outcome, ShortcutChangeOutcome::kFailPackage);
  EXPECT_TRUE(swept.hasLine);
  EXPECT_TRUE(swept.changed);
  EXPECT_TRUE(files_.HasFolder(kPrograms + L"\\Tamek", true));
}

// ---- delete -------------------------------------------------------------------------------------

TEST_F(ShortcutChangesTest, ARemovedLinkTakesTheFoldersItEmptiedUpToTheProtectedOne) {
  files_.AddFile(kPrograms + L"\\Tamek\\Tools\\App.lnk", true, "link");
  const std::wstring before = files_.Listing();
  const ShortcutChangeResult result = Delete(MenuLink(L"Tamek\\Tools\\App"));
  ExpectMade(result, false);
  EXPECT_FALSE(files_.HasFolder(kPrograms + L"\\Tamek", true));
  EXPECT_TRUE(files_.HasFolder(kPrograms, true));
  EXPECT_EQ(Kinds(), (std::vector<UndoKind>{UndoKind::FileMovedAside, UndoKind::FolderRemoved,
                                            UndoKind::FolderRemoved}));
  UndoAll();
  EXPECT_EQ(files_.Listing(), before);
}

TEST_F(ShortcutChangesTest, AnUpdatesDeletionLeavesTheEmptiedFolders) {
  files_.AddFile(kPrograms + L"\\Tamek\\App.lnk", true, "link");
  EXPECT_TRUE(Delete(MenuLink(L"Tamek\\App"), false).changed);
  EXPECT_TRUE(files_.HasFolder(kPrograms + L"\\Tamek", true));
  EXPECT_EQ(Kinds(), std::vector<UndoKind>{UndoKind::FileMovedAside});
}

TEST_F(ShortcutChangesTest, AMissingLinkCountsAsRemovedAndChangesNothing) {
  const ShortcutChangeResult result = Delete(MenuLink(L"Tamek\\Gone"));
  EXPECT_EQ(result.outcome, ShortcutChangeOutcome::kDone);
  EXPECT_EQ(result.code, 0);
  EXPECT_FALSE(result.changed);
  EXPECT_TRUE(Kinds().empty());
}

TEST_F(ShortcutChangesTest, ALinkThatCannotBeRemovedFailsWithTheSystemsCode) {
  files_.AddFolder(kPrograms + L"\\Stuck.lnk", true);
  files_.AddFile(kPrograms + L"\\Used.lnk", true, "used");
  files_.SetInUse(kPrograms + L"\\Used.lnk", true);
  const ShortcutChangeResult stuck = Delete(MenuLink(L"Stuck"));
  EXPECT_EQ(stuck.outcome, ShortcutChangeOutcome::kFailed);
  EXPECT_FALSE(stuck.shellResult);
  EXPECT_EQ(stuck.code, 5);
  const ShortcutChangeResult used = Delete(MenuLink(L"Used"));
  EXPECT_EQ(used.outcome, ShortcutChangeOutcome::kFailed);
  EXPECT_EQ(used.code, 32);
  EXPECT_EQ(Delete(MenuLink(L"..\\Evil")).code, 123);
  EXPECT_TRUE(files_.HasFile(kPrograms + L"\\Used.lnk", true));
}

// ---- a package of links cut off anywhere --------------------------------------------------------

MemoryFiles Installed() {
  MemoryFiles files;
  for (const std::wstring& folder : {kBackups, kPrograms, kDesktop}) files.AddFolder(folder, true);
  files.AddFile(kApp + L"\\app.exe", true, "app");
  files.AddFile(kDesktop + L"\\App.lnk", true, "old desktop link");
  files.AddFile(kPrograms + L"\\Tamek\\Old\\Readme.lnk", true, "readme link");
  return files;
}

void ApplyPackage(MachineFiles& files, MachineShortcuts& shortcuts, CQXChangeJournal& journal) {
  FileNotesToJournal notes(journal, kBackups);
  DeleteShortcutRecord(files, shortcuts, notes, MenuLink(L"Tamek\\Old\\Readme"), true);
  DeleteShortcutRecord(files, shortcuts, notes, MenuLink(L"Tamek\\Never"), true);
  ShortcutRequest desktop = MenuLink(L"App");
  desktop.place = ShortcutPlace::kDesktop;
  CreateShortcutRecord(files, shortcuts, notes, desktop);
  CreateShortcutRecord(files, shortcuts, notes, MenuLink(L"Tamek\\New\\Tool", kApp + L"\\tools\\tool.exe"));
}

void Recover(MachineFiles& files, std::string& disk, Power& power) {
  const JournalContents read = ParseJournal(disk);
  disk.resize(read.wholeBytes);
  CQXChangeJournal reopened(std::make_unique<CutSink>(disk, power));
  reopened.Adopt(read.records);
  FileUndo undo(files);
  UndoByFamilies(read.records, {&undo},
                 [&](const std::vector<size_t>& indexes) { return reopened.MarkUndone(indexes); });
}

TEST(ShortcutChangesCrash, ACrashBeforeAnyChangeOfTheLinksOrOfTheirUndoEndsWithTheFilesAsBefore) {
  const std::wstring before = Installed().Listing();
  int applyChanges = 0;
  {
    MemoryFiles m = Installed();
    MemoryShortcuts links(m);
    std::string disk;
    Power power;
    CutFiles files(m, power);
    CutShortcuts shortcuts(links, power);
    CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
    journal.Start();
    ApplyPackage(files, shortcuts, journal);
    applyChanges = power.changes;
    EXPECT_FALSE(m.HasFile(kPrograms + L"\\Tamek\\Old\\Readme.lnk", true));
    EXPECT_TRUE(m.HasFolder(kApp + L"\\tools", true));
    ShortcutLink link;
    EXPECT_TRUE(links.ReadLink(kPrograms + L"\\Tamek\\New\\Tool.lnk", link));
    EXPECT_TRUE(links.ReadLink(kDesktop + L"\\App.lnk", link));
  }
  ASSERT_GT(applyChanges, 15);  // the start, then a note and a change for each change at least
  int tried = 0;
  for (int cut = 0; cut <= applyChanges; ++cut) {
    for (int undoCut = 0;; ++undoCut) {
      MemoryFiles m = Installed();
      MemoryShortcuts links(m);
      std::string disk;
      Power power;
      power.cutAt = cut;
      CutFiles files(m, power);
      CutShortcuts shortcuts(links, power);
      try {
        CQXChangeJournal journal(std::make_unique<CutSink>(disk, power));
        journal.Start();
        ApplyPackage(files, shortcuts, journal);
      } catch (const PowerCut&) {
      }
      Power undoPower;
      undoPower.cutAt = undoCut;
      CutFiles undoFiles(m, undoPower);
      bool undoEnded = false;
      try {
        Recover(undoFiles, disk, undoPower);
      } catch (const PowerCut&) {
        undoEnded = true;
      }
      Power after;
      CutFiles afterFiles(m, after);
      Recover(afterFiles, disk, after);
      ASSERT_EQ(m.Listing(), before) << "cut before change " << cut << ", undo cut before change " << undoCut;
      ++tried;
      if (!undoEnded) break;
    }
  }
  EXPECT_GT(tried, applyChanges * 3);  // most cuts leave an undo of several changes to cut
}

}  // namespace
}  // namespace brindle
