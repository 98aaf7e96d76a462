// What a release pipeline relies on: case-blind look-ups that list each folder once, progress
// on standard error for every long verb, and the mistakes an author makes on the command line
// or in the declarative file stopping the run with their place instead of passing unnoticed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>

#include "pack_test_support.h"
#include "packtool/cabinet.h"
#include "packtool/file_access.h"
#include "packtool/package_source.h"
#include "support/scratch.h"

using namespace brindle;
using namespace brindle::test;

namespace {

bool Put(const std::wstring& path, const std::string& bytes) { return pack::WriteFileBytes(path, bytes); }

void PutZnq(const std::wstring& znq) {
  for (const wchar_t* f : {L"COMMON/setup.dll", L"COMMON/Uninst.exe", L"ENGLISH/UninstRsc.dll"})
    ASSERT_TRUE(Put(znq + L"/INSTALL/" + f, "x"));
  ASSERT_TRUE(Put(znq + L"/INSTALL/COMMON/UninsVer.txt", "7.1"));
}

// The indexed look-up: an exact name first, else the name that differs in letter case alone,
// through folders; nothing for a missing or empty part, nor below a file. Its index is built
// once, so a file added later to a folder already listed is not seen (the package's folders do
// not change while it is checked).
TEST(PackCaseBlindFinder, AnswersAsTheListingLookUpFromOneListingPerFolder) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"p/INST/Sub/File.TXT"), "1"));
  ASSERT_TRUE(Put(s.File(L"p/INST/exact.txt"), "2"));
  ASSERT_TRUE(Put(s.File(L"p/diff.xml"), "3"));
  pack::CaseBlindFinder finder;
  const std::wstring p = s.File(L"p");
  EXPECT_EQ(finder.Find(p, L"inst/sub/file.txt"), p + L"/INST/Sub/File.TXT");
  EXPECT_EQ(finder.Find(p, L"INST\\SUB\\FILE.TXT"), p + L"/INST/Sub/File.TXT");
  EXPECT_EQ(finder.Find(p, L"INST/exact.txt"), p + L"/INST/exact.txt");
  EXPECT_EQ(finder.Find(p, L"Diff.XML"), p + L"/diff.xml");
  EXPECT_EQ(pack::FindCaseBlind(p, L"Diff.XML"), p + L"/diff.xml");
  for (const wchar_t* name : {L"INST/none.txt", L"INST//exact.txt", L"INST/Sub/File.TXT/x"})
    EXPECT_EQ(finder.Find(p, name), L"") << Utf8FromWide(name);
#ifndef _WIN32
  // Two names differing in letter case alone (possible here, not on Windows): the exact one
  // wins, and of the others always the same one.
  ASSERT_TRUE(Put(s.File(L"p/INST/EXACT.txt"), "4"));
  pack::CaseBlindFinder fresh;
  EXPECT_EQ(fresh.Find(p, L"INST/EXACT.txt"), p + L"/INST/EXACT.txt");
  EXPECT_EQ(fresh.Find(p, L"INST/exact.txt"), p + L"/INST/exact.txt");
  EXPECT_EQ(fresh.Find(p, L"INST/Exact.txt"), p + L"/INST/EXACT.txt");
#endif
  ASSERT_TRUE(Put(s.File(L"p/INST/later.txt"), "5"));
  EXPECT_EQ(finder.Find(p, L"INST/later.txt"), L"");
}

// A package of many files: make, its own check, check and plan each show progress on standard
// error (nothing on standard output), and -q silences all of it.
TEST(PackProgress, EveryLongVerbShowsProgressOnTheErrorStreamUnlessQuiet) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/keep.txt"), "k"));
  ASSERT_TRUE(Put(s.File(L"new/keep.txt"), "k"));
  for (int i = 0; i < 120; ++i)
    ASSERT_TRUE(Put(s.File(L"new/bin/f") + std::to_wstring(i) + L".dat", std::to_string(i)));
  PutZnq(s.File(L"znq"));
  ToolRun make = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"out/p.DIFF"), L"--version",
                          L"2", L"--znq", s.File(L"znq")});
  ASSERT_EQ(make.exitCode, 0) << make.err;
  EXPECT_TRUE(make.ErrHas("make: checked 120/120\n")) << make.err;
  EXPECT_FALSE(make.OutHas("checked")) << make.out;

  ToolRun check = RunTool({L"check", s.File(L"out/p.DIFF")});
  ASSERT_EQ(check.exitCode, 0) << check.out;
  EXPECT_TRUE(check.ErrHas("check: checked 12/120\n")) << check.err;
  EXPECT_TRUE(check.ErrHas("check: checked 120/120\n")) << check.err;
  EXPECT_FALSE(check.OutHas("check: checked")) << check.out;
  ToolRun quietCheck = RunTool({L"check", s.File(L"out/p.DIFF"), L"-q"});
  EXPECT_EQ(quietCheck.exitCode, 0);
  EXPECT_TRUE(quietCheck.err.empty()) << quietCheck.err;

  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName><FullPath>C:\\App</FullPath>"
                  "</AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  ToolRun plan = RunTool({L"plan", s.File(L"out/p.DIFF"), L"--install-log", s.File(L"log.dat")});
  ASSERT_EQ(plan.exitCode, 0) << plan.err;
  EXPECT_TRUE(plan.ErrHas("plan: steps ")) << plan.err;
  EXPECT_FALSE(plan.OutHas("plan: steps")) << plan.out;
  ToolRun quietPlan = RunTool({L"plan", s.File(L"out/p.DIFF"), L"--install-log", s.File(L"log.dat"), L"-q"});
  EXPECT_FALSE(quietPlan.ErrHas("plan: steps")) << quietPlan.err;

  ToolRun quietMake = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"q/p.DIFF"),
                               L"--version", L"2", L"--znq", s.File(L"znq"), L"-q"});
  ASSERT_EQ(quietMake.exitCode, 0) << quietMake.err;
  EXPECT_FALSE(quietMake.ErrHas("make: ")) << quietMake.err;
}

