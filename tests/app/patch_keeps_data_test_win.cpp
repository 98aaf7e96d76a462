// Patches applied by the real Brindle.exe where a careless rule would lose something: a long
// file name replaced at the restart, the shared-DLL count of a referenced file whose copy waits
// for the restart, what a newer installer wrote into the install log, a display name the log's
// code page cannot hold, and the progress a person watches during a long package.
#include <gtest/gtest.h>

#include "support/patch_fixture_win.h"
#include "support/process_win.h"
#include "support/restart_queue_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {

const wchar_t kProgressCaption[] = L"Mise \u00e0 jour logicielle\u2026";
const char kCipherKey[] = "8794ec0db3f52410";  // the first 8 bytes of MD5 of the pass phrase

// The names in the folder, sorted.
std::vector<std::wstring> FolderNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!find) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find.Get(), &found));
  std::sort(names.begin(), names.end());
  return names;
}

// A program holding the file open (others may only read it) until it is ended.
StartedProcess HoldOpen(const std::wstring& path) {
  return StartProgram(ProgramPath(L"brindle_probe.exe"), L"file \"" + path + L"\" 90000");
}

void EndHolder(StartedProcess& holder) {
  TerminateProcess(holder.process.Get(), 0);
  WaitForExit(holder, 5000);
}

// Answers the first box titled caption with the button; keeps the box's text.
class Person {
 public:
  Person(const std::wstring& caption, const std::wstring& button)
      : thread_([this, caption, button] {
          HWND box = FindDialog(caption, 90000);
          if (!box) return;
          text_ = StaticTexts(box);
          PressButton(box, button);
        }) {}
  std::wstring Text() {
    if (thread_.joinable()) thread_.join();
    return text_;
  }
  ~Person() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::wstring text_;
  std::thread thread_;
};

// The install log enciphered and deciphered by openssl, independently of the program.
bool OpensslCipher(bool encipher, const std::wstring& in, const std::wstring& out) {
  std::vector<std::string> arguments = {"enc",
                                        encipher ? "-e" : "-d",
                                        "-des-cbc",
                                        "-provider",
                                        "legacy",
                                        "-provider",
                                        "default",
                                        "-K",
                                        kCipherKey,
                                        "-iv",
                                        "0000000000000000",
                                        "-in",
                                        UnixPath(in),
                                        "-out",
                                        UnixPath(out)};
  return RunUnixProgram("/usr/bin/openssl", arguments) == 0;
}

std::string UninstallLogWith(const std::string& files) {
  return "[Language]\r\nLang=\"en\"\r\n" + files +
         "[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n";
}

std::string FileRecord(const std::string& delInfo, const std::string& name, bool withSource = true) {
  return "<File COM=\"INST_NOREG\" DelInfo=\"" + delInfo + "\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\" +
         name + "</FullPath>" + (withSource ? "<FileName>" + name + "</FileName>" : "") + "</File>";
}

const char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo>"
    "<Version>1.1</Version></GeneralInfo>";

}  // namespace

// A long-named file in use is replaced at the restart under its own name: the queued move names
// the long path, so that after the old file's queued deletion the new one is not created under
// the short 8.3 name.
TEST_F(PatchFixture, ALongNamedFileInUseKeepsItsNameAcrossTheRestart) {
  const std::wstring target = app_ + L"\\LongFileNameLibrary.dll";
  ASSERT_TRUE(WriteFileText(target, "library 1.0"));
  ASSERT_TRUE(
      WriteFileText(app_ + L"\\uninst.ini",
                    UninstallLogWith("[Files]\r\nUIFILE=\"" + Logged(AppPath(L"LongFileNameLibrary.dll")) +
                                     "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n")));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\LongFileNameLibrary.dll", "library 1.1"));
  const std::wstring list =
      BuildPackage(std::string(kHead) + "<UpdateObjects>" +
                   FileRecord("INST_DEL", "LongFileNameLibrary.dll") + "</UpdateObjects></DiffDistribute>");
  wchar_t shortName[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW(target.c_str(), shortName, MAX_PATH), 0u);
  ASSERT_NE(std::wstring(shortName), target) << "the name must have a distinct short form";

  StartedProcess holder = HoldOpen(target);
  Sleep(1500);
  ServiceLogTail tail;
  Person person(L"Sample Application", L"Non");
  EXPECT_EQ(RunBrindle(list, L"/normal_install"), 200);
  EXPECT_NE(person.Text().find(L"red\u00e9marr"), std::wstring::npos);
  const auto deletes = tail.Details(L"UPDATE_FILE_DELETE");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0], L"-," + target + L",error,32");
  EXPECT_EQ(FileText(target), "library 1.0");

  // The restart: the holder ends, Wine boots again and carries out the queued deletion and move.
  EndHolder(holder);
  StartedProcess boot = StartProgram(L"C:\\windows\\system32\\wineboot.exe", L"-r");
  EXPECT_EQ(WaitForExit(boot, 120000), 0);
  EXPECT_EQ(FileText(target), "library 1.1");
  EXPECT_EQ(FolderNames(app_), (std::vector<std::wstring>{L"LongFileNameLibrary.dll", L"uninst.ini"}));
}

