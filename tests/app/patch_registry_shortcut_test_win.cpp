// Registry values, shortcuts, uninstall targets and the uninstaller's custom-function keys
// applied by the real Brindle.exe to a test application: the registry read back in both views,
// the links read back through the shell and from their file header, the uninstall log's whole
// text and the service-log lines, all checked after each run.
#include <gtest/gtest.h>

#include "logs/install_log.h"
#include "support/patch_fixture_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <ctime>
#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {

// A scratch key HKLM\SOFTWARE\BrindleTest<unique>, removed from both views at the end.
class RegistryScratch {
 public:
  RegistryScratch() : path_(L"SOFTWARE\\" + Unique(L"BrindleTest")) {}
  ~RegistryScratch() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      UniqueRegKey key;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_ALL_ACCESS | view, key.Receive()) ==
          ERROR_SUCCESS)
        RegDeleteTreeW(key.Get(), nullptr);
      key.Reset();
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), view, 0);
    }
  }
  const std::wstring& Path() const { return path_; }
  std::string Utf8() const { return Utf8FromWide(path_); }

 private:
  std::wstring path_;
};

void SetString(REGSAM view, const std::wstring& keyPath, const std::wstring& name, const std::wstring& data) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view,
                            nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

bool KeyExists(REGSAM view, const std::wstring& keyPath) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | view, key.Receive()) ==
         ERROR_SUCCESS;
}

struct StoredValue {
  DWORD type = REG_NONE;
  std::string bytes;
  bool found = false;
  std::wstring Text() const {
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
  DWORD Number() const {
    DWORD number = 0;
    if (bytes.size() == sizeof(number)) memcpy(&number, bytes.data(), sizeof(number));
    return number;
  }
};

StoredValue ReadValue(REGSAM view, const std::wstring& keyPath, const std::wstring& name) {
  StoredValue value;
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS)
    return value;
  DWORD bytes = 0;
  if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, &value.type, nullptr, &bytes) != ERROR_SUCCESS)
    return value;
  value.bytes.resize(bytes);
  value.found = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &value.type,
                                 reinterpret_cast<BYTE*>(&value.bytes[0]), &bytes) == ERROR_SUCCESS;
  return value;
}

// What a link file holds, read through the shell; the show command comes from the file's
// header (offset 0x3C), which Wine's loader does not hand back.
struct LinkContents {
  bool loaded = false;
  std::wstring target, arguments, workFolder, description;
  DWORD showCommand = 0;
};

LinkContents ReadLink(const std::wstring& path) {
  LinkContents contents;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    wchar_t buffer[1024] = {};
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   link.ReceiveVoid())) &&
        SUCCEEDED(link.As(file, IID_IPersistFile)) &&
        SUCCEEDED(file->Load(ToBackslashes(path).c_str(), STGM_READ))) {
      contents.loaded = true;
      if (SUCCEEDED(link->GetPath(buffer, 1024, nullptr, SLGP_RAWPATH))) contents.target = buffer;
      buffer[0] = 0;
      if (SUCCEEDED(link->GetArguments(buffer, 1024))) contents.arguments = buffer;
      buffer[0] = 0;
      if (SUCCEEDED(link->GetWorkingDirectory(buffer, 1024))) contents.workFolder = buffer;
      buffer[0] = 0;
      if (SUCCEEDED(link->GetDescription(buffer, 1024))) contents.description = buffer;
    }
  }
  if (com == S_OK || com == S_FALSE) CoUninitialize();
  std::string bytes;
  if (ReadBytes(path, bytes) && bytes.size() >= 0x40) memcpy(&contents.showCommand, &bytes[0x3C], 4);
  return contents;
}

// The action lines of a run (tag BR) whose verb names a registry or shortcut action.
std::vector<std::wstring> ActionLines(const ServiceLogTail& tail) {
  std::vector<std::wstring> lines;
  for (const ServiceLogLine& line : tail.NewLines()) {
    if (line.tag != L"BR") continue;
    if (line.key.find(L"_REG") == std::wstring::npos && line.key.find(L"SHORTCUT") == std::wstring::npos)
      continue;
    lines.push_back(line.key + L" " + line.detail);
  }
  return lines;
}

