#include <gtest/gtest.h>

#include "package/object_records.h"
#include "package/uninstall_records.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "uninstlog/entry_index.h"
#include "uninstlog/path_key.h"
#include "uninstlog/uninstall_log.h"

#include <cstdio>
#include <random>
#include <string>

using namespace brindle;
using namespace brindle::test;

namespace {

// The sections the updater writes, in a scrambled order, and a section it does not model (written
// back as read, after the section it followed).
const char kHead[] =
    "[UninstallCustomFunction]\r\n"
    "DLLPath=\"C:\\\\App\\\\old.dll\"\r\n"
    "OwnerName=\"Tamek\"\r\n"
    "Version=\"1.0\"\r\n"
    "Uninstall_StartUp=1\r\n"
    "Uninstall_CheckCondition=1\r\n"
    "Uninstall_CheckRunning=1\r\n"
    "Uninstall_BeforeUninstall=1\r\n"
    "Uninstall_AfterUninstall=1\r\n"
    "Uninstall_End=0\r\n"
    "Uninstall_Abort=1\r\n"
    "[Other]\r\n"
    "Kept=\"in memory only\"\r\n"
    "[Language]\r\n"
    "Lang=\"French\"\r\n"
    "[Startup]\r\n"
    "AppName=\"Example\"\r\n"
    "Version=\"1.0\"\r\n"
    "[Uninst Info]\r\n"
    "Title=\"Example\"\r\n";

// The written form of the plain sections of kHead.
const char kLanguageOut[] = "[Language]\r\nLang=\"French\"\r\n";
const char kStartupOut[] =
    "[Startup]\r\nAppName=\"Example\"\r\nVersion=\"1.0\"\r\n"
    "[Uninst Info]\r\nTitle=\"Example\"\r\n";
const char kCustomOut[] =
    "[UninstallCustomFunction]\r\n"
    "DLLPath=\"C:\\\\App\\\\old.dll\"\r\n"
    "OwnerName=\"Tamek\"\r\n"
    "Version=\"1.0\"\r\n"
    "Uninstall_StartUp=1\r\n"
    "Uninstall_CheckCondition=1\r\n"
    "Uninstall_CheckRunning=1\r\n"
    "Uninstall_BeforeUninstall=1\r\n"
    "Uninstall_AfterUninstall=1\r\n"
    "Uninstall_End=0\r\n"
    "Uninstall_Abort=1\r\n"
    "[Other]\r\n"
    "Kept=\"in memory only\"\r\n";
const char kOtherOut[] = "[Other]\r\nKept=\"in memory only\"\r\n";

// A log loaded from a scratch file, saved back over it.
struct Log {
  ScratchFolder dir;
  std::wstring path = dir.File(L"Uninst.log");
  CQXUninstallLog log{L"Example", nullptr, nullptr, L"2.0"};

  explicit Log(const std::string& text) {
    EXPECT_TRUE(WriteBytes(path, text));
    EXPECT_TRUE(log.Load(path));
  }
  std::string Saved() {
    EXPECT_TRUE(log.Save(path));
    std::string bytes;
    EXPECT_TRUE(ReadBytes(path, bytes));
    EXPECT_FALSE(FileExists(CQXUninstallLog::TemporaryPath(path)));
    return bytes;
  }
};

CQXFile File(const std::wstring& path, int delInfo, int com, int wow = kWow32) {
  CQXFile f;
  f.fullPath = std::make_unique<FullPathValue>();
  f.fullPath->path = path;
  f.delInfo = delInfo;
  f.com = com;
  f.wow.wow = wow;
  return f;
}

CQXRegistry Value(int root, const std::wstring& key, const std::wstring& name, int wow = kWow32) {
  CQXRegistry r;
  r.keyPath.root = root;
  r.keyPath.path = key;
  r.valueName = name;
  r.wow.wow = wow;
  return r;
}

size_t KeyCount(const CQXUninstallLog& log, const wchar_t* section) {
  const CSection* s = log.Model().FindSection(section);
  return s ? s->Keys().size() : 0;
}

}  // namespace

