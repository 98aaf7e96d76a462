// brindle-pack as a package author meets it: the guide's command lines and --extra example as
// written, make refusing what check refuses, names that would collide in the cabinet, the
// install log encoder, and the author's aids (line and column, suggestions, --strict, --json,
// standard streams, --version, usage on the error stream).
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "pack_test_support.h"
#include "packtool/cabinet.h"
#include "packtool/file_access.h"
#include "support/scratch.h"

using namespace brindle;
using namespace brindle::test;

namespace {

bool Put(const std::wstring& path, const std::string& bytes) { return pack::WriteFileBytes(path, bytes); }

void PutZnq(const std::wstring& folder) {
  for (const wchar_t* f :
       {L"COMMON/setup.dll", L"COMMON/Uninst.exe", L"ENGLISH/UninstRsc.dll", L"FRENCH/UninstRsc.dll"})
    ASSERT_TRUE(Put(folder + L"/INSTALL/" + f, "x"));
  ASSERT_TRUE(Put(folder + L"/INSTALL/COMMON/UninsVer.txt", "7.1\r\n"));
}

// Runs the tool with the current folder set to folder, as a shell would.
class InFolder {
 public:
  explicit InFolder(const std::wstring& folder) : saved_(pack::fs::current_path()) {
    pack::fs::current_path(pack::FsPath(folder));
  }
  ~InFolder() { pack::fs::current_path(saved_); }

 private:
  pack::fs::path saved_;
};

// The section on brindle-pack of the package author's guide (docs/package-authors.md).
std::string AuthorsSection() {
  std::string guide;
  EXPECT_TRUE(ReadBytes(WideFromUtf8(BRINDLE_SOURCE_DIR "/docs/package-authors.md"), guide));
  const size_t start = guide.find("\n## brindle-pack\n");
  EXPECT_NE(start, std::string::npos);
  if (start == std::string::npos) return std::string();
  const size_t end = guide.find("\n## ", start + 4);
  return guide.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Its indented "brindle-pack ..." lines (continued by a trailing backslash), split into words.
std::vector<std::vector<std::wstring>> ReadmeCommands(const std::string& section) {
  std::vector<std::vector<std::wstring>> commands;
  std::istringstream lines(section);
  std::string line, command;
  while (std::getline(lines, line)) {
    if (command.empty() && line.rfind("    brindle-pack ", 0) != 0) continue;
    command += line.substr(line.find_first_not_of(' ')) + " ";
    if (!line.empty() && line.back() == '\\') {
      command.erase(command.size() - 2);
      continue;
    }
    std::istringstream words(command.substr(std::string("brindle-pack ").size()));
    std::vector<std::wstring> args;
    for (std::string w; words >> w;) args.push_back(WideFromUtf8(w));
    commands.push_back(args);
    command.clear();
  }
  return commands;
}

// The guide's --extra example block, exactly as printed.
std::string ReadmeExtraExample(const std::string& section) {
  const size_t at = section.find("    [registry]");
  EXPECT_NE(at, std::string::npos);
  std::istringstream lines(section.substr(at));
  std::string text;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.rfind("    ", 0) != 0) break;
    text += (line.size() > 4 ? line.substr(4) : std::string()) + "\n";
  }
  return text;
}

