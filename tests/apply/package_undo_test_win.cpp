// A package applies completely or not at all, with the real Brindle.exe: a package that fails in
// its update group leaves every file, value, shortcut, shared count, restart-queue entry and both
// logs exactly as they were; run again once the cause is gone it applies fully; and a process
// ended after any journaled change is undone by the next run, which then applies its own work.
// These runs end Brindle.exe abruptly again and again; they live apart from the other
// end-to-end runs (tests/app), one of which reads a run's processor time, which Wine reports
// wrongly for a while after processes of the prefix were ended that way.
#include <gtest/gtest.h>

#include <set>

#include "apply/crash_point.h"
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

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>
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

// Every file and folder below the folder: path, attributes, last-write time (unless withTimes is
// false) and bytes.
void PictureTree(const std::wstring& folder, std::ostringstream& out, bool withTimes = true) {
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
      PictureTree(path, out, withTimes);
    } else {
      if (withTimes)
        out << " time=" << data.ftLastWriteTime.dwHighDateTime << ":" << data.ftLastWriteTime.dwLowDateTime;
      out << " bytes=" << FileText(path) << "\n";
    }
  }
}

// A file's attributes, creation and last-write times.
std::string FileStamp(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return "<missing>";
  std::ostringstream out;
  out << "attr=" << data.dwFileAttributes << " created=" << data.ftCreationTime.dwHighDateTime << ":"
      << data.ftCreationTime.dwLowDateTime << " written=" << data.ftLastWriteTime.dwHighDateTime << ":"
      << data.ftLastWriteTime.dwLowDateTime;
  return out.str();
}

// Gives the file times no run could give it.
bool SetOldTimes(const std::wstring& path) {
  UniqueFile file(
      CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  const FILETIME old = {0x12345600u, 0x01c00000u};
  return file && SetFileTime(file.Get(), &old, &old, &old);
}

std::string RawValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view) {
  UniqueRegKey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, opened.Receive()) != ERROR_SUCCESS)
    return "<no key>";
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
    return "<no value>";
  std::string data(bytes, '\0');
  RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type,
                   bytes ? reinterpret_cast<BYTE*>(&data[0]) : nullptr, &bytes);
  std::ostringstream out;
  out << "type=" << type << " data=";
  for (unsigned char c : data) out << std::hex << int(c) << ".";
  return out.str();
}

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view) {
  UniqueRegKey opened;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, opened.Receive()) == ERROR_SUCCESS;
}

void SetValue(const std::wstring& key, const std::wstring& name, DWORD type, const std::string& data,
              REGSAM view) {
  UniqueRegKey opened;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                  opened.Receive(), nullptr);
  RegSetValueExW(opened.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size()));
}

void DeleteKey(const std::wstring& key, REGSAM view) {
  UniqueRegKey software;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, software.Receive()) ==
      ERROR_SUCCESS)
    RegDeleteTreeW(software.Get(), key.substr(wcslen(L"SOFTWARE\\")).c_str());
}

DWORD SharedCount(const std::wstring& path) {
  UniqueRegKey key;
  DWORD count = 0, type = 0, bytes = sizeof(count);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) !=
          ERROR_SUCCESS ||
      RegQueryValueExW(key.Get(), path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&count), &bytes) !=
          ERROR_SUCCESS)
    return 0;
  return count;
}

