// Patch packages applied by the real Brindle.exe, started as the update service starts it, to a
// test application installed under Program Files: the files on disk, the uninstall log's whole
// text, the install log (deciphered with openssl), the uninstaller's files, the shared-DLL
// counts, the restart queue and the service-log lines, all checked after the run.
#include <gtest/gtest.h>

#include "logs/install_log.h"
#include "support/run_once_win.h"
#include "support/folder_link_win.h"
#include "support/restart_queue_win.h"
#include "support/install_log_fixture_win.h"
#include "support/patch_fixture_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "support/unix_tools_win.h"
#include "sys/file_util.h"
#include "sys/paths.h"
#include "sys/protected_folder.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <sstream>
#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {

// A copy of Brindle.exe whose version resource says major.minor.0.0: a real file with a version.
bool WriteVersionedFile(const std::wstring& path, WORD major, WORD minor) {
  std::string bytes;
  if (!ReadBytes(ProgramPath(L"Brindle.exe"), bytes)) return false;
  const std::string signature("\xBD\x04\xEF\xFE", 4);
  const size_t at = bytes.find(signature);
  if (at == std::string::npos) return false;
  const DWORD high = (DWORD(major) << 16) | minor;
  memcpy(&bytes[at + 8], &high, 4);
  memset(&bytes[at + 12], 0, 4);
  return WriteFileText(path, bytes);
}

DWORD FileVersionMajor(const std::wstring& path) {
  std::uint32_t high = 0, low = 0;
  return GetFileVersion(path, high, low) ? HIWORD(high) : 0;
}

std::wstring LongPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetLongPathNameW(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? buffer : path;
}

// The install log's plain text, deciphered by openssl rather than by the program itself.
std::string DecipherWithOpenssl(const std::wstring& logPath, const ScratchFolder& scratch) {
  const std::wstring plain = scratch.File(L"installlog.xml");
  const int code =
      RunUnixProgram("/usr/bin/openssl", {"enc", "-d", "-des-cbc", "-provider", "legacy", "-provider",
                                          "default", "-K", "8794ec0db3f52410", "-iv", "0000000000000000",
                                          "-in", UnixPath(logPath), "-out", UnixPath(plain)});
  if (code != 0) return "<openssl failed>";
  return FileText(plain);
}

}  // namespace

