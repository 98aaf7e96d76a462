// A package applies completely or not at all, with the real Brindle.exe: a package that fails in
// its update group leaves every file, value, shortcut, shared count, restart-queue entry and both
// logs exactly as they were; run again once the cause is gone it applies fully; and a process
// ended after any journaled change is undone by the next run, which then applies its own work.
// These runs end Brindle.exe abruptly again and again; they live apart from the other
// end-to-end runs (tests/app), one of which reads a run's processor time, which Wine reports
// wrongly for a while after processes of the prefix were ended that way.
#include <gtest/gtest.h>

#include <set>

#include "apply/undo_journal.h"
#include "logs/install_log.h"
#include "support/patch_fixture_win.h"
#include "support/process_win.h"
#include "support/run_once_win.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {

const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const wchar_t kPendingKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::string Narrow(const std::wstring& text) { return Utf8FromWide(text); }

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every file and folder below the folder: path, attributes, last-write time and bytes.
void PictureTree(const std::wstring& folder, std::ostringstream& out) {
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!find) return;
  std::map<std::wstring, WIN32_FIND_DATAW> entries;
  do {
    if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..")) entries[found.cFileName] = found;
  } while (FindNextFileW(find.Get(), &found));
  for (const auto& entry : entries) {
    const std::wstring path = folder + L"\\" + entry.first;
    const WIN32_FIND_DATAW& data = entry.second;
    out << Narrow(path) << " attr=" << data.dwFileAttributes;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out << "\n";
      PictureTree(path, out);
    } else {
      out << " time=" << data.ftLastWriteTime.dwHighDateTime << ":" << data.ftLastWriteTime.dwLowDateTime
          << " bytes=" << FileText(path) << "\n";
    }
  }
}

std::string RawValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view) {
  UniqueRegKey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, opened.Receive()) != ERROR_SUCCESS) return "<no key>";
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
    return "<no value>";
  std::string data(bytes, '\0');
  RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, bytes ? reinterpret_cast<BYTE*>(&data[0]) : nullptr,
                   &bytes);
  std::ostringstream out;
  out << "type=" << type << " data=";
  for (unsigned char c : data) out << std::hex << int(c) << ".";
  return out.str();
}

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view) {
  UniqueRegKey opened;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, opened.Receive()) == ERROR_SUCCESS;
}

void SetValue(const std::wstring& key, const std::wstring& name, DWORD type, const std::string& data, REGSAM view) {
  UniqueRegKey opened;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, opened.Receive(),
                  nullptr);
  RegSetValueExW(opened.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size()));
}

void DeleteKey(const std::wstring& key, REGSAM view) {
  UniqueRegKey software;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, software.Receive()) == ERROR_SUCCESS)
    RegDeleteTreeW(software.Get(), key.substr(wcslen(L"SOFTWARE\\")).c_str());
}

DWORD SharedCount(const std::wstring& path) {
  UniqueRegKey key;
  DWORD count = 0, type = 0, bytes = sizeof(count);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) != ERROR_SUCCESS ||
      RegQueryValueExW(key.Get(), path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&count), &bytes) !=
          ERROR_SUCCESS)
    return 0;
  return count;
}

void SetSharedCount(const std::wstring& path, DWORD count) {
  SetValue(kSharedDlls, path, REG_DWORD, std::string(reinterpret_cast<const char*>(&count), 4), KEY_WOW64_32KEY);
}

void RemoveSharedCount(const std::wstring& path) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, key.Receive()) ==
      ERROR_SUCCESS)
    RegDeleteValueW(key.Get(), path.c_str());
}

std::wstring ShortPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer) : path;
}

std::wstring JournalPath() {
  return ShellFolder(CSIDL_COMMON_APPDATA) + L"\\Tamek_Inc_RW\\BrindleUndo\\journal.dat";
}

// The names of the kept-aside journals that match the pattern.
std::set<std::wstring> KeptJournals(const std::wstring& pattern) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW(pattern.c_str(), &found));
  if (!find) return names;
  do names.insert(found.cFileName);
  while (FindNextFileW(find.Get(), &found));
  return names;
}

// The journals kept aside in the undo folder.
std::set<std::wstring> KeptJournals() {
  return KeptJournals(ShellFolder(CSIDL_COMMON_APPDATA) + L"\\Tamek_Inc_RW\\BrindleUndo\\journal-*.kept");
}

// Presses the button of the run's final message box (or restart question) whenever one shows.
class BoxAnswerer {
 public:
  BoxAnswerer() : thread_([this] {
      while (!stop_) {
        if (HWND box = FindDialog(L"Sample Application", 200)) {
          PressButton(box, L"OK");
          PressButton(box, L"Non");
        }
      }
    }) {}
  ~BoxAnswerer() {
    stop_ = true;
    thread_.join();
  }

 private:
  volatile bool stop_ = false;
  std::thread thread_;
};

