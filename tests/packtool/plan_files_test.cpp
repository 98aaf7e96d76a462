// brindle-pack plan decides the file and shortcut records with the program's own changes, on an in-memory
// machine filled from --root: each pass sees the files as the passes before it leave them, the
// lines carry the codes the changes give, and a change the program refuses stops the package
// where the program stops it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "pack_test_support.h"
#include "package/uninstaller_files.h"
#include "packtool/file_access.h"
#include "support/scratch.h"

using namespace brindle;
using namespace brindle::test;

namespace {

bool Put(const std::wstring& path, const std::string& bytes) { return pack::WriteFileBytes(path, bytes); }

// Sets the file's last write this many days away from now (negative: in the past).
bool Age(const std::wstring& path, int days) {
  std::error_code error;
  std::filesystem::last_write_time(
      pack::FsPath(path), std::filesystem::file_time_type::clock::now() + std::chrono::hours(24 * days),
      error);
  return !error;
}

std::string ShortCut(const std::string& type, const std::string& name) {
  return "<ShortCut><SCName Type=\"" + type + "\">" + name +
         "</SCName><FullPath Type=\"SCTarget\">$InsFolder$\\app.exe</FullPath></ShortCut>";
}

std::string File(const std::string& name, const std::string& source = "") {
  return "<File DelInfo=\"INST_DEL\"><FullPath>$InsFolder$\\" + name + "</FullPath>" +
         (source.empty() ? "" : "<FileName>" + source + "</FileName>") + "</File>";
}

// A scratch folder with an install log for App (installed in C:\App), a package folder pkg with
// the given diff.xml, and the uninstaller files beside it.
class PlanScratch {
 public:
  explicit PlanScratch(const std::string& diff) {
    EXPECT_TRUE(Put(s_.File(L"log.xml"),
                    "<AppLocalList><AppLocal><AppName>App</AppName><FullPath>C:\\App</FullPath>"
                    "<UninstLog>C:\\App\\uninst.ini</UninstLog></AppLocal></AppLocalList>"));
    EXPECT_EQ(RunTool({L"log", L"encode", s_.File(L"log.xml"), L"-o", s_.File(L"log.dat")}).exitCode, 0);
    EXPECT_TRUE(
        Put(s_.File(L"pkg/diff.xml"),
            "<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo>" + diff + "</DiffDistribute>"));
    for (const std::wstring& f : UninstallerCommonFiles())
      EXPECT_TRUE(Put(s_.File(L"ZNQ/INSTALL/COMMON/") + f, "x"));
    EXPECT_TRUE(Put(s_.File(L"ZNQ/INSTALL/COMMON/UninsVer.txt"), "7.1\r\n"));
  }
  std::wstring File(const std::wstring& name) const { return s_.File(name); }
  // The plan's lines, the root given or not.
  ToolRun Plan(bool withRoot) const {
    std::vector<std::wstring> args = {L"plan", s_.File(L"pkg"), L"--install-log", s_.File(L"log.dat")};
    if (withRoot) args.insert(args.end(), {L"--root", s_.File(L"root")});
    return RunTool(args);
  }

 private:
  ScratchFolder s_;
};

std::vector<std::string> Actions(const std::string& out) {
  std::vector<std::string> actions;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("# ", 0) != 0 && line.rfind("UPDATE_ZNQ_UNINSTLOG", 0) != 0) actions.push_back(line);
  return actions;
}

// The line after the first line that starts with the text.
std::string LineAfter(const std::string& out, const std::string& start) {
  size_t at = out.rfind(start, 0) == 0 ? 0 : out.find("\n" + start);
  if (at == std::string::npos) return "<no line " + start + ">";
  if (at != 0) ++at;
  const size_t next = out.find('\n', at) + 1;
  return out.substr(next, out.find('\n', next) - next);
}

}  // namespace

