// The tool and the program together under Wine: brindle-pack.exe makes a package from two
// generated folders of an application, checks it and plans it; the real Brindle.exe applies it
// to an installed copy of the old folder, started as the update service starts it. Afterwards
// the installed folder equals the new one, the plan's actions are the run's service-log lines
// in the same order, and the install log the program wrote decodes to its XML and encodes back
// to the same bytes.
#include <gtest/gtest.h>

#include "logs/install_log.h"
#include "packtool/cabinet.h"
#include "packtool/pe_image.h"
#include "sys/file_util.h"
#include "support/install_log_fixture_win.h"
#include "support/patch_fixture_win.h"
#include "support/process_win.h"
#include "support/restart_queue_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "support/unix_tools_win.h"
#include "sys/child_wait.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <thread>

using namespace brindle;
using namespace brindle::test;

namespace {

// A copy of Brindle.exe whose version resource says major.minor.0.0: a real file with a version.
std::string VersionedImage(WORD major, WORD minor) {
  std::string bytes;
  if (!ReadBytes(ProgramPath(L"Brindle.exe"), bytes)) return std::string();
  const size_t at = bytes.find(std::string("\xBD\x04\xEF\xFE", 4));
  if (at == std::string::npos) return std::string();
  const DWORD high = (DWORD(major) << 16) | minor;
  memcpy(&bytes[at + 8], &high, 4);
  memset(&bytes[at + 12], 0, 4);
  return bytes;
}

// Every file and folder below root: the relative path in capitals (Windows compares names
// without regard to case) mapped to the file's bytes, or to "<folder>".
void Tree(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, std::string>& tree) {
  const std::wstring folder = ToBackslashes(root) + (relative.empty() ? L"" : L"\\" + relative);
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!find) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    std::wstring key = child;
    CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[key] = "<folder>";
      Tree(root, child, tree);
    } else {
      tree[key] = FileText(folder + L"\\" + name);
    }
  } while (FindNextFileW(find.Get(), &found));
}

std::map<std::wstring, std::string> Tree(const std::wstring& root) {
  std::map<std::wstring, std::string> tree;
  Tree(root, L"", tree);
  return tree;
}

// What differs between two trees, one line per path (empty when they are equal).
std::string TreeDifference(const std::map<std::wstring, std::string>& have,
                           const std::map<std::wstring, std::string>& want) {
  std::string out;
  for (const auto& [path, bytes] : want) {
    auto it = have.find(path);
    if (it == have.end()) out += "missing " + Utf8FromWide(path) + "\n";
    else if (it->second != bytes) out += "differs " + Utf8FromWide(path) + "\n";
  }
  for (const auto& [path, bytes] : have)
    if (!want.count(path)) out += "extra " + Utf8FromWide(path) + "\n";
  return out;
}

void CopyTree(const std::wstring& from, const std::wstring& to) {
  for (const auto& [relative, bytes] : Tree(from)) {
    const std::wstring target = ToBackslashes(to) + L"\\" + relative;
    if (bytes == "<folder>") CreateFolderChain(target);
  }
  // The names again with their real case, file by file.
  std::vector<std::pair<std::wstring, std::wstring>> files;
  std::vector<std::wstring> pending = {L""};
  while (!pending.empty()) {
    const std::wstring relative = pending.back();
    pending.pop_back();
    const std::wstring folder = ToBackslashes(from) + (relative.empty() ? L"" : L"\\" + relative);
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) continue;
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) pending.push_back(child);
      else files.push_back({folder + L"\\" + name, ToBackslashes(to) + L"\\" + child});
    } while (FindNextFileW(find.Get(), &found));
  }
  for (const auto& [source, target] : files) {
    CreateFolderChain(ParentFolder(target));
    CopyFileW(source.c_str(), target.c_str(), FALSE);
  }
}

std::wstring Quoted(const std::vector<std::wstring>& args) {
  std::wstring line;
  for (const std::wstring& a : args) line += (line.empty() ? L"\"" : L" \"") + a + L"\"";
  return line;
}

struct PackRun {
  int exitCode = -1;
  std::string out, err;
};

// Starts the Windows build of brindle-pack as its own process, its standard output and error
// sent to files, and waits for it.
PackRun RunPack(const std::vector<std::wstring>& args, const ScratchFolder& scratch) {
  static int serial = 0;
  const std::wstring n = std::to_wstring(++serial);
  const std::wstring outPath = ToBackslashes(scratch.File(L"pack" + n + L".out"));
  const std::wstring errPath = ToBackslashes(scratch.File(L"pack" + n + L".err"));
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  PackRun run;
  {
    UniqueHandle out(
        CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
    UniqueHandle err(
        CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
    if (!out || !err) return run;
    const std::wstring exe = ProgramPath(L"brindle-pack.exe");
    std::wstring commandLine = L"\"" + exe + L"\" " + Quoted(args);
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.Get();
    startup.hStdError = err.Get();
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info))
      return run;
    CloseHandle(info.hThread);
    StartedProcess started;
    started.process.Reset(info.hProcess);
    started.processId = info.dwProcessId;
    run.exitCode = WaitForExit(started, 60000);
  }
  run.out = FileText(outPath);
  run.err = FileText(errPath);
  return run;
}

// Escapes a path the way the uninstall log writes it (each backslash doubled).
std::string Logged(const std::wstring& path) {
  std::string out;
  for (char c : Utf8FromWide(path)) {
    out += c;
    if (c == '\\') out += '\\';
  }
  return out;
}

// The lines of text that are actions of a plan (every other line starts with "# ").
std::vector<std::wstring> PlanActions(const std::string& text) {
  std::vector<std::wstring> actions;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.rfind("# ", 0) != 0) actions.push_back(WideFromUtf8(line));
  }
  return actions;
}