TEST(UninstallLog, AddedFilesAndValuesAreWrittenWithTheirFolderAndKeyEntriesInTheFixedOrder) {
  for (bool write64 : {true, false}) {
    Log l(kHead);
    l.log.SetWrite64BitSections(write64);
    EXPECT_TRUE(l.log.AddFileEntry(File(L"C:\\App\\bin\\a.dll", kDelInfoDelete, kComRegister), true));
    EXPECT_TRUE(l.log.AddRegistryEntries(Value(kRegRootLocalMachine, L"Software\\Example", L"Path")));
    // A second file of the same folder shares its folder entry; the same value twice gives two
    // value entries and one key entry.
    EXPECT_TRUE(l.log.AddFileEntry(File(L"C:\\App\\bin\\b.dll", kDelInfoReference, 0), false));
    EXPECT_TRUE(l.log.AddRegistryEntries(Value(kRegRootLocalMachine, L"Software\\Example", L"Path")));
    EXPECT_EQ(KeyCount(l.log, L"Folders"), 1u);
    EXPECT_EQ(KeyCount(l.log, L"RegistryKey"), 1u);
    // The same key path in another hive gets a key entry of its own; the current user's hive
    // cannot be logged and adds nothing.
    EXPECT_TRUE(l.log.AddRegistryEntries(Value(kRegRootClassesRoot, L"Software\\Example", L"")));
    EXPECT_FALSE(l.log.AddRegistryEntries(Value(kRegRootCurrentUser, L"Software\\User", L"v")));
    EXPECT_EQ(KeyCount(l.log, L"RegistryKey"), 2u);
    // 64-bit records go to the sections of the 64-bit view.
    EXPECT_TRUE(l.log.AddFileEntry(File(L"C:\\App64\\x.dll", kDelInfoHold, 0, kWow64), false));
    EXPECT_TRUE(l.log.AddRegistryEntries(Value(kRegRootLocalMachine, L"Software\\E64", L"", kWow64)));
    // Shortcuts: none of the all-users desktop's folder, one for any other folder.
    l.log.SetCommonDesktop(L"C:\\Users\\Public\\Desktop");
    EXPECT_TRUE(l.log.AddShortcutEntry(L"C:\\Users\\Public\\Desktop\\Example.lnk"));
    EXPECT_TRUE(l.log.AddShortcutEntry(L"C:\\Menu\\Example\\Example.lnk"));
    // A path without a folder cannot be logged.
    EXPECT_FALSE(l.log.AddFileEntry(File(L"loose.dll", kDelInfoDelete, 0), false));

    const std::string folder = "UIFLDR=\"C:\\\\App\\\\bin\" INST_REQ INST_CRE INST_DEL \r\n";
    const std::string key = "UIREGIKEY=HLM \"Software\\\\Example\" INST_REQ INST_REQ INST_DEL\r\n";
    const std::string value = "UIREGI=HLM \"Software\\\\Example\" \"Path\" INST_REQ INST_REQ INST_DEL\r\n";
    std::string expected =
        std::string(kLanguageOut) + "[Folders]\r\n" + folder +
        "[Files]\r\nUIFILE=\"C:\\\\App\\\\bin\\\\a.dll\" INST_REQ INST_VER INST_DEL INST_REG\r\n"
        "[Folders]\r\n" +
        folder +
        "[Files]\r\nUIFILE=\"C:\\\\App\\\\bin\\\\b.dll\" INST_REQ INST_REQ INST_REF INST_NOREG\r\n"
        "UIFILE=\"C:\\\\Users\\\\Public\\\\Desktop\\\\Example.lnk\" INST_REQ INST_REQ INST_DEL "
        "INST_NOREG\r\n"
        "[Folders]\r\nUIFLDR=\"C:\\\\Menu\\\\Example\" INST_REQ INST_CRE INST_DEL \r\n"
        "[Files]\r\nUIFILE=\"C:\\\\Menu\\\\Example\\\\Example.lnk\" INST_REQ INST_REQ INST_DEL "
        "INST_NOREG\r\n"
        "[RegistryKey]\r\n" +
        key + "[Registry]\r\n" + value + "[RegistryKey]\r\n" + key + "[Registry]\r\n" + value +
        "[RegistryKey]\r\nUIREGIKEY=HCR \"Software\\\\Example\" INST_REQ INST_REQ INST_DEL\r\n"
        "[Registry]\r\nUIREGI=HCR \"Software\\\\Example\" \"\" INST_REQ INST_REQ INST_DEL\r\n";
    if (write64)
      expected +=
          "[Folders64]\r\nUIFLDR=\"C:\\\\App64\" INST_REQ INST_CRE INST_DEL \r\n"
          "[Files64]\r\nUIFILE=\"C:\\\\App64\\\\x.dll\" INST_REQ INST_REQ INST_HLD INST_NOREG\r\n"
          "[RegistryKey64]\r\nUIREGIKEY=HLM \"Software\\\\E64\" INST_REQ INST_REQ INST_DEL\r\n"
          "[Registry64]\r\nUIREGI=HLM \"Software\\\\E64\" \"\" INST_REQ INST_REQ INST_DEL\r\n";
    expected += std::string(kStartupOut) + kCustomOut;
    EXPECT_EQ(l.Saved(), expected) << "64-bit sections written: " << write64;
  }
}