std::string Registry(const std::string& attributes, const std::string& root, const std::string& key,
                     const std::string& name, const std::string& type, const std::string& data) {
  return "<Registry " + attributes + "><RegKeyPath RegRoot=\"" + root + "\">" + key +
         "</RegKeyPath><RegValueName>" + name + "</RegValueName><RegData Type=\"" + type + "\">" + data +
         "</RegData></Registry>";
}

std::string Reg32(const std::string& key, const std::string& name, const std::string& type,
                  const std::string& data) {
  return Registry("WOW=\"INST_32BIT\"", "REG_HLM", key, name, type, data);
}

std::string ShortCut(const std::string& kind, const std::string& name, const std::string& target,
                     const std::string& extra = "") {
  return "<ShortCut><SCName Type=\"" + kind + "\">" + name + "</SCName><FullPath Type=\"SCTarget\">" +
         target + "</FullPath>" + extra + "</ShortCut>";
}

const char kXmlHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute>"
    "<GeneralInfo><Version>1.1</Version></GeneralInfo>";
const char kLogTail[] =
    "[Startup]\r\nVersion=\"1.0\"\r\nAppName=\"Sample Application\"\r\n"
    "[Uninst Info]\r\nProduct=\"Sample\"\r\n";
const char kLogTailAfter[] =
    "[Startup]\r\nVersion=\"1.1\"\r\nAppName=\"Sample Application\"\r\n"
    "[Uninst Info]\r\nProduct=\"Sample\"\r\n";
const char kPlainCustomFunction[] =
    "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\nOwnerName=\"Tamek\"\r\nVersion=\"1.0\"\r\n";

std::string KeyLine(const std::string& key) {
  return "UIREGIKEY=HLM \"" + Logged(key) + "\" INST_REQ INST_REQ INST_DEL\r\n";
}
std::string ValueLine(const std::string& key, const std::string& name) {
  return "UIREGI=HLM \"" + Logged(key) + "\" \"" + name + "\" INST_REQ INST_REQ INST_DEL\r\n";
}
std::string FolderLine(const std::string& folder) {
  return "UIFLDR=\"" + Logged(folder) + "\" INST_REQ INST_CRE INST_DEL \r\n";
}
std::string FileLine(const std::string& path) {
  return "UIFILE=\"" + Logged(path) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
}

}  // namespace