// An application installed under Program Files from its OLD folder, with its uninstall log
// (kept outside the application's folder, so that the folder holds only the application), the
// install log and the uninstaller files that go with the package.
class PackApplyFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    programFiles_ = ShellFolder(CSIDL_PROGRAM_FILESX86);
    ASSERT_FALSE(programFiles_.empty());
    app_ = programFiles_ + L"\\" + Unique(L"BrindlePackApp");
    uninstallerVersion_ = L"7.2." + std::to_wstring(GetCurrentProcessId());
    uninstFolder_ = ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86) + L"\\Tamek\\ZNQ\\" + uninstallerVersion_;
    uninstLog_ = ToBackslashes(scratch_.File(L"uninst\\uninst.ini"));
    oldFolder_ = ToBackslashes(scratch_.File(L"old"));
    newFolder_ = ToBackslashes(scratch_.File(L"new"));
    lists_ = ToBackslashes(scratch_.File(L"lists"));
  }
  void TearDown() override {
    RemoveTree(app_);
    RemoveTree(uninstFolder_);
  }

  // Installs OLD: its files copied, an uninstall log naming each of them, an install log.
  void Install() {
    CopyTree(oldFolder_, app_);
    std::string log = "[Language]\r\nLang=\"en\"\r\n";
    std::wstring lastFolder;
    for (const auto& [relative, bytes] : Tree(app_)) {
      if (bytes == "<folder>") continue;
      const std::wstring path = app_ + L"\\" + relative;
      if (ParentFolder(path) != lastFolder) {
        lastFolder = ParentFolder(path);
        log +=
            "[Folders]\r\nUIFLDR=\"" + Logged(lastFolder) + "\" INST_REQ INST_CRE INST_DEL \r\n[Files]\r\n";
      }
      log += "UIFILE=\"" + Logged(path) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
    }
    log +=
        "[Startup]\r\nVersion=\"1.0\"\r\nAppName=\"Sample Application\"\r\n[Uninst Info]\r\n"
        "Product=\"Sample\"\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\nOwnerName=\"Tamek\"\r\n"
        "Version=\"1.0\"\r\nUninstall_End=0\r\n";
    ASSERT_TRUE(WriteFileText(uninstLog_, log));

    CQXInstallLog installLog;
    auto entry = std::make_unique<InstallLogEntry>();
    entry->AppName = L"SampleApp";
    entry->DisplayName.name = L"Sample Application";
    entry->applicationVersion.text = L"1.0";
    entry->uninstallerVersion.text = L"7.0";
    entry->FullPath = app_;
    entry->Lang.SetCode(L"en");
    entry->UninstLog = uninstLog_;
    installLog.entries.push_back(std::move(entry));
    CreateFolderChain(ParentFolder(installLog_.Path()));
    ASSERT_TRUE(SaveInstallLog(installLog, installLog_.Path()));

    const std::wstring znq = scratch_.File(L"znq/INSTALL");
    ASSERT_TRUE(WriteFileText(znq + L"/COMMON/setup.dll", "setup"));
    ASSERT_TRUE(WriteFileText(znq + L"/COMMON/Uninst.exe", "uninst"));
    ASSERT_TRUE(WriteFileText(znq + L"/COMMON/UninsVer.txt", Utf8FromWide(uninstallerVersion_) + "\r\n"));
    ASSERT_TRUE(WriteFileText(znq + L"/ENGLISH/UninstRsc.dll", "rsc-english"));
  }

  ScratchFolder scratch_;
  InstallLogGuard installLog_;
  std::wstring programFiles_, app_, uninstallerVersion_, uninstFolder_, uninstLog_;
  std::wstring oldFolder_, newFolder_, lists_;
};

}  // namespace