// Options that contradict each other or name nothing are wrong command lines (exit code 2),
// found before any work: no package is written.
TEST(PackOptions, ContradictionsAndMissingPlacesAreRefusedBeforeAnyWork) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  const std::vector<std::wstring> base = {L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF")};
  auto make = [&](std::vector<std::wstring> more) {
    std::vector<std::wstring> args = base;
    args.insert(args.end(), more.begin(), more.end());
    return RunTool(args);
  };
  struct Case {
    std::vector<std::wstring> args;
    std::string says;
  };
  const Case cases[] = {
      {{L"--version", L"1", L"--version", L"2"}, "--version is given twice (\"1\" and \"2\")"},
      {{L"--version", L"1", L"--version-from", L"a.txt"}, "--version and --version-from contradict"},
      {{L"--version", L"1", L"--target", L"Program Files\\App"}, "is not a full package path"},
      {{L"--version", L"1", L"--znq", s.File(L"nowhere")}, "nowhere: no such folder"},
      {{L"--version", L"1", L"--extra", s.File(L"none.ini")}, "none.ini: no such file"},
      {{L"--version-from", L"app.exe"}, "--version-from app.exe: no such file in NEW"},
      {{L"--version", L"1", L"--zqn", s.File(L"x")}, "unknown option --zqn (did you mean --znq?)"},
  };
  for (const Case& c : cases) {
    const ToolRun run = make(c.args);
    EXPECT_EQ(run.exitCode, 2) << c.says;
    EXPECT_TRUE(run.ErrHas(c.says)) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;  // nothing compared
    EXPECT_FALSE(FileExists(s.File(L"p.DIFF"))) << c.says;
  }
  // --check-app adds one name each time.
  PutZnq(s.File(L"znq"));
  EXPECT_EQ(
      make({L"--version", L"1", L"--check-app", L"a.exe", L"--check-app", L"b.exe", L"--znq", s.File(L"znq")})
          .exitCode,
      0);
  ToolRun check = RunTool({L"check", s.File(L"p.DIFF"), L"--znq", s.File(L"nowhere")});
  EXPECT_EQ(check.exitCode, 2);
  EXPECT_TRUE(check.ErrHas("no such folder")) << check.err;
  ToolRun twice = RunTool({L"check", s.File(L"p.DIFF"), L"--lang", L"en", L"--lang", L"ja"});
  EXPECT_EQ(twice.exitCode, 2);
  // Swapped letters find the verb meant.
  EXPECT_TRUE(RunTool({L"plna"}).ErrHas("(did you mean plan?)"));
  EXPECT_TRUE(RunTool({L"lgo", L"decode"}).ErrHas("(did you mean log?)"));
}

// A key given twice in one block of the declarative file is an error naming both lines, for
// the registry as for the hooks; a package that changes nothing is warned about.
TEST(PackMake, ADoubledKeyIsAnErrorAndAnEmptyPackageAWarning) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  ASSERT_TRUE(Put(s.File(L"hook.dll"), PeLibrary({"Update_BeforeUpdate"})));
  ASSERT_TRUE(Put(s.File(L"extra.ini"),
                  "[registry]\nkey = Software\\A\nname = One\ntype = REG_SZ\ndata = 1\n"
                  "name = Two\n[hooks]\nbefore = hook.dll\nbefore = hook.dll\n"));
  PutZnq(s.File(L"znq"));
  ToolRun run = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version",
                         L"2", L"--extra", s.File(L"extra.ini"), L"--znq", s.File(L"znq")});
  EXPECT_EQ(run.exitCode, 1);
  const std::string extra = Utf8FromWide(s.File(L"extra.ini"));
  EXPECT_TRUE(run.ErrHas(extra + ":6: error: key name is given twice in the [registry] block "
                                 "(first on line 3, again on line 6)"))
      << run.err;
  EXPECT_TRUE(run.ErrHas(extra + ":9: error: key before is given twice in the [hooks] block "
                                 "(first on line 8, again on line 9)"))
      << run.err;
  EXPECT_FALSE(FileExists(s.File(L"p.DIFF")));

  ToolRun same = RunTool({L"make", s.File(L"old"), s.File(L"old"), L"-o", s.File(L"same.DIFF"), L"--version",
                          L"2", L"--znq", s.File(L"znq")});
  EXPECT_EQ(same.exitCode, 0) << same.err;
  EXPECT_TRUE(same.ErrHas("warning: the package changes nothing")) << same.err;
  ToolRun changes = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"c.DIFF"), L"--version",
                             L"2", L"--znq", s.File(L"znq")});
  EXPECT_EQ(changes.exitCode, 0) << changes.err;
  EXPECT_FALSE(changes.ErrHas("changes nothing")) << changes.err;
}