class PatchUndo : public PatchFixture {
 protected:
  void SetUp() override {
    PatchFixture::SetUp();
    key_ = L"SOFTWARE\\" + Unique(L"BrindleUndo");
    desktop_ = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    link_ = desktop_ + L"\\" + Unique(L"BrindleUndo") + L".lnk";
  }
  void TearDown() override {
    // Every case ends without a journal. One left behind (a run ended and never recovered)
    // would be taken back by the next case's first run, against this case's folders, which are
    // removed below: its undo would fail there and keep it aside, blamed on the wrong case.
    if (FileExists(JournalPath())) {
      ADD_FAILURE() << "the case left an undo journal";
      DeleteFileW(JournalPath().c_str());
    }
    DeleteKey(key_, KEY_WOW64_32KEY);
    DeleteKey(key_, KEY_WOW64_64KEY);
    DeleteFileW(link_.c_str());
    RemoveSharedCount(app_ + L"\\refdel.dll");
    RemoveSharedCount(app_ + L"\\shared.dll");
    RemoveSharedCount(app_ + L"\\new\\shared.dll");
    PatchFixture::TearDown();
  }

  // The installed application 1.0: files, values in both views, a desktop shortcut, a shared
  // count, its uninstall log.
  void Install() {
    ASSERT_TRUE(WriteFileText(app_ + L"\\old.txt", "old"));
    ASSERT_TRUE(WriteFileText(app_ + L"\\refdel.dll", "refdel"));
    ASSERT_TRUE(WriteFileText(app_ + L"\\busy.txt", "busy"));
    ASSERT_TRUE(WriteFileText(app_ + L"\\lib.txt", "lib 1.0"));
    ASSERT_TRUE(WriteFileText(app_ + L"\\busy2.txt", "busy2 1.0"));
    ASSERT_TRUE(WriteFileText(app_ + L"\\held.txt", "held 1.0"));
    SetFileAttributesW((app_ + L"\\old.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteFileText(link_, "a link"));
    SetSharedCount(app_ + L"\\refdel.dll", 2);
    RemoveSharedCount(app_ + L"\\shared.dll");
    SetValue(key_, L"Gone32", REG_SZ, std::string("o\0n\0e\0\0\0", 8), KEY_WOW64_32KEY);
    SetValue(key_, L"Gone64", REG_DWORD, std::string("\x2a\0\0\0", 4), KEY_WOW64_64KEY);
    SetValue(key_, L"Stay64", REG_DWORD, std::string("\x01\0\0\0", 4), KEY_WOW64_64KEY);
    const std::string a = Utf8FromWide(app_);
    std::string files;
    for (const char* name : {"old.txt", "busy.txt", "lib.txt", "busy2.txt", "held.txt"})
      files += "UIFILE=\"" + Logged(a + "\\" + name) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
    ASSERT_TRUE(WriteFileText(
        app_ + L"\\uninst.ini",
        "[Language]\r\nLang=\"en\"\r\n[Folders]\r\nUIFLDR=\"" + Logged(a) + "\" INST_REQ INST_CRE INST_DEL \r\n"
        "[Files]\r\n" + files + "UIFILE=\"" + Logged(a + "\\refdel.dll") +
        "\" INST_REQ INST_REQ INST_REF INST_NOREG\r\n[Startup]\r\nVersion=\"1.0\"\r\n"
        "[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
    WriteInstallLog(L"en");
    WriteWrapperFiles({L"ENGLISH"});
  }

  // Deletes, updates and adds files (one shared, two in use), values in both views and the
  // shortcut; held.txt, kept by its record and in use, cannot be replaced.
  std::wstring Package() {
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\lib.txt", "lib 1.1"));
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\fresh.txt", "fresh"));
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\busy2.txt", "busy2 1.1"));
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\held.txt", "held 1.1"));
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\shared.dll", "shared"));
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\added.txt", "added"));
    auto file = [](const char* del, const std::string& path, const std::string& name) {
      return std::string("<File COM=\"INST_NOREG\" DelInfo=\"") + del + "\" WOW=\"INST_32BIT\"><FullPath>" + path +
             "</FullPath>" + (name.empty() ? "" : "<FileName>" + name + "</FileName>") + "</File>";
    };
    auto value = [&](const char* wow, const char* name, const char* type, const char* data) {
      return std::string("<Registry WOW=\"") + wow + "\"><RegKeyPath RegRoot=\"REG_HLM\">" + Narrow(key_) +
             "</RegKeyPath><RegValueName>" + name + "</RegValueName><RegData Type=\"" + type + "\">" + data +
             "</RegData></Registry>";
    };
    const std::string linkName = Narrow(LastPathComponent(link_));
    const std::string shortcut = "<ShortCut><SCName Type=\"INST_DSC\">" +
                                 linkName.substr(0, linkName.size() - 4) + "</SCName></ShortCut>";
    return BuildPackage(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
        "</GeneralInfo><DeleteObjects>" +
        file("INST_DEL", "$InsFolder$\\old.txt", "") + file("INST_REF", "$InsFolder$\\refdel.dll", "") +
        file("INST_DEL", "$InsFolder$\\busy.txt", "") + value("INST_32BIT", "Gone32", "REG_SZ", "") +
        value("INST_64BIT", "Gone64", "REG_DW", "") + shortcut + "</DeleteObjects><UpdateObjects>" +
        file("INST_DEL", "$InsFolder$\\lib.txt", "lib.txt") +
        file("INST_DEL", "$InsFolder$\\new\\sub\\fresh.txt", "fresh.txt") +
        file("INST_DEL", "$InsFolder$\\busy2.txt", "busy2.txt") +
        file("INST_HLD", "$InsFolder$\\held.txt", "held.txt") + value("INST_64BIT", "Stay64", "REG_DW", "2") +
        "</UpdateObjects><AddObjects>" + file("INST_REF", "$InsFolder$\\shared.dll", "shared.dll") +
        file("INST_DEL", "$InsFolder$\\added.txt", "added.txt") + value("INST_32BIT", "New32", "REG_SZ", "new") +
        value("INST_64BIT", "New64", "REG_SZ", "new") + "</AddObjects></DiffDistribute>");
  }

  // A smaller package of the same kinds of change, for the tests that end the process; more
  // records may be added after its own added ones.
  std::wstring SmallPackage(const std::string& moreAdded = std::string()) {
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\lib.txt", "lib 1.1"));
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\shared.dll", "shared"));
    const std::string linkName = Narrow(LastPathComponent(link_));
    return BuildPackage(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
        "</GeneralInfo><DeleteObjects><File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\">"
        "<FullPath>$InsFolder$\\old.txt</FullPath></File><Registry WOW=\"INST_64BIT\"><RegKeyPath "
        "RegRoot=\"REG_HLM\">" + Narrow(key_) + "</RegKeyPath><RegValueName>Gone64</RegValueName><RegData "
        "Type=\"REG_DW\"></RegData></Registry><ShortCut><SCName Type=\"INST_DSC\">" +
        linkName.substr(0, linkName.size() - 4) + "</SCName></ShortCut></DeleteObjects><UpdateObjects>"
        "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\lib.txt"
        "</FullPath><FileName>lib.txt</FileName></File></UpdateObjects><AddObjects><File COM=\"INST_NOREG\" "
        "DelInfo=\"INST_REF\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\new\\shared.dll</FullPath><FileName>"
        "shared.dll</FileName></File><Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" +
        Narrow(key_) + "\\Sub</RegKeyPath><RegValueName>New32</RegValueName><RegData Type=\"REG_SZ\">new"
        "</RegData></Registry>" + moreAdded + "</AddObjects></DiffDistribute>");
  }

  // A second application, OtherApp in the install log, with its own uninstall log and a
  // package that adds one file; the list naming that package.
  std::wstring PrepareOtherApplication() {
    other_ = programFiles_ + L"\\" + Unique(L"BrindleOther");
    extraFolders_.push_back(other_);
    EXPECT_TRUE(WriteFileText(other_ + L"\\uninst.ini",
                              "[Language]\r\n[Startup]\r\nVersion=\"3.3\"\r\n[Uninst Info]\r\n"
                              "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
    {
      std::unique_ptr<CQXInstallLog> log = LoadInstallLog(installLog_.Path());
      InstallLogEntry* entry = log ? FindEntry(*log, L"OtherApp") : nullptr;
      EXPECT_TRUE(entry);
      if (!entry) return std::wstring();
      entry->FullPath = other_;
      entry->UninstLog = other_ + L"\\uninst.ini";
      entry->Lang.SetCode(L"en");
      EXPECT_TRUE(SaveInstallLog(*log, installLog_.Path()));
    }
    const std::wstring otherLists = scratch_.File(L"other");
    const std::wstring otherSource = scratch_.File(L"othersource");
    EXPECT_TRUE(WriteFileText(otherSource + L"\\INST\\other.txt", "other 3.4"));
    EXPECT_TRUE(WriteFileText(otherSource + L"\\diff.xml",
                              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>"
                              "3.4</Version></GeneralInfo><AddObjects><File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" "
                              "WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\other.txt</FullPath><FileName>other.txt"
                              "</FileName></File></AddObjects></DiffDistribute>"));
    EXPECT_TRUE(CreateFolderChain(otherLists));
    EXPECT_TRUE(MakeCabinet(otherLists + L"/other.diff", otherSource));
    // The uninstaller's files beside the other package too.
    const std::wstring znq = lists_ + L"/ZNQ";
    for (const wchar_t* name :
         {L"COMMON/setup.dll", L"COMMON/Uninst.exe", L"COMMON/UninsVer.txt", L"ENGLISH/UninstRsc.dll"})
      EXPECT_TRUE(WriteFileText(otherLists + L"/ZNQ/INSTALL/" + name, FileText(znq + L"/INSTALL/" + name)));
    return otherLists + L"/list.xml";
  }

  // Writes the list naming the other application's package (each run removes its list).
  bool WriteOtherList(const std::wstring& otherList) {
    return WriteFileText(otherList,
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
                         "<FileName>other.diff</FileName><AppName>OtherApp</AppName><DisplayName>Sample Application"
                         "</DisplayName></DiffLocal></DiffLocalList>");
  }

  // What a user could check: the application's files, the values of both views, the shortcut,
  // the shared counts, the restart queue and both logs.
  std::string Machine(bool withInstallLog = true) {
    std::ostringstream out;
    PictureTree(app_, out);
    for (const wchar_t* name : {L"Gone32", L"New32"})
      out << Narrow(name) << "32:" << RawValue(HKEY_LOCAL_MACHINE, key_, name, KEY_WOW64_32KEY) << "\n";
    for (const wchar_t* name : {L"Gone64", L"Stay64", L"New64"})
      out << Narrow(name) << "64:" << RawValue(HKEY_LOCAL_MACHINE, key_, name, KEY_WOW64_64KEY) << "\n";
    out << "Sub32:" << KeyExists(HKEY_LOCAL_MACHINE, key_ + L"\\Sub", KEY_WOW64_32KEY) << " New32:"
        << RawValue(HKEY_LOCAL_MACHINE, key_ + L"\\Sub", L"New32", KEY_WOW64_32KEY) << "\n";
    out << "link=" << FileText(link_) << "\n";
    out << "refdel=" << SharedCount(app_ + L"\\refdel.dll") << " shared=" << SharedCount(app_ + L"\\shared.dll")
        << " new\\shared=" << SharedCount(app_ + L"\\new\\shared.dll") << "\n";
    out << "pending=" << RawValue(HKEY_LOCAL_MACHINE, kPendingKey, L"PendingFileRenameOperations", 0) << "\n";
    if (withInstallLog) out << "installlog=" << installLog_.Bytes() << "\n";
    return out.str();
  }

  std::wstring key_, desktop_, link_, other_;
};

}  // namespace

TEST_F(PatchUndo, AFailingPackageLeavesEverythingAsItWasAndAppliesFullyOnceTheCauseIsGone) {
  Install();
  const std::wstring list = Package();
  StartedProcess busy = StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + app_ + L"\\busy.txt\" 120000");
  StartedProcess busy2 = StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + app_ + L"\\busy2.txt\" 120000");
  StartedProcess held = StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + app_ + L"\\held.txt\" 120000");
  Sleep(1500);
  const std::string before = Machine();
  {
    ServiceLogTail tail;
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(list, L"/non_notification"), 100);
    // The package went as far as its update group before it failed, then was taken back.
    EXPECT_EQ(tail.Details(L"DELETE_FILE").size(), 3u);
    EXPECT_FALSE(tail.Details(L"UPDATE_FILE_ADD").empty());
    EXPECT_FALSE(tail.Details(L"UNDO_FILE_RESTORE").empty());
    EXPECT_FALSE(tail.Details(L"UNDO_RESTART_ENTRY").empty());
    const auto undone = tail.Details(L"UNDO_PACKAGE");
    ASSERT_EQ(undone.size(), 2u);
    EXPECT_NE(undone[1].find(L"success"), std::wstring::npos) << undone[1];
  }
  EXPECT_EQ(Machine(), before);
  EXPECT_FALSE(FileExists(JournalPath()));

  // The programs holding the files end; the same package applies fully.
  for (StartedProcess* p : {&busy, &busy2, &held}) {
    TerminateProcess(p->process.Get(), 0);
    WaitForExit(*p, 5000);
  }
  ClearPackageSource();
  const std::wstring again = Package();
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(again, L"/non_notification"), 200);
  }
  EXPECT_FALSE(FileExists(app_ + L"\\old.txt"));
  EXPECT_FALSE(FileExists(app_ + L"\\busy.txt"));
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1");
  EXPECT_EQ(FileText(app_ + L"\\held.txt"), "held 1.1");
  EXPECT_EQ(FileText(app_ + L"\\new\\sub\\fresh.txt"), "fresh");
  EXPECT_EQ(SharedCount(app_ + L"\\refdel.dll"), 1u);
  EXPECT_EQ(SharedCount(app_ + L"\\shared.dll"), 1u);
  EXPECT_EQ(RawValue(HKEY_LOCAL_MACHINE, key_, L"Gone64", KEY_WOW64_64KEY), "<no value>");
  EXPECT_NE(RawValue(HKEY_LOCAL_MACHINE, key_, L"New32", KEY_WOW64_32KEY), "<no value>");
  EXPECT_FALSE(FileExists(link_));
  const std::string log = FileText(app_ + L"\\uninst.ini");
  for (const char* name : {"lib.txt", "held.txt", "busy2.txt", "shared.dll", "added.txt"}) {
    const std::string entry = Logged(Utf8FromWide(app_) + "\\" + name) + "\"";
    size_t count = 0;
    for (size_t at = log.find(entry); at != std::string::npos; at = log.find(entry, at + 1)) ++count;
    EXPECT_EQ(count, 1u) << name << "\n" << log;
  }
  EXPECT_FALSE(FileExists(JournalPath()));
}