TEST_F(PatchFixture, PackageDeletesUpdatesAndAddsFilesAndKeepsEveryLogTrue) {
  const std::wstring deep = programFiles_ + L"\\" + Unique(L"BrindleDeep");
  extraFolders_.push_back(deep);
  // The installed application, version 1.0.
  ASSERT_TRUE(WriteFileText(app_ + L"\\keep.txt", "keep"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\old.txt", "old"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\held.txt", "held"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\refdel.dll", "refdel"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\bin\\lib.txt", "lib 1.0"));
  ASSERT_TRUE(WriteVersionedFile(app_ + L"\\bin\\tool.exe", 3, 0));
  ASSERT_TRUE(WriteFileText(deep + L"\\a\\b\\gone.txt", "gone"));
  SetSharedCount(app_ + L"\\refdel.dll", 2);
  RemoveSharedCount(app_ + L"\\shared.dll");

  const std::string a = Utf8FromWide(app_);
  const std::string uninstLogText =
      "[Language]\r\nLang=\"en\"\r\n"
      "[Folders]\r\nUIFLDR=\"" +
      Logged(a) +
      "\" INST_REQ INST_CRE INST_DEL \r\n"
      "[Files]\r\nUIFILE=\"" +
      Logged(a + "\\keep.txt") +
      "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "UIFILE=\"" +
      Logged(a + "\\old.txt") +
      "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "UIFILE=\"" +
      Logged(a + "\\held.txt") +
      "\" INST_REQ INST_REQ INST_HLD INST_NOREG\r\n"
      "UIFILE=\"" +
      Logged(a + "\\refdel.dll") +
      "\" INST_REQ INST_REQ INST_REF INST_NOREG\r\n"
      "[Folders]\r\nUIFLDR=\"" +
      Logged(a + "\\bin") +
      "\" INST_REQ INST_CRE INST_DEL \r\n"
      "[Files]\r\nUIFILE=\"" +
      Logged(a + "\\bin\\lib.txt") +
      "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "UIFILE=\"" +
      Logged(a + "\\bin\\tool.exe") +
      "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "[Startup]\r\nVersion=\"1.0\"\r\nAppName=\"Sample Application\"\r\n"
      "[Uninst Info]\r\nProduct=\"Sample\"\r\n"
      "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\nOwnerName=\"Tamek\"\r\nVersion=\"1.0\"\r\n"
      "Uninstall_End=0\r\n";
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", uninstLogText));
  WriteInstallLog(L"fr");  // no FRENCH folder in the package: ENGLISH stands in
  WriteWrapperFiles({L"ENGLISH"});

  // The package: lib.txt updated (the new one written last, so it is newer), tool.exe offered
  // at version 2.0 (the installed 3.0 stays), new files in new folders, a shared library.
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\lib.txt", "lib 1.1"));
  ASSERT_TRUE(WriteVersionedFile(packageSource_ + L"\\INST\\tool.exe", 2, 0));
  ASSERT_TRUE(SetFileYear(packageSource_ + L"\\INST\\tool.exe", 2001));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\new\\sub\\added.txt", "added"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\shared.dll", "shared"));
  const std::string deepFile = Utf8FromWide(deep + L"\\a\\b\\gone.txt");
  auto file = [](const std::string& attributes, const std::string& path, const std::string& name) {
    return "<File " + attributes + "><FullPath>" + path + "</FullPath>" +
           (name.empty() ? "" : "<FileName>" + name + "</FileName>") + "</File>";
  };
  const std::string plain = "COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"";
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute>"
      "<GeneralInfo><Version>1.1</Version><CheckAppName>no_such_program.exe</CheckAppName></GeneralInfo>"
      "<DeleteObjects>" +
      file(plain, "$InsFolder$\\old.txt", "") +
      file("COM=\"INST_NOREG\" DelInfo=\"INST_HLD\" WOW=\"INST_32BIT\"", "$InsFolder$\\held.txt", "") +
      file("COM=\"INST_NOREG\" DelInfo=\"INST_REF\" WOW=\"INST_32BIT\"", "$InsFolder$\\refdel.dll", "") +
      file(plain, deepFile, "") + "</DeleteObjects><UpdateObjects>" +
      file(plain, "$InsFolder$\\bin\\lib.txt", "lib.txt") + "</UpdateObjects><AddObjects>" +
      file(plain, "$InsFolder$\\bin\\tool.exe", "tool.exe") +
      file(plain, "$InsFolder$\\new\\sub\\added.txt", "new\\sub\\added.txt") +
      file("COM=\"INST_NOREG\" DelInfo=\"INST_REF\" WOW=\"INST_32BIT\"", "$InsFolder$\\shared.dll",
           "shared.dll") +
      "</AddObjects></DiffDistribute>");

  ServiceLogTail tail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);

  // Files.
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep");
  EXPECT_FALSE(FileExists(app_ + L"\\old.txt"));
  EXPECT_EQ(FileText(app_ + L"\\held.txt"), "held");
  EXPECT_EQ(FileText(app_ + L"\\refdel.dll"), "refdel");
  EXPECT_EQ(FileText(app_ + L"\\bin\\lib.txt"), "lib 1.1");
  EXPECT_EQ(FileVersionMajor(app_ + L"\\bin\\tool.exe"), 3u);
  EXPECT_EQ(FileText(app_ + L"\\new\\sub\\added.txt"), "added");
  EXPECT_EQ(FileText(app_ + L"\\shared.dll"), "shared");
  // The three emptied folders went, Program Files stayed.
  EXPECT_FALSE(FileExists(deep));
  EXPECT_TRUE(FileExists(programFiles_));
  // Shared-DLL counts: one fewer for the kept reference, a new count for the new library.
  DWORD count = 0;
  EXPECT_TRUE(SharedCount(app_ + L"\\refdel.dll", count));
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(SharedCount(app_ + L"\\shared.dll", count));
  EXPECT_EQ(count, 1u);

  // The uninstaller's files, with the language stand-in and its named copy.
  EXPECT_EQ(FileText(uninstFolder_ + L"\\Uninst.exe"), "uninst");
  EXPECT_EQ(FileText(uninstFolder_ + L"\\setup.dll"), "setup");
  EXPECT_EQ(FileText(uninstFolder_ + L"\\UninstRsc.dll"), "rsc-ENGLISH");
  EXPECT_EQ(FileText(uninstFolder_ + L"\\UninstRsc_ENGLISH.dll"), "rsc-ENGLISH");
  EXPECT_TRUE(FileExists(uninstFolder_ + L"\\UninsVer.txt"));

  // The uninstall log: the entries of the three deleted records gone (the held file and the
  // counted library stay on disk but no longer belong to this application), the added
  // files with their folders, the new version in Startup.
  const std::string expected =
      "[Language]\r\nLang=\"en\"\r\n"
      "[Folders]\r\nUIFLDR=\"" +
      Logged(a) +
      "\" INST_REQ INST_CRE INST_DEL \r\n"
      "[Files]\r\nUIFILE=\"" +
      Logged(a + "\\keep.txt") +
      "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "[Folders]\r\nUIFLDR=\"" +
      Logged(a + "\\bin") +
      "\" INST_REQ INST_CRE INST_DEL \r\n"
      "[Files]\r\nUIFILE=\"" +
      Logged(a + "\\bin\\lib.txt") +
      "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "[Folders]\r\nUIFLDR=\"" +
      Logged(a + "\\bin") +
      "\" INST_REQ INST_CRE INST_DEL \r\n"
      "[Files]\r\nUIFILE=\"" +
      Logged(a + "\\bin\\tool.exe") +
      "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "[Folders]\r\nUIFLDR=\"" +
      Logged(a + "\\new\\sub") +
      "\" INST_REQ INST_CRE INST_DEL \r\n"
      "[Files]\r\nUIFILE=\"" +
      Logged(a + "\\new\\sub\\added.txt") +
      "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n"
      "[Folders]\r\nUIFLDR=\"" +
      Logged(a) +
      "\" INST_REQ INST_CRE INST_DEL \r\n"
      "[Files]\r\nUIFILE=\"" +
      Logged(a + "\\shared.dll") +
      "\" INST_REQ INST_REQ INST_REF INST_NOREG\r\n"
      "[Startup]\r\nVersion=\"1.1\"\r\nAppName=\"Sample Application\"\r\n"
      "[Uninst Info]\r\nProduct=\"Sample\"\r\n"
      "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\nOwnerName=\"Tamek\"\r\nVersion=\"1.0\"\r\n"
      "Uninstall_End=0\r\n";
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), expected);
  EXPECT_FALSE(FileExists(app_ + L"\\uninst_tmp.ini"));

  // The install log, deciphered independently: new application and uninstaller versions for
  // this application only.
  const std::string installLog = DecipherWithOpenssl(installLog_.Path(), scratch_);
  EXPECT_NE(installLog.find("1.1"), std::string::npos) << installLog;
  EXPECT_NE(installLog.find(Utf8FromWide(uninstallerVersion_)), std::string::npos) << installLog;
  EXPECT_NE(installLog.find("3.3"), std::string::npos) << installLog;
  auto loaded = LoadInstallLog(installLog_.Path());
  ASSERT_TRUE(loaded);
  InstallLogEntry* entry = FindEntry(*loaded, L"SampleApp");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->applicationVersion.text, L"1.1");
  EXPECT_EQ(entry->uninstallerVersion.text, uninstallerVersion_);

  // The service-log lines of the actions, in order.
  std::vector<std::wstring> actions;
  for (const ServiceLogLine& line : tail.NewLines()) {
    if (line.tag != L"BR") continue;
    if (line.key == L"CHECK_PARAMETER" || line.key == L"PROCESS_END" || line.key == L"DECODE_QXLOGXML")
      continue;
    actions.push_back(line.key + L" " + line.detail);
  }
  const std::wstring w = app_;
  const std::vector<std::wstring> expectedActions = {
      L"START_PATCH_INSTALLATION -,SampleApp,1.1,package.diff,1.0",
      L"DELETE_FILE -," + w + L"\\old.txt,success,0",
      L"DELETE_FILE -," + w + L"\\held.txt,success,0",
      L"DELETE_FILE -," + w + L"\\refdel.dll,success,0",
      L"DELETE_FILE -," + deep + L"\\a\\b\\gone.txt,success,0",
      L"UPDATE_FILE_DELETE -," + w + L"\\bin\\lib.txt,success,0",
      L"UPDATE_FILE_ADD -," + w + L"\\bin\\lib.txt,success,0",
      L"ADD_FILE -," + w + L"\\new\\sub\\added.txt,success,0",
      L"ADD_FILE -," + w + L"\\shared.dll,success,0",
      L"UPDATE_ZNQ_UNINSTLOG -," + w + L"\\uninst.ini,success,1",
      L"ENCODE_QXLOGXML -",
  };
  ASSERT_GE(actions.size(), expectedActions.size());
  for (size_t i = 0; i < expectedActions.size(); ++i)
    EXPECT_EQ(actions[i].substr(0, expectedActions[i].size()), expectedActions[i]) << i;
}