std::string Decoded(const std::wstring& log) {
  std::ostringstream out, err;
  std::istringstream in;
  pack::RunPackTool({L"log", L"decode", log}, out, err, in);
  return out.str();
}

// log encode reads Unicode text as what it is: declared UTF-8, marked with a byte-order mark or
// named by --from-utf8, it is turned into the code page exactly and refused (with its place)
// where the code page lacks a character; text in the code page's own bytes, as log decode
// gives it, is taken byte for byte even under a UTF-8 declaration.
TEST(PackLog, EncodeReadsTheDeclaredEncodingAndNeverStoresALookAlike) {
  ScratchFolder s;
  const std::string body = "<AppLocalList><AppLocal><AppName>caf\xC3\xA9</AppName></AppLocal></AppLocalList>";
  const std::string declared = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  auto encode = [&](const std::string& text, std::vector<std::wstring> more = {}) {
    EXPECT_TRUE(Put(s.File(L"in.xml"), text));
    std::vector<std::wstring> args = {L"log", L"encode", s.File(L"in.xml"), L"-o", s.File(L"out.dat")};
    args.insert(args.end(), more.begin(), more.end());
    pack::fs::remove(pack::FsPath(s.File(L"out.dat")));
    return RunTool(args);
  };
  const std::string stored = "<AppLocalList><AppLocal><AppName>caf\xE9</AppName></AppLocal></AppLocalList>";
  ToolRun run = encode(declared + body);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Decoded(s.File(L"out.dat")), declared + stored);
  ASSERT_EQ(encode("\xEF\xBB\xBF" + body).exitCode, 0);
  EXPECT_EQ(Decoded(s.File(L"out.dat")), stored);
  ASSERT_EQ(encode(body, {L"--from-utf8"}).exitCode, 0);
  EXPECT_EQ(Decoded(s.File(L"out.dat")), stored);
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string("<AppLocalList><AppLocal><AppName>caf")) utf16 += {c, '\0'};
  utf16 += {'\xE9', '\0'};
  for (const char c : std::string("</AppName></AppLocal></AppLocalList>")) utf16 += {c, '\0'};
  ASSERT_EQ(encode(utf16).exitCode, 0);
  EXPECT_EQ(Decoded(s.File(L"out.dat")), stored);

  // U+015C has no form in Windows-1252: refused at its place, nothing written.
  std::string outside =
      declared + "<AppLocalList><AppLocal>\n<AppName>\xC5\x9Cuite</AppName></AppLocal></AppLocalList>";
  run = encode(outside);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(
      run.ErrHas("line 3, column 10: the character U+015C (\xC5\x9C) is not in the ANSI code "
                 "page"))
      << run.err;
  EXPECT_FALSE(FileExists(s.File(L"out.dat")));
  run = encode("<AppLocalList><AppLocal><AppName>\xC5\x9Cuite</AppName></AppLocal></AppLocalList>",
               {L"--from-utf8"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.ErrHas("U+015C")) << run.err;
  // The code page's own bytes under a UTF-8 declaration (the decoded log): byte for byte.
  ASSERT_EQ(encode(declared + stored).exitCode, 0);
  EXPECT_EQ(Decoded(s.File(L"out.dat")), declared + stored);
  // --from-utf8 on bytes that are not UTF-8 says so.
  run = encode(stored, {L"--from-utf8"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.ErrHas("not UTF-8 text")) << run.err;
}

// The declarative file as editors save it: UTF-8 with a byte-order mark and UTF-16 (Notepad,
// PowerShell) are read; UTF-16 without its mark and bytes of another encoding are refused
// with one clear message.
TEST(PackMake, TheDeclarativeFileIsReadInTheEncodingsEditorsWrite) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  PutZnq(s.File(L"znq"));
  const std::string text = "[registry]\r\nkey = Software\\T\xC3\xA9st\r\nname = N\r\ndata = x\r\n";
  auto utf16 = [](const std::wstring& wide, bool mark) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    return bytes + Utf16LeBytes(wide);
  };
  const std::wstring wide = WideFromUtf8(text);
  auto make = [&](const std::string& extra) {
    EXPECT_TRUE(Put(s.File(L"extra.ini"), extra));
    return RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"out/p.DIFF"), L"--version", L"2",
                    L"--znq", s.File(L"znq"), L"--extra", s.File(L"extra.ini"), L"--diff-xml",
                    s.File(L"diff.xml")});
  };
  for (const std::string& bytes : {text, "\xEF\xBB\xBF" + text, utf16(wide, true)}) {
    ToolRun run = make(bytes);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string diff;
    ASSERT_TRUE(ReadBytes(s.File(L"diff.xml"), diff));
    EXPECT_NE(diff.find("Software\\T\xC3\xA9st"), std::string::npos) << diff;
  }
  ToolRun noMark = make(utf16(wide, false));
  EXPECT_EQ(noMark.exitCode, 1);
  EXPECT_TRUE(noMark.ErrHas("UTF-16 without its byte-order mark?")) << noMark.err;
  ToolRun latin = make("[registry]\nkey = Software\\T\xE9st\n");
  EXPECT_EQ(latin.exitCode, 1);
  EXPECT_TRUE(
      latin.ErrHas("extra.ini: error: the file is not UTF-8 text (line 2 holds bytes of another "
                   "encoding)"))
      << latin.err;
}

}  // namespace