// The process is ended after each journaled change in turn (the test watches the journal file
// grow and ends the process at once); the next run, for another application, first takes the
// package back, then applies its own.
TEST_F(PatchUndo, AProcessEndedAfterAnyChangeIsUndoneByTheNextRunWhichThenDoesItsOwnWork) {
  Install();
  const std::wstring list = SmallPackage();
  const std::wstring otherList = PrepareOtherApplication();
  ASSERT_FALSE(HasFailure());
  const std::wstring other = other_;
  const std::string before = Machine(false);
  const std::string listText = FileText(list);
  const std::wstring journal = JournalPath();
  // Journals that earlier cases kept aside are not this case's.
  const std::set<std::wstring> keptBefore = KeptJournals();
  int kills = 0;
  for (size_t stop = 1; stop < 200;) {
    ASSERT_TRUE(WriteFileText(list, listText));
    StartedProcess run = StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /non_notification");
    // Ends the process as soon as the journal holds `stop` records.
    bool ended = false;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (GetTickCount64() < deadline) {
      if (WaitForSingleObject(run.process.Get(), 0) == WAIT_OBJECT_0) break;
      std::string bytes;
      if (!ReadBytes(journal, bytes)) continue;
      const size_t records = ParseJournal(bytes).records.size();
      if (records >= stop) {
        TerminateProcess(run.process.Get(), 9);
        ended = true;
        stop = records + 1;  // records written in one trip count as one point
        break;
      }
    }
    WaitForExit(run, 60000);
    if (!ended) {
      // The package ran to its end without reaching that many records: every point was tried.
      EXPECT_GE(kills, 5);
      std::printf("the process was ended at %d points of the package\n", kills);
      break;
    }
    ++kills;
    ASSERT_TRUE(FileExists(journal)) << stop;
    ASSERT_TRUE(WriteOtherList(otherList));
    ServiceLogTail tail;
    {
      BoxAnswerer answerer;
      EXPECT_EQ(RunBrindle(otherList, L"/non_notification"), 200) << stop;
    }
    if (HasFailure())
      for (const ServiceLogLine& line : tail.NewLines()) ADD_FAILURE() << Narrow(line.key + L" " + line.detail);
    EXPECT_EQ(tail.Details(L"UNDO_JOURNAL").size(), 1u) << stop;
    EXPECT_EQ(Machine(false), before) << "after the process was ended at record " << stop;
    std::unique_ptr<CQXInstallLog> log = LoadInstallLog(installLog_.Path());
    ASSERT_TRUE(log);
    EXPECT_EQ(FindEntry(*log, L"SampleApp")->applicationVersion.text, L"1.0") << stop;
    EXPECT_EQ(FileText(other + L"\\other.txt"), "other 3.4") << stop;
    EXPECT_FALSE(FileExists(journal)) << stop;
    // Every undo step succeeded: nothing was kept aside as a journal that could not be undone.
    const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
    ASSERT_EQ(undone.size(), 1u) << stop;
    EXPECT_TRUE(EndsWith(undone[0], L",success")) << Narrow(undone[0]) << " at record " << stop;
    EXPECT_EQ(KeptJournals(), keptBefore) << stop;
    DeleteFileW((other + L"\\other.txt").c_str());
    if (HasFailure()) break;
  }
}