// The add section sees the update's copy and the delete section's deletion, not the files as
// they were before the run: a file the update replaced is not older than the package's any
// more (no line), a newer installed file deleted first is added again. A deletion of a file
// that is not there says the program's code: 2 in a folder that is there, 3 in one that is not
// (known only below --root).
TEST(PackPlanFiles, EachPassSeesTheFilesAsTheEarlierPassesLeaveThem) {
  PlanScratch s("<DeleteObjects>" + File("readded.txt") + File("absent.txt") + File("Gone\\x.txt") +
                "</DeleteObjects><UpdateObjects>" + File("older.txt", "older.txt") +
                "</UpdateObjects><AddObjects>" + File("older.txt", "older.txt") +
                File("newer.txt", "newer.txt") + File("readded.txt", "readded.txt") + "</AddObjects>");
  for (const wchar_t* name : {L"older.txt", L"newer.txt", L"readded.txt"}) {
    ASSERT_TRUE(Put(s.File(L"pkg/INST/") + name, "package"));
    ASSERT_TRUE(Put(s.File(L"root/App/") + name, "installed"));
  }
  ASSERT_TRUE(Age(s.File(L"root/App/older.txt"), -3650));
  ASSERT_TRUE(Age(s.File(L"root/App/newer.txt"), 3650));
  ASSERT_TRUE(Age(s.File(L"root/App/readded.txt"), 3650));

  const ToolRun run = s.Plan(true);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> expected = {
      "DELETE_FILE C:\\App\\readded.txt",   "DELETE_FILE C:\\App\\absent.txt",
      "DELETE_FILE C:\\App\\Gone\\x.txt",   "UPDATE_FILE_DELETE C:\\App\\older.txt",
      "UPDATE_FILE_ADD C:\\App\\older.txt", "ADD_FILE C:\\App\\readded.txt"};
  EXPECT_EQ(Actions(run.out), expected) << run.out;
  EXPECT_TRUE(run.OutHas("# skipped, no action line: ADD_FILE C:\\App\\older.txt")) << run.out;
  EXPECT_TRUE(run.OutHas("# skipped, no action line: ADD_FILE C:\\App\\newer.txt")) << run.out;
  EXPECT_EQ(LineAfter(run.out, "DELETE_FILE C:\\App\\readded.txt"), "DELETE_FILE C:\\App\\absent.txt")
      << run.out;
  EXPECT_EQ(LineAfter(run.out, "DELETE_FILE C:\\App\\absent.txt"),
            "#   the file is not there: the line says error 2")
      << run.out;
  EXPECT_EQ(LineAfter(run.out, "DELETE_FILE C:\\App\\Gone\\x.txt"),
            "#   the file is not there: the line says error 3")
      << run.out;

  // Without --root nothing is installed as far as the plan knows, and it says no code (on
  // Windows it looks at the machine itself instead).
  const ToolRun blind = s.Plan(false);
  ASSERT_EQ(blind.exitCode, 0) << blind.err;
#ifndef _WIN32
  EXPECT_FALSE(blind.OutHas("the file is not there")) << blind.out;
#endif
  EXPECT_EQ(Actions(blind.out).back(), "ADD_FILE C:\\App\\readded.txt") << blind.out;
}

// What the program refuses, and where it stops: a folder in a deleted file's place fails the
// deletion (error 5) and the package after the pass, whose other records still run; a package
// file missing from INST fails the copy at the line of its replacement at the restart (error 2),
// and a record whose package file could lie outside INST is refused (error 123), each stopping
// the package at once.
TEST(PackPlanFiles, AChangeTheProgramRefusesStopsThePackageWhereTheProgramStopsIt) {
  struct Case {
    std::string diff;
    std::vector<std::string> actions;
    std::string failing;  // the action the note follows
    std::string note;
    std::string end;
  };
  const std::vector<Case> cases = {
      {"<DeleteObjects>" + File("dir.txt") + File("other.txt") + "</DeleteObjects><UpdateObjects>" +
           File("lib.txt", "lib.txt") + "</UpdateObjects>",
       {"DELETE_FILE C:\\App\\dir.txt", "DELETE_FILE C:\\App\\other.txt"},
       "DELETE_FILE C:\\App\\dir.txt",
       "#   not deleted (the line says error 5: a folder stands in the file's place); the package fails at "
       "the end of this pass",
       "# the package fails at the end of this pass: nothing later is done"},
      {"<UpdateObjects>" + File("lost.txt", "lost.txt") + File("lib.txt", "lib.txt") + "</UpdateObjects>",
       {"UPDATE_FILE_DELETE C:\\App\\lost.txt", "UPDATE_FILE_DELETE C:\\App\\lib.txt",
        "REPLACE_AT_RESTART C:\\App\\lost.txt.tmp0001"},
       "REPLACE_AT_RESTART C:\\App\\lost.txt.tmp0001",
       "#   INST\\lost.txt is not in the package (error 2): the package fails at this record, the records "
       "after it are not done",
       "# the package fails: nothing later is done"},
      {"<AddObjects>" + File("evil.txt", "..\\evil.txt") + File("lib.txt", "lib.txt") + "</AddObjects>",
       {"ADD_FILE C:\\App\\evil.txt"},
       "ADD_FILE C:\\App\\evil.txt",
       "#   refused, the line says error 123: its package file is not a plain name below INST: the package "
       "fails at this record, the records after it are not done",
       "# the package fails: nothing later is done"}};
  for (const Case& c : cases) {
    PlanScratch s(c.diff);
    ASSERT_TRUE(Put(s.File(L"pkg/INST/lib.txt"), "lib"));
    ASSERT_TRUE(Put(s.File(L"root/App/dir.txt/inside.txt"), "a folder of the file's name"));
    ASSERT_TRUE(Put(s.File(L"root/App/other.txt"), "other"));
    const ToolRun run = s.Plan(true);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Actions(run.out), c.actions) << run.out;
    EXPECT_EQ(LineAfter(run.out, c.failing), c.note) << run.out;
    EXPECT_TRUE(run.OutHas(c.end)) << run.out;
    EXPECT_FALSE(run.OutHas("UPDATE_ZNQ_UNINSTLOG")) << run.out;
  }
}