// Every command line of the guide runs as written, in order, in a folder laid out as the
// guide says, with its --extra example (comments after values, hooks named relative to a bare
// file name) as the declarative file.
TEST(PackAuthorGuide, TheCommandLinesAndTheExtraExampleRunAsWritten) {
  const std::string section = AuthorsSection();
  const auto commands = ReadmeCommands(section);
  ASSERT_GE(commands.size(), 6u);
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"OLD/App.exe"), "one"));
  ASSERT_TRUE(Put(s.File(L"OLD/gone.txt"), "gone"));
  ASSERT_TRUE(Put(s.File(L"NEW/App.exe"), "two"));
  ASSERT_TRUE(Put(s.File(L"NEW/data/new.txt"), "new"));
  PutZnq(s.File(L"wrapper/ZNQ"));
  ASSERT_TRUE(Put(s.File(L"hooks/before.dll"), PeLibrary({"Update_BeforeUpdate"})));
  ASSERT_TRUE(Put(s.File(L"hooks/after.dll"), PeLibrary({"Update_AfterUpdate"})));
  ASSERT_TRUE(Put(s.File(L"extra.ini"), ReadmeExtraExample(section)));
  ASSERT_TRUE(Put(s.File(L"installed.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName><Lang Code=\"fr\"/>"
                  "<FullPath>C:\\Apps\\App</FullPath><Version Type=\"Application\">1.0</Version>"
                  "<UninstLog>C:\\Apps\\App\\uninst.ini</UninstLog></AppLocal></AppLocalList>"));
  ASSERT_TRUE(Put(s.File(L"uninst.ini"), "[Startup]\r\nVersion=\"1.0\"\r\n"));
  ASSERT_EQ(
      RunTool({L"log", L"encode", s.File(L"installed.xml"), L"-o", s.File(L"TamekOstrelLog.dat")}).exitCode,
      0);
  InFolder here(s.Path());
  for (const auto& args : commands) {
    std::string line;
    for (const auto& a : args) line += Utf8FromWide(a) + " ";
    ToolRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, 0) << line << "\n" << run.out << run.err;
    EXPECT_FALSE(run.OutHas("error:") || run.ErrHas("error:")) << line << "\n" << run.out << run.err;
  }
  // The example's values arrive without their comments, the hooks from hooks/ next to it.
  std::vector<std::wstring> names;
  std::wstring reason;
  ASSERT_TRUE(pack::ReadCabinet(s.File(L"out/App_1.1.DIFF"), s.File(L"x"), names, reason));
  std::string diff, hook;
  ASSERT_TRUE(ReadBytes(s.File(L"x/diff.xml"), diff));
  EXPECT_NE(diff.find(">Software\\Tamek\\App</RegKeyPath>"), std::string::npos) << diff;
  EXPECT_NE(diff.find("Type=\"REG_SZ\">1.1</RegData>"), std::string::npos) << diff;
  EXPECT_EQ(diff.find("#"), std::string::npos) << diff;
  ASSERT_TRUE(ReadBytes(s.File(L"x/CUSTOM/before.dll"), hook));
  EXPECT_EQ(hook, PeLibrary({"Update_BeforeUpdate"}));
}

// make fails on what check refuses (no uninstaller files, a hook without its export, an
// unknown variable in --target), keeps nothing, and --force keeps the package, saying so.
TEST(PackMake, APackageThatCheckRefusesIsNotKeptUnlessForced) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  PutZnq(s.File(L"znq"));
  ASSERT_TRUE(Put(s.File(L"h/before.dll"), PeLibrary({"Update_AfterUpdate"})));
  ASSERT_TRUE(Put(s.File(L"hook.ini"), "[hooks]\nbefore = h/before.dll\n"));
  const std::wstring out = s.File(L"out/p.DIFF");
  struct Case {
    std::vector<std::wstring> options;
    std::string finding;
  };
  // Findings on what make generated name what the author wrote: the option or the line.
  const std::vector<Case> cases = {
      {{}, "no uninstaller files"},
      {{L"--znq", s.File(L"znq"), L"--extra", s.File(L"hook.ini")},
       Utf8FromWide(s.File(L"hook.ini")) + ":2: error: CUSTOM\\before.dll does not export "
                                           "Update_BeforeUpdate"},
      {{L"--znq", s.File(L"znq"), L"--target", L"$INSFOLDER$\\App"},
       "--target $INSFOLDER$\\App: error: FullPath: $INSFOLDER$ is not a variable the program "
       "knows; it stays in the text unexpanded (did you mean $InsFolder$?) [" +
           Utf8FromWide(out) + ":diff.xml:"},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> args = {L"make", s.File(L"old"), s.File(L"new"), L"-o", out, L"--version",
                                      L"2"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ToolRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, 1) << c.finding << "\n" << run.err;
    EXPECT_TRUE(run.ErrHas(c.finding)) << run.err;
    EXPECT_TRUE(run.ErrHas("was not kept (--force keeps it)")) << run.err;
    EXPECT_FALSE(FileExists(out)) << c.finding;
    args.push_back(L"--force");
    run = RunTool(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.ErrHas("make: --force: ")) << run.err;
    EXPECT_TRUE(FileExists(out));
    ASSERT_TRUE(RemoveTree(out));
  }
  // With everything in order, make passes its own check.
  ToolRun good = RunTool(
      {L"make", s.File(L"old"), s.File(L"new"), L"-o", out, L"--version", L"2", L"--znq", s.File(L"znq")});
  EXPECT_EQ(good.exitCode, 0) << good.err;
  EXPECT_FALSE(good.ErrHas("error:")) << good.err;
}