// The after-update hook vetoes a package that unregistered and deleted one COM server and
// added and registered another: the new server is unregistered and removed, the old one is back
// and registered again.
TEST_F(PatchFixture, AnAfterUpdateVetoTakesBackTheComServersOfThePackage) {
  const std::wstring classes = L"SOFTWARE\\Classes\\BrindleTestServer.";
  const std::wstring oldServer = app_ + L"\\oldserver.dll";
  ASSERT_TRUE(CreateFolderChain(app_));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), oldServer.c_str(), FALSE));
  {
    UniqueModule library(LoadLibraryW(oldServer.c_str()));
    ASSERT_TRUE(library);
    using Register = HRESULT(__stdcall*)();
    auto registerServer = reinterpret_cast<Register>(
        reinterpret_cast<void*>(GetProcAddress(library.Get(), "DllRegisterServer")));
    ASSERT_TRUE(registerServer);
    ASSERT_EQ(registerServer(), S_OK);
  }
  ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"oldserver.dll", KEY_WOW64_64KEY));
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n[Files]\r\nUIFILE=\"" + Logged(Utf8FromWide(oldServer)) +
                                "\" INST_REQ INST_REQ INST_DEL INST_REG\r\n[Startup]\r\nVersion=\"1.0\"\r\n"
                                "[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(CreateFolderChain(packageSource_ + L"\\INST"));
  ASSERT_TRUE(CreateFolderChain(packageSource_ + L"\\CUSTOM"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(),
                        (packageSource_ + L"\\INST\\newserver.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_hook.dll").c_str(),
                        (packageSource_ + L"\\CUSTOM\\veto_hook.dll").c_str(), FALSE));
  // A server whose registration fails waits for the next logon under RunOnce.
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(),
                        (packageSource_ + L"\\INST\\failserver.dll").c_str(), FALSE));
  const std::string com64 = "COM=\"INST_REG\" DelInfo=\"INST_DEL\" WOW=\"INST_64BIT\"";
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
      "</GeneralInfo><DeleteObjects><File " + com64 + "><FullPath>$InsFolder$\\oldserver.dll</FullPath></File>"
      "</DeleteObjects><AddObjects><File " + com64 + "><FullPath>$InsFolder$\\newserver.dll</FullPath>"
      "<FileName>newserver.dll</FileName></File><File " + com64 + "><FullPath>$InsFolder$\\failserver.dll"
      "</FullPath><FileName>failserver.dll</FileName></File></AddObjects><CustomFunction><FileName Type=\"AfterUpdate\">"
      "veto_hook.dll</FileName></CustomFunction></DiffDistribute>");
  const std::string uninstBefore = FileText(app_ + L"\\uninst.ini");
  const std::string logBefore = installLog_.Bytes();
  const std::wstring queuedName = ShortPath(app_) + L"\\failserver.dll";
  DeleteRunOnceValue(queuedName);
  ServiceLogTail tail;
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(list, L"/non_notification"), 100);
  }
  EXPECT_EQ(RunOnceValue(queuedName), L"<missing>");
  EXPECT_FALSE(FileExists(app_ + L"\\failserver.dll"));
  // The run did unregister the old server and register the new one before the veto.
  EXPECT_EQ(tail.Details(L"UNREGISTER_COM").front(), L"-," + oldServer + L",success,0");
  // Taken back last first: the queued server, then the one that registered at once.
  EXPECT_EQ(tail.Details(L"UNDO_COM_UNREGISTER"),
            (std::vector<std::wstring>{L"-," + app_ + L"\\failserver.dll,success,0",
                                       L"-," + app_ + L"\\newserver.dll,success,0"}));
  EXPECT_EQ(tail.Details(L"UNDO_COM_REGISTER"), (std::vector<std::wstring>{L"-," + oldServer + L",success,0"}));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"oldserver.dll\\InprocServer32", KEY_WOW64_64KEY));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"newserver.dll", KEY_WOW64_64KEY));
  EXPECT_TRUE(FileExists(oldServer));
  EXPECT_FALSE(FileExists(app_ + L"\\newserver.dll"));
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), uninstBefore);
  EXPECT_EQ(installLog_.Bytes(), logBefore);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (classes + L"oldserver.dll\\InprocServer32").c_str(), KEY_WOW64_64KEY, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (classes + L"oldserver.dll").c_str(), KEY_WOW64_64KEY, 0);
}