// The COM servers the delete section unregisters are unregistered on the servers below --root: a
// server that is not there has its error line, and the rest of that pass is not handled, as in
// the program; the files are deleted all the same.
TEST(PackPlanFiles, AServerThatIsNotThereStopsTheUnregistrationsButNotThePackage) {
  const std::string com = "<File COM=\"INST_REG\" DelInfo=\"INST_DEL\"><FullPath>$InsFolder$\\";
  PlanScratch s("<DeleteObjects>" + com + "gone.dll</FullPath></File>" + com +
                "here.dll</FullPath></File></DeleteObjects>");
  ASSERT_TRUE(Put(s.File(L"root/App/here.dll"), "server"));
  const ToolRun run = s.Plan(true);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Actions(run.out),
            (std::vector<std::string>{"UNREGISTER_COM C:\\App\\gone.dll", "DELETE_FILE C:\\App\\gone.dll",
                                      "DELETE_FILE C:\\App\\here.dll"}))
      << run.out;
  EXPECT_EQ(LineAfter(run.out, "UNREGISTER_COM C:\\App\\gone.dll"),
            "#   the server is not there: the line says error 0, and the rest of this pass is not handled "
            "(the package goes on)")
      << run.out;
}

// A link goes where the program puts it, with the program's codes: a name that could reach outside
// its folder names the link as the program's line does and is refused (error 123), a folder
// where a link is written makes the write fail (the shell's access denied) and the run goes on,
// and a folder where a link is deleted fails the deletion (error 5) and the package after the pass.
TEST(PackPlanShortcuts, ALinkTheProgramCannotWriteOrDeleteSaysItsCodeWhereTheProgramWould) {
  const std::string desktop = "C:/Users/Public/Desktop/";
  PlanScratch s("<AddObjects>" + ShortCut("INST_GSC", "..\\Evil") + ShortCut("INST_DSC", "Blocked") +
                ShortCut("INST_DSC", "App") + "</AddObjects>");
  ASSERT_TRUE(
      Put(s.File(L"root/Users/Public/Desktop/Blocked.lnk/inside.txt"), "a folder of the link's name"));
  const ToolRun run = s.Plan(true);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> added = {
      "ADD_SHORTCUT C:/ProgramData/Microsoft/Windows/Start Menu/Programs/../Evil.lnk",
      "ADD_SHORTCUT " + desktop + "Blocked.lnk", "ADD_SHORTCUT " + desktop + "App.lnk"};
  EXPECT_EQ(Actions(run.out), added) << run.out;
  EXPECT_TRUE(run.OutHas("#   not written (the line says error 123); the run goes on without it")) << run.out;
  EXPECT_TRUE(
      run.OutHas("#   not written (the line says error -2147024891: a folder stands in the link's place)"))
      << run.out;
  EXPECT_TRUE(run.OutHas("UPDATE_ZNQ_UNINSTLOG")) << run.out;

  PlanScratch d("<DeleteObjects>" + ShortCut("INST_DSC", "Stuck") + ShortCut("INST_DSC", "Gone") +
                "</DeleteObjects><AddObjects>" + ShortCut("INST_DSC", "App") + "</AddObjects>");
  ASSERT_TRUE(Put(d.File(L"root/Users/Public/Desktop/Stuck.lnk/inside.txt"), "a folder of the link's name"));
  const ToolRun deletion = d.Plan(true);
  ASSERT_EQ(deletion.exitCode, 0) << deletion.err;
  EXPECT_EQ(Actions(deletion.out), (std::vector<std::string>{"DELETE_SHORTCUT " + desktop + "Stuck.lnk",
                                                             "DELETE_SHORTCUT " + desktop + "Gone.lnk"}))
      << deletion.out;
  EXPECT_EQ(
      LineAfter(deletion.out, "DELETE_SHORTCUT " + desktop + "Stuck.lnk"),
      "#   not deleted (the line says error 5: a folder stands in the link's place); the package fails at "
      "the end of this pass")
      << deletion.out;
  EXPECT_TRUE(deletion.OutHas("# the package fails at the end of this pass: nothing later is done"))
      << deletion.out;
}