// One package with files, registry values in both views and shortcuts: every value type that
// has a text form, the deletion rules of emptied keys, and the uninstall log's whole text.
TEST_F(PatchFixture, RegistryValuesAndShortcutsOfAMixedPackageReachTheMachineAndTheUninstallLog) {
  RegistryScratch reg;
  const std::string base = reg.Utf8();
  const std::wstring wbase = reg.Path();
  const std::wstring programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
  const std::wstring desktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
  const std::wstring menuName = Unique(L"BrindleMenu");
  const std::wstring deskName = Unique(L"BrindleDesk");
  extraFolders_.push_back(programs + L"\\" + menuName);
  extraFolders_.push_back(desktop + L"\\" + deskName + L".lnk");

  ASSERT_TRUE(WriteFileText(app_ + L"\\old.txt", "old"));
  SetString(KEY_WOW64_32KEY, wbase + L"\\Del1", L"Last", L"x");
  SetString(KEY_WOW64_32KEY, wbase + L"\\Del2", L"A", L"a");
  SetString(KEY_WOW64_32KEY, wbase + L"\\Del2", L"B", L"b");
  SetString(KEY_WOW64_32KEY, wbase + L"\\Upd", L"Old", L"old data");
  const std::string a = Utf8FromWide(app_);
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" + FolderLine(a) + "[Files]\r\n" +
                                FileLine(a + "\\old.txt") + "[RegistryKey]\r\n" + KeyLine(base + "\\Del1") +
                                KeyLine(base + "\\Del2") + "[Registry]\r\n" +
                                ValueLine(base + "\\Del1", "Last") + ValueLine(base + "\\Del2", "A") +
                                ValueLine(base + "\\Del2", "B") + ValueLine(base + "\\Upd", "Old") +
                                kLogTail + kPlainCustomFunction));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\app.exe", "app"));

  const std::string plainFile = "COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"";
  const std::string types = base + "\\Types";
  const std::wstring list = BuildPackage(
      std::string(kXmlHead) + "<DeleteObjects>" +
      Reg32(base + "\\Gone", "X", "REG_SZ", "") +  // no such key: reported, the pass goes on
      Reg32(base + "\\Del1", "Last", "REG_SZ", "") + Reg32(base + "\\Del2", "A", "REG_SZ", "") +
      Reg32(base + "\\Del2", "Nope", "REG_SZ", "") + "<File " + plainFile +
      "><FullPath>$InsFolder$\\old.txt</FullPath></File>"
      "</DeleteObjects><UpdateObjects>" +
      Reg32(base + "\\Upd", "Old", "REG_SZ", "new data") +
      "</UpdateObjects><AddObjects>"
      "<File " +
      plainFile + "><FullPath>$InsFolder$\\bin\\app.exe</FullPath><FileName>app.exe</FileName></File>" +
      Reg32(types, "Sz", "REG_SZ", "$SysFolder$\\x.dll") +
      Reg32(types, "Exp", "REG_EXPAND_SZ", "%SystemRoot%;$InsFolder$\\bin") +
      Reg32(types, "Hex", "REG_DW", "0x10") + Reg32(types, "Oct", "REG_DW", "010") +
      Reg32(types, "TimeDw", "REG_DW", "$InstallTime$") +
      Reg32(types, "TimeSz", "REG_SZ", "at $InstallTime$ and $InstallTime$") +
      Registry("WOW=\"INST_64BIT\"", "REG_HLM", base + "\\Wide", "V", "REG_SZ", "64") +
      Reg32(base + "\\Narrow", "V", "REG_SZ", "32") +
      ShortCut("INST_GSC", Utf8FromWide(menuName) + "\\App", "$InsFolder$\\bin\\app.exe") +
      ShortCut("INST_DSC", Utf8FromWide(deskName), "$InsFolder$\\bin\\app.exe") +
      "</AddObjects></DiffDistribute>");

  ServiceLogTail tail;
  const DWORD before = static_cast<DWORD>(time(nullptr));
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  const DWORD after = static_cast<DWORD>(time(nullptr));

  // The values and their types, in the 32-bit view.
  const StoredValue sz = ReadValue(KEY_WOW64_32KEY, wbase + L"\\Types", L"Sz");
  EXPECT_EQ(sz.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(sz.Text(), L"$SysFolder$\\x.dll");
  const StoredValue expand = ReadValue(KEY_WOW64_32KEY, wbase + L"\\Types", L"Exp");
  EXPECT_EQ(expand.type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(expand.Text(), L"%SystemRoot%;" + app_ + L"\\bin");
  const StoredValue hex = ReadValue(KEY_WOW64_32KEY, wbase + L"\\Types", L"Hex");
  EXPECT_EQ(hex.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(hex.Number(), 16u);
  EXPECT_EQ(ReadValue(KEY_WOW64_32KEY, wbase + L"\\Types", L"Oct").Number(), 8u);
  const DWORD stamp = ReadValue(KEY_WOW64_32KEY, wbase + L"\\Types", L"TimeDw").Number();
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  const std::wstring timeText = ReadValue(KEY_WOW64_32KEY, wbase + L"\\Types", L"TimeSz").Text();
  EXPECT_EQ(timeText.find(L"at "), 0u) << timeText;
  EXPECT_NE(timeText.find(L" and $InstallTime$"), std::wstring::npos) << timeText;
  const DWORD textStamp = static_cast<DWORD>(wcstoul(timeText.c_str() + 3, nullptr, 10));
  EXPECT_GE(textStamp, before);
  EXPECT_LE(textStamp, after);
  EXPECT_EQ(ReadValue(KEY_WOW64_32KEY, wbase + L"\\Upd", L"Old").Text(), L"new data");
  // Each view holds only its own records; the 32-bit one lives under Wow6432Node.
  EXPECT_EQ(ReadValue(KEY_WOW64_64KEY, wbase + L"\\Wide", L"V").Text(), L"64");
  EXPECT_FALSE(KeyExists(KEY_WOW64_32KEY, wbase + L"\\Wide"));
  EXPECT_EQ(ReadValue(KEY_WOW64_32KEY, wbase + L"\\Narrow", L"V").Text(), L"32");
  EXPECT_FALSE(KeyExists(KEY_WOW64_64KEY, wbase + L"\\Narrow"));
  const std::wstring wowPath = L"SOFTWARE\\Wow6432Node\\" + wbase.substr(wcslen(L"SOFTWARE\\"));
  EXPECT_EQ(ReadValue(KEY_WOW64_64KEY, wowPath + L"\\Narrow", L"V").Text(), L"32");
  // Deletions: the emptied key went, the key with another value stayed.
  EXPECT_FALSE(KeyExists(KEY_WOW64_32KEY, wbase + L"\\Del1"));
  EXPECT_TRUE(KeyExists(KEY_WOW64_32KEY, wbase));
  EXPECT_FALSE(ReadValue(KEY_WOW64_32KEY, wbase + L"\\Del2", L"A").found);
  EXPECT_EQ(ReadValue(KEY_WOW64_32KEY, wbase + L"\\Del2", L"B").Text(), L"b");

  // Files and links.
  EXPECT_FALSE(FileExists(app_ + L"\\old.txt"));
  EXPECT_EQ(FileText(app_ + L"\\bin\\app.exe"), "app");
  const std::wstring menuLink = programs + L"\\" + menuName + L"\\App.lnk";
  const std::wstring deskLink = desktop + L"\\" + deskName + L".lnk";
  EXPECT_EQ(ReadLink(menuLink).target, app_ + L"\\bin\\app.exe");
  EXPECT_EQ(ReadLink(deskLink).target, app_ + L"\\bin\\app.exe");

  // The uninstall log, whole: the deleted file and the removed key's value gone (the value
  // deleted from a key that stays keeps its entry), the added file, links and values with their
  // folder and key entries, the 64-bit value in its own sections, the new version.
  const std::string menu = Utf8FromWide(programs + L"\\" + menuName);
  const std::string expected =
      "[Language]\r\nLang=\"en\"\r\n"
      "[Folders]\r\n" +
      FolderLine(a + "\\bin") + "[Files]\r\n" + FileLine(a + "\\bin\\app.exe") + "[Folders]\r\n" +
      FolderLine(menu) + "[Files]\r\n" + FileLine(menu + "\\App.lnk") + FileLine(Utf8FromWide(deskLink)) +
      "[RegistryKey]\r\n" + KeyLine(base + "\\Del2") + "[Registry]\r\n" + ValueLine(base + "\\Del2", "A") +
      "[RegistryKey]\r\n" + KeyLine(base + "\\Del2") + "[Registry]\r\n" + ValueLine(base + "\\Del2", "B") +
      ValueLine(base + "\\Upd", "Old") + "[RegistryKey]\r\n" + KeyLine(types) + "[Registry]\r\n" +
      ValueLine(types, "Sz") + "[RegistryKey]\r\n" + KeyLine(types) + "[Registry]\r\n" +
      ValueLine(types, "Exp") + "[RegistryKey]\r\n" + KeyLine(types) + "[Registry]\r\n" +
      ValueLine(types, "Hex") + "[RegistryKey]\r\n" + KeyLine(types) + "[Registry]\r\n" +
      ValueLine(types, "Oct") + "[RegistryKey]\r\n" + KeyLine(types) + "[Registry]\r\n" +
      ValueLine(types, "TimeDw") + "[RegistryKey]\r\n" + KeyLine(types) + "[Registry]\r\n" +
      ValueLine(types, "TimeSz") + "[RegistryKey]\r\n" + KeyLine(base + "\\Narrow") + "[Registry]\r\n" +
      ValueLine(base + "\\Narrow", "V") + "[RegistryKey64]\r\n" + KeyLine(base + "\\Wide") +
      "[Registry64]\r\n" + ValueLine(base + "\\Wide", "V") + kLogTailAfter + kPlainCustomFunction;
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), expected);

  const std::wstring t = wbase + L"\\Types";
  const std::vector<std::wstring> expectedLines = {
      L"UPDATE_REG_DELETE -," + wbase + L"\\Gone,error,2",
      L"DELETE_REG -," + wbase + L"\\Del1,success,0",
      L"UPDATE_REG_DELETE -," + wbase + L"\\Del2,success,0",
      L"UPDATE_REG_DELETE -," + wbase + L"\\Del2,error,2",
      L"UPDATE_REG_DELETE -," + wbase + L"\\Upd,success,0",
      L"UPDATE_REG_ADD -," + wbase + L"\\Upd,success,0",
      L"ADD_REG -," + t + L",success,0",
      L"ADD_REG -," + t + L",success,0",
      L"ADD_REG -," + t + L",success,0",
      L"ADD_REG -," + t + L",success,0",
      L"ADD_REG -," + t + L",success,0",
      L"ADD_REG -," + t + L",success,0",
      L"ADD_REG -," + wbase + L"\\Wide,success,0",
      L"ADD_REG -," + wbase + L"\\Narrow,success,0",
      L"ADD_SHORTCUT -," + ToForwardSlashes(menuLink) + L",success,0",
      L"ADD_SHORTCUT -," + ToForwardSlashes(deskLink) + L",success,0",
  };
  EXPECT_EQ(ActionLines(tail), expectedLines);
}