TEST_F(PatchFixture, FileInUseIsReplacedAtTheNextRestartAfterTheRestartQuestion) {
  ASSERT_TRUE(WriteFileText(app_ + L"\\busy.txt", "busy 1.0"));
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n[Files]\r\nUIFILE=\"" +
                                Logged(AppPath(L"busy.txt")) +
                                "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n[Startup]\r\nVersion=\"1.0\"\r\n"
                                "[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\busy.txt", "busy 1.1"));
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
      "</GeneralInfo><UpdateObjects><File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\">"
      "<FullPath>$InsFolder$\\busy.txt</FullPath><FileName>busy.txt</FileName></File></UpdateObjects>"
      "</DiffDistribute>");

  bool holding = false;
  StartedProcess holder = StartWhenReady(ProgramPath(L"brindle_probe.exe"),
                                         L"file \"" + app_ + L"\\busy.txt\" 60000", 30000, holding);
  ASSERT_TRUE(holding) << "the helper did not open busy.txt";
  ServiceLogTail tail;
  std::wstring question;
  std::thread answer([&] {
    HWND box = FindDialog(L"Sample Application", 90000);
    if (!box) return;
    question = StaticTexts(box);
    PressButton(box, L"Non");
  });
  const int exitCode = RunBrindle(list, L"/normal_install");
  answer.join();
  EXPECT_EQ(exitCode, 200);
  EXPECT_NE(question.find(L"redémarr"), std::wstring::npos) << question;

  EXPECT_EQ(FileText(app_ + L"\\busy.txt"), "busy 1.0");
  EXPECT_EQ(FileText(app_ + L"\\busy.txt.tmp0001"), "busy 1.1");
  // The system may record the queued move under the file's short name.
  std::wstring pending = PendingRenames();
  std::wstring queued = app_ + L"\\busy.txt.tmp0001";
  wchar_t shortName[MAX_PATH] = {};
  if (GetShortPathNameW(queued.c_str(), shortName, MAX_PATH)) queued = shortName;
  CharUpperW(&pending[0]);
  CharUpperW(&queued[0]);
  EXPECT_NE(pending.find(L"\\??\\" + queued + L"|!"), std::wstring::npos) << pending << L" " << queued;
  const auto deletes = tail.Details(L"UPDATE_FILE_DELETE");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].find(L"-," + app_ + L"\\busy.txt,error,32"), 0u) << deletes[0];
  const auto adds = tail.Details(L"UPDATE_FILE_ADD");
  ASSERT_EQ(adds.size(), 1u);
  EXPECT_EQ(adds[0], L"-," + app_ + L"\\busy.txt,success,0");

  // The restart: the holder ends, Wine boots again and carries out the queued moves.
  TerminateProcess(holder.process.Get(), 0);
  WaitForExit(holder, 5000);
  StartedProcess boot = StartProgram(L"C:\\windows\\system32\\wineboot.exe", L"-r");
  EXPECT_EQ(WaitForExit(boot, 120000), 0);
  EXPECT_EQ(FileText(app_ + L"\\busy.txt"), "busy 1.1");
  EXPECT_FALSE(FileExists(app_ + L"\\busy.txt.tmp0001"));
}