// A journal that cannot be read is never applied in part: it is kept aside under a dated name,
// logged, and the run does its own work.
TEST_F(PatchUndo, AnUnreadableJournalIsKeptAsideAndNeverApplied) {
  Install();
  const std::wstring list = SmallPackage();
  const std::wstring journal = JournalPath();
  const std::wstring folder = ParentFolder(ToForwardSlashes(journal));
  // A record that would bring old.txt back over the new one, behind a damaged first record.
  UndoRecord record;
  record.kind = UndoKind::FileCreated;
  record.path = app_ + L"\\lib.txt";
  std::string bytes = std::string(kJournalMagic, sizeof(kJournalMagic)) + EncodeUndoRecord(record) +
                      EncodeUndoRecord(record);
  bytes[sizeof(kJournalMagic) + 10] ^= 0x20;
  ASSERT_TRUE(WriteFileText(journal, bytes));
  // Journals that earlier cases kept aside are not this case's.
  const std::wstring keptPattern = ToBackslashes(folder) + L"\\journal-*.kept";
  const std::set<std::wstring> keptBefore = KeptJournals(keptPattern);
  ServiceLogTail tail;
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  }
  EXPECT_EQ(tail.Details(L"UNDO_JOURNAL"), (std::vector<std::wstring>{L"-," + journal + L",unreadable"}));
  EXPECT_TRUE(tail.Details(L"UNDO_FILE_REMOVE").empty());
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1");
  EXPECT_FALSE(FileExists(journal));
  // The damaged journal waits, whole, under its new name.
  std::vector<std::wstring> keptNow;
  for (const std::wstring& name : KeptJournals(keptPattern))
    if (keptBefore.count(name) == 0) keptNow.push_back(name);
  ASSERT_EQ(keptNow.size(), 1u);
  const std::wstring keptPath = ToBackslashes(folder) + L"\\" + keptNow[0];
  EXPECT_EQ(FileText(keptPath), bytes);
  DeleteFileW(keptPath.c_str());
  RemoveTree(ToBackslashes(folder) + L"\\" + std::wstring(keptNow[0]).replace(0, 7, L"backup"));
}