namespace {

// "-" stands for a stream only where a stream can serve: make's package, folders, list and
// uninstaller folder, and plan's package and install log both on standard input, are refused
// as wrong command lines; --diff-xml - writes the XML alone to standard output.
TEST(PackStreams, DashWorksWhereOfferedAndIsRefusedElsewhere) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  ASSERT_TRUE(Put(s.File(L"new/b.txt"), "b"));
  PutZnq(s.File(L"znq"));
  const std::vector<std::vector<std::wstring>> refused = {
      {L"make", s.File(L"old"), s.File(L"new"), L"-o", L"-", L"--version", L"1"},
      {L"make", L"-", s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version", L"1"},
      {L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version", L"1", L"--znq", L"-"},
      {L"plan", L"-", L"--install-log", L"-"},
      {L"plan", s.File(L"pkg"), L"--install-log", L"x", L"--root", L"-"},
      {L"check", s.File(L"pkg"), L"--znq", L"-"},
  };
  for (const auto& args : refused) {
    ToolRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, 2) << Utf8FromWide(args[0] + L" " + args[1]);
    EXPECT_TRUE(run.ErrHas("\"-\"")) << run.err;
  }
  EXPECT_FALSE(FileExists(s.File(L"p.DIFF")));

  ToolRun xml = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version",
                         L"1", L"--znq", s.File(L"znq"), L"--diff-xml", L"-"});
  ASSERT_EQ(xml.exitCode, 0) << xml.err;
  EXPECT_EQ(xml.out.rfind("<?xml", 0), 0u) << xml.out;
  EXPECT_NE(xml.out.find("</DiffDistribute>"), std::string::npos) << xml.out;
  EXPECT_FALSE(xml.OutHas("add b.txt")) << xml.out;
  EXPECT_TRUE(xml.ErrHas("add b.txt")) << xml.err;
}

// A diff.xml that the parser refuses for an unescaped '&' or an unquoted attribute: check
// names the line and column.
TEST(PackCheck, XmlMistakesGetTheirLineAndColumn) {
  ScratchFolder s;
  PutZnq(s.File(L"ZNQ"));
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"),
                  "<DiffDistribute>\n<GeneralInfo><Version>1</Version></GeneralInfo>\n"
                  "<AddObjects><Registry><RegKeyPath>Software\\R&D</RegKeyPath></Registry></AddObjects>\n"
                  "</DiffDistribute>\n"));
  ToolRun run = RunTool({L"check", s.File(L"pkg")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(
      run.OutHas("diff.xml:3:45: error: the program's XML parser cannot load diff.xml: a '&' "
                 "that starts no reference"))
      << run.out;
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"),
                  "<DiffDistribute>\n<GeneralInfo><Version>1</Version></GeneralInfo>\n"
                  "<AddObjects><File COM=INST_REG/></AddObjects>\n</DiffDistribute>\n"));
  run = RunTool({L"check", s.File(L"pkg")});
  EXPECT_TRUE(
      run.OutHas("diff.xml:3:23: error: the program's XML parser cannot load diff.xml: the "
                 "value of the attribute COM is not in quotes"))
      << run.out;
}

}  // namespace

namespace {

// The same folders give the same package bytes: diff.xml carries the newest time stamp of the
// inputs, not the time make ran. make replaces the uninstaller files beside the package
// instead of merging, leaves no package behind when it fails, and refuses to write into NEW.
TEST(PackMake, PackagesAreReproducibleAndNoStaleOutputRemains) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  ASSERT_TRUE(Put(s.File(L"new/c.txt"), "c"));
  const auto stamp = pack::fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
  for (const wchar_t* f : {L"old/a.txt", L"new/a.txt", L"new/c.txt"})
    pack::fs::last_write_time(pack::FsPath(s.File(f)), stamp);
  PutZnq(s.File(L"znq"));
  auto make = [&](const std::wstring& out, std::vector<std::wstring> more = {}) {
    std::vector<std::wstring> args = {L"make",      s.File(L"old"), s.File(L"new"), L"-o",         out,
                                      L"--version", L"2",           L"--znq",       s.File(L"znq")};
    args.insert(args.end(), more.begin(), more.end());
    return RunTool(args);
  };
  ASSERT_EQ(make(s.File(L"one/p.DIFF")).exitCode, 0);
  ASSERT_EQ(make(s.File(L"two/p.DIFF")).exitCode, 0);
  std::string one, two;
  ASSERT_TRUE(ReadBytes(s.File(L"one/p.DIFF"), one));
  ASSERT_TRUE(ReadBytes(s.File(L"two/p.DIFF"), two));
  EXPECT_EQ(one, two);
  std::vector<std::wstring> names;
  std::wstring reason;
  ASSERT_TRUE(pack::ReadCabinet(s.File(L"one/p.DIFF"), s.File(L"x"), names, reason));
  const auto stored = pack::fs::last_write_time(pack::FsPath(s.File(L"x/diff.xml")));
  const auto drift = std::chrono::duration_cast<std::chrono::seconds>(stored - stamp).count();
  EXPECT_LE(drift < 0 ? -drift : drift, 2) << "diff.xml carries the time make ran";