TEST_F(PatchFixture, HostileCabinetFailsThePackageAndWritesNothingOutside) {
  ASSERT_TRUE(WriteFileText(
      app_ + L"\\uninst.ini",
      "[Language]\r\n[Startup]\r\n[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  const std::string before = installLog_.Bytes();
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\xx\\xx\\evil.txt", "evil"));
  const std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>6.6</Version>"
      "</GeneralInfo></DiffDistribute>");
  ASSERT_TRUE(RenameCabinetEntry(lists_ + L"/package.diff", "xx\\xx\\evil.txt", "..\\..\\evil.txt"));

  ServiceLogTail tail;
  std::wstring message;
  std::thread answer([&] {
    HWND box = FindDialog(L"Sample Application", 60000);
    if (!box) return;
    message = StaticTexts(box);
    PressButton(box, L"OK");
  });
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 100);
  answer.join();
  EXPECT_NE(message.find(L"erreur"), std::wstring::npos) << message;
  // The work folders are temp<N> below the work root: two levels up is the user's
  // Tamek_Inc_RW folder, one more is the temporary folder itself.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring tempFolder = LongPath(temp);
  EXPECT_FALSE(FileExists(tempFolder + L"Tamek_Inc_RW\\evil.txt"));
  EXPECT_FALSE(FileExists(tempFolder + L"evil.txt"));
  EXPECT_EQ(installLog_.Bytes(), before);
  EXPECT_TRUE(tail.Details(L"START_PATCH_INSTALLATION").empty());
}

// ---- hooks and COM servers -------------------------------------------------------------------

namespace {

bool CopyHelper(const std::wstring& helper, const std::wstring& target) {
  CreateFolderChain(ParentFolder(target));
  return CopyFileW(ProgramPath(helper).c_str(), ToBackslashes(target).c_str(), FALSE) != 0;
}

std::wstring ShortPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? buffer : L"<no short path>";
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  UniqueRegKey key;
  return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.Receive()) == ERROR_SUCCESS;
}

// The hook library's record of its calls, kept while the test runs.
class HookLog {
 public:
  explicit HookLog(const ScratchFolder& scratch) : path_(ToBackslashes(scratch.File(L"hooks.log"))) {
    SetEnvironmentVariableW(L"BRINDLE_TEST_HOOK_LOG", path_.c_str());
  }
  ~HookLog() { SetEnvironmentVariableW(L"BRINDLE_TEST_HOOK_LOG", nullptr); }
  std::string Take() {
    std::string text;
    ReadBytes(path_, text);
    DeleteFileW(path_.c_str());
    return text;
  }

 private:
  std::wstring path_;
};

const char kPlainFile[] = "COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"";