TEST(UninstallLog, LoggedEntriesAreFoundChangedAndRemovedByTheirRules) {
  Log l(std::string(kHead) +
        "[Folders]\r\n"
        "UIFLDR=\"C:\\\\App\" INST_REQ INST_REQ INST_DEL\r\n"
        "UIFLDR=\"C:\\\\App\\\\bin\" INST_REQ INST_REQ INST_DEL\r\n"
        "UIFLDR=\"C:\\\\App\\\\lib\" INST_REQ INST_REQ INST_DEL\r\n"
        "[Files]\r\n"
        "UIFILE=\"C:\\\\App\\\\bin\\\\sub\\\\c.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
        "UIFILE=\"C:\\\\App\\\\d.dll\" INST_REQ INST_VER INST_DEL INST_REG\r\n"
        "UIFILE=\"D:\\\\Other\\\\e.dll\" INST_REQ INST_REQ INST_HLD INST_NOREG\r\n"
        "UIFILE=\"C:\\\\App\\\\lib\\\\gone.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
        "[RegistryKey]\r\n"
        "UIREGIKEY=HLM \"Software\" INST_REQ INST_REQ INST_REF\r\n"
        "UIREGIKEY=HLM \"Software\\\\X\\\\Y\" INST_REQ INST_REQ INST_DEL\r\n"
        "UIREGIKEY=HCR \"Software\\\\X\\\\Z\" INST_REQ INST_REQ INST_DEL\r\n"
        "[Registry]\r\n"
        "UIREGI=HLM \"Software\\\\X\" \"first\" INST_REQ INST_REQ INST_DEL\r\n"
        "UIREGI=HLM \"Software\\\\X\" \"second\" INST_REQ INST_REQ INST_HLD\r\n"
        "UIREGI=HLM \"Software\" \"w\" INST_REQ INST_REQ INST_REF\r\n"
        "UIREGI=HLM \"Elsewhere\" \"e\" INST_REQ INST_REQ INST_DEL\r\n");
  const std::string before = [&] {
    std::string b;
    ReadBytes(l.path, b);
    return b;
  }();
  // Changes that find nothing change nothing.
  EXPECT_FALSE(l.log.RemoveFileEntry(File(L"C:\\App\\missing.dll", 1, 0)));
  EXPECT_FALSE(l.log.RemoveFileEntry(File(L"C:\\App\\d.dll", 1, 0, kWow64))) << "other view";
  EXPECT_FALSE(l.log.RemoveFileEntryByPath(L"Files", L"C:\\App\\d.dll2"));
  EXPECT_FALSE(l.log.SetStartupVersion(L"1.0")) << "already that version";
  // The removals and updates that find their entry.
  EXPECT_TRUE(l.log.RemoveFileEntryByPath(L"Files", L"C:\\App\\lib\\gone.dll"));
  EXPECT_TRUE(l.log.RemoveRegistryEntry(Value(kRegRootLocalMachine, L"Software\\X", L"any")));
  EXPECT_TRUE(l.log.UpdateFileEntry(File(L"C:\\App\\d.dll", kDelInfoReference, 0)));
  EXPECT_TRUE(l.log.UpdateFileEntry(File(L"D:\\Other\\e.dll", kDelInfoHold, kComRegister)));
  EXPECT_TRUE(l.log.SetStartupVersion(L"2.0"));
  EXPECT_TRUE(l.log.SetStartupAppName(L"Example"));
  EXPECT_TRUE(l.log.SetStartupAppName(L"Example Two"));

  const std::string appBin = "UIFLDR=\"C:\\\\App\\\\bin\" INST_REQ INST_CRE INST_DEL \r\n";
  const std::string app = "UIFLDR=\"C:\\\\App\" INST_REQ INST_CRE INST_DEL \r\n";
  const std::string expected =
      std::string(kLanguageOut) +
      // c.dll's folder C:\App\bin\sub is not logged: the last logged folder inside it is taken.
      "[Folders]\r\n" + appBin +
      "[Files]\r\nUIFILE=\"C:\\\\App\\\\bin\\\\sub\\\\c.dll\" INST_REQ INST_REQ INST_DEL "
      "INST_NOREG\r\n"
      // An equal folder entry is taken at once.
      "[Folders]\r\n" +
      app +
      "[Files]\r\nUIFILE=\"C:\\\\App\\\\d.dll\" INST_REQ INST_VER INST_REF INST_NOREG\r\n"
      "UIFILE=\"D:\\\\Other\\\\e.dll\" INST_REQ INST_REQ INST_HLD INST_REG\r\n"
      // The value under Software\X: its key is not logged; Software\X\Y contains it (a key of
      // another hive does not count). The first value of the key was removed.
      "[RegistryKey]\r\nUIREGIKEY=HLM \"Software\\\\X\\\\Y\" INST_REQ INST_REQ INST_DEL\r\n"
      "[Registry]\r\nUIREGI=HLM \"Software\\\\X\" \"second\" INST_REQ INST_REQ INST_HLD\r\n"
      // Equal key; a delete value other than 1 is written INST_HLD on registry lines.
      "[RegistryKey]\r\nUIREGIKEY=HLM \"Software\" INST_REQ INST_REQ INST_HLD\r\n"
      "[Registry]\r\nUIREGI=HLM \"Software\" \"w\" INST_REQ INST_REQ INST_HLD\r\n"
      "UIREGI=HLM \"Elsewhere\" \"e\" INST_REQ INST_REQ INST_DEL\r\n"
      "[Startup]\r\nAppName=\"Example Two\"\r\nVersion=\"2.0\"\r\n"
      "[Uninst Info]\r\nTitle=\"Example\"\r\n" +
      kCustomOut;
  EXPECT_EQ(l.Saved(), expected);
  EXPECT_NE(before, expected);
}