// Two files that would be stored under one cabinet name: a real ~n/1.txt next to an aliased
// non-ASCII name takes no alias's place; two hooks of one file name from different folders are
// refused before anything is written.
TEST(PackMake, NoTwoFilesShareACabinetName) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/keep.txt"), "k"));
  ASSERT_TRUE(Put(s.File(L"new/keep.txt"), "k"));
  ASSERT_TRUE(Put(s.File(L"new/~n/1.txt"), "real tilde file"));
  ASSERT_TRUE(Put(s.File(L"new/caf\u00e9.txt"), "aliased file"));
  PutZnq(s.File(L"znq"));
  ToolRun run = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"a.DIFF"), L"--version",
                         L"2", L"--znq", s.File(L"znq"), L"--diff-xml", s.File(L"a.xml")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::wstring> names;
  std::wstring reason;
  ASSERT_TRUE(pack::ReadCabinet(s.File(L"a.DIFF"), s.File(L"x"), names, reason));
  std::string diff, bytes;
  ASSERT_TRUE(ReadBytes(s.File(L"a.xml"), diff));
  ASSERT_TRUE(ReadBytes(s.File(L"x/INST/~n/1.txt"), bytes));
  EXPECT_EQ(bytes, "real tilde file");
  const size_t alias = diff.find("<FileName>~n\\2.txt</FileName>");
  ASSERT_NE(alias, std::string::npos) << diff;
  ASSERT_TRUE(ReadBytes(s.File(L"x/INST/~n/2.txt"), bytes));
  EXPECT_EQ(bytes, "aliased file");

  ASSERT_TRUE(Put(s.File(L"one/hook.dll"), PeLibrary({"Update_BeforeUpdate"})));
  ASSERT_TRUE(Put(s.File(L"two/hook.dll"), PeLibrary({"Update_AfterUpdate"})));
  ASSERT_TRUE(Put(s.File(L"hooks.ini"), "[hooks]\nbefore = one/hook.dll\nafter = two/hook.dll\n"));
  run = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"b.DIFF"), L"--version", L"2",
                 L"--znq", s.File(L"znq"), L"--extra", s.File(L"hooks.ini"), L"--diff-xml", s.File(L"b.xml"),
                 L"--force"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_TRUE(run.ErrHas("stored in the cabinet as CUSTOM\\hook.dll")) << run.err;
  EXPECT_FALSE(FileExists(s.File(L"b.DIFF")));
  EXPECT_FALSE(FileExists(s.File(L"b.xml")));
  // One library as both hooks is one file, stored once.
  ASSERT_TRUE(Put(s.File(L"one/both.dll"), PeLibrary({"Update_BeforeUpdate", "Update_AfterUpdate"})));
  ASSERT_TRUE(Put(s.File(L"hooks.ini"), "[hooks]\nbefore = one/both.dll\nafter = one/both.dll\n"));
  run = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"c.DIFF"), L"--version", L"2",
                 L"--znq", s.File(L"znq"), L"--extra", s.File(L"hooks.ini")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
}

// -v names every file stored; the declarative file may come from standard input, and the
// diff.xml copy go to standard output.
TEST(PackMake, VerboseNamesEachStoredFileAndStandardStreamsCarryTheFiles) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  PutZnq(s.File(L"znq"));
  std::istringstream in("[registry]\nkey = Software\\Piped   # from the pipe\nname = N\n");
  std::ostringstream out, err;
  ASSERT_EQ(
      pack::RunPackTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version",
                         L"2", L"--znq", s.File(L"znq"), L"--extra", L"-", L"--diff-xml", L"-", L"-v"},
                        out, err, in),
      0)
      << err.str();
  EXPECT_NE(err.str().find("make: stores INST\\a.txt from "), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("make: stores ZNQ\\INSTALL\\COMMON\\UninsVer.txt"), std::string::npos);
  EXPECT_NE(out.str().find("<RegKeyPath RegRoot=\"REG_HLM\">Software\\Piped</RegKeyPath>"), std::string::npos)
      << out.str();
}