class HookFixture : public PatchFixture {
 protected:
  // The installed application 1.0 (keep.txt) and a package 1.1 that updates keep.txt, adds
  // new.txt and carries the hooks named in customFunction, with the CUSTOM files given.
  std::wstring PrepareHookPackage(const std::string& customFunction,
                                  const std::vector<std::pair<std::wstring, std::wstring>>& custom) {
    RemoveTree(app_);
    RemoveTree(packageSource_);
    EXPECT_TRUE(WriteFileText(app_ + L"\\keep.txt", "keep 1.0"));
    EXPECT_TRUE(
        WriteFileText(app_ + L"\\uninst.ini",
                      "[Language]\r\nLang=\"en\"\r\n[Files]\r\nUIFILE=\"" + Logged(AppPath(L"keep.txt")) +
                          "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n[Startup]\r\nVersion=\"1.0\"\r\n"
                          "[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
    WriteInstallLog(L"en");
    WriteWrapperFiles({L"ENGLISH"});
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\keep.txt", "keep 1.1"));
    EXPECT_TRUE(WriteFileText(packageSource_ + L"\\INST\\new.txt", "new"));
    for (const auto& [helper, name] : custom) EXPECT_TRUE(CopyHelper(helper, packageSource_ + L"\\" + name));
    return BuildPackage(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
        "</GeneralInfo><UpdateObjects><File " +
        std::string(kPlainFile) +
        "><FullPath>$InsFolder$\\keep.txt</FullPath><FileName>keep.txt</FileName></File></UpdateObjects>"
        "<AddObjects><File " +
        std::string(kPlainFile) +
        "><FullPath>$InsFolder$\\new.txt</FullPath><FileName>new.txt</FileName></File></AddObjects>"
        "<CustomFunction>" +
        customFunction + "</CustomFunction></DiffDistribute>");
  }

  // Runs the list and answers the restart question, when one comes, with button.
  int RunAnswering(const std::wstring& list, const std::wstring& button, std::wstring& question) {
    std::thread answer([&] {
      HWND box = FindDialog(L"Sample Application", 60000);
      if (!box) return;
      question = StaticTexts(box);
      PressButton(box, button);
    });
    const int exitCode = RunBrindle(list, L"/non_notification");
    answer.join();
    return exitCode;
  }
};

}  // namespace

TEST_F(HookFixture, ABeforeUpdateVetoChangesNothing) {
  HookLog hooks(scratch_);
  const std::wstring list = PrepareHookPackage("<FileName Type=\"BeforeUpdate\">veto_hook.dll</FileName>",
                                               {{L"brindle_hook.dll", L"CUSTOM\\veto_hook.dll"}});
  const std::string logBefore = installLog_.Bytes();
  const std::string uninstBefore = FileText(app_ + L"\\uninst.ini");
  ServiceLogTail tail;
  std::wstring message;
  EXPECT_EQ(RunAnswering(list, L"OK", message), 100);
  EXPECT_NE(message.find(L"erreur"), std::wstring::npos) << message;
  EXPECT_EQ(hooks.Take(), "Update_BeforeUpdate veto_hook.dll 0\n");
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.0");
  EXPECT_FALSE(FileExists(app_ + L"\\new.txt"));
  EXPECT_EQ(FileText(app_ + L"\\uninst.ini"), uninstBefore);
  EXPECT_EQ(installLog_.Bytes(), logBefore);
  EXPECT_TRUE(tail.Details(L"UPDATE_FILE_ADD").empty());
}

// Whether this file system keeps the access list a folder is given (Windows does; Wine 8 does
// not, and reads back a default list).
static bool AccessListsAreStored(const ScratchFolder& scratch) {
  const std::wstring folder = ToBackslashes(scratch.File(L"acl-probe"));
  PSECURITY_DESCRIPTOR given = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)", SDDL_REVISION_1, &given,
                                                            nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, given, FALSE};
  const bool made = CreateDirectoryW(folder.c_str(), &attributes) != FALSE;
  LocalFree(given);
  PSECURITY_DESCRIPTOR read = nullptr;
  PACL dacl = nullptr;
  wchar_t* text = nullptr;
  bool stored = false;
  if (made &&
      GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &read) == ERROR_SUCCESS &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(read, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr)) {
    stored = std::wstring(text) == L"D:P(A;OICI;FA;;;SY)";
    LocalFree(text);
  }
  if (read) LocalFree(read);
  RemoveDirectoryW(folder.c_str());
  return stored;
}

// Every entry of the access-list text grants SYSTEM or Administrators, and nothing is inherited
// from folders that others may change: the work folder's list is protected.
static bool OnlySystemAndAdministrators(const std::string& text) {
  if (text.rfind("D:P", 0) != 0 && text.find("D:PAI") != 0) return false;
  size_t open = text.find('(');
  if (open == std::string::npos) return false;
  for (; open != std::string::npos; open = text.find('(', open + 1)) {
    const size_t close = text.find(')', open);
    if (close == std::string::npos) return false;
    const std::string ace = text.substr(open + 1, close - open - 1);
    const std::string sid = ace.substr(ace.find_last_of(';') + 1);
    if (sid != "SY" && sid != "BA") return false;
  }
  return true;
}