TEST(UninstallLog, UninstallTargetsAndTheCustomFunctionLibrary) {
  // Targets: added to a log without them, listed twice when added twice, removed one by one
  // until the section goes away.
  {
    Log l(kHead);
    CQXUninstallTarget ab;
    ab.targets = {L"a", L"b"};
    EXPECT_TRUE(l.log.AddUninstallTargets(ab));
    const std::string withTargets = std::string(kLanguageOut) + kStartupOut +
                                    "[UninstTarget]\r\nUNInfo=\"a\"\r\nUNInfo=\"b\"\r\n" + kCustomOut;
    EXPECT_EQ(l.Saved(), withTargets);
    CQXUninstallTarget missing;
    missing.targets = {L"zzz"};
    EXPECT_FALSE(l.log.RemoveUninstallTargets(missing));
    EXPECT_EQ(l.Saved(), withTargets) << "an unknown target changes nothing";
    CQXUninstallTarget aAndMissing;
    aAndMissing.targets = {L"zzz", L"a"};
    EXPECT_FALSE(l.log.RemoveUninstallTargets(aAndMissing)) << "one not found";
    CQXUninstallTarget b;
    b.targets = {L"b"};
    EXPECT_TRUE(l.log.RemoveUninstallTargets(b));
    EXPECT_EQ(l.log.Model().FindSection(L"UninstTarget"), nullptr);
    EXPECT_EQ(l.Saved(), std::string(kLanguageOut) + kStartupOut + kCustomOut);
  }
  // The library: path and version replaced, hooks set from the record, owner kept.
  {
    Log l(kHead);
    CQXUninstallCustomFunction record;
    record.fullPath.path = L"$InsFolder$\\new.dll";
    record.version.text = L"2.5";
    record.end.flag = 1;
    record.absent = false;
    EXPECT_TRUE(l.log.WriteUninstallCustomFunction(record));
    EXPECT_EQ(l.Saved(), std::string(kLanguageOut) + kStartupOut +
                             "[UninstallCustomFunction]\r\n"
                             "DLLPath=\"$InsFolder$\\\\new.dll\"\r\n"
                             "OwnerName=\"Tamek\"\r\n"
                             "Version=\"2.5\"\r\n"
                             "Uninstall_StartUp=0\r\nUninstall_CheckCondition=0\r\n"
                             "Uninstall_CheckRunning=0\r\nUninstall_BeforeUninstall=0\r\n"
                             "Uninstall_AfterUninstall=0\r\nUninstall_End=1\r\n"
                             "Uninstall_Abort=0\r\n" +
                             kOtherOut);
  }
  // A library section without DLLPath gains one at its end; no library section: refused, and
  // none is invented.
  {
    Log l(
        "[Language]\r\nLang=\"French\"\r\n[Startup]\r\nVersion=\"1\"\r\n[Uninst Info]\r\n"
        "Title=\"T\"\r\n[UninstallCustomFunction]\r\nOwnerName=\"Tamek\"\r\nUninstall_End=1\r\n");
    CQXUninstallCustomFunction record;
    record.fullPath.path = L"C:\\App\\u.dll";
    EXPECT_TRUE(l.log.WriteUninstallCustomFunction(record));
    EXPECT_EQ(l.Saved(),
              "[Language]\r\nLang=\"French\"\r\n[Startup]\r\nVersion=\"1\"\r\n[Uninst Info]\r\n"
              "Title=\"T\"\r\n[UninstallCustomFunction]\r\nOwnerName=\"Tamek\"\r\n"
              "Uninstall_End=0\r\nDLLPath=\"C:\\\\App\\\\u.dll\"\r\n");
  }
  {
    const std::string text = "[Language]\r\nLang=\"French\"\r\n[Startup]\r\nVersion=\"1\"\r\n";
    Log l(text);
    CQXUninstallCustomFunction record;
    record.fullPath.path = L"C:\\App\\u.dll";
    EXPECT_FALSE(l.log.WriteUninstallCustomFunction(record));
    EXPECT_EQ(l.Saved(), text);
  }
}