TEST_F(PackApplyFixture, MadePackageTurnsTheInstalledOldFolderIntoNewAndThePlanMatchesTheRun) {
  // Two versions of an application: files kept, updated (two with version resources), deleted
  // (one leaves its sub-folders empty) and added in new sub-folders.
  const std::string tool1 = VersionedImage(1, 0), tool2 = VersionedImage(2, 0);
  ASSERT_FALSE(tool1.empty());
  ASSERT_FALSE(tool2.empty());
  for (const std::wstring& f : {oldFolder_, newFolder_}) {
    ASSERT_TRUE(WriteFileText(f + L"\\keep.txt", "keep"));
    ASSERT_TRUE(WriteFileText(f + L"\\data\\same\\table.bin", std::string("\0\1\2\3", 4)));
  }
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\readme.txt", "version 1.0"));
  ASSERT_TRUE(WriteFileText(newFolder_ + L"\\readme.txt", "version 1.1, longer"));
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\bin\\tool.exe", tool1));
  ASSERT_TRUE(WriteFileText(newFolder_ + L"\\bin\\tool.exe", tool2));
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\bin\\core.dll", VersionedImage(1, 5)));
  ASSERT_TRUE(WriteFileText(newFolder_ + L"\\bin\\core.dll", VersionedImage(1, 6)));
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\gone.txt", "gone"));
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\legacy\\old\\plugin.cfg", "legacy"));
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\data\\obsolete.dat", "obsolete"));
  ASSERT_TRUE(WriteFileText(newFolder_ + L"\\plugins\\extra\\added.txt", "added"));
  ASSERT_TRUE(WriteFileText(newFolder_ + L"\\bin\\newlib.dll", VersionedImage(1, 2)));
  ASSERT_TRUE(WriteFileText(newFolder_ + L"\\data\\fresh.dat", "fresh"));
  Install();
  const auto oldTree = Tree(oldFolder_), newTree = Tree(newFolder_);
  ASSERT_EQ(newTree.count(L"PLUGINS\\EXTRA\\ADDED.TXT"), 1u);
  ASSERT_EQ(oldTree.count(L"LEGACY\\OLD"), 1u);
  ASSERT_NE(TreeDifference(oldTree, newTree), "");
  ASSERT_EQ(TreeDifference(Tree(app_), oldTree), "");

  const std::wstring package = lists_ + L"\\package.diff";
  PackRun make = RunPack({L"make", oldFolder_, newFolder_, L"-o", package, L"--version", L"1.1", L"--app",
                          L"SampleApp", L"--display-name", L"Sample Application", L"--list",
                          lists_ + L"\\list.xml", L"--znq", scratch_.File(L"znq")},
                         scratch_);
  ASSERT_EQ(make.exitCode, 0) << make.err;
  EXPECT_NE(make.out.find("update bin\\tool.exe (1.0.0.0 -> 2.0.0.0)"), std::string::npos) << make.out;
  EXPECT_NE(make.out.find("add plugins\\extra\\added.txt"), std::string::npos) << make.out;
  EXPECT_NE(make.out.find("delete legacy\\old\\plugin.cfg"), std::string::npos) << make.out;
  EXPECT_NE(make.err.find("3 added, 3 updated, 3 deleted"), std::string::npos) << make.err;

  PackRun check = RunPack({L"check", package, L"--lang", L"en"}, scratch_);
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

  PackRun plan =
      RunPack({L"plan", package, L"--install-log", ToBackslashes(installLog_.Path()), L"--app", L"SampleApp"},
              scratch_);
  ASSERT_EQ(plan.exitCode, 0) << plan.err;
  const std::vector<std::wstring> planned = PlanActions(plan.out);
  EXPECT_EQ(plan.out.find("refuses"), std::string::npos) << plan.out;
  EXPECT_EQ(TreeDifference(Tree(app_), oldTree), "") << "plan changed the installed folder";

  // Before the run, verify against the package finds what it has still to do.
  PackRun before = RunPack({L"verify", L"--root", L"C:\\.", L"--install-log",
                            ToBackslashes(installLog_.Path()), L"--app", L"SampleApp", L"--package", package},
                           scratch_);
  EXPECT_EQ(before.exitCode, 1) << before.out << before.err;
  EXPECT_NE(before.out.find("added.txt is missing; the package installs it"), std::string::npos)
      << before.out;
  EXPECT_NE(before.out.find("gone.txt is still installed; the package deletes it"), std::string::npos)
      << before.out;

  // The real run, as the update service starts it.
  ServiceLogTail tail;
  StartedProcess brindle =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + lists_ + L"\\list.xml\" /non_notification");
  EXPECT_EQ(WaitForExit(brindle, 120000), 200);

  EXPECT_EQ(TreeDifference(Tree(app_), newTree), "");
  EXPECT_EQ(FileText(uninstFolder_ + L"\\Uninst.exe"), "uninst");

  // The service-log lines of the package's actions: "VERB -,object,success,code", between the
  // start of the package and the install log's save.
  std::vector<std::wstring> ran;
  bool inside = false;
  for (const ServiceLogLine& line : tail.NewLines()) {
    if (line.tag != L"BR") continue;
    if (line.key == L"START_PATCH_INSTALLATION") {
      inside = true;
      continue;
    }
    if (line.key == L"ENCODE_QXLOGXML") break;
    if (!inside) continue;
    std::wstring object = line.detail;
    EXPECT_EQ(object.rfind(L"-,", 0), 0u) << line.detail;
    object = object.substr(2);
    const size_t code = object.rfind(L',');
    const size_t outcome = code == std::wstring::npos ? code : object.rfind(L',', code - 1);
    ASSERT_NE(outcome, std::wstring::npos) << line.detail;
    EXPECT_EQ(object.substr(outcome + 1, code - outcome - 1), L"success") << line.detail;
    ran.push_back(line.key + L" " + object.substr(0, outcome));
  }
  EXPECT_EQ(ran.size(), 13u);  // 3 deletes, 3 updates of two lines, 3 adds, the uninstall log
  EXPECT_EQ(planned, ran) << plan.out;

  // The uninstall log the program rewrote passes the tool's check of its reader's rules.
  PackRun uninstCheck = RunPack({L"uninstlog", L"check", uninstLog_}, scratch_);
  EXPECT_EQ(uninstCheck.exitCode, 0) << uninstCheck.out << uninstCheck.err;

  // verify, drive C itself standing for the machine ("C:\." since a quoted argument cannot
  // end in a backslash): the installation the program updated agrees with its install log, its
  // uninstall log and the package applied.
  PackRun verify = RunPack({L"verify", L"--root", L"C:\\.", L"--install-log",
                            ToBackslashes(installLog_.Path()), L"--app", L"SampleApp", L"--package", package},
                           scratch_);
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
  EXPECT_NE(verify.out.find("0 error(s), 0 warning(s)"), std::string::npos) << verify.out;

  // The install log the program wrote: decode gives the text that openssl deciphers, with the
  // new version; encode of that text gives the program's bytes again.
  const std::wstring xml = ToBackslashes(scratch_.File(L"installlog.xml"));
  const std::wstring plain = ToBackslashes(scratch_.File(L"openssl.xml"));
  const std::wstring again = ToBackslashes(scratch_.File(L"again.dat"));
  PackRun decode = RunPack({L"log", L"decode", ToBackslashes(installLog_.Path()), L"-o", xml}, scratch_);
  ASSERT_EQ(decode.exitCode, 0) << decode.err;
  ASSERT_EQ(
      RunUnixProgram("/usr/bin/openssl", {"enc", "-d", "-des-cbc", "-provider", "legacy", "-provider",
                                          "default", "-K", "8794ec0db3f52410", "-iv", "0000000000000000",
                                          "-in", UnixPath(installLog_.Path()), "-out", UnixPath(plain)}),
      0);
  EXPECT_EQ(FileText(xml), FileText(plain));
  EXPECT_NE(FileText(xml).find(">1.1</Version>"), std::string::npos) << FileText(xml);
  PackRun encode = RunPack({L"log", L"encode", xml, L"-o", again}, scratch_);
  ASSERT_EQ(encode.exitCode, 0) << encode.err;
  EXPECT_EQ(FileText(again), installLog_.Bytes());
}

namespace {

// The value as the 32-bit program's view holds it: its type and bytes, or type 0 when absent.
std::pair<DWORD, std::string> ReadValue32(const std::wstring& key, const std::wstring& name) {
  UniqueRegKey opened;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, opened.Receive()) !=
      ERROR_SUCCESS)
    return {0, std::string()};
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return {0, std::string()};
  std::string bytes(size, '\0');
  RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]), &size);
  return {type, bytes};
}

}  // namespace

namespace {

// The "VERB object" of each action line the run wrote for its package, whatever its outcome
// (up to the undo of a package that failed).
std::vector<std::wstring> RunActionLines(const std::vector<ServiceLogLine>& lines) {
  std::vector<std::wstring> ran;
  bool inside = false;
  for (const ServiceLogLine& line : lines) {
    if (line.tag != L"BR") continue;
    if (line.key == L"START_PATCH_INSTALLATION") inside = true;
    else if (line.key == L"ENCODE_QXLOGXML" || line.key.rfind(L"UNDO_", 0) == 0) break;
    else if (inside && line.detail.rfind(L"-,", 0) == 0) {
      const std::wstring object = line.detail.substr(2);
      const size_t code = object.rfind(L',');
      const size_t outcome = code == std::wstring::npos ? code : object.rfind(L',', code - 1);
      ran.push_back(line.key + L" " + object.substr(0, outcome));
    }
  }
  return ran;
}

}  // namespace