void SetSharedCount(const std::wstring& path, DWORD count) {
  SetValue(kSharedDlls, path, REG_DWORD, std::string(reinterpret_cast<const char*>(&count), 4),
           KEY_WOW64_32KEY);
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

std::wstring UndoFolder() { return ShellFolder(CSIDL_COMMON_APPDATA) + L"\\Tamek_Inc_RW\\BrindleUndo"; }

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
std::set<std::wstring> KeptJournals() { return KeptJournals(UndoFolder() + L"\\journal-*.kept"); }

// The backup folders of packages (backup-<tag>), not those set aside (which carry a suffix).
std::set<std::wstring> PackageBackups() {
  std::set<std::wstring> names;
  for (const std::wstring& name : KeptJournals(UndoFolder() + L"\\backup*"))
    if (name.find(L'.') == std::wstring::npos) names.insert(name);
  return names;
}

// The journals of packages neither kept nor fully undone (each package's has a name of its own).
std::set<std::wstring> ActiveJournals() {
  std::set<std::wstring> paths;
  for (const std::wstring& name : KeptJournals(UndoFolder() + L"\\journal-*.dat"))
    if (EndsWith(name, L".dat")) paths.insert(UndoFolder() + L"\\" + name);
  if (FileExists(UndoFolder() + L"\\journal.dat")) paths.insert(UndoFolder() + L"\\journal.dat");
  return paths;
}

// The one active journal; empty when there is none (or more than one).
std::wstring ActiveJournal() {
  const std::set<std::wstring> journals = ActiveJournals();
  return journals.size() == 1 ? *journals.begin() : std::wstring();
}

std::wstring HexOf(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::wstring hex;
  for (unsigned char b : bytes) {
    hex += static_cast<wchar_t>(digits[b >> 4]);
    hex += static_cast<wchar_t>(digits[b & 15]);
  }
  return hex;
}

// A journal planted in the undo folder, in the program's own form with correct checksums.
struct PlantedJournal {
  std::string tag;
  std::wstring hex, path, backups;
};

PlantedJournal NewPlantedJournal() {
  PlantedJournal planted;
  GUID guid;
  CoCreateGuid(&guid);
  planted.tag.assign(reinterpret_cast<const char*>(&guid), sizeof(guid));
  planted.hex = HexOf(planted.tag);
  planted.path = UndoFolder() + L"\\journal-" + planted.hex + L".dat";
  planted.backups = UndoFolder() + L"\\backup-" + planted.hex;
  return planted;
}

// Writes the journal's bytes; with trusted set, also its identity where the program records it
// when a package begins (which only administrators can write: the test runs as one).
bool Plant(const PlantedJournal& planted, const std::string& bytes, bool trusted) {
  if (!CreateFolderChain(UndoFolder()) || !WriteFileText(planted.path, bytes)) return false;
  if (!trusted) return true;
  UniqueFile file(
      CreateFileW(planted.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file || !GetFileInformationByHandle(file.Get(), &info)) return false;
  std::string identity;
  for (DWORD part : {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow})
    identity.append(reinterpret_cast<const char*>(&part), sizeof(part));
  identity += planted.tag;
  UniqueRegKey key;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamek\\Brindle\\UndoJournals", 0, nullptr, 0,
                         KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.Receive(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExW(key.Get(), LastPathComponent(planted.path).c_str(), 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(identity.data()),
                        static_cast<DWORD>(identity.size())) == ERROR_SUCCESS;
}

UndoRecord Begun(const std::wstring& app) {
  UndoRecord record;
  record.kind = UndoKind::PackageBegun;
  record.path = app;
  record.other = L"planted.diff";
  return record;
}

UndoRecord FileRecord(UndoKind kind, const std::wstring& path, const std::wstring& other = std::wstring()) {
  UndoRecord record;
  record.kind = kind;
  record.path = path;
  record.other = other;
  return record;
}

UndoRecord Undone(size_t index) {
  UndoRecord record;
  record.kind = UndoKind::StepUndone;
  record.attributes = static_cast<std::uint32_t>(index);
  return record;
}

// Presses the button of the run's final message box (or restart question) whenever one shows.
class BoxAnswerer {
 public:
  BoxAnswerer()
      : thread_([this] {
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
    for (const std::wstring& journal : ActiveJournals()) {
      ADD_FAILURE() << "the case left an undo journal";
      DeleteFileW(journal.c_str());
    }
    DeleteKey(key_, KEY_WOW64_32KEY);
    DeleteKey(key_, KEY_WOW64_64KEY);
    DeleteFileW(link_.c_str());
    RemoveSharedCount(app_ + L"\\refdel.dll");
    RemoveSharedCount(app_ + L"\\shared.dll");
    RemoveSharedCount(app_ + L"\\new\\shared.dll");
    PatchFixture::TearDown();
  }
  // The application with one registered COM server listed in its uninstall log, the logs and the
  // wrapper's files, and an empty package source (INST, CUSTOM).
  void InstallWithRegisteredServer(const std::wstring& server) {
    ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                              "[Language]\r\nLang=\"en\"\r\n[Files]\r\nUIFILE=\"" +
                                  Logged(Utf8FromWide(server)) +
                                  "\" INST_REQ INST_REQ INST_DEL INST_REG\r\n[Startup]\r\nVersion=\"1.0\"\r\n"
                                  "[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
    WriteInstallLog(L"en");
    WriteWrapperFiles({L"ENGLISH"});
    ASSERT_TRUE(CreateFolderChain(packageSource_ + L"\\INST"));
    ASSERT_TRUE(CreateFolderChain(packageSource_ + L"\\CUSTOM"));
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
    ASSERT_TRUE(
        WriteFileText(app_ + L"\\uninst.ini",
                      "[Language]\r\nLang=\"en\"\r\n[Folders]\r\nUIFLDR=\"" + Logged(a) +
                          "\" INST_REQ INST_CRE INST_DEL \r\n"
                          "[Files]\r\n" +
                          files + "UIFILE=\"" + Logged(a + "\\refdel.dll") +
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
      return std::string("<File COM=\"INST_NOREG\" DelInfo=\"") + del + "\" WOW=\"INST_32BIT\"><FullPath>" +
             path + "</FullPath>" + (name.empty() ? "" : "<FileName>" + name + "</FileName>") + "</File>";
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
        file("INST_DEL", "$InsFolder$\\added.txt", "added.txt") +
        value("INST_32BIT", "New32", "REG_SZ", "new") + value("INST_64BIT", "New64", "REG_SZ", "new") +
        "</AddObjects></DiffDistribute>");
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
        "RegRoot=\"REG_HLM\">" +
        Narrow(key_) +
        "</RegKeyPath><RegValueName>Gone64</RegValueName><RegData "
        "Type=\"REG_DW\"></RegData></Registry><ShortCut><SCName Type=\"INST_DSC\">" +
        linkName.substr(0, linkName.size() - 4) +
        "</SCName></ShortCut></DeleteObjects><UpdateObjects>"
        "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\lib.txt"
        "</FullPath><FileName>lib.txt</FileName></File></UpdateObjects><AddObjects><File COM=\"INST_NOREG\" "
        "DelInfo=\"INST_REF\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\new\\shared.dll</FullPath><FileName>"
        "shared.dll</FileName></File><Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" +
        Narrow(key_) +
        "\\Sub</RegKeyPath><RegValueName>New32</RegValueName><RegData Type=\"REG_SZ\">new"
        "</RegData></Registry>" +
        moreAdded + "</AddObjects></DiffDistribute>");
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
    EXPECT_TRUE(
        WriteFileText(otherSource + L"\\diff.xml",
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
    return WriteFileText(
        otherList,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
        "<FileName>other.diff</FileName><AppName>OtherApp</AppName><DisplayName>Sample Application"
        "</DisplayName></DiffLocal></DiffLocalList>");
  }

  // What a user could check: the application's files, the values of both views, the shortcut,
  // the shared counts, the restart queue and both logs.
  std::string Machine(bool withInstallLog = true, bool withTimes = true) {
    std::ostringstream out;
    PictureTree(app_, out, withTimes);
    for (const wchar_t* name : {L"Gone32", L"New32"})
      out << Narrow(name) << "32:" << RawValue(HKEY_LOCAL_MACHINE, key_, name, KEY_WOW64_32KEY) << "\n";
    for (const wchar_t* name : {L"Gone64", L"Stay64", L"New64"})
      out << Narrow(name) << "64:" << RawValue(HKEY_LOCAL_MACHINE, key_, name, KEY_WOW64_64KEY) << "\n";
    out << "Sub32:" << KeyExists(HKEY_LOCAL_MACHINE, key_ + L"\\Sub", KEY_WOW64_32KEY)
        << " New32:" << RawValue(HKEY_LOCAL_MACHINE, key_ + L"\\Sub", L"New32", KEY_WOW64_32KEY) << "\n";
    out << "link=" << FileText(link_) << "\n";
    out << "refdel=" << SharedCount(app_ + L"\\refdel.dll")
        << " shared=" << SharedCount(app_ + L"\\shared.dll")
        << " new\\shared=" << SharedCount(app_ + L"\\new\\shared.dll") << "\n";
    out << "pending=" << RawValue(HKEY_LOCAL_MACHINE, kPendingKey, L"PendingFileRenameOperations", 0) << "\n";
    if (withInstallLog) out << "installlog=" << installLog_.Bytes() << "\n";
    return out.str();
  }

  std::string InstallManyFiles();

  std::wstring key_, desktop_, link_, other_;
};

}  // namespace

TEST_F(PatchUndo, AFailingPackageLeavesEverythingAsItWasAndAppliesFullyOnceTheCauseIsGone) {
  Install();
  const std::wstring list = Package();
  StartedProcess busy =
      StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + app_ + L"\\busy.txt\" 120000");
  StartedProcess busy2 =
      StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + app_ + L"\\busy2.txt\" 120000");
  StartedProcess held =
      StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + app_ + L"\\held.txt\" 120000");
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
  EXPECT_TRUE(ActiveJournals().empty());

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
  EXPECT_TRUE(ActiveJournals().empty());
}

// The process is ended after each journaled change in turn (the test watches the journal file
// grow and ends the process at once); the next run, for another application, first takes the
// package back, then applies its own. After each end, 16 zero bytes are appended to the journal,
// as a file grown before its data reached the disk reads after a power loss: a torn end, which
// the undo reads past.
TEST_F(PatchUndo, AProcessEndedAfterAnyChangeIsUndoneByTheNextRunWhichThenDoesItsOwnWork) {
  Install();
  const std::wstring list = SmallPackage();
  const std::wstring otherList = PrepareOtherApplication();
  ASSERT_FALSE(HasFailure());
  const std::wstring other = other_;
  const std::string before = Machine(false);
  const std::string listText = FileText(list);
  // Journals that earlier cases kept aside are not this case's.
  const std::set<std::wstring> keptBefore = KeptJournals();
  int kills = 0;
  for (size_t stop = 1; stop < 200;) {
    std::wstring journal;
    ASSERT_TRUE(WriteFileText(list, listText));
    StartedProcess run =
        StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /non_notification");
    // Ends the process as soon as the journal holds `stop` records.
    bool ended = false;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (GetTickCount64() < deadline) {
      if (WaitForSingleObject(run.process.Get(), 0) == WAIT_OBJECT_0) break;
      if (journal.empty()) journal = ActiveJournal();
      std::string bytes;
      if (journal.empty() || !ReadBytes(journal, bytes)) continue;
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
    {
      UniqueFile grown(CreateFileW(journal.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      DWORD written = 0;
      ASSERT_TRUE(grown && WriteFile(grown.Get(), std::string(16, '\0').data(), 16, &written, nullptr));
    }
    ASSERT_TRUE(WriteOtherList(otherList));
    ServiceLogTail tail;
    {
      BoxAnswerer answerer;
      EXPECT_EQ(RunBrindle(otherList, L"/non_notification"), 200) << stop;
    }
    if (HasFailure())
      for (const ServiceLogLine& line : tail.NewLines())
        ADD_FAILURE() << Narrow(line.key + L" " + line.detail);
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
TEST_F(PatchUndo, AnAfterUpdateVetoTakesBackTheComServersOfThePackage) {
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
  InstallWithRegisteredServer(oldServer);
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
      "</GeneralInfo><DeleteObjects><File " +
      com64 +
      "><FullPath>$InsFolder$\\oldserver.dll</FullPath></File>"
      "</DeleteObjects><AddObjects><File " +
      com64 +
      "><FullPath>$InsFolder$\\newserver.dll</FullPath>"
      "<FileName>newserver.dll</FileName></File><File " +
      com64 +
      "><FullPath>$InsFolder$\\failserver.dll"
      "</FullPath><FileName>failserver.dll</FileName></File></AddObjects><CustomFunction><FileName Type=\"AfterUpdate\">"
      "veto_hook.dll</FileName></CustomFunction></DiffDistribute>");
  const std::string uninstBefore = FileText(app_ + L"\\uninst.ini");
  // The install log, kept by a copy, comes back with its bytes, times and attributes (and its
  // own access list, which Wine does not keep: that part cannot be observed here).
  ASSERT_TRUE(SetOldTimes(ToBackslashes(installLog_.Path())));
  const std::string logStampBefore = FileStamp(ToBackslashes(installLog_.Path()));
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
  EXPECT_EQ(tail.Details(L"UNDO_COM_REGISTER"),
            (std::vector<std::wstring>{L"-," + oldServer + L",success,0"}));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"oldserver.dll\\InprocServer32", KEY_WOW64_64KEY));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"newserver.dll", KEY_WOW64_64KEY));
  EXPECT_TRUE(FileExists(oldServer));
  EXPECT_FALSE(FileExists(app_ + L"\\newserver.dll"));
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), uninstBefore);
  EXPECT_EQ(installLog_.Bytes(), logBefore);
  EXPECT_EQ(FileStamp(ToBackslashes(installLog_.Path())), logStampBefore);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (classes + L"oldserver.dll\\InprocServer32").c_str(), KEY_WOW64_64KEY,
                  0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (classes + L"oldserver.dll").c_str(), KEY_WOW64_64KEY, 0);
}