namespace {

std::wstring LongPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD n = GetLongPathNameW(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer) : path;
}

// A running process started from the program file, opened to be waited for and ended; an
// empty handle when none runs.
UniqueHandle OpenProcessOf(const std::wstring& program) {
  const std::wstring wanted = LongPath(program);
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!snapshot || !Process32FirstW(snapshot.Get(), &entry)) return UniqueHandle();
  do {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                                     entry.th32ProcessID));
    if (!process) continue;
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameW(process.Get(), 0, image, &size) &&
        CompareStringOrdinal(LongPath(image).c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL)
      return process;
  } while (Process32NextW(snapshot.Get(), &entry));
  return UniqueHandle();
}

// The install log as text; with OtherApp's versions (application and uninstaller, which its
// package writes) replaced by those of the given entry when one is given.
std::wstring InstallLogText(const std::wstring& path, const InstallLogEntry* otherBefore = nullptr) {
  std::unique_ptr<CQXInstallLog> log = LoadInstallLog(path);
  if (!log) return L"<unreadable>";
  if (otherBefore) {
    InstallLogEntry* other = FindEntry(*log, L"OtherApp");
    if (!other) return L"<no OtherApp>";
    other->applicationVersion = otherBefore->applicationVersion;
    other->uninstallerVersion = otherBefore->uninstallerVersion;
  }
  std::wstring xml;
  SerialiseInstallLog(*log, xml);
  return xml;
}

}  // namespace