// The same REG_DW data given to the tool and to the real program: check refuses exactly the
// data the program does not store, and plan shows the registry pass stopping where the
// program's does not write.
TEST_F(PackApplyFixture, RegistryNumbersTheToolRefusesAreTheOnesTheProgramDoesNotStore) {
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\keep.txt", "keep"));
  ASSERT_TRUE(WriteFileText(newFolder_ + L"\\keep.txt", "keep"));
  const std::wstring key = L"Software\\" + Unique(L"BrindlePackNumbers");
  struct Case {
    std::string data;
    bool stored;
    std::string bytes;
  };
  const Case cases[] = {{"0x10", true, std::string("\x10\0\0\0", 4)},
                        {"+5", false, ""},
                        {"-1", false, ""},
                        {"010", true, std::string("\x08\0\0\0", 4)}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("REG_DW data \"" + c.data + "\"");
    Install();
    const std::wstring valueName = L"Count" + std::to_wstring(++n);
    const std::wstring pkg = ToBackslashes(scratch_.File(L"pkg" + std::to_wstring(n)));
    ASSERT_TRUE(WriteFileText(pkg + L"\\diff.xml",
                              "<DiffDistribute><GeneralInfo><Version>1.1</Version></GeneralInfo><AddObjects>"
                              "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" +
                                  Utf8FromWide(key) + "</RegKeyPath><RegValueName>" +
                                  Utf8FromWide(valueName) + "</RegValueName><RegData Type=\"REG_DW\">" +
                                  c.data + "</RegData></Registry></AddObjects></DiffDistribute>"));
    const std::wstring package = lists_ + L"\\numbers" + std::to_wstring(n) + L".diff";
    ASSERT_TRUE(CreateFolderChain(lists_));
    std::wstring reason;
    ASSERT_TRUE(pack::WriteCabinet(package, {{L"diff.xml", pkg + L"\\diff.xml"}}, reason))
        << Utf8FromWide(reason);
    CopyTree(scratch_.File(L"znq"), lists_ + L"\\ZNQ");
    ASSERT_TRUE(WriteFileText(lists_ + L"\\list.xml",
                              "<DiffLocalList><DiffLocal Order=\"1\"><FileName>numbers" + std::to_string(n) +
                                  ".diff</FileName><AppName>SampleApp</AppName>"
                                  "<DisplayName>Sample Application</DisplayName></DiffLocal>"
                                  "</DiffLocalList>"));

    PackRun check = RunPack({L"check", package}, scratch_);
    EXPECT_EQ(check.exitCode == 0, c.stored) << check.out << check.err;
    PackRun plan = RunPack(
        {L"plan", package, L"--install-log", ToBackslashes(installLog_.Path()), L"--app", L"SampleApp"},
        scratch_);
    // The run writes the record's line either way, with error 13 when it refuses the data.
    EXPECT_NE(plan.out.find("ADD_REG " + Utf8FromWide(key)), std::string::npos) << plan.out;
    EXPECT_EQ(plan.out.find("its line says error 13") != std::string::npos, !c.stored) << plan.out;

    ServiceLogTail tail;
    StartedProcess brindle =
        StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + lists_ + L"\\list.xml\" /non_notification");
    // A refused value fails the package: the person reads the failure and presses OK.
    std::wstring message;
    if (!c.stored) {
      const HWND box = FindDialog(L"Sample Application", 90000);
      EXPECT_TRUE(box);
      if (box) {
        message = StaticTexts(box);
        PressButton(box, L"OK");
      }
    }
    EXPECT_EQ(WaitForExit(brindle, 120000), c.stored ? 200 : 100);
    if (!c.stored) {
      EXPECT_NE(message.find(L"Une erreur s'est produite"), std::wstring::npos);
    }
    const std::vector<std::wstring> ran = RunActionLines(tail.NewLines());
    EXPECT_EQ(PlanActions(plan.out), ran) << plan.out;
    const auto value = ReadValue32(key, valueName);
    EXPECT_EQ(value.first == REG_DWORD, c.stored);
    if (c.stored) {
      EXPECT_EQ(value.second, c.bytes);
    }
  }
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY, 0);
}

namespace {

void MakeValue32(const std::wstring& key, const std::wstring& name) {
  UniqueRegKey made;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                            nullptr, made.Receive(), nullptr),
            ERROR_SUCCESS);
  if (!name.empty()) {
    ASSERT_EQ(RegSetValueExW(made.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4),
              ERROR_SUCCESS);
  }
}

}  // namespace