namespace {

// A server's registration: every key below the class key, with its values, in the 64-bit view.
void PictureKey(const std::wstring& path, std::ostringstream& out) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.Receive()) !=
      ERROR_SUCCESS)
    return;
  out << Narrow(path) << "\n";
  std::set<std::wstring> values, keys;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumValueW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    values.insert(name);
  }
  for (const std::wstring& value : values)
    out << "  [" << Narrow(value) << "] " << RawValue(HKEY_LOCAL_MACHINE, path, value, KEY_WOW64_64KEY)
        << "\n";
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    keys.insert(name);
  }
  for (const std::wstring& sub : keys) PictureKey(path + L"\\" + sub, out);
}

std::string ClassPicture(const std::wstring& classKey) {
  std::ostringstream out;
  PictureKey(classKey, out);
  return out.str();
}

// The library a class's registration names.
std::wstring ServerOf(const std::wstring& classKey) {
  wchar_t path[MAX_PATH] = {};
  DWORD bytes = sizeof(path);
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (classKey + L"\\InprocServer32").c_str(), 0,
                    KEY_READ | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS ||
      RegGetValueW(key.Get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, path, &bytes) != ERROR_SUCCESS)
    return L"<none>";
  return path;
}

bool RegisterCopy(const std::wstring& server) {
  UniqueModule library(LoadLibraryW(server.c_str()));
  using Register = HRESULT(__stdcall*)();
  auto registerServer = library ? reinterpret_cast<Register>(reinterpret_cast<void*>(
                                      GetProcAddress(library.Get(), "DllRegisterServer")))
                                : nullptr;
  return registerServer && registerServer() == S_OK;
}

}  // namespace

// Two copies of one class: copy A, in a folder of its own, was registered before the package
// (by another program); the package adds copy B of the same class and registers it, deletes
// (and so unregisters) the server of another class whose keys another program gave values of
// its own, and is then vetoed. The undo gives the registry back its state: the class
// points at copy A again (unregistering copy B would have removed the class), and the other
// class has its keys with every value in them (registering that server again would not bring
// the other program's values back). No server's registration code runs in the undo; its
// service-log lines are those of before.
TEST_F(PatchUndo, AnUndoGivesEachClassTheRegistrationItHadBefore) {
  const std::wstring twinName = Unique(L"twin") + L".dll", goneName = Unique(L"gone") + L".dll";
  const std::wstring twinClass = L"SOFTWARE\\Classes\\BrindleTestServer." + twinName;
  const std::wstring goneClass = L"SOFTWARE\\Classes\\BrindleTestServer." + goneName;
  const std::wstring copyA = app_ + L"\\a\\" + twinName, copyB = app_ + L"\\" + twinName;
  const std::wstring gone = app_ + L"\\" + goneName;
  ASSERT_TRUE(CreateFolderChain(app_ + L"\\a"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), copyA.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), gone.c_str(), FALSE));
  ASSERT_TRUE(RegisterCopy(copyA));
  ASSERT_TRUE(RegisterCopy(gone));
  SetValue(goneClass + L"\\InprocServer32", L"ThreadingModel", REG_SZ, std::string("B\0o\0t\0h\0\0\0", 10),
           KEY_WOW64_64KEY);
  SetValue(goneClass, L"Left", REG_DWORD, std::string("\x07\0\0\0", 4), KEY_WOW64_64KEY);
  InstallWithRegisteredServer(gone);
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(),
                        (packageSource_ + L"\\INST\\" + twinName).c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_hook.dll").c_str(),
                        (packageSource_ + L"\\CUSTOM\\veto_hook.dll").c_str(), FALSE));
  // Copy B registers in the program's own process; the deleted server through the system's
  // registration tool.
  const std::string twin = Narrow(twinName);
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
      "</GeneralInfo><DeleteObjects><File COM=\"INST_REG\" DelInfo=\"INST_DEL\" WOW=\"INST_64BIT\"><FullPath>"
      "$InsFolder$\\" +
      Narrow(goneName) +
      "</FullPath></File></DeleteObjects><AddObjects><File COM=\"INST_REG\" "
      "DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\" +
      twin + "</FullPath><FileName>" + twin +
      "</FileName></File></AddObjects><CustomFunction><FileName Type=\"AfterUpdate\">veto_hook.dll</FileName>"
      "</CustomFunction></DiffDistribute>");
  const std::string twinBefore = ClassPicture(twinClass), goneBefore = ClassPicture(goneClass);
  ASSERT_EQ(ServerOf(twinClass), copyA);
  ASSERT_NE(goneBefore.find("[Left]"), std::string::npos) << goneBefore;
  ServiceLogTail tail;
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(list, L"/non_notification"), 100);
  }
  // The package did register copy B and unregister the deleted server before the veto.
  EXPECT_EQ(tail.Details(L"UNREGISTER_COM"), (std::vector<std::wstring>{L"-," + gone + L",success,0"}));
  EXPECT_EQ(tail.Details(L"UNDO_COM_UNREGISTER"), (std::vector<std::wstring>{L"-," + copyB + L",success,0"}));
  EXPECT_EQ(tail.Details(L"UNDO_COM_REGISTER"), (std::vector<std::wstring>{L"-," + gone + L",success,0"}));
  const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
  ASSERT_EQ(undone.size(), 2u);
  EXPECT_TRUE(EndsWith(undone[1], L",success")) << Narrow(undone[1]);
  EXPECT_EQ(ServerOf(twinClass), copyA);
  EXPECT_EQ(ClassPicture(twinClass), twinBefore);
  EXPECT_EQ(ClassPicture(goneClass), goneBefore);
  EXPECT_TRUE(FileExists(gone));
  EXPECT_FALSE(FileExists(copyB));
  EXPECT_TRUE(ActiveJournals().empty());
  DeleteKey(twinClass, KEY_WOW64_64KEY);
  DeleteKey(goneClass, KEY_WOW64_64KEY);
}