TEST(UninstallLog, AFailedSaveLeavesTheOldLogWholeAndTheNextSaveStartsClean) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"Uninst.log");
  const std::wstring temporary = dir.File(L"Uninst_tmp.log");
  EXPECT_EQ(CQXUninstallLog::TemporaryPath(path), temporary);
  EXPECT_EQ(CQXUninstallLog::TemporaryPath(L"C:\\a.b\\log"), L"C:\\a.b\\log_tmp");

  // A line that cannot be written (a TAB in a path) fails the save after lines were written.
  {
    const std::string text =
        std::string(kHead) + "[Files]\r\nUIFILE=\"C:\\\\a.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
    ASSERT_TRUE(WriteBytes(path, text));
    CQXUninstallLog log(L"Example", nullptr, nullptr, L"2.0");
    ASSERT_TRUE(log.Load(path));
    EXPECT_TRUE(log.AddFileEntry(File(L"C:\\b\tc.dll", 1, 0), false));
    EXPECT_FALSE(log.Save(path));
    std::string after;
    ASSERT_TRUE(ReadBytes(path, after));
    EXPECT_EQ(after, text);
    EXPECT_FALSE(FileExists(temporary));
    EXPECT_FALSE(CProfile::IsOpen()) << "the writer is closed after a failed save";
  }

  // A stale temporary file of an interrupted save is not mixed into the new log, and a log
  // without targets saves.
  ASSERT_TRUE(WriteBytes(path, kHead));
  ASSERT_TRUE(WriteBytes(temporary, "[Stale]\r\nOld=\"junk\"\r\n"));
  CQXUninstallLog log(L"Example", nullptr, nullptr, L"2.0");
  ASSERT_TRUE(log.Load(path));
  ASSERT_TRUE(log.Save(path));
  std::string saved;
  ASSERT_TRUE(ReadBytes(path, saved));
  EXPECT_EQ(saved, std::string(kLanguageOut) + kStartupOut + kCustomOut);
  EXPECT_FALSE(FileExists(temporary));

  // The shared writer busy with another file: no save, nothing touched.
  CProfile other;
  ASSERT_TRUE(other.Open(dir.File(L"other.log")));
  EXPECT_FALSE(log.Save(path));
  EXPECT_TRUE(other.Close());
  std::string again;
  ASSERT_TRUE(ReadBytes(path, again));
  EXPECT_EQ(again, saved);

  // The log's place taken by a folder: the replacement fails and the temporary file goes.
  const std::wstring blocked = dir.File(L"Blocked.log");
  ASSERT_TRUE(CreateFolderChain(blocked));
  ASSERT_TRUE(WriteBytes(blocked + L"/inside.txt", "x"));
  EXPECT_FALSE(log.Save(blocked));
  EXPECT_FALSE(FileExists(dir.File(L"Blocked_tmp.log")));
  EXPECT_TRUE(FileExists(blocked + L"/inside.txt"));

  // Loading: an empty path or a missing file is refused.
  EXPECT_FALSE(log.Load(L""));
  EXPECT_FALSE(log.Load(dir.File(L"missing.log")));
}

TEST(UninstallLog, PathKeysCompareAsWindowsComparesPaths) {
  EXPECT_EQ(FilePathKey(L"c:/Program Files//app\\\\Bin\\a.DLL"), L"C:\\PROGRAM FILES\\APP\\BIN\\A.DLL");
  EXPECT_EQ(FilePathKey(L"C:\\Donn\u00e9es\\\u00e9t\u00e9"), FilePathKey(L"c:\\DONN\u00c9ES\\\u00c9T\u00c9"));
  // A network path keeps its two leading separators; the rest of the path is folded as usual.
  EXPECT_EQ(FilePathKey(L"\\\\server\\share\\\\x"), L"\\\\SERVER\\SHARE\\X");
  EXPECT_NE(FilePathKey(L"\\\\server\\share"), FilePathKey(L"\\server\\share"));
  EXPECT_NE(FilePathKey(L"C:\\App\\a.dll"), FilePathKey(L"C:\\App\\a.dl"));
  EXPECT_NE(FilePathKey(L"C:\\App\\a.dll"), FilePathKey(L"C:\\Appa.dll"));
  // Registry key names fold letter case only: '/' is a character of a key name.
  EXPECT_EQ(RegistryPathKey(L"Software\\Example"), RegistryPathKey(L"SOFTWARE\\example"));
  EXPECT_NE(RegistryPathKey(L"Software\\a/b"), RegistryPathKey(L"Software\\a\\b"));
}