// The deletion of values planned on the machine's registry as "reg export" wrote it: the plan's
// lines are the run's, DELETE_REG where the key is left empty and goes, UPDATE_REG_DELETE where
// it keeps another value or key or does not exist.
TEST_F(PackApplyFixture, DeletedValuesPlannedOnTheExportedRegistryAreTheLinesOfTheRun) {
  const std::wstring base = L"Software\\" + Unique(L"BrindlePlanDeletes");
  MakeValue32(base + L"\\Only", L"V");
  MakeValue32(base + L"\\Shared", L"V");
  MakeValue32(base + L"\\Shared", L"W");
  MakeValue32(base + L"\\Parent", L"V");
  MakeValue32(base + L"\\Parent\\Child", L"");
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\keep.txt", "keep"));
  Install();
  const std::wstring pkg = ToBackslashes(scratch_.File(L"deletes"));
  std::string records;
  for (const wchar_t* key : {L"Only", L"Shared", L"Parent", L"Missing"})
    records += "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" + Utf8FromWide(base) + "\\" +
               Utf8FromWide(key) + "</RegKeyPath><RegValueName>V</RegValueName></Registry>";
  ASSERT_TRUE(
      WriteFileText(pkg + L"\\diff.xml",
                    "<DiffDistribute><GeneralInfo><Version>1.1</Version></GeneralInfo><DeleteObjects>" +
                        records + "</DeleteObjects></DiffDistribute>"));
  const std::wstring package = lists_ + L"\\deletes.diff";
  ASSERT_TRUE(CreateFolderChain(lists_));
  std::wstring reason;
  ASSERT_TRUE(pack::WriteCabinet(package, {{L"diff.xml", pkg + L"\\diff.xml"}}, reason))
      << Utf8FromWide(reason);
  CopyTree(scratch_.File(L"znq"), lists_ + L"\\ZNQ");
  ASSERT_TRUE(WriteFileText(lists_ + L"\\list.xml",
                            "<DiffLocalList><DiffLocal Order=\"1\"><FileName>deletes.diff</FileName>"
                            "<AppName>SampleApp</AppName><DisplayName>Sample Application</DisplayName>"
                            "</DiffLocal></DiffLocalList>"));

  // The registry as the system's own tool exports it, its 64-bit view holding the 32-bit keys.
  const std::wstring exported = ToBackslashes(scratch_.File(L"machine.reg"));
  StartedProcess reg = StartProgram(
      SystemFolderPath() + L"\\reg.exe",
      L"export \"HKLM\\Software\\WOW6432Node\\" + base.substr(9) + L"\" \"" + exported + L"\" /y /reg:64");
  ASSERT_EQ(WaitForExit(reg, 60000), 0);
  PackRun plan = RunPack({L"plan", package, L"--install-log", ToBackslashes(installLog_.Path()), L"--app",
                          L"SampleApp", L"--registry", exported},
                         scratch_);
  ASSERT_EQ(plan.exitCode, 0) << plan.err;

  ServiceLogTail tail;
  StartedProcess brindle =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + lists_ + L"\\list.xml\" /non_notification");
  EXPECT_EQ(WaitForExit(brindle, 120000), 200);
  const std::vector<ServiceLogLine> lines = tail.NewLines();
  const std::vector<std::wstring> ran = RunActionLines(lines);
  std::string logged;
  for (const ServiceLogLine& line : lines)
    logged += Utf8FromWide(line.tag + L" " + line.key + L" " + line.detail) + "\n";
  const std::vector<std::wstring> expected = {
      L"DELETE_REG " + base + L"\\Only", L"UPDATE_REG_DELETE " + base + L"\\Shared",
      L"UPDATE_REG_DELETE " + base + L"\\Parent", L"UPDATE_REG_DELETE " + base + L"\\Missing",
      L"UPDATE_ZNQ_UNINSTLOG " + uninstLog_};
  EXPECT_EQ(ran, expected) << logged;
  EXPECT_EQ(PlanActions(plan.out), ran) << plan.out;
  UniqueRegKey gone;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\Only").c_str(), 0, KEY_READ | KEY_WOW64_32KEY,
                          gone.Receive()),
            ERROR_FILE_NOT_FOUND);

  // verify holds the registry against the package: before the run (the export the plan read)
  // it names the values still to delete; the machine the run left passes.
  const std::wstring left = ToBackslashes(scratch_.File(L"left.reg"));
  StartedProcess after = StartProgram(
      SystemFolderPath() + L"\\reg.exe",
      L"export \"HKLM\\Software\\WOW6432Node\\" + base.substr(9) + L"\" \"" + left + L"\" /y /reg:64");
  ASSERT_EQ(WaitForExit(after, 60000), 0);
  for (const std::wstring& machine : {exported, left}) {
    PackRun verify =
        RunPack({L"verify", L"--root", L"C:\\.", L"--install-log", ToBackslashes(installLog_.Path()),
                 L"--app", L"SampleApp", L"--package", package, L"--registry", machine},
                scratch_);
    const bool beforeRun = machine == exported;
    EXPECT_EQ(verify.exitCode, beforeRun ? 1 : 0) << verify.out << verify.err;
    EXPECT_EQ(verify.out.find("value \"V\" of " + Utf8FromWide(base) + "\\Shared is still there") !=
                  std::string::npos,
              beforeRun)
        << verify.out;
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\WOW6432Node\\" + base.substr(9)).c_str());
}

// The tool reads versions from the file's bytes; the program asks the system. On the programs
// and libraries of the system folder (and the project's own), both give the same answer: a
// version, the same one, or none.
TEST(PackVersionReader, TheToolReadsTheVersionTheSystemsCallGivesOnRealFiles) {
  std::vector<std::wstring> files = {ProgramPath(L"Brindle.exe"), ProgramPath(L"brindle-pack.exe")};
  const std::wstring system = SystemFolderPath();
  for (const wchar_t* pattern : {L"\\*.dll", L"\\*.exe"}) {
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((system + pattern).c_str(), &found));
    for (bool more = static_cast<bool>(find); more && files.size() < 200;
         more = FindNextFileW(find.Get(), &found))
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        files.push_back(system + L"\\" + found.cFileName);
  }
  ASSERT_GT(files.size(), 100u);
  size_t withVersion = 0;
  for (const std::wstring& file : files) {
    std::uint32_t high = 0, low = 0;
    const bool systemHas = GetFileVersion(file, high, low);
    const FileFacts tool = pack::FileFactsOf(file);
    EXPECT_EQ(tool.hasVersion, systemHas) << Utf8FromWide(file);
    if (systemHas && tool.hasVersion) {
      ++withVersion;
      EXPECT_EQ(tool.version, FileVersionNumber(high, low)) << Utf8FromWide(file);
    }
    std::uint64_t time = 0;
    ASSERT_TRUE(GetFileWriteTime(file, time));
    EXPECT_EQ(tool.writeTime, time) << Utf8FromWide(file);
  }
  EXPECT_GT(withVersion, 50u);
}