// The process is ended while a COM local server that its package added is registering itself
// (the server's registration waits on the test); then a run for another application takes the
// package back and applies its own. The server ends with the process that started it: left
// running, it would hold its program file against the undo, or register itself once the undo
// is done.
TEST_F(PatchUndo, AProcessEndedWhileAServerItStartedRegistersIsUndoneByTheNextRunForAnotherApplication) {
  Install();
  const std::wstring serverName = Unique(L"waitserver") + L".exe";
  const std::wstring server = app_ + L"\\bin\\" + serverName;
  const std::wstring classKey = L"SOFTWARE\\Classes\\BrindleTestServer." + serverName;
  ASSERT_TRUE(CreateFolderChain(packageSource_ + L"\\INST"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_local_server.exe").c_str(),
                        (packageSource_ + L"\\INST\\" + serverName).c_str(), FALSE));
  const std::string name = Narrow(serverName);
  const std::wstring list = SmallPackage("<File COM=\"INST_REG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>"
                                         "$InsFolder$\\bin\\" + name + "</FullPath><FileName>" + name +
                                         "</FileName></File>");
  const std::wstring otherList = PrepareOtherApplication();
  ASSERT_FALSE(HasFailure());
  UniqueHandle hold(CreateEventW(nullptr, TRUE, FALSE, (L"BrindleLocalServerHold." + serverName).c_str()));
  UniqueHandle waiting(CreateEventW(nullptr, TRUE, FALSE, (L"BrindleLocalServerWaiting." + serverName).c_str()));
  ASSERT_TRUE(hold && waiting);
  const std::string before = Machine(false);
  const std::wstring logBefore = InstallLogText(installLog_.Path());
  std::unique_ptr<CQXInstallLog> logBeforeRun = LoadInstallLog(installLog_.Path());
  ASSERT_TRUE(logBeforeRun && FindEntry(*logBeforeRun, L"OtherApp"));
  const InstallLogEntry* otherBefore = FindEntry(*logBeforeRun, L"OtherApp");
  const std::set<std::wstring> keptBefore = KeptJournals();

  StartedProcess run = StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /non_notification");
  const HANDLE started[2] = {waiting.Get(), run.process.Get()};
  ASSERT_EQ(WaitForMultipleObjects(2, started, FALSE, 90000), WAIT_OBJECT_0) << "the server never began to register";
  UniqueHandle registering = OpenProcessOf(server);
  ASSERT_TRUE(registering) << "no process runs " << Narrow(server);
  ASSERT_TRUE(FileExists(JournalPath()));
  TerminateProcess(run.process.Get(), 9);
  WaitForExit(run, 60000);
  const bool serverEnded = WaitForSingleObject(registering.Get(), 20000) == WAIT_OBJECT_0;
  EXPECT_TRUE(serverEnded) << "the server's registration outlived the process that started it";

  ASSERT_TRUE(WriteOtherList(otherList));
  ServiceLogTail tail;
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(otherList, L"/non_notification"), 200);
  }
  // A registration still waiting would now find its way: it must find nothing to register.
  SetEvent(hold.Get());
  if (!serverEnded) WaitForSingleObject(registering.Get(), 20000);
  if (HasFailure())
    for (const ServiceLogLine& line : tail.NewLines()) ADD_FAILURE() << Narrow(line.key + L" " + line.detail);
  EXPECT_EQ(tail.Details(L"UNDO_JOURNAL").size(), 1u);
  const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
  ASSERT_EQ(undone.size(), 1u);
  EXPECT_TRUE(EndsWith(undone[0], L",success")) << Narrow(undone[0]);
  EXPECT_EQ(tail.Details(L"UNDO_COM_UNREGISTER"), (std::vector<std::wstring>{L"-," + server + L",success,0"}));
  // The first application is back as it was: files and uninstall log, values, shortcut, counts.
  EXPECT_EQ(Machine(false), before);
  EXPECT_FALSE(FileExists(server));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classKey, KEY_WOW64_64KEY));
  // The install log differs from the one before only by the other application's new versions.
  EXPECT_EQ(InstallLogText(installLog_.Path(), otherBefore), logBefore);
  {
    std::unique_ptr<CQXInstallLog> log = LoadInstallLog(installLog_.Path());
    ASSERT_TRUE(log && FindEntry(*log, L"OtherApp") && FindEntry(*log, L"SampleApp"));
    EXPECT_EQ(FindEntry(*log, L"OtherApp")->applicationVersion.text, L"3.4");
    EXPECT_EQ(FindEntry(*log, L"SampleApp")->applicationVersion.text, L"1.0");
  }
  EXPECT_EQ(FileText(other_ + L"\\other.txt"), "other 3.4");
  EXPECT_FALSE(FileExists(JournalPath()));
  EXPECT_EQ(KeptJournals(), keptBefore);

  if (WaitForSingleObject(registering.Get(), 0) != WAIT_OBJECT_0) {
    TerminateProcess(registering.Get(), 9);
    WaitForSingleObject(registering.Get(), 10000);
  }
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (classKey + L"\\LocalServer32").c_str(), KEY_WOW64_64KEY, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, classKey.c_str(), KEY_WOW64_64KEY, 0);
}