// The package is extracted below the common application-data folder, in a folder of this
// program's own that only SYSTEM and Administrators may change: a hook reports where it was
// loaded from and that folder's access list. Wine stores no access lists on files, so there
// only the place is checked; where they are stored, the list is checked too.
TEST_F(HookFixture, AHookIsLoadedFromTheProtectedWorkFolder) {
  HookLog hooks(scratch_);
  const std::wstring list = PrepareHookPackage("<FileName Type=\"BeforeUpdate\">report_hook.dll</FileName>",
                                               {{L"brindle_hook.dll", L"CUSTOM\\report_hook.dll"}});
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  std::istringstream lines(hooks.Take());
  std::string call, folder, access;
  std::getline(lines, call);
  std::getline(lines, folder);
  std::getline(lines, access);
  EXPECT_EQ(call, "Update_BeforeUpdate report_hook.dll 0");
  const std::string root =
      Utf8FromWide(ToBackslashes(CommonAppDataFolder())) + "\\Tamek_Inc_RW\\Brindle\\temp";
  ASSERT_EQ(folder.rfind("folder ", 0), 0u) << folder;
  folder.erase(0, 7);
  EXPECT_TRUE(EqualsIgnoreAsciiCase(WideFromUtf8(folder.substr(0, root.size())), WideFromUtf8(root)))
      << folder;
  EXPECT_EQ(folder.substr(folder.size() - 7), "\\CUSTOM") << folder;
  ASSERT_EQ(access.rfind("access ", 0), 0u) << access;
  if (AccessListsAreStored(scratch_)) {
    EXPECT_TRUE(OnlySystemAndAdministrators(access.substr(7))) << access;
  }
  // The work folder goes with the end of the run; the shared folder above it stays.
  EXPECT_FALSE(FileExists(JoinPath(CommonAppDataFolder(), L"Tamek_Inc_RW/Brindle")));
  EXPECT_TRUE(FileExists(JoinPath(CommonAppDataFolder(), L"Tamek_Inc_RW")));
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.1");
}

// A hook shipping a helper library beside it in CUSTOM: the hook's own folder is searched for
// the libraries it imports.
TEST_F(HookFixture, AHookFindsTheLibraryShippedBesideIt) {
  HookLog hooks(scratch_);
  const std::wstring list = PrepareHookPackage("<FileName Type=\"BeforeUpdate\">dep_hook.dll</FileName>",
                                               {{L"brindle_dep_hook.dll", L"CUSTOM\\dep_hook.dll"},
                                                {L"brindle_hook_dep.dll", L"CUSTOM\\brindle_hook_dep.dll"}});
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_EQ(hooks.Take(), "Update_BeforeUpdate 42\n");
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.1");
}

// A library planted beside the program under a system library's name: the package is still
// extracted with the system's cabinet library, and the planted one is never loaded.
TEST_F(HookFixture, ALibraryPlantedBesideTheProgramIsNeverLoaded) {
  const std::wstring list = PrepareHookPackage("", {});
  const std::wstring folder = ToBackslashes(scratch_.File(L"writable program folder"));
  ASSERT_TRUE(CreateFolderChain(folder));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"Brindle.exe").c_str(), (folder + L"\\Brindle.exe").c_str(), FALSE));
  ASSERT_TRUE(
      CopyFileW(ProgramPath(L"brindle_planted.dll").c_str(), (folder + L"\\cabinet.dll").c_str(), FALSE));
  const std::wstring marker = ToBackslashes(scratch_.File(L"planted.log"));
  SetEnvironmentVariableW(L"BRINDLE_TEST_PLANTED_LOG", marker.c_str());
  // Wine prefers its own cabinet library to one found beside a program; Windows takes the first
  // one found. Asked (for Brindle.exe only, while this test runs) to prefer such libraries, Wine
  // finds the planted one wherever the program still looks beside itself.
  const wchar_t kWineAppKey[] = L"Software\\Wine\\AppDefaults\\Brindle.exe";
  {
    UniqueRegKey overrides;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kWineAppKey) + L"\\DllOverrides").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, overrides.Receive(), nullptr),
              ERROR_SUCCESS);
    const wchar_t order[] = L"native,builtin";
    RegSetValueExW(overrides.Get(), L"cabinet", 0, REG_SZ, reinterpret_cast<const BYTE*>(order),
                   sizeof order);
  }
  StartedProcess run =
      StartProgram(folder + L"\\Brindle.exe", L"\"" + ToBackslashes(list) + L"\" /non_notification");
  const int exitCode = WaitForExit(run, 120000);
  RegDeleteTreeW(HKEY_CURRENT_USER, kWineAppKey);
  SetEnvironmentVariableW(L"BRINDLE_TEST_PLANTED_LOG", nullptr);
  EXPECT_EQ(exitCode, 200);
  EXPECT_EQ(FileText(marker), "<missing>");
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.1");
}