// A journal of the program's own that cannot be read is never applied in part: it is kept aside
// under a dated name, logged, and the run does its own work.
TEST_F(PatchUndo, AnUnreadableJournalIsKeptAsideAndNeverApplied) {
  Install();
  const std::wstring list = SmallPackage();
  const PlantedJournal planted = NewPlantedJournal();
  // A record that would remove lib.txt, behind a damaged first write.
  std::string bytes = EncodeJournalHeader(planted.tag) + EncodeJournalWrite({Begun(L"SampleApp")}) +
                      EncodeJournalWrite({FileRecord(UndoKind::FileCreated, app_ + L"\\lib.txt")});
  bytes[EncodeJournalHeader(planted.tag).size() + 12] ^= 0x20;
  ASSERT_TRUE(Plant(planted, bytes, true));
  // Journals that earlier cases kept aside are not this case's.
  const std::set<std::wstring> keptBefore = KeptJournals();
  ServiceLogTail tail;
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  }
  EXPECT_EQ(tail.Details(L"UNDO_JOURNAL"),
            (std::vector<std::wstring>{L"-," + planted.path + L",unreadable"}));
  EXPECT_TRUE(tail.Details(L"UNDO_FILE_REMOVE").empty());
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1");
  EXPECT_FALSE(FileExists(planted.path));
  // The damaged journal waits, whole, under its new name.
  std::vector<std::wstring> keptNow;
  for (const std::wstring& name : KeptJournals())
    if (keptBefore.count(name) == 0) keptNow.push_back(name);
  ASSERT_EQ(keptNow.size(), 1u);
  const std::wstring keptPath = UndoFolder() + L"\\" + keptNow[0];
  EXPECT_EQ(FileText(keptPath), bytes);
  DeleteFileW(keptPath.c_str());
}

// Journals the program did not write, planted in its own form with correct checksums (users may
// make folders below the common application-data folder): one without the identity recorded
// when a package begins, and one with it whose old file would come from outside its package's
// backup folder. Neither is applied nor deleted: each is set aside, named in the service log,
// and the run does its own work. (Wine keeps no access lists and gives every file the one
// account's owner, so the folder's protection and the journal's owner cannot be observed here;
// what decides here is the identity recorded under HKLM.)
TEST_F(PatchUndo, AJournalTheProgramDidNotWriteIsSetAsideUnappliedAndTheRunGoesOn) {
  Install();
  const std::wstring list = SmallPackage();
  const std::wstring victim = app_ + L"\\victim.txt";
  const std::wstring stranger = app_ + L"\\stranger.txt";
  ASSERT_TRUE(WriteFileText(victim, "keep me"));
  ASSERT_TRUE(WriteFileText(stranger, "the attacker's file"));
  const PlantedJournal unknown = NewPlantedJournal();
  const std::string unknownBytes =
      EncodeJournalHeader(unknown.tag) +
      EncodeJournalWrite({Begun(L"SampleApp"), FileRecord(UndoKind::FileCreated, victim)});
  ASSERT_TRUE(Plant(unknown, unknownBytes, false));
  const PlantedJournal outside = NewPlantedJournal();
  const std::string outsideBytes =
      EncodeJournalHeader(outside.tag) +
      EncodeJournalWrite(
          {Begun(L"SampleApp"), FileRecord(UndoKind::FileMovedAside, app_ + L"\\old.txt", stranger)});
  ASSERT_TRUE(Plant(outside, outsideBytes, true));
  // A journal whose identity was recorded, exchanged afterwards for a copy of itself (another
  // file under the same name, with the same bytes).
  const PlantedJournal copied = NewPlantedJournal();
  const std::string copiedBytes =
      EncodeJournalHeader(copied.tag) +
      EncodeJournalWrite({Begun(L"SampleApp"), FileRecord(UndoKind::FileCreated, victim)});
  ASSERT_TRUE(Plant(copied, copiedBytes, true));
  ASSERT_TRUE(WriteFileText(copied.path + L".copy", copiedBytes));
  ASSERT_TRUE(MoveFileExW((copied.path + L".copy").c_str(), copied.path.c_str(), MOVEFILE_REPLACE_EXISTING));
  const std::set<std::wstring> untrustedBefore = KeptJournals(UndoFolder() + L"\\journal-*.untrusted");
  ServiceLogTail tail;
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  }
  std::vector<std::wstring> lines = tail.Details(L"UNDO_JOURNAL");
  std::sort(lines.begin(), lines.end());
  std::vector<std::wstring> expected = {L"-," + unknown.path + L",untrusted",
                                        L"-," + outside.path + L",untrusted",
                                        L"-," + copied.path + L",untrusted"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(tail.Details(L"UNDO_PACKAGE").empty());
  EXPECT_EQ(FileText(victim), "keep me");
  EXPECT_EQ(FileText(stranger), "the attacker's file");
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1") << "the run did its own work";
  EXPECT_TRUE(ActiveJournals().empty());
  // Each is kept, whole, under a name of its own.
  std::set<std::string> kept;
  for (const std::wstring& name : KeptJournals(UndoFolder() + L"\\journal-*.untrusted")) {
    if (untrustedBefore.count(name)) continue;
    kept.insert(FileText(UndoFolder() + L"\\" + name));
    DeleteFileW((UndoFolder() + L"\\" + name).c_str());
  }
  EXPECT_EQ(kept, (std::set<std::string>{unknownBytes, outsideBytes, copiedBytes}));
}