// A journal that another program holds open when the package is kept (a scanner reading it)
// cannot be removed; what stays of it is never taken for an interrupted package: the next run,
// for another application, leaves the kept package as it is.
TEST_F(PatchUndo, AKeptPackageWhoseJournalAnotherProgramHeldIsNotTakenBackByTheNextRun) {
  Install();
  const std::wstring list = SmallPackage();
  const std::wstring otherList = PrepareOtherApplication();
  ASSERT_FALSE(HasFailure());
  const std::wstring journal = JournalPath();
  UniqueFile reader;
  {
    BoxAnswerer answerer;
    StartedProcess run = StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /non_notification");
    // Opened as soon as it exists, for reading, sharing reading and writing but not deletion.
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (!reader && GetTickCount64() < deadline && WaitForSingleObject(run.process.Get(), 0) == WAIT_TIMEOUT)
      reader.Reset(CreateFileW(journal.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader) << "the journal was never seen";
    EXPECT_EQ(WaitForExit(run, 120000), 200);
  }
  reader.Reset();
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1");
  const std::string kept = Machine(false);

  ASSERT_TRUE(WriteOtherList(otherList));
  ServiceLogTail tail;
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(otherList, L"/non_notification"), 200);
  }
  EXPECT_TRUE(tail.Details(L"UNDO_PACKAGE").empty());
  EXPECT_EQ(Machine(false), kept);
  EXPECT_EQ(FileText(other_ + L"\\other.txt"), "other 3.4");
  EXPECT_FALSE(FileExists(journal));
}

// More old files than one backup folder takes (a hundred): a package that fails after replacing
// them all puts every one back, and the same package, once it can apply, leaves no backup
// behind when the process has ended.
TEST_F(PatchUndo, ManyReplacedFilesAreAllPutBackOrAllRemoved) {
  const int kFiles = 250;
  const std::string a = Utf8FromWide(app_);
  std::string logged, records;
  for (int i = 0; i < kFiles; ++i) {
    const std::wstring name = L"many\\f" + std::to_wstring(i) + L".txt";
    ASSERT_TRUE(WriteFileText(app_ + L"\\" + name, "old " + std::to_string(i)));
    ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\" + name, "new " + std::to_string(i)));
    const std::string n = Utf8FromWide(name);
    logged += "UIFILE=\"" + Logged(a + "\\" + n) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
    records += "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\" + n +
               "</FullPath><FileName>" + n + "</FileName></File>";
  }
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n[Files]\r\n" + logged +
                                "[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n[UninstallCustomFunction]\r\n"
                                "DLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  // The registry pass comes after the files; a number that cannot be stored fails the package.
  const std::string bad = "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" + Narrow(key_) +
                          "</RegKeyPath><RegValueName>Bad</RegValueName><RegData Type=\"REG_DW\">not a number"
                          "</RegData></Registry>";
  auto diff = [&records](const std::string& more) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
           "</GeneralInfo><UpdateObjects>" + records + more + "</UpdateObjects></DiffDistribute>";
  };
  const std::wstring backups = ShellFolder(CSIDL_COMMON_APPDATA) + L"\\Tamek_Inc_RW\\BrindleUndo\\backup";
  {
    ServiceLogTail tail;
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(BuildPackage(diff(bad)), L"/non_notification"), 100);
    EXPECT_EQ(tail.Details(L"UPDATE_FILE_ADD").size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(tail.Details(L"UNDO_FILE_RESTORE").size(), static_cast<size_t>(kFiles));
  }
  for (int i = 0; i < kFiles; ++i)
    ASSERT_EQ(FileText(app_ + L"\\many\\f" + std::to_wstring(i) + L".txt"), "old " + std::to_string(i)) << i;
  EXPECT_FALSE(FileExists(JournalPath()));
  EXPECT_FALSE(FileExists(backups));

  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(BuildPackage(diff("")), L"/non_notification"), 200);
  }
  for (int i = 0; i < kFiles; ++i)
    ASSERT_EQ(FileText(app_ + L"\\many\\f" + std::to_wstring(i) + L".txt"), "new " + std::to_string(i)) << i;
  EXPECT_FALSE(FileExists(JournalPath()));
  EXPECT_FALSE(FileExists(backups));
}