// A link planted where the work folder belongs (as a user who may write in the shared folder
// above it could plant one): nothing is extracted, run or deleted where it leads. Windows
// removes the junction and extracts into a new folder; Wine cannot remove the host's link that
// stands in for it, and the package then fails with a WORK_FOLDER line.
TEST_F(HookFixture, ALinkPlantedAtTheWorkFolderRedirectsNothing) {
  const std::wstring list = PrepareHookPackage("", {});
  ScratchFolder elsewhere;
  ASSERT_TRUE(WriteBytes(elsewhere.File(L"keep.txt"), "precious"));
  const std::wstring work = ToBackslashes(JoinPath(CommonAppDataFolder(), L"Tamek_Inc_RW/Brindle"));
  RemoveTree(work);
  ASSERT_TRUE(CreateFolderChain(ParentFolder(work)));
  ASSERT_TRUE(MakeFolderLink(work, ToBackslashes(elsewhere.Path())));
  struct Unplant {
    std::wstring link;
    ~Unplant() { RemoveFolderLink(link); }
  } unplant{work};
  ServiceLogTail tail;
  std::wstring message;  // a failed update ends with its message box, answered with OK
  const int exitCode = RunAnswering(list, L"OK", message);
  if (exitCode == 200) {
    EXPECT_FALSE(IsFolderLink(work));
    EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.1");
  } else {
    EXPECT_EQ(exitCode, 100);
    const std::vector<std::wstring> lines = tail.Details(L"WORK_FOLDER");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(L",error,link"), std::wstring::npos) << Utf8FromWide(lines[0]);
    EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.0");
  }
  EXPECT_FALSE(FileExists(elsewhere.File(L"temp1")));
  EXPECT_FALSE(FileExists(elsewhere.File(L"diff.xml")));
  EXPECT_EQ(FileText(elsewhere.File(L"keep.txt")), "precious");
}

TEST_F(HookFixture, AnAfterUpdateRestartRequestEndsWithTheRestartQuestion) {
  HookLog hooks(scratch_);
  // The before-update hook answers 2, which lets the update go on.
  const std::wstring list = PrepareHookPackage(
      "<FileName Type=\"AfterUpdate\">restart_hook.dll</FileName>"
      "<FileName Type=\"BeforeUpdate\">two_hook.dll</FileName>",
      {{L"brindle_hook.dll", L"CUSTOM\\restart_hook.dll"}, {L"brindle_hook.dll", L"CUSTOM\\two_hook.dll"}});
  std::wstring question;
  EXPECT_EQ(RunAnswering(list, L"Non", question), 200);
  EXPECT_NE(question.find(L"redémarr"), std::wstring::npos) << question;
  EXPECT_EQ(hooks.Take(), "Update_BeforeUpdate two_hook.dll 0\nUpdate_AfterUpdate restart_hook.dll 0\n");
  EXPECT_EQ(FileText(app_ + L"\\keep.txt"), "keep 1.1");
  EXPECT_EQ(FileText(app_ + L"\\new.txt"), "new");
  auto loaded = LoadInstallLog(installLog_.Path());
  ASSERT_TRUE(loaded);
  ASSERT_NE(FindEntry(*loaded, L"SampleApp"), nullptr);
  EXPECT_EQ(FindEntry(*loaded, L"SampleApp")->applicationVersion.text, L"1.1");
}

TEST_F(HookFixture, AMissingLibraryOrExportOrANameOutsideCustomFailsTheUpdate) {
  HookLog hooks(scratch_);
  struct Case {
    const char* what;
    std::string customFunction;
    std::vector<std::pair<std::wstring, std::wstring>> files;
    const char* keepAfter;  // the before-update failures change nothing; after the after-update
                            // one, every change of the package is taken back
  };
  const std::vector<Case> cases = {
      {"missing library", "<FileName Type=\"BeforeUpdate\">absent.dll</FileName>", {}, "keep 1.0"},
      // A working hook library beside CUSTOM: a name leading there must not load it.
      {"name outside CUSTOM",
       "<FileName Type=\"BeforeUpdate\">..\\INST\\outside_hook.dll</FileName>",
       {{L"brindle_hook.dll", L"INST\\outside_hook.dll"}},
       "keep 1.0"},
      {"named without a file name", "<FileName Type=\"BeforeUpdate\"></FileName>", {}, "keep 1.0"},
      {"missing export",
       "<FileName Type=\"AfterUpdate\">noexport.dll</FileName>",
       {{L"brindle_com_server.dll", L"CUSTOM\\noexport.dll"}},
       "keep 1.0"},
  };
  for (const Case& c : cases) {
    const std::wstring list = PrepareHookPackage(c.customFunction, c.files);
    const std::string logBefore = installLog_.Bytes();
    std::wstring message;
    EXPECT_EQ(RunAnswering(list, L"OK", message), 100) << c.what;
    EXPECT_NE(message.find(L"erreur"), std::wstring::npos) << c.what << " " << message;
    EXPECT_EQ(hooks.Take(), "") << c.what;
    EXPECT_EQ(FileText(app_ + L"\\keep.txt"), c.keepAfter) << c.what;
    EXPECT_EQ(installLog_.Bytes(), logBefore) << c.what;
  }
}