// Entries are found as Windows compares paths: a line in other letter case, a doubled
// separator (a folder variable ending in '\' followed by "\bin"), '/' for '\'. A file the
// update puts in place that the log does not list gets its lines.
TEST(UninstallLog, EntriesAreFoundWhateverTheirLetterCaseAndSeparators) {
  Log l(std::string(kHead) +
        "[Folders]\r\n"
        "UIFLDR=\"C:\\\\Program Files\\\\App\" INST_REQ INST_REQ INST_DEL\r\n"
        "[Files]\r\n"
        "UIFILE=\"C:\\\\Program Files\\\\App\\\\Bin\\\\Tool.EXE\" INST_REQ INST_VER INST_DEL INST_NOREG\r\n"
        "UIFILE=\"C:\\\\Program Files\\\\App\\\\\\\\lib\\\\a.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
        "UIFILE=\"C:\\\\Program Files\\\\App\\\\old.txt\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
        "UIFILE=\"C:\\\\Program Files\\\\App\\\\kept.txt\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
        "[RegistryKey]\r\n"
        "UIREGIKEY=HLM \"SOFTWARE\\\\Example\" INST_REQ INST_REQ INST_DEL\r\n"
        "[Registry]\r\n"
        "UIREGI=HLM \"SOFTWARE\\\\Example\" \"v\" INST_REQ INST_REQ INST_DEL\r\n"
        "UIREGI=HLM \"SOFTWARE\\\\Example\" \"w\" INST_REQ INST_REQ INST_DEL\r\n");
  EXPECT_TRUE(
      l.log.UpdateFileEntry(File(L"c:\\program files\\app\\bin\\tool.exe", kDelInfoReference, kComRegister)));
  EXPECT_TRUE(l.log.UpdateFileEntry(File(L"C:/Program Files/App/LIB/A.DLL", kDelInfoHold, 0)));
  EXPECT_TRUE(l.log.RemoveFileEntry(File(L"C:\\PROGRAM FILES\\APP\\\\OLD.TXT", kDelInfoDelete, 0)));
  EXPECT_FALSE(l.log.RemoveFileEntry(File(L"C:\\Program Files\\App\\old.txt", kDelInfoDelete, 0)))
      << "removed once";
  EXPECT_FALSE(l.log.RemoveFileEntry(File(L"C:\\Program Files\\App\\kept.tx", kDelInfoDelete, 0)));
  EXPECT_EQ(KeyCount(l.log, L"Files"), 3u);
  // Not listed: the update adds the file's line (mode INST_REQ) and its folder's line.
  EXPECT_TRUE(l.log.UpdateFileEntry(File(L"C:\\Program Files\\App\\new\\n.dll", kDelInfoDelete, 0)));
  EXPECT_EQ(KeyCount(l.log, L"Files"), 4u);
  EXPECT_EQ(KeyCount(l.log, L"Folders"), 2u);
  // An added file of a logged folder in other letter case needs no folder line of its own.
  EXPECT_TRUE(l.log.AddFileEntry(File(L"c:\\PROGRAM FILES\\app\\x.dll", kDelInfoDelete, 0), false));
  EXPECT_EQ(KeyCount(l.log, L"Folders"), 2u);
  // Registry key names compare without case: no second key line, and the value that is
  // removed is the first of the key.
  EXPECT_TRUE(l.log.AddRegistryEntries(Value(kRegRootLocalMachine, L"Software\\example", L"x")));
  EXPECT_EQ(KeyCount(l.log, L"RegistryKey"), 1u);
  EXPECT_TRUE(l.log.RemoveRegistryEntry(Value(kRegRootLocalMachine, L"software\\EXAMPLE", L"any")));

  const std::string app =
      "[Folders]\r\nUIFLDR=\"C:\\\\Program Files\\\\App\" INST_REQ INST_CRE INST_DEL \r\n";
  const std::string key =
      "[RegistryKey]\r\nUIREGIKEY=HLM \"SOFTWARE\\\\Example\" INST_REQ INST_REQ INST_DEL\r\n";
  const std::string expected =
      std::string(kLanguageOut) + app +
      "[Files]\r\nUIFILE=\"C:\\\\Program Files\\\\App\\\\Bin\\\\Tool.EXE\" INST_REQ INST_VER INST_REF INST_REG\r\n" +
      app +
      "[Files]\r\nUIFILE=\"C:\\\\Program Files\\\\App\\\\\\\\lib\\\\a.dll\" INST_REQ INST_REQ INST_HLD INST_NOREG\r\n" +
      app +
      "[Files]\r\nUIFILE=\"C:\\\\Program Files\\\\App\\\\kept.txt\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n" +
      "[Folders]\r\nUIFLDR=\"C:\\\\Program Files\\\\App\\\\new\" INST_REQ INST_CRE INST_DEL \r\n"
      "[Files]\r\nUIFILE=\"C:\\\\Program Files\\\\App\\\\new\\\\n.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n" +
      app +
      "[Files]\r\nUIFILE=\"c:\\\\PROGRAM FILES\\\\app\\\\x.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n" +
      key + "[Registry]\r\nUIREGI=HLM \"SOFTWARE\\\\Example\" \"w\" INST_REQ INST_REQ INST_DEL\r\n" + key +
      "[Registry]\r\nUIREGI=HLM \"Software\\\\example\" \"x\" INST_REQ INST_REQ INST_DEL\r\n" + kStartupOut +
      kCustomOut;
  EXPECT_EQ(l.Saved(), expected);
}