// A referenced (INST_REF) file whose copy waits for the restart is counted like one copied at
// once, since the uninstall log lists it as referenced either way: in use at the copy, and
// after its own deletion was queued earlier in the same package.
TEST_F(PatchFixture, ReferencedFilesCopiedAtTheRestartRaiseTheirSharedCount) {
  const std::wstring busy = app_ + L"\\Busy Shared.dll";
  const std::wstring pending = app_ + L"\\Pending Shared.dll";
  ASSERT_TRUE(WriteFileText(busy, "busy 1.0"));
  ASSERT_TRUE(WriteFileText(pending, "pending 1.0"));
  ASSERT_TRUE(SetFileYear(busy, 2001));
  SetSharedCount(busy, 1);
  RemoveSharedCount(pending);
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", UninstallLogWith("")));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\Busy Shared.dll", "busy 1.1"));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\Pending Shared.dll", "pending 1.1"));
  const std::wstring list = BuildPackage(
      std::string(kHead) + "<DeleteObjects>" + FileRecord("INST_REF", "Pending Shared.dll", false) +
      "</DeleteObjects><AddObjects>" + FileRecord("INST_REF", "Busy Shared.dll") +
      FileRecord("INST_REF", "Pending Shared.dll") + "</AddObjects></DiffDistribute>");

  StartedProcess busyHolder = HoldOpen(busy);
  StartedProcess pendingHolder = HoldOpen(pending);
  Sleep(1500);
  ServiceLogTail tail;
  Person person(L"Sample Application", L"Non");
  EXPECT_EQ(RunBrindle(list, L"/normal_install"), 200);
  person.Text();
  EndHolder(busyHolder);
  EndHolder(pendingHolder);

  const auto adds = tail.Details(L"ADD_FILE");
  ASSERT_EQ(adds.size(), 2u);
  EXPECT_EQ(adds[0], L"-," + busy + L",error,32");
  EXPECT_EQ(adds[1], L"-," + pending + L",success,0");
  EXPECT_EQ(FileText(busy + L".tmp0001"), "busy 1.1");
  EXPECT_EQ(FileText(pending + L".tmp0001"), "pending 1.1");
  DWORD count = 0;
  EXPECT_TRUE(SharedCount(busy, count));
  EXPECT_EQ(count, 2u) << "one more user of the file in use";
  count = 0;
  EXPECT_TRUE(SharedCount(pending, count));
  EXPECT_EQ(count, 1u) << "the deletion removed the count, the add counts the new copy";
  const std::string log = FileText(app_ + L"\\uninst.ini");
  EXPECT_NE(log.find(Logged(Utf8FromWide(busy)) + "\" INST_REQ INST_VER INST_REF"), std::string::npos) << log;
  EXPECT_NE(log.find(Logged(Utf8FromWide(pending)) + "\" INST_REQ INST_REQ INST_REF"), std::string::npos)
      << log;
  RemoveSharedCount(busy);
  RemoveSharedCount(pending);
}

// A newer installer's attributes and elements, which this program does not model, are still in
// the install log after an update, each in its place, and the new version is there too.
TEST_F(PatchFixture, TheInstallLogKeepsWhatTheProgramDoesNotKnowAcrossAnUpdate) {
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", UninstallLogWith("")));
  WriteWrapperFiles({L"ENGLISH"});
  const std::string app = Utf8FromWide(app_);
  const std::string plain =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<AppLocalList Written=\"9.2\">"
      "<AppLocal Channel=\"beta\"><AppName>SampleApp</AppName><Lang Code=\"en\"/>"
      "<FullPath>" +
      app +
      "</FullPath><Version Type=\"Application\">1.0</Version>"
      "<Version Type=\"Uninstall\">7.0</Version><Telemetry Level=\"2\">on</Telemetry>"
      "<DisplayName>Sample Application</DisplayName><UninstLog>" +
      app +
      "\\uninst.ini</UninstLog>"
      "</AppLocal><Machine Id=\"42\"/></AppLocalList>";
  const std::wstring plainPath = scratch_.File(L"installlog-before.xml");
  ASSERT_TRUE(WriteBytes(plainPath, plain));
  CreateFolderChain(ParentFolder(installLog_.Path()));
  ASSERT_TRUE(OpensslCipher(true, plainPath, installLog_.Path()));
  ASSERT_TRUE(WriteFileText(packageSource_ + L"\\INST\\added.txt", "added"));
  const std::wstring list =
      BuildPackage(std::string(kHead) + "<AddObjects>" + FileRecord("INST_DEL", "added.txt") +
                   "</AddObjects></DiffDistribute>");

  Person person(L"Sample Application", L"OK");
  EXPECT_EQ(RunBrindle(list, L"/normal_install"), 200);
  person.Text();
  EXPECT_EQ(FileText(app_ + L"\\added.txt"), "added");

  const std::wstring afterPath = scratch_.File(L"installlog-after.xml");
  ASSERT_TRUE(OpensslCipher(false, installLog_.Path(), afterPath));
  const std::string after = FileText(afterPath);
  const std::vector<std::string> inOrder = {"<AppLocalList Written=\"9.2\">",
                                            "<AppLocal Channel=\"beta\">",
                                            "<AppName>SampleApp</AppName>",
                                            "<Version Type=\"Application\">1.1</Version>",
                                            "<Version Type=\"Uninstall\">7.1.",
                                            "<Telemetry Level=\"2\">on</Telemetry>",
                                            "<DisplayName>Sample Application</DisplayName>",
                                            "</AppLocal>",
                                            "<Machine Id=\"42\"/>",
                                            "</AppLocalList>"};
  size_t at = 0;
  for (const std::string& part : inOrder) {
    const size_t found = after.find(part, at);
    ASSERT_NE(found, std::string::npos) << part << " in order in\n" << after;
    at = found + part.size();
  }
}