// An undo ended right after it had put the last of its first files back (that step not yet
// marked done): the next run finishes the undo from the journal and leaves the files it had
// restored as they are. Replayed from its start, the journal would remove them again.
TEST_F(PatchUndo, AnUndoEndedAfterSomeFilesWereBackIsFinishedAndKeepsThemBack) {
  Install();
  const PlantedJournal planted = NewPlantedJournal();
  const std::wstring a = app_ + L"\\lib.txt", b = app_ + L"\\busy2.txt";
  const std::wstring backupA = planted.backups + L"\\0000\\000001.old";
  const std::wstring backupB = planted.backups + L"\\0000\\000002.old";
  // The package had updated both files; the undo took b's new copy away (marked), put b's old
  // copy back (not yet marked), then the process ended. a is still the package's.
  ASSERT_TRUE(WriteFileText(backupA, "lib 1.0"));
  ASSERT_TRUE(WriteFileText(a, "lib 1.1"));
  const std::string bytes =
      EncodeJournalHeader(planted.tag) +
      EncodeJournalWrite({Begun(L"SampleApp"), FileRecord(UndoKind::FileMovedAside, a, backupA),
                          FileRecord(UndoKind::FileMovedAside, b, backupB)}) +
      EncodeJournalWrite({FileRecord(UndoKind::FileCreated, a), FileRecord(UndoKind::FileCreated, b)}) +
      EncodeJournalWrite({Undone(4)});
  ASSERT_TRUE(Plant(planted, bytes, true));
  const std::wstring otherList = PrepareOtherApplication();
  ASSERT_TRUE(WriteOtherList(otherList));
  ServiceLogTail tail;
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(otherList, L"/non_notification"), 200);
  }
  if (HasFailure())
    for (const ServiceLogLine& line : tail.NewLines()) ADD_FAILURE() << Narrow(line.key + L" " + line.detail);
  EXPECT_EQ(FileText(b), "busy2 1.0") << "a file the first undo had put back is gone";
  EXPECT_EQ(FileText(a), "lib 1.0");
  const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
  ASSERT_EQ(undone.size(), 1u);
  EXPECT_TRUE(EndsWith(undone[0], L",success")) << Narrow(undone[0]);
  EXPECT_TRUE(ActiveJournals().empty());
  EXPECT_FALSE(FileExists(planted.backups));
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
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE,
                                     FALSE, entry.th32ProcessID));
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
// is done. Before it, the package registered its copy of a class that another copy, elsewhere,
// had registered before: the recovery points the class at that copy again.
TEST_F(PatchUndo, AProcessEndedWhileAServerItStartedRegistersIsUndoneByTheNextRunForAnotherApplication) {
  Install();
  const std::wstring serverName = Unique(L"waitserver") + L".exe";
  const std::wstring server = app_ + L"\\bin\\" + serverName;
  const std::wstring classKey = L"SOFTWARE\\Classes\\BrindleTestServer." + serverName;
  const std::wstring twinName = Unique(L"twin") + L".dll";
  const std::wstring twinClass = L"SOFTWARE\\Classes\\BrindleTestServer." + twinName;
  const std::wstring copyA = app_ + L"\\a\\" + twinName;
  ASSERT_TRUE(CreateFolderChain(app_ + L"\\a"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), copyA.c_str(), FALSE));
  ASSERT_TRUE(RegisterCopy(copyA));
  const std::string twinBefore = ClassPicture(twinClass);
  ASSERT_TRUE(CreateFolderChain(packageSource_ + L"\\INST"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_local_server.exe").c_str(),
                        (packageSource_ + L"\\INST\\" + serverName).c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(),
                        (packageSource_ + L"\\INST\\" + twinName).c_str(), FALSE));
  const std::string name = Narrow(serverName), twin = Narrow(twinName);
  const std::wstring list = SmallPackage(
      "<File COM=\"INST_REG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>"
      "$InsFolder$\\" +
      twin + "</FullPath><FileName>" + twin +
      "</FileName></File>"
      "<File COM=\"INST_REG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>"
      "$InsFolder$\\bin\\" +
      name + "</FullPath><FileName>" + name + "</FileName></File>");
  const std::wstring otherList = PrepareOtherApplication();
  ASSERT_FALSE(HasFailure());
  UniqueHandle hold(CreateEventW(nullptr, TRUE, FALSE, (L"BrindleLocalServerHold." + serverName).c_str()));
  UniqueHandle waiting(
      CreateEventW(nullptr, TRUE, FALSE, (L"BrindleLocalServerWaiting." + serverName).c_str()));
  ASSERT_TRUE(hold && waiting);
  const std::string before = Machine(false);
  const std::wstring logBefore = InstallLogText(installLog_.Path());
  std::unique_ptr<CQXInstallLog> logBeforeRun = LoadInstallLog(installLog_.Path());
  ASSERT_TRUE(logBeforeRun && FindEntry(*logBeforeRun, L"OtherApp"));
  const InstallLogEntry* otherBefore = FindEntry(*logBeforeRun, L"OtherApp");
  const std::set<std::wstring> keptBefore = KeptJournals();

  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /non_notification");
  const HANDLE started[2] = {waiting.Get(), run.process.Get()};
  ASSERT_EQ(WaitForMultipleObjects(2, started, FALSE, 90000), WAIT_OBJECT_0)
      << "the server never began to register";
  UniqueHandle registering = OpenProcessOf(server);
  ASSERT_TRUE(registering) << "no process runs " << Narrow(server);
  ASSERT_FALSE(ActiveJournal().empty());
  EXPECT_EQ(ServerOf(twinClass), app_ + L"\\" + twinName);  // the package's copy, registered before it
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
  EXPECT_EQ(tail.Details(L"UNDO_COM_UNREGISTER"),
            (std::vector<std::wstring>{L"-," + server + L",success,0",
                                       L"-," + app_ + L"\\" + twinName + L",success,0"}));
  // The first application is back as it was: files and uninstall log, values, shortcut, counts.
  EXPECT_EQ(Machine(false), before);
  EXPECT_FALSE(FileExists(server));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classKey, KEY_WOW64_64KEY));
  EXPECT_EQ(ServerOf(twinClass), copyA);
  EXPECT_EQ(ClassPicture(twinClass), twinBefore);
  // The install log differs from the one before only by the other application's new versions.
  EXPECT_EQ(InstallLogText(installLog_.Path(), otherBefore), logBefore);
  {
    std::unique_ptr<CQXInstallLog> log = LoadInstallLog(installLog_.Path());
    ASSERT_TRUE(log && FindEntry(*log, L"OtherApp") && FindEntry(*log, L"SampleApp"));
    EXPECT_EQ(FindEntry(*log, L"OtherApp")->applicationVersion.text, L"3.4");
    EXPECT_EQ(FindEntry(*log, L"SampleApp")->applicationVersion.text, L"1.0");
  }
  EXPECT_EQ(FileText(other_ + L"\\other.txt"), "other 3.4");
  EXPECT_TRUE(ActiveJournals().empty());
  EXPECT_EQ(KeptJournals(), keptBefore);

  if (WaitForSingleObject(registering.Get(), 0) != WAIT_OBJECT_0) {
    TerminateProcess(registering.Get(), 9);
    WaitForSingleObject(registering.Get(), 10000);
  }
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (classKey + L"\\LocalServer32").c_str(), KEY_WOW64_64KEY, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, classKey.c_str(), KEY_WOW64_64KEY, 0);
  DeleteKey(twinClass, KEY_WOW64_64KEY);
}

// The install log, kept by a copy, cannot be written at the end of the package (another program
// holds it), nor put back while it is held: the undo keeps its journal. Once the log is free,
// the next run puts it back with its bytes, attributes and times. (It also gets its own owner
// and access list back, not the backup folder's; Wine keeps no access lists, so that part
// cannot be observed here.)
TEST_F(PatchUndo, TheInstallLogPutBackHasItsBytesTimesAndAttributes) {
  Install();
  const std::wstring list = SmallPackage();
  const std::wstring log = ToBackslashes(installLog_.Path());
  ASSERT_TRUE(SetOldTimes(log));
  ASSERT_TRUE(SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  const std::string before = Machine();
  const std::string stamp = FileStamp(log);
  StartedProcess holder = StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + log + L"\" 120000");
  Sleep(1500);
  {
    ServiceLogTail tail;
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(list, L"/non_notification"), 100);
    const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
    ASSERT_EQ(undone.size(), 2u);
    EXPECT_TRUE(EndsWith(undone[1], L",error")) << Narrow(undone[1]);
  }
  EXPECT_EQ(ActiveJournals().size(), 1u);
  TerminateProcess(holder.process.Get(), 0);
  WaitForExit(holder, 5000);
  // A run whose own package is missing: it only finishes the undo.
  ASSERT_TRUE(
      WriteFileText(list,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
                    "<FileName>missing.diff</FileName><AppName>SampleApp</AppName><DisplayName>Sample "
                    "Application</DisplayName></DiffLocal></DiffLocalList>"));
  {
    ServiceLogTail tail;
    BoxAnswerer answerer;
    RunBrindle(list, L"/non_notification");
    const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
    ASSERT_EQ(undone.size(), 1u);
    EXPECT_TRUE(EndsWith(undone[0], L",success")) << Narrow(undone[0]);
  }
  EXPECT_EQ(Machine(), before);
  EXPECT_EQ(FileStamp(log), stamp);
  EXPECT_TRUE(ActiveJournals().empty());
  SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A recovery one of whose steps fails (a file the half-updated application holds) keeps the
// journal for the next run, says so, and applies no package of that application over the
// half-undone one; once the file is free, the next run finishes the undo and applies.
TEST_F(PatchUndo, ARecoveryThatFailsAStepIsTriedAgainByTheNextRun) {
  Install();
  const std::wstring added = app_ + L"\\added.txt";
  ASSERT_TRUE(WriteFileText(added, "the package's"));
  const PlantedJournal planted = NewPlantedJournal();
  ASSERT_TRUE(Plant(planted,
                    EncodeJournalHeader(planted.tag) +
                        EncodeJournalWrite({Begun(L"SampleApp"), FileRecord(UndoKind::FileCreated, added)}),
                    true));
  const std::set<std::wstring> keptBefore = KeptJournals();
  StartedProcess holder = StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + added + L"\" 120000");
  Sleep(1500);
  {
    ServiceLogTail tail;
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(SmallPackage(), L"/non_notification"), 100);
    const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
    ASSERT_EQ(undone.size(), 1u);
    EXPECT_TRUE(EndsWith(undone[0], L",error")) << Narrow(undone[0]);
    std::vector<std::wstring> journalLines = tail.Details(L"UNDO_JOURNAL");
    ASSERT_EQ(journalLines.size(), 2u);
    EXPECT_EQ(journalLines[1], L"-,SampleApp,pending");
  }
  EXPECT_EQ(ActiveJournals(), (std::set<std::wstring>{planted.path})) << "the journal was given up";
  EXPECT_EQ(KeptJournals(), keptBefore);
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.0") << "a package was applied over a half-undone one";

  TerminateProcess(holder.process.Get(), 0);
  WaitForExit(holder, 5000);
  ClearPackageSource();
  {
    ServiceLogTail tail;
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(SmallPackage(), L"/non_notification"), 200);
    const std::vector<std::wstring> undone = tail.Details(L"UNDO_PACKAGE");
    ASSERT_EQ(undone.size(), 1u);
    EXPECT_TRUE(EndsWith(undone[0], L",success")) << Narrow(undone[0]);
  }
  EXPECT_FALSE(FileExists(added));
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1");
  EXPECT_TRUE(ActiveJournals().empty());
}