// Adding, finding and removing file entries in any order, in any letter case, gives what a scan
// of the section in order gives.
TEST(UninstallLog, FileEntryLookUpsStayInStepWithTheSection) {
  std::mt19937 random(11);
  const std::wstring names[] = {L"a.dll", L"A.DLL", L"b.dll", L"B.Dll", L"c.exe"};
  const std::wstring folders[] = {L"C:\\App\\", L"c:\\app\\\\", L"C:/APP/", L"C:\\App\\sub\\"};
  Log l(kHead);
  std::vector<std::wstring> reference;  // the section's paths, in order
  for (int step = 0; step < 2000; ++step) {
    const std::wstring path = folders[random() % 4] + names[random() % 5];
    const std::wstring key = FilePathKey(path);
    auto first = reference.end();
    for (auto it = reference.begin(); it != reference.end(); ++it)
      if (FilePathKey(*it) == key) {
        first = it;
        break;
      }
    switch (random() % 3) {
      case 0:
        ASSERT_TRUE(l.log.AddFileEntry(File(path, kDelInfoDelete, 0), false));
        reference.push_back(path);
        break;
      case 1:
        ASSERT_EQ(l.log.RemoveFileEntry(File(path, kDelInfoDelete, 0)), first != reference.end());
        if (first != reference.end()) reference.erase(first);
        break;
      default:
        // Found or added; a found entry changes its registration flag only.
        ASSERT_TRUE(l.log.UpdateFileEntry(File(path, kDelInfoDelete, static_cast<int>(step % 2))));
        if (first == reference.end()) reference.push_back(path);
    }
    const CSection* files = l.log.Model().FindSection(L"Files");
    ASSERT_EQ(files ? files->Keys().size() : 0u, reference.size());
    for (size_t i = 0; i < reference.size(); ++i)
      ASSERT_EQ(*files->Keys()[i]->Entry().path, reference[i]) << "step " << step;
  }
}

// The look-ups give exactly what a scan of the entries in order gives, on texts made of a few
// letters so that every kind of overlap (equal, contained, repeated, at no separator) occurs.
TEST(UninstallLog, EntryLookUpsAgreeWithAScanInOrder) {
  std::mt19937 random(7);
  auto text = [&](size_t maxLength) {
    std::wstring t;
    const size_t length = random() % (maxLength + 1);
    for (size_t i = 0; i < length; ++i) t += L"ab\\"[random() % 3];
    return t;
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<std::wstring> entries;
    for (int i = 0; i < 12; ++i) {
      std::wstring e = text(5);
      if (!e.empty()) entries.push_back(e);
    }
    CContainedPathIndex contained;
    CContainingPathIndex containing;
    for (size_t i = 0; i < entries.size(); ++i) {
      contained.Add(entries[i], i);
      containing.Add(entries[i], i);
    }
    for (int q = 0; q < 30; ++q) {
      const std::wstring probe =
          q % 5 == 0 && !entries.empty() ? entries[random() % entries.size()] : text(8);
      size_t inside = kNoEntry, around = kNoEntry, equal = kNoEntry;
      for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] == probe && equal == kNoEntry) equal = i;
        if (probe.find(entries[i]) != std::wstring::npos) inside = i;
        if (entries[i].find(probe) != std::wstring::npos) around = i;
      }
      EXPECT_EQ(contained.Find(probe), equal != kNoEntry ? equal : inside);
      EXPECT_EQ(containing.Find(probe), equal != kNoEntry ? equal : around);
    }
  }
}

// Writing pairs every file with its folder entry and every value with its key entry without
// comparing every entry with every other: 20,000 files whose folders are not logged themselves
// (only their parents are) and 20,000 values whose keys are logged only as subkeys are saved in
// a few seconds even in the sanitizer build; a scan per file would compare 400 million pairs.
TEST(UninstallLog, ALogOfTwentyThousandFilesIsSavedQuickly) {
  const int n = 20000;
  std::string folders = "[Folders]\r\n", files = "[Files]\r\n", keys = "[RegistryKey]\r\n",
              values = "[Registry]\r\n", expected = kLanguageOut, expectedRegistry;
  for (int i = 0; i < n; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "%05d", i);
    const std::string folder =
        std::string("UIFLDR=\"C:\\\\App\\\\d") + id + "\" INST_REQ INST_CRE INST_DEL \r\n";
    const std::string file = std::string("UIFILE=\"C:\\\\App\\\\d") + id +
                             "\\\\sub\\\\f.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
    const std::string key =
        std::string("UIREGIKEY=HLM \"Software\\\\App\\\\k") + id + "\\\\sub\" INST_REQ INST_REQ INST_DEL\r\n";
    const std::string value =
        std::string("UIREGI=HLM \"Software\\\\App\\\\k") + id + "\" \"v\" INST_REQ INST_REQ INST_DEL\r\n";
    folders += folder;
    files += file;
    keys += key;
    values += value;
    expected += "[Folders]\r\n" + folder + "[Files]\r\n" + file;
    expectedRegistry += "[RegistryKey]\r\n" + key + "[Registry]\r\n" + value;
  }
  expected += expectedRegistry + kStartupOut + kCustomOut;
  // Processor time, so that other programs loading the machine do not count. Loading reads
  // every line once: saving, which also pairs the entries, must stay of the same order.
  const std::string text = std::string(kHead) + folders + files + keys + values;
  ScratchFolder dir;
  ASSERT_TRUE(WriteBytes(dir.File(L"Uninst.log"), text));
  CQXUninstallLog log(L"Example", nullptr, nullptr, L"2.0");
  const double loadStart = ProcessCpuSeconds();
  ASSERT_TRUE(log.Load(dir.File(L"Uninst.log")));
  const double loading = ProcessCpuSeconds() - loadStart;
  const double saveStart = ProcessCpuSeconds();
  ASSERT_TRUE(log.Save(dir.File(L"Uninst.log")));
  const double seconds = ProcessCpuSeconds() - saveStart;
  std::string saved;
  ASSERT_TRUE(ReadBytes(dir.File(L"Uninst.log"), saved));
  EXPECT_TRUE(saved == expected) << "the saved log differs from the expected one";
  EXPECT_LT(seconds, 4 * loading + 0.5) << "loading took " << loading << " s";
  std::printf(
      "20,000 files and 20,000 values: loaded in %.2f s, saved in %.2f s of processor "
      "time\n",
      loading, seconds);
}