// log encode enciphers only text the program's reader accepts: a typo would make a log the
// program treats as missing.
TEST(PackLog, EncodeRefusesTextTheProgramCannotRead) {
  ScratchFolder s;
  const std::string good = "<AppLocalList><AppLocal><AppName>App</AppName></AppLocal></AppLocalList>";
  const std::vector<std::string> bad = {
      "<AppLocalList><AppLocal><AppName>App</AppName></AppLocal></AppLocalLst>",
      "<AppLocallist></AppLocallist>", "", "not xml at all"};
  for (const std::string& text : bad) {
    ASSERT_TRUE(Put(s.File(L"log.xml"), text));
    ToolRun run = RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"bad.dat")});
    EXPECT_EQ(run.exitCode, 1) << text;
    EXPECT_TRUE(run.ErrHas("the program's reader refuses the text")) << run.err;
    EXPECT_FALSE(FileExists(s.File(L"bad.dat"))) << text;
  }
  ASSERT_TRUE(Put(s.File(L"log.xml"), good));
  EXPECT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"good.dat")}).exitCode, 0);
  // "-" is standard input and output: decoding from a pipe gives the text back.
  std::string enciphered;
  ASSERT_TRUE(ReadBytes(s.File(L"good.dat"), enciphered));
  std::istringstream in(enciphered);
  std::ostringstream out, err;
  EXPECT_EQ(pack::RunPackTool({L"log", L"decode", L"-", L"-o", L"-"}, out, err, in), 0) << err.str();
  EXPECT_EQ(out.str(), good);
}

const char kDiff[] =
    "<DiffDistribute>\n"
    " <GeneralInfo><Version>1.1</Version></GeneralInfo>\n"
    " <AddObjects>\n"
    "  <Registry><RegKeyPath RegRoot=\"REG_HLM\">Software\\A</RegKeyPath><RegData Type=\"REG_DW\">+5</RegData></Registry>\n"
    "  <Registry><RegKeyPath RegRoot=\"REG_HLM\">Software\\A</RegKeyPath><RegData Type=\"REG_DW\">5</RegData></Registry>\n"
    " </AddObjects>\n"
    " <AddObject><File Com=\"INST_REG\"><FullPath>$INSFOLDER$\\a</FullPath></File></AddObject>\n"
    "</DiffDistribute>\n";

// check's findings: misspellings with the nearest name, the first of two duplicates named,
// --json parsed back, --strict, -q, a malformed file's line and column, a cabinet on stdin.
TEST(PackCheck, FindingsHelpTheAuthorAndReadAsJson) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"), kDiff));
  PutZnq(s.File(L"ZNQ"));
  ToolRun run = RunTool({L"check", s.File(L"pkg")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.OutHas("diff.xml:4: error: REG_DW data \"+5\" is not a number")) << run.out;
  EXPECT_TRUE(
      run.OutHas("diff.xml:5: error: a second record for the value \"\" of \"Software\\A\" in "
                 "AddObjects (the first is on line 4)"))
      << run.out;
  EXPECT_TRUE(
      run.OutHas("diff.xml:7: error: element AddObject is ignored by the program inside "
                 "DiffDistribute (did you mean AddObjects?)"))
      << run.out;

  ToolRun json = RunTool({L"check", s.File(L"pkg"), L"--json"});
  EXPECT_EQ(json.exitCode, 1);
  std::map<std::string, std::map<std::string, std::string>> byRule;
  std::map<std::string, std::string> summary;
  for (const auto& o : ParseJsonLines(json.out)) {
    if (o.count("summary")) summary = o;
    else byRule[o.at("rule")] = o;
  }
  EXPECT_EQ(summary["summary"], "check");
  EXPECT_EQ(summary["errors"], "3");
  EXPECT_EQ(summary["exit"], "1");
  ASSERT_EQ(byRule.size(), 3u) << json.out;
  const auto& data = byRule["registry-data"];
  EXPECT_EQ(data.at("file"), "diff.xml");
  EXPECT_EQ(data.at("line"), "4");
  EXPECT_EQ(data.at("severity"), "error");
  EXPECT_EQ(data.at("place"), "DiffDistribute/AddObjects[1]/Registry[1]/RegData[1]");
  EXPECT_NE(data.at("message").find("\"+5\""), std::string::npos);
  EXPECT_EQ(byRule["duplicate-record"].at("line"), "5");
  EXPECT_EQ(byRule["unknown-element"].at("severity"), "error");
  EXPECT_EQ(byRule["unknown-element"].at("line"), "7");

  // An unknown element is an error, a warning under --allow-unknown; warnings alone pass,
  // unless --strict; -q keeps the errors only.
  std::string warnOnly = kDiff;
  warnOnly.erase(warnOnly.find("  <Registry>"),
                 warnOnly.find(" </AddObjects>") - warnOnly.find("  <Registry>"));
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"), warnOnly));
  EXPECT_EQ(RunTool({L"check", s.File(L"pkg")}).exitCode, 1);
  ToolRun allowed = RunTool({L"check", s.File(L"pkg"), L"--allow-unknown"});
  EXPECT_EQ(allowed.exitCode, 0) << allowed.out;
  EXPECT_TRUE(allowed.OutHas("warning: element AddObject is ignored")) << allowed.out;
  ToolRun strict = RunTool({L"check", s.File(L"pkg"), L"--allow-unknown", L"--strict"});
  EXPECT_EQ(strict.exitCode, 1);
  EXPECT_TRUE(strict.OutHas("error: element AddObject is ignored")) << strict.out;
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"), kDiff));
  ToolRun quiet = RunTool({L"check", s.File(L"pkg"), L"-q"});
  EXPECT_FALSE(quiet.OutHas("warning")) << quiet.out;
  EXPECT_TRUE(quiet.OutHas("error:")) << quiet.out;

  // A misspelt end tag: its line and column.
  std::string malformed = kDiff;
  malformed.replace(malformed.find("</AddObjects>"), 13, "</AddObject>");
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"), malformed));
  run = RunTool({L"check", s.File(L"pkg")});
  EXPECT_TRUE(
      run.OutHas("diff.xml:6:2: error: the program's XML parser cannot load diff.xml: the "
                 "end tag </AddObject> does not match <AddObjects> opened on line 3"))
      << run.out;

  // The same package as a cabinet, read from standard input.
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"), warnOnly));
  std::wstring reason;
  ASSERT_TRUE(pack::WriteCabinet(s.File(L"p.DIFF"), {{L"diff.xml", s.File(L"pkg/diff.xml")}}, reason));
  std::string cabinet;
  ASSERT_TRUE(ReadBytes(s.File(L"p.DIFF"), cabinet));
  std::istringstream in(cabinet);
  std::ostringstream out, err;
  InFolder here(s.Path());
  EXPECT_EQ(pack::RunPackTool({L"check", L"-", L"--strict"}, out, err, in), 1) << err.str();
  EXPECT_NE(out.str().find("element AddObject is ignored"), std::string::npos) << out.str();
}