namespace {

// The restart queue's raw value, to be put back as it was (the removal of a held journal is
// queued there).
class RestartQueueKeeper {
 public:
  RestartQueueKeeper() {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS)
      return;
    had_ = true;
    data_.assign(bytes, '\0');
    RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, nullptr,
                     bytes ? reinterpret_cast<BYTE*>(&data_[0]) : nullptr, &bytes);
  }
  ~RestartQueueKeeper() {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS)
      return;
    if (had_)
      RegSetValueExW(key.Get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                     reinterpret_cast<const BYTE*>(data_.data()), static_cast<DWORD>(data_.size()));
    else RegDeleteValueW(key.Get(), L"PendingFileRenameOperations");
  }

 private:
  bool had_ = false;
  std::string data_;
};

}  // namespace

// A journal that another program holds open when the package is kept (a scanner reading it)
// cannot be removed: it is emptied and its removal queued for the restart. The list's next
// package, for another application, gets a journal of its own and applies; and the next run
// never takes the kept package back.
TEST_F(PatchUndo, AKeptPackageWhoseJournalAnotherProgramHeldStopsNoLaterPackageAndIsNotTakenBack) {
  RestartQueueKeeper queue;
  Install();
  const std::wstring list = SmallPackage();
  const std::wstring otherList = PrepareOtherApplication();
  ASSERT_FALSE(HasFailure());
  // Both packages in one list.
  ASSERT_TRUE(CopyFileW(ToBackslashes(ParentFolder(otherList) + L"/other.diff").c_str(),
                        ToBackslashes(ParentFolder(list) + L"/other.diff").c_str(), FALSE));
  ASSERT_TRUE(
      WriteFileText(list,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
                    "<FileName>package.diff</FileName><AppName>SampleApp</AppName><DisplayName>Sample "
                    "Application</DisplayName></DiffLocal><DiffLocal Order=\"2\"><FileName>other.diff"
                    "</FileName><AppName>OtherApp</AppName><DisplayName>Sample Application</DisplayName>"
                    "</DiffLocal></DiffLocalList>"));
  std::wstring journal;
  UniqueFile reader;
  {
    BoxAnswerer answerer;
    StartedProcess run =
        StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /non_notification");
    // Opened as soon as it exists, for reading, sharing reading and writing but not deletion.
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (!reader && GetTickCount64() < deadline &&
           WaitForSingleObject(run.process.Get(), 0) == WAIT_TIMEOUT) {
      if (journal.empty()) journal = ActiveJournal();
      if (!journal.empty())
        reader.Reset(CreateFileW(journal.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    EXPECT_TRUE(reader) << "the journal was never seen";
    EXPECT_EQ(WaitForExit(run, 120000), 200);
  }
  // Held, the first package's journal stayed, empty.
  EXPECT_TRUE(FileExists(journal));
  EXPECT_EQ(FileText(journal), "");
  reader.Reset();
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1");
  EXPECT_EQ(FileText(other_ + L"\\other.txt"), "other 3.4") << "the held journal stopped the next package";
  DeleteFileW((other_ + L"\\other.txt").c_str());
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

// Old files of a kept package that another program holds (a running program moved aside) cannot
// be removed: they never stop a later package; their removal waits for the restart.
TEST_F(PatchUndo, HeldLeftoversOfAnEarlierPackageStopNoPackage) {
  RestartQueueKeeper queue;
  Install();
  const std::wstring list = SmallPackage();
  // Left by a package of an earlier version of the program, and by one of this version.
  const std::wstring legacy = UndoFolder() + L"\\backup\\0000\\000001.old";
  const PlantedJournal other = NewPlantedJournal();
  const std::wstring fresh = other.backups + L"\\0000\\000001.old";
  ASSERT_TRUE(WriteFileText(legacy, "a running program"));
  ASSERT_TRUE(WriteFileText(fresh, "a loaded library"));
  StartedProcess holdLegacy =
      StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + legacy + L"\" 120000");
  StartedProcess holdFresh =
      StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + fresh + L"\" 120000");
  Sleep(1500);
  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  }
  EXPECT_EQ(FileText(app_ + L"\\lib.txt"), "lib 1.1");
  const std::string pending = RawValue(HKEY_LOCAL_MACHINE, kPendingKey, L"PendingFileRenameOperations", 0);
  for (const std::wstring& path : {legacy, fresh}) {
    std::string entry;
    for (wchar_t c : L"\\??\\" + path + L'\0') {
      std::ostringstream unit;
      unit << std::hex << int(c & 0xFF) << "." << int((c >> 8) & 0xFF) << ".";
      entry += unit.str();
    }
    EXPECT_NE(pending.find(entry), std::string::npos) << Narrow(path) << " is not queued for the restart";
  }
  for (StartedProcess* p : {&holdLegacy, &holdFresh}) {
    TerminateProcess(p->process.Get(), 0);
    WaitForExit(*p, 5000);
  }
  RemoveTree(UndoFolder() + L"\\backup");
  RemoveTree(other.backups);
}

// More old files than one backup folder takes (a hundred): a package that fails after replacing
// them all puts every one back, and the same package, once it can apply, leaves no backup
// behind when the process has ended.
namespace {
const int kManyFiles = 250;
}  // namespace

// Installs many\f<i>.txt ("old <i>") and puts their new copies ("new <i>") in the package; the
// package's update records.
std::string PatchUndo::InstallManyFiles() {
  const std::string a = Utf8FromWide(app_);
  std::string logged, records;
  for (int i = 0; i < kManyFiles; ++i) {
    const std::wstring name = L"many\\f" + std::to_wstring(i) + L".txt";
    EXPECT_TRUE(WriteFileText(app_ + L"\\" + name, "old " + std::to_string(i)));
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\" + name, "new " + std::to_string(i)));
    const std::string n = Utf8FromWide(name);
    logged += "UIFILE=\"" + Logged(a + "\\" + n) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
    records += "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\" +
               n + "</FullPath><FileName>" + n + "</FileName></File>";
  }
  EXPECT_TRUE(
      WriteFileText(app_ + L"\\uninst.ini",
                    "[Language]\r\nLang=\"en\"\r\n[Files]\r\n" + logged +
                        "[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n[UninstallCustomFunction]\r\n"
                        "DLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  return records;
}

// The process is ended in the middle of the package's copy pass; then each run that takes the
// package back is ended in turn in the middle of its undo (once more of its steps are marked
// done), until one finishes: every file is back as it was, none lost to a step done again.
TEST_F(PatchUndo, AnUndoEndedAgainAndAgainStillPutsEveryFileBack) {
  const std::string records = InstallManyFiles();
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
      "</GeneralInfo><UpdateObjects>" +
      records + "</UpdateObjects></DiffDistribute>");
  const std::wstring otherList = PrepareOtherApplication();
  ASSERT_FALSE(HasFailure());
  std::wstring journal;
  {
    StartedProcess run =
        StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(list) + L"\" /non_notification");
    const std::wstring midway = app_ + L"\\many\\f" + std::to_wstring(kManyFiles / 2) + L".txt";
    const ULONGLONG deadline = GetTickCount64() + 60000;
    bool ended = false;
    while (!ended && GetTickCount64() < deadline &&
           WaitForSingleObject(run.process.Get(), 0) == WAIT_TIMEOUT) {
      if (FileText(midway) == "new " + std::to_string(kManyFiles / 2)) {
        TerminateProcess(run.process.Get(), 9);
        ended = true;
      }
    }
    WaitForExit(run, 60000);
    ASSERT_TRUE(ended) << "the package was not caught in its copy pass";
    journal = ActiveJournal();
    ASSERT_FALSE(journal.empty());
  }
  auto marks = [&journal] {
    std::string bytes;
    size_t count = 0;
    if (!ReadBytes(journal, bytes)) return count;
    for (const UndoRecord& record : ParseJournal(bytes).records)
      if (record.kind == UndoKind::StepUndone) ++count;
    return count;
  };
  int recoveriesEnded = 0;
  for (int attempt = 0; attempt < 40 && FileExists(journal); ++attempt) {
    ASSERT_TRUE(WriteOtherList(otherList));
    const size_t before = marks();
    StartedProcess run =
        StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(otherList) + L"\" /non_notification");
    BoxAnswerer answerer;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (GetTickCount64() < deadline && WaitForSingleObject(run.process.Get(), 0) == WAIT_TIMEOUT) {
      if (marks() >= before + 40) {
        TerminateProcess(run.process.Get(), 9);
        ++recoveriesEnded;
        break;
      }
    }
    WaitForExit(run, 60000);
  }
  std::printf("the undo was ended %d times before one finished\n", recoveriesEnded);
  EXPECT_GE(recoveriesEnded, 1);
  EXPECT_FALSE(FileExists(journal));
  for (int i = 0; i < kManyFiles; ++i)
    ASSERT_EQ(FileText(app_ + L"\\many\\f" + std::to_wstring(i) + L".txt"), "old " + std::to_string(i)) << i;
}