TEST(UninstallLog, WhatTheUpdaterDoesNotModelIsWrittenBackAsReadInItsPlace) {
  // Comments before the first header; a section between two of the updater's, with comments,
  // a blank line, a key of extra fields and a second header of its own; unknown keys in
  // Startup and Files; a section after the last one.
  const std::string text =
      "' written by the installer\r\n"
      "\r\n"
      "[Language]\r\nLang=\"French\"\r\n"
      "[Extra Info]\r\n"
      "Channel = stable  ' for the uninstaller\r\n"
      "\r\n"
      "Mirror=\"a b\" second third\r\n"
      "[Startup]\r\n"
      "AppName=\"Example\"\r\n"
      "Version=\"1.0\"\r\n"
      "Cookie = c1 c2 ' kept\r\n"
      "[Files]\r\n"
      "UIFILE=\"C:\\\\App\\\\a.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "Note = x\r\n"
      "[Extra Info]\r\n"
      "Later=1\r\n"
      "[Uninst Info]\r\nTitle=\"Example\"\r\n"
      "[UninstallCustomFunction]\r\nOwnerName=\"Tamek\"\r\nDLLPath=\"C:\\\\u.dll\"\r\n"
      "[Zeta]\r\nz=1\r\n";
  Log l(text);
  EXPECT_TRUE(l.log.SetStartupVersion(L"2.0"));
  EXPECT_TRUE(l.log.AddFileEntry(File(L"C:\\App\\b.dll", 1, 0), false));
  EXPECT_EQ(l.Saved(),
            "' written by the installer\r\n"
            "\r\n"
            "[Language]\r\nLang=\"French\"\r\n"
            "[Extra Info]\r\n"
            "Channel = stable  ' for the uninstaller\r\n"
            "\r\n"
            "Mirror=\"a b\" second third\r\n"
            "[Extra Info]\r\n"
            "Later=1\r\n"
            "[Folders]\r\n"
            "UIFLDR=\"C:\\\\App\" INST_REQ INST_CRE INST_DEL \r\n"
            "[Files]\r\n"
            "UIFILE=\"C:\\\\App\\\\a.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
            "Note = x\r\n"
            "[Folders]\r\n"
            "UIFLDR=\"C:\\\\App\" INST_REQ INST_CRE INST_DEL \r\n"
            "[Files]\r\n"
            "UIFILE=\"C:\\\\App\\\\b.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
            "[Startup]\r\n"
            "AppName=\"Example\"\r\n"
            "Version=\"2.0\"\r\n"
            "Cookie = c1 c2 ' kept\r\n"
            "[Uninst Info]\r\nTitle=\"Example\"\r\n"
            "[UninstallCustomFunction]\r\nOwnerName=\"Tamek\"\r\nDLLPath=\"C:\\\\u.dll\"\r\n"
            "[Zeta]\r\nz=1\r\n");
  // Saved again, the log reads and writes back the same.
  Log again(l.Saved());
  EXPECT_EQ(again.Saved(), l.Saved());
}

TEST(UninstallLog, ALogWithoutASectionTheUpdaterWritesIsSavedWithoutInventingIt) {
  // Each of the sections once missing: the log saves with the new file, and the section is
  // still missing.
  const std::string headers[] = {"[Language]", "[Startup]", "[Uninst Info]", "[UninstallCustomFunction]"};
  for (const std::string& header : headers) {
    std::string text = kHead;
    const size_t at = text.find(header);
    const size_t next = text.find("\r\n[", at);
    text.erase(at, next == std::string::npos ? std::string::npos : next + 2 - at);
    Log l(text);
    EXPECT_TRUE(l.log.AddFileEntry(File(L"C:\\b.dll", 1, 0), false));
    const std::string saved = l.Saved();
    EXPECT_EQ(saved.find(header), std::string::npos) << header;
    EXPECT_NE(saved.find("UIFILE=\"C:\\\\b.dll\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"),
              std::string::npos)
        << header;
    EXPECT_NE(saved.find(kOtherOut), std::string::npos) << header;
  }
}