  // A stale uninstaller file beside the package is gone after the next make.
  ASSERT_TRUE(Put(s.File(L"one/ZNQ/INSTALL/COMMON/stale.dll"), "old"));
  ASSERT_EQ(make(s.File(L"one/p.DIFF")).exitCode, 0);
  EXPECT_FALSE(FileExists(s.File(L"one/ZNQ/INSTALL/COMMON/stale.dll")));
  EXPECT_TRUE(FileExists(s.File(L"one/ZNQ/INSTALL/COMMON/Uninst.exe")));
  // Uninstaller files taken from below the ZNQ folder beside the package are not removed
  // (the package is kept with --force: its check finds no INSTALL folder directly in ZNQ).
  ASSERT_TRUE(pack::fs::remove_all(pack::FsPath(s.File(L"one/ZNQ"))) > 0);
  PutZnq(s.File(L"one/ZNQ/src"));
  ASSERT_EQ(RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"one/p.DIFF"), L"--version",
                     L"2", L"--znq", s.File(L"one/ZNQ/src"), L"--force"})
                .exitCode,
            0);
  EXPECT_TRUE(FileExists(s.File(L"one/ZNQ/src/INSTALL/COMMON/Uninst.exe")));
  // A failed make leaves no package at -o, not even the earlier one.
  ASSERT_TRUE(Put(s.File(L"bad.ini"), "[registry]\nkey = K\ntype = REG_DW\ndata = 12x\n"));
  EXPECT_EQ(make(s.File(L"one/p.DIFF"), {L"--extra", s.File(L"bad.ini")}).exitCode, 1);
  EXPECT_FALSE(FileExists(s.File(L"one/p.DIFF")));
  // A package inside NEW would be part of the next one made from it.
  ToolRun inside = make(s.File(L"new/out/p.DIFF"));
  EXPECT_EQ(inside.exitCode, 2);
  EXPECT_TRUE(inside.ErrHas("is inside")) << inside.err;
  EXPECT_FALSE(FileExists(s.File(L"new/out/p.DIFF")));
}

}  // namespace

namespace {

// --json on every verb: standard output carries JSON objects only, one per line, the
// findings with their rule, file, line and column, a fatal error as a finding, and a summary
// last.
TEST(PackJson, EveryVerbWritesFindingsAndASummaryAsJson) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  ASSERT_TRUE(Put(s.File(L"new/c.txt"), "c"));
  ASSERT_TRUE(Put(s.File(L"bad.ini"), "[registry]\nkey = K\nkey = L\n"));
  PutZnq(s.File(L"znq"));
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName><FullPath>C:\\App"
                  "</FullPath></AppLocal></AppLocalList>"));
  ASSERT_TRUE(Put(s.File(L"uninst.ini"), "[Files]\nUIFILE=\"unterminated\n"));
  auto lastIs = [](const std::vector<std::map<std::string, std::string>>& objects, const std::string& verb,
                   const std::string& exit) {
    if (objects.empty()) return false;
    const auto& last = objects.back();
    return last.count("summary") && last.at("summary") == verb && last.at("exit") == exit;
  };
  struct Case {
    std::vector<std::wstring> args;
    std::string verb, exit;
  };
  const Case cases[] = {
      {{L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version", L"2", L"--znq",
        s.File(L"znq"), L"--json"},
       "make",
       "0"},
      {{L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"q.DIFF"), L"--version", L"2", L"--extra",
        s.File(L"bad.ini"), L"--json"},
       "make",
       "1"},
      {{L"check", s.File(L"p.DIFF"), L"--json"}, "check", "0"},
      {{L"check", s.File(L"none.DIFF"), L"--json"}, "check", "1"},
      {{L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat"), L"--json"}, "log encode", "0"},
      {{L"plan", s.File(L"p.DIFF"), L"--install-log", s.File(L"log.dat"), L"--json"}, "plan", "0"},
      {{L"plan", s.File(L"p.DIFF"), L"--install-log", s.File(L"none.dat"), L"--json"}, "plan", "1"},
      {{L"log", L"decode", s.File(L"none.dat"), L"-o", s.File(L"x.xml"), L"--json"}, "log decode", "1"},
      {{L"uninstlog", L"check", s.File(L"uninst.ini"), L"--json"}, "uninstlog check", "1"},
  };
  std::map<std::string, std::vector<std::map<std::string, std::string>>> byRun;
  for (const Case& c : cases) {
    const ToolRun run = RunTool(c.args);
    const std::string name = c.verb + " " + c.exit;
    EXPECT_EQ(std::to_string(run.exitCode), c.exit) << name << "\n" << run.out << run.err;
    std::vector<std::map<std::string, std::string>> objects;
    try {
      objects = ParseJsonLines(run.out);
    } catch (const std::exception& e) {
      ADD_FAILURE() << name << ": " << e.what();
    }
    EXPECT_TRUE(lastIs(objects, c.verb, c.exit)) << name << "\n" << run.out;
    for (const auto& o : objects) {
      if (!o.count("severity")) continue;
      for (const char* key : {"rule", "file", "line", "column", "message"}) {
        EXPECT_TRUE(o.count(key)) << name << " lacks " << key;
      }
    }
    byRun[name] = objects;
  }
  // make lists its changes as objects; the doubled key is a finding with its line.
  const auto& made = byRun["make 0"];
  EXPECT_EQ(std::count_if(made.begin(), made.end(),
                          [](const auto& o) {
                            return o.count("change") && o.at("change") == "add" && o.at("path") == "c.txt";
                          }),
            1);
  bool doubled = false;
  for (const auto& o : byRun["make 1"])
    doubled = doubled || (o.count("rule") && o.at("rule") == "duplicate-key" && o.at("line") == "3");
  EXPECT_TRUE(doubled);
  EXPECT_EQ(byRun["check 1"].front().at("rule"), "fatal");
  EXPECT_EQ(byRun["uninstlog check 1"].front().at("rule"), "uninstall-log");
  bool action = false;
  for (const auto& o : byRun["plan 0"]) action = action || (o.count("verb") && o.at("verb") == "ADD_FILE");
  EXPECT_TRUE(action);
}

}  // namespace