// A display name the install log's code page cannot hold is not stored as a look-alike
// ("Suite" for S-circumflex "uite"): the save fails, the run reports the failure, and the old
// log stays byte for byte.
TEST_F(PatchFixture, ADisplayNameTheCodePageCannotHoldFailsTheSaveAndKeepsTheOldLog) {
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", UninstallLogWith("")));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  const std::string before = installLog_.Bytes();
  ASSERT_FALSE(before.empty());
  const std::wstring list = BuildPackage(std::string(kHead) +
                                         "<UpdateObjects><DisplayName>\xC5\x9Cuite"
                                         "</DisplayName></UpdateObjects></DiffDistribute>");

  ServiceLogTail tail;
  Person person(L"Sample Application", L"OK");
  EXPECT_EQ(RunBrindle(list, L"/normal_install"), 100);
  EXPECT_NE(person.Text().find(L"Une erreur s'est produite"), std::wstring::npos);
  EXPECT_TRUE(installLog_.Bytes() == before) << "the install log was replaced";
  EXPECT_FALSE(FileExists(installLog_.Path() + L".tmp"));
  // The service log's lines are those of any save.
  EXPECT_EQ(tail.Details(L"ENCODE_QXLOGXML"), std::vector<std::wstring>{L"-"});
}

// During one package of a few thousand files the progress dialog's percentage moves before the
// package ends, only ever forward, and the run still ends at exactly 100 %.
TEST_F(PatchFixture, TheProgressMovesDuringALongPackageAndEndsAt100) {
  const int kFiles = 3000;
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini", UninstallLogWith("")));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  std::string records;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i / 100) + "\\file" + std::to_string(i) + ".txt";
    ASSERT_TRUE(
        WriteFileText(packageSource_ + L"\\INST\\" + WideFromUtf8(name), "content " + std::to_string(i)));
    records += FileRecord("INST_DEL", name);
  }
  const std::wstring list =
      BuildPackage(std::string(kHead) + "<AddObjects>" + records + "</AddObjects></DiffDistribute>");

  std::atomic<bool> stop{false};
  std::vector<std::wstring> seen;
  std::thread watcher([&] {
    HWND dialog = FindDialog(kProgressCaption, 60000);
    if (!dialog) return;
    HWND percentText = GetDlgItem(dialog, 2006);
    while (!stop && IsWindow(dialog)) {
      wchar_t text[64] = {};
      InternalGetWindowText(percentText, text, 64);
      if (text[0] && (seen.empty() || seen.back() != text)) seen.push_back(text);
      Sleep(20);
    }
  });
  ServiceLogTail tail;
  EXPECT_EQ(RunBrindle(list, L"/non_notification", 300000), 200);
  stop = true;
  watcher.join();

  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), L"0 %");
  EXPECT_EQ(seen.back(), L"100 %");
  std::vector<int> percents;
  for (const std::wstring& text : seen) percents.push_back(_wtoi(text.c_str()));
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  std::wstring shown;
  for (const std::wstring& text : seen) shown += L" [" + text + L"]";
  EXPECT_TRUE(std::any_of(percents.begin(), percents.end(), [](int p) { return p > 0 && p < 100; }))
      << "only 0 % and 100 % were shown:" << Utf8FromWide(shown);
  EXPECT_EQ(tail.Details(L"ADD_FILE").size(), static_cast<size_t>(kFiles));
}