namespace {

// One action line of the run: "VERB object" and its outcome with its code ("success,0").
struct RanAction {
  std::wstring action, outcome;
};

std::vector<RanAction> RunActionsWithOutcomes(const std::vector<ServiceLogLine>& lines) {
  std::vector<RanAction> ran;
  bool inside = false;
  for (const ServiceLogLine& line : lines) {
    if (line.tag != L"BR") continue;
    if (line.key == L"START_PATCH_INSTALLATION") inside = true;
    else if (line.key == L"ENCODE_QXLOGXML" || line.key.rfind(L"UNDO_", 0) == 0) break;
    else if (inside && line.detail.rfind(L"-,", 0) == 0) {
      const std::wstring object = line.detail.substr(2);
      const size_t code = object.rfind(L',');
      const size_t outcome = code == std::wstring::npos ? code : object.rfind(L',', code - 1);
      if (outcome == std::wstring::npos) continue;
      ran.push_back({line.key + L" " + object.substr(0, outcome), object.substr(outcome + 1)});
    }
  }
  return ran;
}

// "reg export" of each key (the 64-bit view's names, the 32-bit keys under WOW6432Node), joined
// byte for byte into one file (as "copy /b" joins them).
bool ExportKeys(const std::vector<std::wstring>& keys, const ScratchFolder& scratch,
                const std::wstring& file) {
  std::string joined;
  int n = 0;
  for (const std::wstring& key : keys) {
    const std::wstring part = ToBackslashes(scratch.File(L"export" + std::to_wstring(++n) + L".reg"));
    StartedProcess reg = StartProgram(SystemFolderPath() + L"\\reg.exe",
                                      L"export \"" + key + L"\" \"" + part + L"\" /y /reg:64");
    if (WaitForExit(reg, 60000) != 0) return false;
    joined += FileText(part);
  }
  return WriteFileText(file, joined);
}

}  // namespace