TEST_F(PatchUndo, ManyReplacedFilesAreAllPutBackOrAllRemoved) {
  const int kFiles = kManyFiles;
  const std::string records = InstallManyFiles();
  ASSERT_FALSE(HasFailure());
  // The folder every file of the package leaves and comes back to is never made anew: it keeps
  // what it had (here its hidden attribute, which Wine stores), whether the package is taken
  // back or kept.
  const std::wstring many = app_ + L"\\many";
  ASSERT_TRUE(SetFileAttributesW(many.c_str(), FILE_ATTRIBUTE_HIDDEN));
  auto hidden = [&many] {
    const DWORD attributes = GetFileAttributesW(many.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
  };
  // The registry pass comes after the files; a number that cannot be stored fails the package.
  const std::string bad = "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" + Narrow(key_) +
                          "</RegKeyPath><RegValueName>Bad</RegValueName><RegData Type=\"REG_DW\">not a number"
                          "</RegData></Registry>";
  auto diff = [&records](const std::string& more) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
           "</GeneralInfo><UpdateObjects>" +
           records + more + "</UpdateObjects></DiffDistribute>";
  };
  // One backup an earlier package kept may be removed by this run; none may be added by it.
  const std::set<std::wstring> backupsBefore = PackageBackups();
  auto backups = [&backupsBefore] {
    std::set<std::wstring> added;
    for (const std::wstring& name : PackageBackups())
      if (!backupsBefore.count(name)) added.insert(name);
    return added;
  };
  {
    ServiceLogTail tail;
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(BuildPackage(diff(bad)), L"/non_notification"), 100);
    EXPECT_EQ(tail.Details(L"UPDATE_FILE_ADD").size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(tail.Details(L"UNDO_FILE_RESTORE").size(), static_cast<size_t>(kFiles));
  }
  for (int i = 0; i < kFiles; ++i)
    ASSERT_EQ(FileText(app_ + L"\\many\\f" + std::to_wstring(i) + L".txt"), "old " + std::to_string(i)) << i;
  EXPECT_TRUE(hidden());
  EXPECT_TRUE(ActiveJournals().empty());
  EXPECT_TRUE(backups().empty());

  {
    BoxAnswerer answerer;
    EXPECT_EQ(RunBrindle(BuildPackage(diff("")), L"/non_notification"), 200);
  }
  for (int i = 0; i < kFiles; ++i)
    ASSERT_EQ(FileText(app_ + L"\\many\\f" + std::to_wstring(i) + L".txt"), "new " + std::to_string(i)) << i;
  EXPECT_TRUE(hidden());
  EXPECT_TRUE(ActiveJournals().empty());
  EXPECT_TRUE(backups().empty());
}

// ---- crash points ------------------------------------------------------------------------------
// The test build of the program (Brindle_crashpoints.exe) ends itself at the Nth crash point:
// after each journal write, each change of the package (each action, each file moved aside or
// kept, each log written), each undo step and its mark, and each step of the recovery and of
// the journal's end. Every point of a small package with every kind of change is tried in
// turn; after each end, a run on a list that applies nothing recovers (once itself ended at
// one of its own points, then again to its end), and the machine is compared with the state
// before the package (with the state after it where the end came after the package was kept):
// files with bytes, times and attributes, values in both views, the shortcut, shared counts,
// the restart queue, both logs, and no journal or backup left active or set aside.
namespace {

// How many slices the points are tried in, one case each (each well within the per-case time
// limit on a busy machine).
const int kCrashSlices = 2;

// The kinds of the points a run went through, in their order.
struct CrashRun {
  int exitCode = -1;
  std::vector<std::string> points;
};

class CrashPointRuns : public PatchUndo {
 protected:
  void SetUp() override {
    PatchUndo::SetUp();
    pointLog_ = scratch_.File(L"points.txt");
    emptyList_ = lists_ + L"/nothing.xml";
  }

  // Runs the test build on the list, ended at the point given (0: none); the points passed.
  CrashRun Run(const std::wstring& list, unsigned long crashAt) {
    CrashRun run;
    DeleteFileW(pointLog_.c_str());
    SetEnvironmentVariableW(L"BRINDLE_CRASH_LOG", pointLog_.c_str());
    SetEnvironmentVariableW(L"BRINDLE_CRASH_AT", crashAt ? std::to_wstring(crashAt).c_str() : nullptr);
    // A start the emulated system refuses for a moment (seen once in hundreds of runs on a
    // loaded machine, the program never started) is tried again; the refusal is reported if
    // it lasts.
    StartedProcess started;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 3 && !started.process; ++attempt) {
      if (attempt > 0) Sleep(1000);
      started = StartProgram(ProgramPath(L"Brindle_crashpoints.exe"),
                             L"\"" + ToBackslashes(list) + L"\" /non_notification");
      if (!started.process) startError = GetLastError();
    }
    EXPECT_TRUE(started.process) << "Brindle_crashpoints.exe could not be started: error " << startError;
    SetEnvironmentVariableW(L"BRINDLE_CRASH_LOG", nullptr);
    SetEnvironmentVariableW(L"BRINDLE_CRASH_AT", nullptr);
    run.exitCode = WaitForExit(started, 120000);
    std::istringstream lines(FileText(pointLog_));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) run.points.push_back(line);
    return run;
  }

  // A run that applies nothing (its one entry is no package): it recovers and ends.
  CrashRun Recover(unsigned long crashAt) {
    EXPECT_TRUE(
        WriteFileText(emptyList_,
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
                      "<FileName>nothing.txt</FileName><AppName>SampleApp</AppName><DisplayName>Sample "
                      "Application</DisplayName></DiffLocal></DiffLocalList>"));
    return Run(emptyList_, crashAt);
  }

  CrashRun RunPackage(unsigned long crashAt) {
    EXPECT_TRUE(WriteFileText(list_, listText_));
    return Run(list_, crashAt);
  }

  // The application as installed, every trace of an earlier run of the package gone.
  void Reinstall() {
    RemoveTree(app_);
    DeleteKey(key_, KEY_WOW64_32KEY);
    DeleteKey(key_, KEY_WOW64_64KEY);
    RemoveSharedCount(app_ + L"\\new\\shared.dll");
    Install();
  }

  // The machine, with the shortcut's and the install log's stamps, the undo journals' identities
  // and what the undo folder holds.
  std::string Picture(bool withTimes = true) {
    std::ostringstream out;
    out << Machine(true, withTimes);
    out << "Bad32:" << RawValue(HKEY_LOCAL_MACHINE, key_, L"Bad", KEY_WOW64_32KEY) << "\n";
    if (withTimes)
      out << "link " << FileStamp(link_) << "\ninstalllog " << FileStamp(installLog_.Path()) << "\n";
    std::ostringstream undo;
    PictureTree(UndoFolder(), undo, false);
    out << "undo folder:\n" << undo.str();
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamek\\Brindle\\UndoJournals", 0,
                      KEY_READ | KEY_WOW64_64KEY, key.Receive()) == ERROR_SUCCESS) {
      for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
          break;
        out << "identity " << Narrow(name) << "\n";
      }
    }
    return out.str();
  }

  std::wstring pointLog_, emptyList_, list_;
  std::string listText_;
};