namespace {

#ifndef _WIN32
// A finding on a file record make generated names the file of NEW it stands for, with the
// generated place in brackets. (Native only: Windows cannot hold NEW's over-long path
// without long-path support, which is what the finding is about.)
TEST(PackMake, AFindingOnAGeneratedFileRecordNamesTheFileInNew) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  const std::wstring part(60, L'd');
  const std::wstring deep = part + L"/" + part + L"/" + part + L"/" + part + L"/long.txt";
  ASSERT_TRUE(Put(s.File(L"new/") + deep, "x"));
  PutZnq(s.File(L"znq"));
  ToolRun run = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version",
                         L"2", L"--znq", s.File(L"znq")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.ErrHas(Utf8FromWide(s.File(L"new/") + deep) +
                         ": error: FullPath has 264 characters; the program handles paths of at most 259 [" +
                         Utf8FromWide(s.File(L"p.DIFF")) + ":diff.xml:"))
      << run.err;
}
#endif

}  // namespace

namespace {

// The verbs authors ask for: make --dry-run writes nothing; list names each record with its
// stored file; extract writes the cabinet's files into an empty folder only; diff names the
// records only one package holds and those whose data or stored file changed.
TEST(PackVerbs, DryRunListExtractAndDiff) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"v1/a.txt"), "a1"));
  ASSERT_TRUE(Put(s.File(L"v1/gone.txt"), "g"));
  ASSERT_TRUE(Put(s.File(L"v2/a.txt"), "a2"));
  ASSERT_TRUE(Put(s.File(L"v2/b.txt"), "b"));
  ASSERT_TRUE(Put(s.File(L"v3/a.txt"), "a3"));
  ASSERT_TRUE(Put(s.File(L"v3/b.txt"), "b"));
  ASSERT_TRUE(Put(s.File(L"reg.ini"), "[registry]\nkey = Software\\T\nname = V\ndata = 2\n"));
  PutZnq(s.File(L"znq"));
  ToolRun dry =
      RunTool({L"make", s.File(L"v1"), s.File(L"v2"), L"-o", s.File(L"out/p.DIFF"), L"--version", L"2",
               L"--znq", s.File(L"znq"), L"--dry-run", L"--list", s.File(L"out/list.xml"), L"--app", L"App"});
  ASSERT_EQ(dry.exitCode, 0) << dry.err;
  EXPECT_TRUE(dry.OutHas("add b.txt")) << dry.out;
  EXPECT_TRUE(dry.ErrHas("1 added, 1 updated, 1 deleted")) << dry.err;
  EXPECT_FALSE(pack::fs::exists(pack::FsPath(s.File(L"out"))));

  ASSERT_EQ(RunTool({L"make", s.File(L"v1"), s.File(L"v2"), L"-o", s.File(L"p2.DIFF"), L"--version", L"2",
                     L"--znq", s.File(L"znq"), L"--extra", s.File(L"reg.ini")})
                .exitCode,
            0);
  ASSERT_EQ(RunTool({L"make", s.File(L"v1"), s.File(L"v3"), L"-o", s.File(L"p3.DIFF"), L"--version", L"3",
                     L"--znq", s.File(L"znq")})
                .exitCode,
            0);
  ToolRun list = RunTool({L"list", s.File(L"p2.DIFF")});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_TRUE(list.OutHas("delete file $InsFolder$\\gone.txt\n")) << list.out;
  EXPECT_TRUE(list.OutHas("update file $InsFolder$\\a.txt (INST\\a.txt, 2 bytes, ")) << list.out;
  EXPECT_TRUE(list.OutHas("add registry REG_HLM\\Software\\T [V] (REG_SZ 2)")) << list.out;

  ToolRun diff = RunTool({L"diff", s.File(L"p2.DIFF"), s.File(L"p3.DIFF")});
  EXPECT_EQ(diff.exitCode, 1);
  EXPECT_TRUE(diff.OutHas("changed version (2 -> 3)")) << diff.out;
  EXPECT_TRUE(diff.OutHas("changed update file $InsFolder$\\a.txt")) << diff.out;
  EXPECT_TRUE(diff.OutHas("only-first add registry REG_HLM\\Software\\T [V]")) << diff.out;
  EXPECT_FALSE(diff.OutHas("add file $InsFolder$\\b.txt")) << diff.out;  // the same in both
  EXPECT_EQ(RunTool({L"diff", s.File(L"p3.DIFF"), s.File(L"p3.DIFF")}).exitCode, 0);

  ToolRun extract = RunTool({L"extract", s.File(L"p2.DIFF"), L"-o", s.File(L"x")});
  ASSERT_EQ(extract.exitCode, 0) << extract.err;
  std::string bytes;
  ASSERT_TRUE(ReadBytes(s.File(L"x/INST/a.txt"), bytes));
  EXPECT_EQ(bytes, "a2");
  EXPECT_TRUE(FileExists(s.File(L"x/diff.xml")));
  ToolRun again = RunTool({L"extract", s.File(L"p2.DIFF"), L"-o", s.File(L"x")});
  EXPECT_EQ(again.exitCode, 2);
  EXPECT_TRUE(again.ErrHas("is not empty")) << again.err;
  EXPECT_TRUE(RunTool({L"lsit"}).ErrHas("(did you mean list?)"));
}

}  // namespace