TEST_F(PatchFixture, ComServersAreRegisteredAfterTheCopyAndUnregisteredBeforeTheDeletion) {
  const std::wstring classes = L"SOFTWARE\\Classes\\BrindleTestServer.";
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n[Startup]\r\nVersion=\"1.0\"\r\n"
                            "[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(CopyHelper(L"brindle_com_server.dll", packageSource_ + L"\\INST\\server.dll"));
  ASSERT_TRUE(CopyHelper(L"brindle_com_server.dll", packageSource_ + L"\\INST\\failserver.dll"));
  ASSERT_TRUE(CopyHelper(L"fake_wrapper.exe", packageSource_ + L"\\INST\\localserver.exe"));
  const std::string com64 = "COM=\"INST_REG\" DelInfo=\"INST_DEL\" WOW=\"INST_64BIT\"";
  auto file = [](const std::string& attributes, const std::string& name) {
    return "<File " + attributes + "><FullPath>$InsFolder$\\" + name + "</FullPath><FileName>" + name +
           "</FileName></File>";
  };
  std::wstring list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.1</Version>"
      "</GeneralInfo><AddObjects>" +
      file(com64, "server.dll") + file(com64, "failserver.dll") + file(com64, "localserver.exe") +
      "</AddObjects></DiffDistribute>");

  const std::wstring server = app_ + L"\\server.dll";
  const std::wstring failing = app_ + L"\\failserver.dll";
  const std::wstring queuedName = ShortPath(app_) + L"\\failserver.dll";
  DeleteRunOnceValue(queuedName);
  std::wstring question;
  std::thread answer([&] {
    HWND box = FindDialog(L"Sample Application", 60000);
    if (!box) return;
    question = StaticTexts(box);
    PressButton(box, L"Non");
  });
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  answer.join();

  // The working library registered itself through the system's tool; the failing one waits
  // for the next logon, which needs a restart; the local server was started with /regserver.
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"server.dll\\InprocServer32", KEY_WOW64_64KEY));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"failserver.dll", KEY_WOW64_64KEY));
  wchar_t systemFolder[MAX_PATH];
  GetSystemDirectoryW(systemFolder, MAX_PATH);
  EXPECT_EQ(RunOnceValue(queuedName),
            ShortPath(std::wstring(systemFolder) + L"\\regsvr32.exe") + L" /s \"" + queuedName + L"\"");
  EXPECT_NE(question.find(L"redémarr"), std::wstring::npos) << question;
  EXPECT_EQ(FileText(app_ + L"\\localserver.exe.log").substr(0, 13), "[ /regserver]");
  EXPECT_NE(FileText(app_ + L"\\uninst.ini")
                .find(Logged(Utf8FromWide(server)) + "\" INST_REQ INST_REQ INST_DEL INST_REG"),
            std::string::npos);
  DeleteRunOnceValue(queuedName);

  // The next package removes the servers: each is unregistered while its file still exists.
  list = BuildPackage(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>1.2</Version>"
      "</GeneralInfo><DeleteObjects>" +
      file(com64, "server.dll") + file(com64, "localserver.exe") + "</DeleteObjects></DiffDistribute>");
  ServiceLogTail tail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification"), 200);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"server.dll", KEY_WOW64_64KEY));
  EXPECT_FALSE(FileExists(server));
  EXPECT_FALSE(FileExists(app_ + L"\\localserver.exe"));
  EXPECT_TRUE(FileExists(failing));
  std::vector<std::wstring> order;
  for (const ServiceLogLine& line : tail.NewLines())
    if (line.key == L"UNREGISTER_COM" || line.key == L"DELETE_FILE")
      order.push_back(line.key + L" " + line.detail);
  EXPECT_EQ(order, (std::vector<std::wstring>{L"UNREGISTER_COM -," + server + L",success,0",
                                              L"UNREGISTER_COM -," + app_ + L"\\localserver.exe,success,0",
                                              L"DELETE_FILE -," + server + L",success,0",
                                              L"DELETE_FILE -," + app_ + L"\\localserver.exe,success,0"}));
  const std::string localLog = FileText(app_ + L"\\localserver.exe.log");
  EXPECT_EQ(localLog.rfind("[ /regserver]", 0), 0u) << localLog;
  EXPECT_NE(localLog.find("\n[ /unregserver]"), std::string::npos) << localLog;
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (classes + L"failserver.dll\\InprocServer32").c_str(), KEY_WOW64_64KEY,
                  0);
}