// Two packages in turn. The first creates a program-menu link in a sub-folder and a desktop link
// with every field set, refuses names that would leave their folder or exceed the path limit,
// adds two uninstall targets and switches the uninstaller's hooks; the second deletes the
// program-menu link (its sub-folder goes, the program menu stays), replaces the desktop link in
// place and removes both targets, so their section goes too.
TEST_F(PatchFixture, ShortcutsUninstallTargetsAndHooksOfTwoPackagesReachTheMachineAndTheUninstallLog) {
  const std::wstring programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
  const std::wstring desktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
  const std::wstring menuName = Unique(L"BrindleMenu");
  const std::wstring deskName = Unique(L"BrindleDesk");
  const std::wstring escapeName = Unique(L"BrindleEscape");
  const std::wstring menuFolder = programs + L"\\" + menuName;
  const std::wstring menuLink = menuFolder + L"\\Tools\\App.lnk";
  const std::wstring deskLink = desktop + L"\\" + deskName + L".lnk";
  const std::wstring escapedLink = ParentFolder(ParentFolder(programs)) + L"/" + escapeName + L".lnk";
  const std::wstring driveLink = L"C:\\" + escapeName + L".lnk";
  extraFolders_ = {menuFolder, deskLink, escapedLink, driveLink};
  // Three components of 100 characters: each is a valid name, the whole path is too long.
  const std::wstring part(100, L'n');
  const std::wstring longName = menuName + L"\\" + part + L"\\" + part + L"\\" + part;

  const std::string a = Utf8FromWide(app_);
  const std::string startLog =
      "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" + FolderLine(a) + "[Files]\r\n" +
      FileLine(a + "\\keep.txt") + kLogTail +
      "[UninstallCustomFunction]\r\nDLLPath=\"C:\\\\Old\\\\hooks.dll\"\r\nOwnerName=\"Tamek\"\r\n"
      "Version=\"1.0\"\r\nUninstall_StartUp=1\r\nUninstall_CheckCondition=1\r\nUninstall_CheckRunning=0\r\n"
      "Uninstall_BeforeUninstall=1\r\nUninstall_AfterUninstall=0\r\nUninstall_End=0\r\nUninstall_Abort=1\r\n";
  ASSERT_TRUE(WriteFileText(app_ + L"\\keep.txt", "keep"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", startLog));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\app.exe", "app"));

  const std::string plainFile = "COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"";
  const std::string target = "$InsFolder$\\bin\\app.exe";
  const std::string fullMenuLink =
      ShortCut("INST_GSC", Utf8FromWide(menuName) + "\\Tools\\App", target,
               "<FullPath Type=\"WorkFolder\">$InsFolder$\\bin</FullPath>"
               "<CLParameter>/open \"$InsFolder$\\data\"</CLParameter><Text>Opens the sample</Text>"
               "<WindowSize Type=\"INST_MAX\"/>");
  std::wstring list = BuildPackage(
      std::string(kXmlHead) +
      "<UpdateObjects><UninstallCustomFunction><FullPath Type=\"SCTarget\">$InsFolder$\\hooks.dll</FullPath>"
      "<Version>2.5</Version><Uninstall_End Flag=\"1\"/><Uninstall_StartUp Flag=\"true\"/>"
      "</UninstallCustomFunction></UpdateObjects><AddObjects>"
      "<File " +
      plainFile + "><FullPath>" + target + "</FullPath><FileName>app.exe</FileName></File>" + fullMenuLink +
      ShortCut("INST_DSC", Utf8FromWide(deskName), target,
               "<CLParameter>-first</CLParameter><WindowSize Type=\"INST_MIN\"/>") +
      ShortCut("INST_GSC", "..\\..\\" + Utf8FromWide(escapeName), target) +
      ShortCut("INST_DSC", "C:\\" + Utf8FromWide(escapeName), target) +
      ShortCut("INST_GSC", Utf8FromWide(longName), target) +
      "<UninstTarget><UNInfo>C:\\Other\\uninst.ini</UNInfo><UNInfo>$InsFolder$\\plugin.ini</UNInfo>"
      "</UninstTarget></AddObjects></DiffDistribute>");

  ServiceLogTail firstTail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);

  const LinkContents menu = ReadLink(menuLink);
  ASSERT_TRUE(menu.loaded);
  EXPECT_EQ(menu.target, app_ + L"\\bin\\app.exe");
  EXPECT_EQ(menu.workFolder, app_ + L"\\bin");
  EXPECT_EQ(menu.arguments, L"/open \"" + app_ + L"\\data\"");
  EXPECT_EQ(menu.description, L"Opens the sample");
  EXPECT_EQ(menu.showCommand, static_cast<DWORD>(SW_SHOWMAXIMIZED));
  const LinkContents desk = ReadLink(deskLink);
  ASSERT_TRUE(desk.loaded);
  EXPECT_EQ(desk.target, app_ + L"\\bin\\app.exe");
  EXPECT_EQ(desk.arguments, L"-first");
  EXPECT_EQ(desk.workFolder, L"");
  EXPECT_EQ(desk.description, L"");
  EXPECT_EQ(desk.showCommand, static_cast<DWORD>(SW_SHOWMINNOACTIVE));
  // Nothing outside the two folders, nothing under the over-long name.
  EXPECT_FALSE(FileExists(escapedLink));
  EXPECT_FALSE(FileExists(driveLink));
  EXPECT_FALSE(FileExists(menuFolder + L"\\" + part));

  const std::string menuTools = Utf8FromWide(menuFolder + L"\\Tools");
  const std::string hooksAfterFirst =
      "[UninstallCustomFunction]\r\nDLLPath=\"$InsFolder$\\\\hooks.dll\"\r\nOwnerName=\"Tamek\"\r\n"
      "Version=\"2.5\"\r\nUninstall_StartUp=0\r\nUninstall_CheckCondition=0\r\nUninstall_CheckRunning=0\r\n"
      "Uninstall_BeforeUninstall=0\r\nUninstall_AfterUninstall=0\r\nUninstall_End=1\r\nUninstall_Abort=0\r\n";
  const std::string expectedFirst =
      "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" + FolderLine(a) + "[Files]\r\n" +
      FileLine(a + "\\keep.txt") + "[Folders]\r\n" + FolderLine(a + "\\bin") + "[Files]\r\n" +
      FileLine(a + "\\bin\\app.exe") + "[Folders]\r\n" + FolderLine(menuTools) + "[Files]\r\n" +
      FileLine(menuTools + "\\App.lnk") + FileLine(Utf8FromWide(deskLink)) + kLogTailAfter +
      "[UninstTarget]\r\nUNInfo=\"C:\\\\Other\\\\uninst.ini\"\r\nUNInfo=\"$InsFolder$\\\\plugin.ini\"\r\n" +
      hooksAfterFirst;
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), expectedFirst);

  const std::wstring menuObject = ToForwardSlashes(menuLink);
  const std::vector<std::wstring> firstLines = {
      L"ADD_SHORTCUT -," + menuObject + L",success,0",
      L"ADD_SHORTCUT -," + ToForwardSlashes(deskLink) + L",success,0",
      L"ADD_SHORTCUT -," + ToForwardSlashes(programs + L"\\..\\..\\" + escapeName + L".lnk") + L",error,123",
      L"ADD_SHORTCUT -," + ToForwardSlashes(desktop + L"\\C:\\" + escapeName + L".lnk") + L",error,123",
      L"ADD_SHORTCUT -," + ToForwardSlashes(programs + L"\\" + longName + L".lnk") + L",error,206",
  };
  EXPECT_EQ(ActionLines(firstTail), firstLines);

  // The second package: the program-menu link goes, the desktop link is replaced in place, the
  // targets leave the log (one of them written as the package spelled it).
  ClearPackageSource();
  WriteWrapperFiles({L"ENGLISH"});
  list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.2</Version>"
      "</GeneralInfo><DeleteObjects>" +
      fullMenuLink +
      "<UninstTarget><UNInfo>C:\\Other\\uninst.ini</UNInfo><UNInfo>$InsFolder$\\plugin.ini</UNInfo>"
      "</UninstTarget></DeleteObjects><UpdateObjects>" +
      ShortCut("INST_DSC", Utf8FromWide(deskName), target, "<CLParameter>-second</CLParameter>") +
      "</UpdateObjects></DiffDistribute>");
  ServiceLogTail secondTail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);

  EXPECT_FALSE(FileExists(menuLink));
  EXPECT_FALSE(FileExists(menuFolder)) << "the emptied sub-folders go";
  EXPECT_TRUE(FileExists(programs)) << "the program menu stays";
  const LinkContents replaced = ReadLink(deskLink);
  ASSERT_TRUE(replaced.loaded);
  EXPECT_EQ(replaced.arguments, L"-second");
  EXPECT_EQ(replaced.showCommand, static_cast<DWORD>(SW_SHOWNORMAL));

  const std::string expectedSecond =
      "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" + FolderLine(a) + "[Files]\r\n" +
      FileLine(a + "\\keep.txt") + "[Folders]\r\n" + FolderLine(a + "\\bin") + "[Files]\r\n" +
      FileLine(a + "\\bin\\app.exe") + FileLine(Utf8FromWide(deskLink)) +
      "[Startup]\r\nVersion=\"1.2\"\r\nAppName=\"Sample Application\"\r\n[Uninst Info]\r\nProduct=\"Sample\"\r\n" +
      hooksAfterFirst;
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), expectedSecond);

  const std::vector<std::wstring> secondLines = {
      L"DELETE_SHORTCUT -," + menuObject + L",success,0",
      L"UPDATE_SHORTCUT_DELETE -," + ToForwardSlashes(deskLink) + L",success,0",
      L"UPDATE_SHORTCUT_ADD -," + ToForwardSlashes(deskLink) + L",success,0",
  };
  EXPECT_EQ(ActionLines(secondTail), secondLines);
}