// Whether the package fails (then it is undone in the same run), and the slice of its points.
class CrashPoints : public CrashPointRuns, public ::testing::WithParamInterface<std::tuple<bool, int>> {};

std::string Joined(const std::vector<std::string>& points) {
  std::string text;
  for (const std::string& point : points) text += point + " ";
  return text;
}

}  // namespace

// The shipped program has no crash points: neither the variable that drives them nor their
// names are in it; the test build has both.
TEST(CrashPointBuild, OnlyTheTestBuildHasCrashPoints) {
  std::string shipped, test;
  ASSERT_TRUE(ReadBytes(ProgramPath(L"Brindle.exe"), shipped));
  ASSERT_TRUE(ReadBytes(ProgramPath(L"Brindle_crashpoints.exe"), test));
  const std::wstring variable = L"BRINDLE_CRASH_AT";
  const std::string wide(reinterpret_cast<const char*>(variable.data()), variable.size() * sizeof(wchar_t));
  for (const std::string& marker : {wide, std::string("journal-write"), std::string("undo-step")}) {
    EXPECT_EQ(shipped.find(marker), std::string::npos) << marker;
    EXPECT_NE(test.find(marker), std::string::npos) << marker;
  }
}

// A package that fails after its last file and value but one (a number that cannot be stored) is
// undone in the same run: that undo is ended at each of its points too.
TEST_P(CrashPoints, EndedAtAnyPointThePackageIsAppliedWholeOrNotAtAll) {
  const bool failing = std::get<0>(GetParam());
  const int slice = std::get<1>(GetParam());
  Install();
  list_ = SmallPackage(
      failing ? "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" + Narrow(key_) +
                    "</RegKeyPath><RegValueName>Bad</RegValueName><RegData Type=\"REG_DW\">not a "
                    "number</RegData></Registry>"
              : std::string());
  listText_ = FileText(list_);
  ASSERT_FALSE(HasFailure());
  BoxAnswerer answerer;
  // Leftovers of earlier cases are removed first, so that every run passes the same points.
  Recover(0);
  const std::string installed = Picture();
  // The package run to its end: its points, and the state after it.
  const CrashRun whole = RunPackage(0);
  ASSERT_EQ(whole.exitCode, failing ? 100 : 200) << Joined(whole.points);
  const std::string after = Picture(false);
  if (failing) {
    EXPECT_EQ(Picture(), installed) << "the package's own undo";
  }
  const size_t total = whole.points.size();
  // From the journal emptied on, the package is kept.
  size_t keptFrom = total;
  for (size_t i = 0; i < total; ++i)
    if (whole.points[i] == "journal-emptied") keptFrom = std::min(keptFrom, i);
  ASSERT_EQ(keptFrom < total, !failing) << Joined(whole.points);
  Reinstall();
  Recover(0);
  std::string before = Picture();

  const size_t first = total * slice / kCrashSlices + 1, last = total * (slice + 1) / kCrashSlices;
  std::printf("%zu crash points in the %s package's run (%zu before it is kept): %s\n", total,
              failing ? "failing" : "whole", keptFrom, Joined(whole.points).c_str());
  size_t recoveryPoints = 0, recoveriesEnded = 0;
  unsigned long secondAt = 1;
  std::map<std::string, int> kinds;
  for (size_t at = first; at <= last; ++at) {
    const std::string point = whole.points[at - 1];
    ++kinds[point];
    const CrashRun ended = RunPackage(static_cast<unsigned long>(at));
    ASSERT_EQ(ended.exitCode, static_cast<int>(kCrashPointExitCode)) << at << " " << point;
    ASSERT_EQ(ended.points.size(), at);
    ASSERT_EQ(ended.points.back(), point) << "the run went another way at point " << at;
    // The recovery is itself ended at one of its points (the next one at each package point,
    // from the first again once a recovery has fewer), then runs to its end.
    const CrashRun second = Recover(secondAt);
    recoveryPoints += second.points.size();
    if (second.exitCode == static_cast<int>(kCrashPointExitCode)) {
      ++recoveriesEnded;
      ++secondAt;
      const CrashRun recovered = Recover(0);
      EXPECT_EQ(recovered.exitCode, 200) << at;
      recoveryPoints += recovered.points.size();
    } else {
      // It had fewer points, and ran to its end.
      EXPECT_EQ(second.exitCode, 200) << at;
      secondAt = 1;
    }
    const bool kept = at - 1 >= keptFrom;
    EXPECT_EQ(Picture(!kept), kept ? after : before)
        << "ended at point " << at << " (" << point << "), the recovery ended at its point "
        << second.points.size() << ": " << Joined(second.points);
    if (HasFailure()) break;
    if (kept) {
      Reinstall();
      Recover(0);
      before = Picture();
    }
  }
  std::printf(
      "points %zu-%zu of %zu tried; %zu recoveries ended at one of their own points; %zu recovery "
      "points passed\n",
      first, last, total, recoveriesEnded, recoveryPoints);
  for (const auto& kind : kinds) std::printf("  %s: %d\n", kind.first.c_str(), kind.second);
}

INSTANTIATE_TEST_SUITE_P(Slices, CrashPoints,
                         ::testing::Combine(::testing::Bool(), ::testing::Range(0, kCrashSlices)));

// The longest recovery, of the package ended at its last point before it is kept (everything
// changed, the install log written), is itself ended at each of its points in turn, then run
// to its end: the machine is as before the package.
TEST_F(CrashPointRuns, ARecoveryEndedAtAnyOfItsPointsStillEndsWithTheMachineAsBefore) {
  Install();
  list_ = SmallPackage();
  listText_ = FileText(list_);
  ASSERT_FALSE(HasFailure());
  BoxAnswerer answerer;
  Recover(0);
  // The package's points up to the install log written: the process is ended there.
  const CrashRun whole = RunPackage(0);
  ASSERT_EQ(whole.exitCode, 200) << Joined(whole.points);
  size_t lastUnkept = 0;
  for (size_t i = 0; i < whole.points.size() && whole.points[i] != "journal-emptied"; ++i) lastUnkept = i + 1;
  ASSERT_GT(lastUnkept, 0u);
  Reinstall();
  Recover(0);
  const std::string reinstalled = Picture();
  size_t recoveryPoints = 0, ended = 0;
  std::map<std::string, int> kinds;
  for (unsigned long at = 1;; ++at) {
    const CrashRun package = RunPackage(static_cast<unsigned long>(lastUnkept));
    ASSERT_EQ(package.exitCode, static_cast<int>(kCrashPointExitCode));
    const CrashRun second = Recover(at);
    if (second.exitCode != static_cast<int>(kCrashPointExitCode)) {
      // Fewer points than that: every one was tried.
      recoveryPoints = second.points.size();
      EXPECT_EQ(second.exitCode, 200);
      EXPECT_EQ(Picture(), reinstalled) << "the recovery run to its end";
      break;
    }
    ++ended;
    ++kinds[second.points.back()];
    const CrashRun recovered = Recover(0);
    EXPECT_EQ(recovered.exitCode, 200) << at;
    EXPECT_EQ(Picture(), reinstalled) << "the recovery ended at its point " << at << " ("
                                      << second.points.back() << "): " << Joined(second.points);
    if (HasFailure() || at > 400) break;
  }
  EXPECT_GT(ended, 10u);
  EXPECT_EQ(ended, recoveryPoints);
  std::printf("%zu crash points in the longest recovery, each tried\n", recoveryPoints);
  for (const auto& kind : kinds) std::printf("  %s: %d\n", kind.first.c_str(), kind.second);
}