namespace {

// verify --root: an installation below a folder standing for C:\ against its install log, its
// uninstall log and the package applied to it; each difference is a finding, a sound
// installation passes.
TEST(PackVerify, AnInstallationIsHeldAgainstItsLogsAndThePackageApplied) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName><FullPath>C:\\Apps\\App</FullPath>"
                  "<UninstLog>C:\\Apps\\App\\uninst.ini</UninstLog></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  ASSERT_TRUE(
      Put(s.File(L"pkg/diff.xml"),
          "<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo>"
          "<DeleteObjects><File><FullPath>$InsFolder$\\old.txt</FullPath></File></DeleteObjects>"
          "<UpdateObjects><File><FullPath>$InsFolder$\\a.txt</FullPath><FileName>a.txt</FileName></File>"
          "</UpdateObjects><AddObjects><File><FullPath>$InsFolder$\\c.txt</FullPath>"
          "<FileName>c.txt</FileName></File></AddObjects></DiffDistribute>"));
  ASSERT_TRUE(Put(s.File(L"pkg/INST/a.txt"), "new a"));
  ASSERT_TRUE(Put(s.File(L"pkg/INST/c.txt"), "c"));
  const std::string uninst =
      "[Files]\r\nUIFILE=\"C:\\\\Apps\\\\App\\\\a.txt\" INST_REQ INST_VER INST_DEL INST_NOREG\r\n"
      "UIFILE=\"C:\\\\Apps\\\\App\\\\c.txt\" INST_REQ INST_VER INST_DEL INST_NOREG\r\n";
  ASSERT_TRUE(
      Put(s.File(L"root/Apps/App/uninst.ini"),
          uninst + "UIFILE=\"C:\\\\Apps\\\\App\\\\b.txt\" INST_REQ INST_VER INST_DEL INST_NOREG\r\n"));
  ASSERT_TRUE(Put(s.File(L"root/Apps/App/a.txt"), "old a"));
  ASSERT_TRUE(Put(s.File(L"root/Apps/App/old.txt"), "o"));
  const std::vector<std::wstring> args = {L"verify",          L"--root",    s.File(L"root"), L"--install-log",
                                          s.File(L"log.dat"), L"--package", s.File(L"pkg")};
  ToolRun run = RunTool(args);
  EXPECT_EQ(run.exitCode, 1);
  for (const char* finding : {"error: the uninstall log lists C:\\Apps\\App\\b.txt, which is not installed",
                              "error: C:\\Apps\\App\\old.txt is still installed; the package deletes it",
                              "error: C:\\Apps\\App\\a.txt differs from the package's file",
                              "error: C:\\Apps\\App\\c.txt is missing; the package installs it"})
    EXPECT_TRUE(run.OutHas(finding)) << finding << "\n" << run.out;

  // The installation as the package leaves it passes.
  ASSERT_TRUE(Put(s.File(L"root/Apps/App/uninst.ini"), uninst));
  ASSERT_TRUE(Put(s.File(L"root/Apps/App/a.txt"), "new a"));
  ASSERT_TRUE(Put(s.File(L"root/Apps/App/c.txt"), "c"));
  ASSERT_TRUE(pack::fs::remove(pack::FsPath(s.File(L"root/Apps/App/old.txt"))));
  run = RunTool(args);
  EXPECT_EQ(run.exitCode, 0) << run.out;

  // An uninstall log the program's reader refuses, and a missing one, fail.
  ASSERT_TRUE(Put(s.File(L"root/Apps/App/uninst.ini"), uninst + "UIFILE=\"C:\\\\x INST_REQ\r\n"));
  run = RunTool(args);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.OutHas("uninst.ini:4: error: a double quote is not closed")) << run.out;
  EXPECT_FALSE(run.OutHas("not listed")) << run.out;
  ASSERT_TRUE(pack::fs::remove(pack::FsPath(s.File(L"root/Apps/App/uninst.ini"))));
  run = RunTool({L"verify", L"--root", s.File(L"root"), L"--install-log", s.File(L"log.dat"), L"--json"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.OutHas("\"rule\":\"uninstall-log\"")) << run.out;
  EXPECT_TRUE(run.OutHas("the uninstall log is missing")) << run.out;
}

}  // namespace