// Records whose data has no form for their type (letters after the digits, a sign, a type
// without a text form, a string over the limit) each get an error line and change nothing; the
// records after them are still written, and the package fails: exit 100, the error message,
// everything it wrote taken back, and the install log keeps the old version.
TEST_F(PatchFixture, RegistryRecordsThatCannotBeAppliedAreReportedAndFailThePackage) {
  RegistryScratch reg;
  const std::string types = reg.Utf8() + "\\Types";
  const std::wstring wtypes = reg.Path() + L"\\Types";
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n" + std::string(kLogTail) + kPlainCustomFunction));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  const std::wstring list =
      BuildPackage(std::string(kXmlHead) + "<AddObjects>" + Reg32(types, "Bad", "REG_DW", "12abc") +
                   Reg32(types, "Signed", "REG_DW", "-1") + Reg32(types, "Bin", "REG_BINARY", "0a0b") +
                   Reg32(types, "Long", "REG_SZ", std::string(500, 'x')) +
                   Reg32(types, "Good", "REG_SZ", "written") + "</AddObjects></DiffDistribute>");

  ServiceLogTail tail;
  std::wstring message;
  std::thread person([&] {
    HWND box = FindDialog(L"Sample Application", 90000);
    if (!box) return;
    message = StaticTexts(box);
    PressButton(box, L"OK");
  });
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 100);
  person.join();
  EXPECT_NE(message.find(L"Une erreur s'est produite"), std::wstring::npos) << message;

  // The good value was written, then taken back with the rest of the failed package, and so
  // were the keys the package created.
  for (const wchar_t* name : {L"Bad", L"Signed", L"Bin", L"Long", L"Good"})
    EXPECT_FALSE(ReadValue(KEY_WOW64_32KEY, wtypes, name).found) << name;
  const std::vector<std::wstring> expectedLines = {
      L"ADD_REG -," + wtypes + L",error,13",
      L"ADD_REG -," + wtypes + L",error,13",
      L"ADD_REG -," + wtypes + L",error,13",
      L"ADD_REG -," + wtypes + L",error,13",
      L"ADD_REG -," + wtypes + L",success,0",
      L"UNDO_REG_VALUE -," + wtypes + L"\\Good,success,0",
      L"UNDO_REG_VALUE -," + wtypes + L"\\Long,success,0",
      L"UNDO_REG_VALUE -," + wtypes + L"\\Bin,success,0",
      L"UNDO_REG_VALUE -," + wtypes + L"\\Signed,success,0",
      L"UNDO_REG_VALUE -," + wtypes + L"\\Bad,success,0",
      L"UNDO_REG_KEY_REMOVE -," + wtypes + L",success,0",
      L"UNDO_REG_KEY_REMOVE -," + reg.Path() + L",success,0",
  };
  EXPECT_EQ(ActionLines(tail), expectedLines);

  std::unique_ptr<CQXInstallLog> log = LoadInstallLog(installLog_.Path());
  ASSERT_TRUE(log);
  const InstallLogEntry* app = FindEntry(*log, L"SampleApp");
  ASSERT_TRUE(app);
  EXPECT_EQ(app->applicationVersion.text, L"1.0");
}