// One package with every verb the run writes for its objects, planned on drive C itself (--root)
// and on the registry as "reg export" wrote it before the run: the plan's action lines are the
// run's lines, verb and object, in order. Deleted: a COM server (unregistered first), one never
// installed (its unregistration fails and ends that pass, its deletion finds nothing), a desktop
// shortcut, a value with its key and one whose key stays, a plain file, a held file (INST_HLD),
// shared files (INST_REF) with a count lowered and with their last count, a file in use. Updated:
// a COM server, a file, a file in use (its old copy queued for deletion, the new one copied at the
// restart), a shared file the uninstall log does not list (its count raised), a value (deleted,
// then written), a program-menu shortcut. Added: a file, a file in the Windows folder (named
// with the case the system gives it), a file over an older copy in use, a file kept because the
// installed one is newer (no line), a shared file kept (its line and its count raised), a value,
// a desktop shortcut. Every line succeeds but the server never installed and those of the files
// in use (two deletions and the add
// over the older copy: error 32, the change waits for the restart), which the plan cannot
// foresee: it says so in a note, and the lines keep their verb and object.
TEST_F(PackApplyFixture, EveryVerbOfOnePackagePlannedOnDriveCIsTheRunsLineForLine) {
  const std::wstring base = L"Software\\" + Unique(L"BrindlePlanVerbs");
  MakeValue32(base + L"\\DelOnly", L"V");
  MakeValue32(base + L"\\DelKeep", L"V");
  MakeValue32(base + L"\\DelKeep", L"W");
  MakeValue32(base + L"\\Upd", L"Old");
  MakeValue32(base + L"\\Upd", L"Keep");
  const std::string server = FileText(ProgramPath(L"brindle_com_server.dll"));
  ASSERT_NE(server, "<missing>");
  for (const wchar_t* name :
       {L"keep.txt", L"gone.txt", L"held.txt", L"shared2.dll", L"shared1.dll", L"busygone.txt", L"readme.txt",
        L"busy.txt", L"busyadd.txt", L"newer.txt", L"sharednewer.dll"})
    ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\" + name, "1.0 " + Utf8FromWide(name)));
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\plangone.dll", server));
  ASSERT_TRUE(WriteFileText(oldFolder_ + L"\\plansrv.dll", server));
  Install();
  const std::wstring a = app_ + L"\\";
  // The installed copies that the package's must not replace: later than any package file.
  ASSERT_TRUE(SetFileYear(a + L"newer.txt", 2090));
  // An older copy that the add replaces, held open during the run.
  ASSERT_TRUE(SetFileYear(a + L"busyadd.txt", 2000));
  ASSERT_TRUE(SetFileYear(a + L"sharednewer.dll", 2090));
  SetSharedCount(a + L"shared2.dll", 2);
  SetSharedCount(a + L"shared1.dll", 1);
  SetSharedCount(a + L"sharednewer.dll", 3);
  // A shared file installed without its line in the uninstall log: its update gives it one.
  ASSERT_TRUE(WriteFileText(a + L"unlisted.dll", "1.0 unlisted.dll"));
  SetSharedCount(a + L"unlisted.dll", 1);

  // The shortcuts the package deletes, where the program finds the common folders.
  const std::wstring desktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
  const std::wstring programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
  const std::wstring goneLink = Unique(L"BrindlePlanGone"), newLink = Unique(L"BrindlePlanNew");
  const std::wstring group = Unique(L"BrindlePlanGroup");
  ASSERT_TRUE(WriteFileText(desktop + L"\\" + goneLink + L".lnk", "link"));
  ASSERT_TRUE(WriteFileText(programs + L"\\" + group + L"\\App.lnk", "link"));

  // A file added to the Windows folder, named as the system names that folder to the program.
  wchar_t windows[MAX_PATH] = {};
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring winName = Unique(L"BrindlePlanWin") + L".txt";
  const std::wstring winFile = std::wstring(windows) + L"\\" + winName;
  const std::wstring pkg = ToBackslashes(scratch_.File(L"verbs"));
  for (const wchar_t* name : {L"readme.txt", L"busy.txt", L"unlisted.dll", L"added.txt", L"busyadd.txt",
                              L"newer.txt", L"sharednewer.dll"})
    ASSERT_TRUE(WriteFileText(pkg + L"\\INST\\" + name, "1.1 " + Utf8FromWide(name)));
  ASSERT_TRUE(WriteFileText(pkg + L"\\INST\\plansrv.dll", server));
  auto file = [](const std::string& delInfo, const std::string& name, bool com = false) {
    return "<File COM=\"" + std::string(com ? "INST_REG" : "INST_NOREG") + "\" DelInfo=\"" + delInfo +
           "\" WOW=\"" + (com ? "INST_64BIT" : "INST_32BIT") + "\"><FullPath>$InsFolder$\\" + name +
           "</FullPath><FileName>" + name + "</FileName></File>";
  };
  const std::string key = Utf8FromWide(base);
  auto value = [&key](const std::string& sub, const std::string& name, const std::string& data) {
    return "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" + key + "\\" + sub +
           "</RegKeyPath><RegValueName>" + name + "</RegValueName>" +
           (data.empty() ? "" : "<RegData Type=\"REG_SZ\">" + data + "</RegData>") + "</Registry>";
  };
  auto shortcut = [](const std::string& kind, const std::wstring& name) {
    return "<ShortCut><SCName Type=\"" + kind + "\">" + Utf8FromWide(name) +
           "</SCName><FullPath Type=\"SCTarget\">$InsFolder$\\keep.txt</FullPath></ShortCut>";
  };
  ASSERT_TRUE(WriteFileText(
      pkg + L"\\diff.xml",
      "<DiffDistribute><GeneralInfo><Version>1.1</Version></GeneralInfo><DeleteObjects>" +
          file("INST_DEL", "gone.txt") + file("INST_HLD", "held.txt") + file("INST_REF", "shared2.dll") +
          file("INST_REF", "shared1.dll") + file("INST_DEL", "busygone.txt") +
          file("INST_DEL", "plangone.dll", true) + file("INST_DEL", "plannever.dll", true) +
          value("DelOnly", "V", "") + value("DelKeep", "V", "") + shortcut("INST_DSC", goneLink) +
          "</DeleteObjects><UpdateObjects>" + file("INST_DEL", "readme.txt") + file("INST_DEL", "busy.txt") +
          file("INST_DEL", "plansrv.dll", true) + file("INST_REF", "unlisted.dll") +
          value("Upd", "Old", "2") + shortcut("INST_GSC", group + L"\\App") + "</UpdateObjects><AddObjects>" +
          file("INST_DEL", "added.txt") + "<File DelInfo=\"INST_DEL\"><FullPath>$WinFolder$\\" +
          Utf8FromWide(winName) + "</FullPath><FileName>added.txt</FileName></File>" +
          file("INST_DEL", "busyadd.txt") + file("INST_DEL", "newer.txt") +
          file("INST_REF", "sharednewer.dll") + value("Added", "Name", "x") + shortcut("INST_DSC", newLink) +
          "</AddObjects></DiffDistribute>"));
  std::vector<pack::CabinetEntry> entries = {{L"diff.xml", pkg + L"\\diff.xml"}};
  for (const wchar_t* name : {L"readme.txt", L"busy.txt", L"plansrv.dll", L"unlisted.dll", L"added.txt",
                              L"busyadd.txt", L"newer.txt", L"sharednewer.dll"})
    entries.push_back({std::wstring(L"INST\\") + name, pkg + L"\\INST\\" + name});
  const std::wstring package = lists_ + L"\\verbs.diff";
  ASSERT_TRUE(CreateFolderChain(lists_));
  std::wstring reason;
  ASSERT_TRUE(pack::WriteCabinet(package, entries, reason)) << Utf8FromWide(reason);
  CopyTree(scratch_.File(L"znq"), lists_ + L"\\ZNQ");
  ASSERT_TRUE(WriteFileText(lists_ + L"\\list.xml",
                            "<DiffLocalList><DiffLocal Order=\"1\"><FileName>verbs.diff</FileName>"
                            "<AppName>SampleApp</AppName><DisplayName>Sample Application</DisplayName>"
                            "</DiffLocal></DiffLocalList>"));

  // The plan: drive C itself for --root ("C:\." since a quoted argument cannot end in a
  // backslash), the package's keys and the shared counts as exported before the run.
  const std::wstring exported = ToBackslashes(scratch_.File(L"machine.reg"));
  ASSERT_TRUE(ExportKeys({L"HKLM\\Software\\WOW6432Node\\" + base.substr(9),
                          L"HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"},
                         scratch_, exported));
  PackRun plan = RunPack({L"plan", package, L"--install-log", ToBackslashes(installLog_.Path()), L"--app",
                          L"SampleApp", L"--root", L"C:\\.", L"--registry", exported},
                         scratch_);
  ASSERT_EQ(plan.exitCode, 0) << plan.err;

  // The run, with three files held open by another program; the restart question is answered No.
  bool holding = false, holdingGone = false, holdingAdd = false;
  StartedProcess holder =
      StartWhenReady(ProgramPath(L"brindle_probe.exe"), L"file \"" + a + L"busy.txt\" 90000", 30000, holding);
  StartedProcess holderGone = StartWhenReady(ProgramPath(L"brindle_probe.exe"),
                                             L"file \"" + a + L"busygone.txt\" 90000", 30000, holdingGone);
  StartedProcess holderAdd = StartWhenReady(ProgramPath(L"brindle_probe.exe"),
                                            L"file \"" + a + L"busyadd.txt\" 90000", 30000, holdingAdd);
  ASSERT_TRUE(holding && holdingGone && holdingAdd) << "the helper did not open the files";
  ServiceLogTail tail;
  std::wstring question;
  std::thread answer([&] {
    HWND box = FindDialog(L"Sample Application", 90000);
    if (!box) return;
    question = StaticTexts(box);
    PressButton(box, L"Non");
  });
  StartedProcess brindle =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + lists_ + L"\\list.xml\" /non_notification");
  const int exitCode = WaitForExit(brindle, 120000);
  answer.join();
  TerminateProcess(holder.process.Get(), 0);
  TerminateProcess(holderGone.process.Get(), 0);
  TerminateProcess(holderAdd.process.Get(), 0);
  WaitForExit(holder, 5000);
  WaitForExit(holderGone, 5000);
  WaitForExit(holderAdd, 5000);
  EXPECT_EQ(exitCode, 200);
  EXPECT_NE(question.find(L"redémarr"), std::wstring::npos) << question;

  const std::vector<ServiceLogLine> lines = tail.NewLines();
  std::string logged;
  for (const ServiceLogLine& line : lines)
    logged += Utf8FromWide(line.tag + L" " + line.key + L" " + line.detail) + "\n";
  const std::vector<RanAction> ran = RunActionsWithOutcomes(lines);
  // What the run wrote: every verb, in the program's order, the objects as it writes them
  // (shortcuts by the common folders the system names, with forward slashes).
  const std::wstring d = ToForwardSlashes(desktop) + L"/", p = ToForwardSlashes(programs) + L"/";
  const std::vector<std::wstring> expected = {L"UNREGISTER_COM " + a + L"plangone.dll",
                                              L"UNREGISTER_COM " + a + L"plannever.dll",
                                              L"DELETE_SHORTCUT " + d + goneLink + L".lnk",
                                              L"DELETE_REG " + base + L"\\DelOnly",
                                              L"UPDATE_REG_DELETE " + base + L"\\DelKeep",
                                              L"DELETE_FILE " + a + L"gone.txt",
                                              L"DELETE_FILE " + a + L"held.txt",
                                              L"DELETE_FILE " + a + L"shared2.dll",
                                              L"DELETE_FILE " + a + L"shared1.dll",
                                              L"DELETE_FILE " + a + L"busygone.txt",
                                              L"DELETE_FILE " + a + L"plangone.dll",
                                              L"DELETE_FILE " + a + L"plannever.dll",
                                              L"UNREGISTER_COM " + a + L"plansrv.dll",
                                              L"UPDATE_FILE_DELETE " + a + L"readme.txt",
                                              L"UPDATE_FILE_DELETE " + a + L"busy.txt",
                                              L"UPDATE_FILE_DELETE " + a + L"plansrv.dll",
                                              L"UPDATE_FILE_DELETE " + a + L"unlisted.dll",
                                              L"UPDATE_FILE_ADD " + a + L"readme.txt",
                                              L"UPDATE_FILE_ADD " + a + L"busy.txt",
                                              L"UPDATE_FILE_ADD " + a + L"plansrv.dll",
                                              L"UPDATE_FILE_ADD " + a + L"unlisted.dll",
                                              L"UPDATE_REG_DELETE " + base + L"\\Upd",
                                              L"UPDATE_REG_ADD " + base + L"\\Upd",
                                              L"UPDATE_SHORTCUT_DELETE " + p + group + L"/App.lnk",
                                              L"UPDATE_SHORTCUT_ADD " + p + group + L"/App.lnk",
                                              L"ADD_FILE " + a + L"added.txt",
                                              L"ADD_FILE " + winFile,
                                              L"ADD_FILE " + a + L"busyadd.txt",
                                              L"ADD_FILE " + a + L"sharednewer.dll",
                                              L"ADD_REG " + base + L"\\Added",
                                              L"ADD_SHORTCUT " + d + newLink + L".lnk",
                                              L"UPDATE_ZNQ_UNINSTLOG " + uninstLog_};
  std::vector<std::wstring> ranActions;
  for (const RanAction& r : ran) {
    ranActions.push_back(r.action);
    // The files in use: the deletion fails with a sharing violation and waits for the restart.
    const bool inUse = r.action == L"DELETE_FILE " + a + L"busygone.txt" ||
                       r.action == L"ADD_FILE " + a + L"busyadd.txt" ||
                       r.action == L"UPDATE_FILE_DELETE " + a + L"busy.txt";
    // A server never installed: without its short path the registration tool is not started
    // (no code), and the file is not there to delete (2).
    if (r.action.rfind(L"UPDATE_ZNQ_UNINSTLOG ", 0) == 0) EXPECT_EQ(r.outcome, L"success,1");
    else if (r.action == L"UNREGISTER_COM " + a + L"plannever.dll") EXPECT_EQ(r.outcome, L"error,0");
    else if (r.action == L"DELETE_FILE " + a + L"plannever.dll") EXPECT_EQ(r.outcome, L"error,2");
    else EXPECT_EQ(r.outcome, inUse ? L"error,32" : L"success,0") << Utf8FromWide(r.action);
  }
  EXPECT_EQ(ranActions, expected) << logged;
  EXPECT_EQ(PlanActions(plan.out), ranActions) << plan.out;
  // The plan says what it cannot know, and shows the counts as the run leaves them.
  EXPECT_NE(plan.out.find("# a file in use"), std::string::npos) << plan.out;
  EXPECT_NE(plan.out.find("the server is not there: the line says error 0"), std::string::npos) << plan.out;
  EXPECT_NE(plan.out.find("SharedDLLs count goes from 2 to 1"), std::string::npos) << plan.out;
  EXPECT_NE(plan.out.find("its last SharedDLLs count goes with the file"), std::string::npos) << plan.out;
  EXPECT_NE(plan.out.find("its SharedDLLs count becomes 4"), std::string::npos) << plan.out;
  std::string planText = plan.out;
  planText.erase(std::remove(planText.begin(), planText.end(), '\r'), planText.end());
  EXPECT_NE(planText.find("UPDATE_FILE_ADD " + Utf8FromWide(a) +
                          "unlisted.dll\n#   its SharedDLLs count becomes 2"),
            std::string::npos)
      << plan.out;
  EXPECT_NE(plan.out.find("skipped, no action line: ADD_FILE " + Utf8FromWide(a) + "newer.txt"),
            std::string::npos)
      << plan.out;
  DWORD count = 0;
  EXPECT_TRUE(test::SharedCount(a + L"shared2.dll", count) && count == 1) << count;
  EXPECT_FALSE(test::SharedCount(a + L"shared1.dll", count));
  EXPECT_TRUE(test::SharedCount(a + L"sharednewer.dll", count) && count == 4) << count;
  EXPECT_TRUE(test::SharedCount(a + L"unlisted.dll", count) && count == 2) << count;
  EXPECT_EQ(FileText(a + L"shared2.dll"), "1.0 shared2.dll");
  EXPECT_EQ(FileText(a + L"held.txt"), "1.0 held.txt");
  EXPECT_EQ(FileText(a + L"newer.txt"), "1.0 newer.txt");
  EXPECT_EQ(FileText(a + L"busy.txt.tmp0001"), "1.1 busy.txt");
  EXPECT_EQ(FileText(a + L"busyadd.txt.tmp0001"), "1.1 busyadd.txt");

  EXPECT_EQ(FileText(winFile), "1.1 added.txt");
  DeleteFileW(winFile.c_str());
  RemoveSharedCount(a + L"shared2.dll");
  RemoveSharedCount(a + L"sharednewer.dll");
  RemoveSharedCount(a + L"unlisted.dll");
  DeleteFileW((desktop + L"\\" + newLink + L".lnk").c_str());
  DeleteFileW((programs + L"\\" + group + L"\\App.lnk").c_str());
  RemoveDirectoryW((programs + L"\\" + group).c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\WOW6432Node\\" + base.substr(9)).c_str());
  for (const wchar_t* name : {L"plansrv.dll", L"plangone.dll"})
    RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                   (std::wstring(L"SOFTWARE\\Classes\\BrindleTestServer.") + name).c_str());
}