// plan: --json actions parsed back, and a warning when the version goes down.
TEST(PackPlan, JsonActionsAndAWarningWhenTheVersionGoesDown) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"),
                  "<DiffDistribute><GeneralInfo><Version>1.9</Version></GeneralInfo><DeleteObjects>"
                  "<File><FullPath>$InsFolder$\\old.txt</FullPath></File></DeleteObjects></DiffDistribute>"));
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName><FullPath>C:\\App</FullPath>"
                  "<Version Type=\"Application\">1.10</Version></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  ToolRun run = RunTool({L"plan", s.File(L"pkg"), L"--install-log", s.File(L"log.dat"), L"--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::pair<std::string, std::string>> actions;
  for (const auto& o : ParseJsonLines(run.out))
    if (o.count("verb")) actions.push_back({o.at("verb"), o.at("object")});
  const std::vector<std::pair<std::string, std::string>> expected = {{"DELETE_FILE", "C:\\App\\old.txt"},
                                                                     {"UPDATE_ZNQ_UNINSTLOG", ""}};
  EXPECT_EQ(actions, expected) << run.out;
  std::vector<std::map<std::string, std::string>> warnings;
  for (const auto& o : ParseJsonLines(run.out))
    if (o.count("severity")) warnings.push_back(o);
  ASSERT_EQ(warnings.size(), 1u) << run.out;
  EXPECT_EQ(warnings[0].at("severity"), "warning");
  EXPECT_EQ(warnings[0].at("rule"), "version-down");
  EXPECT_NE(warnings[0].at("message").find("installed in version 1.10 and the package brings 1.9"),
            std::string::npos);
}

// The command line: --version, a mistyped verb or option with the nearest one, usage on the
// error stream.
TEST(PackHelp, MistakesOnTheCommandLineGetTheNearestNameOnTheErrorStream) {
  ToolRun version = RunTool({L"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(version.OutHas("brindle-pack 1.")) << version.out;
  ToolRun verb = RunTool({L"chek", L"x"});
  EXPECT_EQ(verb.exitCode, 2);
  EXPECT_TRUE(verb.ErrHas("unknown verb \"chek\" (did you mean check?)")) << verb.err;
  EXPECT_TRUE(verb.out.empty());
  ToolRun word = RunTool({L"log", L"decod", L"x"});
  EXPECT_TRUE(word.ErrHas("(did you mean decode?)")) << word.err;
  ToolRun option = RunTool({L"check", L"x", L"--strikt"});
  EXPECT_EQ(option.exitCode, 2);
  EXPECT_TRUE(option.ErrHas("unknown option --strikt (did you mean --strict?)")) << option.err;
  ToolRun none = RunTool({});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_TRUE(none.out.empty());
  EXPECT_TRUE(none.ErrHas("Usage: brindle-pack")) << none.err;
}

}  // namespace