// A link made before its target is there: the update group links to a file that the add group
// places later in the same run. Only the target's folder is made for the link, never a folder of
// the target's own name, so the file is placed where the link points; a target written with a
// final backslash is a folder, and that folder is made.
TEST_F(PatchFixture, ALinkToAFileNotThereYetLeavesThePlaceFreeForTheFileAddedLater) {
  const std::wstring programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
  const std::wstring menuName = Unique(L"BrindleMenu");
  const std::wstring menuFolder = programs + L"\\" + menuName;
  extraFolders_.push_back(menuFolder);
  const std::string a = Utf8FromWide(app_);
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", "[Language]\r\nLang=\"en\"\r\n[Folders]\r\n" +
                                                        FolderLine(a) + kLogTail + kPlainCustomFunction));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\app.exe", "app"));

  const std::string menu = Utf8FromWide(menuName);
  const std::wstring list = BuildPackage(
      std::string(kXmlHead) + "<UpdateObjects>" +
      ShortCut("INST_GSC", menu + "\\App", "$InsFolder$\\bin\\app.exe") +
      ShortCut("INST_GSC", menu + "\\Tool", "$InsFolder$\\later\\tool.exe") +
      ShortCut("INST_GSC", menu + "\\Data", "$InsFolder$\\data\\") +
      "</UpdateObjects><AddObjects><File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\">"
      "<FullPath>$InsFolder$\\bin\\app.exe</FullPath><FileName>app.exe</FileName></File>"
      "</AddObjects></DiffDistribute>");

  ServiceLogTail tail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);

  const DWORD placed = GetFileAttributesW((app_ + L"\\bin\\app.exe").c_str());
  ASSERT_NE(placed, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(placed & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(FileText(app_ + L"\\bin\\app.exe"), "app");
  EXPECT_EQ(tail.Details(L"ADD_FILE"), std::vector<std::wstring>{L"-," + app_ + L"\\bin\\app.exe,success,0"});
  EXPECT_EQ(ReadLink(menuFolder + L"\\App.lnk").target, app_ + L"\\bin\\app.exe");
  // A target no group adds: its folder is there for it, its name is free.
  EXPECT_FALSE(PathExists(app_ + L"\\later\\tool.exe"));
  EXPECT_TRUE(PathExists(app_ + L"\\later"));
  EXPECT_EQ(ReadLink(menuFolder + L"\\Tool.lnk").target, app_ + L"\\later\\tool.exe");
  const DWORD data = GetFileAttributesW((app_ + L"\\data").c_str());
  ASSERT_NE(data, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(data & FILE_ATTRIBUTE_DIRECTORY, 0u);
  const std::vector<std::wstring> linkLines = {
      L"-," + ToForwardSlashes(menuFolder + L"\\App.lnk") + L",success,0",
      L"-," + ToForwardSlashes(menuFolder + L"\\Tool.lnk") + L",success,0",
      L"-," + ToForwardSlashes(menuFolder + L"\\Data.lnk") + L",success,0"};
  EXPECT_EQ(tail.Details(L"UPDATE_SHORTCUT_ADD"), linkLines);
}