namespace {

// verify --registry: the machine's registry as "reg export" wrote it, held against the values
// the package writes and deletes and the shared counts the uninstall log relies on.
TEST(PackVerify, ValuesAndSharedCountsAreHeldAgainstTheExportedRegistry) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName><FullPath>C:\\Apps\\App</FullPath>"
                  "<UninstLog>C:\\Apps\\App\\uninst.ini</UninstLog></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  const std::string value =
      "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">Software\\App</RegKeyPath>";
  ASSERT_TRUE(
      Put(s.File(L"pkg/diff.xml"),
          "<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo><DeleteObjects>" + value +
              "<RegValueName>Old</RegValueName></Registry></DeleteObjects><AddObjects>" + value +
              "<RegValueName>Path</RegValueName><RegData Type=\"REG_SZ\">$InsFolder$</RegData></Registry>" +
              value + "<RegValueName>Count</RegValueName><RegData Type=\"REG_DW\">5</RegData></Registry>" +
              value +
              "<RegValueName>Stamp</RegValueName><RegData Type=\"REG_DW\">$InstallTime$</RegData>"
              "</Registry></AddObjects></DiffDistribute>"));
  ASSERT_TRUE(
      Put(s.File(L"root/Apps/App/uninst.ini"),
          "[Files]\r\nUIFILE=\"C:\\\\Apps\\\\App\\\\shared.dll\" INST_REQ INST_VER INST_REF INST_NOREG\r\n"));
  ASSERT_TRUE(Put(s.File(L"root/Apps/App/shared.dll"), "dll"));
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string appKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\App]\r\n";
  const std::string counts =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]\r\n";
  const std::vector<std::wstring> args = {L"verify",        L"--root",          s.File(L"root"),
                                          L"--install-log", s.File(L"log.dat"), L"--package",
                                          s.File(L"pkg"),   L"--registry",      s.File(L"machine.reg")};

  // Before the package: the old value there, the new ones missing or different, no count.
  ASSERT_TRUE(Put(s.File(L"machine.reg"), header + appKey + "\"Old\"=\"1\"\r\n\"Count\"=dword:00000004\r\n" +
                                              counts +
                                              "\"C:\\\\Apps\\\\App\\\\shared.dll\"=dword:00000000\r\n"));
  ToolRun run = RunTool(args);
  EXPECT_EQ(run.exitCode, 1);
  for (const char* finding :
       {"error: value \"Old\" of Software\\App is still there; the package deletes it",
        "error: value \"Path\" of Software\\App is missing; the package writes it",
        "error: value \"Count\" of Software\\App differs from the package's data 5",
        "error: value \"Stamp\" of Software\\App is missing",
        "C:\\Apps\\App\\shared.dll is listed as shared (INST_REF) but its SharedDLLs count is 0"})
    EXPECT_TRUE(run.OutHas(finding)) << finding << "\n" << run.out;

  // As the program leaves it (the time of the run whatever it is), it passes.
  ASSERT_TRUE(Put(s.File(L"machine.reg"), header + appKey +
                                              "\"Path\"=\"C:\\\\Apps\\\\App\"\r\n\"count\"=dword:00000005\r\n"
                                              "\"Stamp\"=dword:5f5e1000\r\n" +
                                              counts +
                                              "\"c:\\\\apps\\\\app\\\\SHARED.dll\"=dword:00000002\r\n"));
  run = RunTool(args);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  // Without the package the counts are still held; a count that is missing is named so.
  ASSERT_TRUE(Put(s.File(L"machine.reg"), header + appKey));
  run = RunTool({L"verify", L"--root", s.File(L"root"), L"--install-log", s.File(L"log.dat"), L"--registry",
                 s.File(L"machine.reg")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.OutHas("SharedDLLs count is missing")) << run.out;
}

}  // namespace
