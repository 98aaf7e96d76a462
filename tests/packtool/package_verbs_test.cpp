// The package verbs: make builds a package the program's model reads back as intended; check
// finds each planted fault of a set of broken packages (one fault each) at its place and passes
// the good ones; plan lists the actions in the program's order with variables expanded.
#include <gtest/gtest.h>

#include "logs/install_log_cipher.h"
#include "package/diff_distribute.h"
#include "pack_test_support.h"
#include "packtool/cabinet.h"
#include "packtool/file_access.h"
#include "support/scratch.h"

using namespace brindle;
using namespace brindle::test;

namespace {

// Writes a file, creating its folders.
bool Put(const std::wstring& path, const std::string& bytes) { return pack::WriteFileBytes(path, bytes); }

const char kGoodDiff[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<DiffDistribute>\n"
    " <GeneralInfo><Version>1.1</Version><CheckAppName>app.exe</CheckAppName></GeneralInfo>\n"
    " <DeleteObjects>\n"
    "  <File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\old.txt</FullPath></File>\n"
    " </DeleteObjects>\n"
    " <UpdateObjects>\n"
    "  <File DelInfo=\"INST_DEL\"><FullPath>$InsFolder$\\lib.txt</FullPath><FileName>lib.txt</FileName></File>\n"
    " </UpdateObjects>\n"
    " <AddObjects>\n"
    "  <File DelInfo=\"INST_REF\"><FullPath>$InsFolder$\\sub\\new.txt</FullPath><FileName>sub\\new.txt</FileName></File>\n"
    "  <Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">Software\\Tamek\\App</RegKeyPath>"
    "<RegValueName>Count</RegValueName><RegData Type=\"REG_DW\">0x10</RegData></Registry>\n"
    "  <ShortCut><SCName Type=\"INST_GSC\">Tamek\\App</SCName><FullPath Type=\"SCTarget\">$InsFolder$\\app.exe</FullPath>"
    "<WindowSize Type=\"INST_MAX\"/></ShortCut>\n"
    " </AddObjects>\n"
    " <CustomFunction><FileName Type=\"BeforeUpdate\">hook.dll</FileName></CustomFunction>\n"
    "</DiffDistribute>\n";

// A package folder with the good diff.xml (or a variant), its files, a hook and the
// uninstaller files beside it.
class CheckFixture : public ::testing::Test {
 protected:
  void Lay(const std::string& diff) { Lay(diff, package_.Path()); }
  static void Lay(const std::string& diff, const std::wstring& p) {
    ASSERT_TRUE(Put(p + L"/pkg/diff.xml", diff));
    ASSERT_TRUE(Put(p + L"/pkg/INST/lib.txt", "lib"));
    ASSERT_TRUE(Put(p + L"/pkg/INST/sub/new.txt", "new"));
    ASSERT_TRUE(Put(p + L"/pkg/CUSTOM/hook.dll", PeLibrary({"Update_BeforeUpdate"})));
    for (const wchar_t* f : {L"setup.dll", L"Uninst.exe"})
      ASSERT_TRUE(Put(p + L"/ZNQ/INSTALL/COMMON/" + f, "x"));
    ASSERT_TRUE(Put(p + L"/ZNQ/INSTALL/COMMON/UninsVer.txt", "7.1\r\n"));
    ASSERT_TRUE(Put(p + L"/ZNQ/INSTALL/ENGLISH/UninstRsc.dll", "r"));
  }
  ToolRun Check(const std::wstring& base = L"") {
    return RunTool({L"check", (base.empty() ? package_.Path() : base) + L"/pkg"});
  }
  static std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }
  ScratchFolder package_;
};

// The good package (files, registry values, shortcuts, hooks) passes without a finding.
TEST_F(CheckFixture, TheGoodPackagePasses) {
  Lay(kGoodDiff);
  ToolRun run = Check();
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_TRUE(run.OutHas("0 error(s), 0 warning(s)")) << run.out;
}

TEST_F(CheckFixture, EachPlantedFaultIsFoundAtItsPlace) {
  struct Fault {
    std::string from, to;
    std::string finding;  // expected text of the finding line (with its line number)
  };
  const Fault faults[] = {
      {"DelInfo=\"INST_DEL\" WOW", "DelInfo=\"INST_DELETE\" WOW",
       "diff.xml:5: error: DelInfo=\"INST_DELETE\" is not a token"},
      {"DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"", "DelInfo=\"INST_DEL\" WOW=\"INST_64bit\"",
       "diff.xml:5: error: WOW=\"INST_64bit\" is not a token the program knows (INST_32BIT or "
       "INST_64BIT; exact letter case): it reads as INST_32BIT (did you mean INST_64BIT?)"},
      {"Type=\"REG_DW\">0x10", "Type=\"REG_DW\">12abc",
       "diff.xml:12: error: REG_DW data \"12abc\" is not a number"},
      {"Type=\"REG_DW\">0x10", "Type=\"REG_sz\">0x10", "diff.xml:12: error: Type=\"REG_sz\" is not a token"},
      {"Type=\"REG_DW\">0x10", "Type=\"REG_MULTI_SZ\">a",
       "diff.xml:12: error: the program has no conversion"},
      {"Type=\"REG_DW\">0x10", ("Type=\"REG_SZ\">" + std::string(500, 'x')),
       "diff.xml:12: error: the string has 500 characters"},
      {"<FileName>sub\\new.txt", "<FileName>sub\\..\\..\\new.txt",
       "diff.xml:11: error: FileName \"sub\\..\\..\\new.txt\" is not a safe name"},
      {"<FileName>lib.txt", "<FileName>missing.txt",
       "diff.xml:8: error: INST\\missing.txt is not in the package"},
      {"$InsFolder$\\old.txt", "$InsFolder$\\..\\..\\Windows\\old.txt",
       "diff.xml:5: error: FullPath \"$InsFolder$\\..\\..\\Windows\\old.txt\" climbs out"},
      {"$InsFolder$\\old.txt", "$InstFolder$\\old.txt",
       "diff.xml:5: error: FullPath: $InstFolder$ is not a variable"},
      {"$InsFolder$\\old.txt", "C:\\x\\old.txt:evil",
       "diff.xml:5: error: FullPath \"C:\\x\\old.txt:evil\" has a colon"},
      {"<FullPath>$InsFolder$\\lib.txt", ("<FullPath>$InsFolder$\\" + std::string(260, 'a')),
       "diff.xml:8: error: FullPath has 272 characters"},
      {"hook.dll</FileName>", "hook2.dll</FileName>",
       "diff.xml:15: error: CUSTOM\\hook2.dll is not in the package"},
      {"Type=\"BeforeUpdate\">hook.dll", "Type=\"AfterUpdate\">hook.dll",
       "diff.xml:15: error: CUSTOM\\hook.dll does not export Update_AfterUpdate"},
      {"Type=\"BeforeUpdate\"", "Type=\"beforeupdate\"", "diff.xml:15: error: a hook FileName needs Type"},
      {"<Version>1.1</Version>", "<Version></Version>",
       "diff.xml:3: error: the version after the update is empty"},
      {"<SCName Type=\"INST_GSC\">Tamek\\App", "<SCName Type=\"INST_GSC\">C:\\Tamek\\App",
       "diff.xml:13: error: SCName \"C:\\Tamek\\App\" is not a safe name"},
      {"<FullPath Type=\"SCTarget\">", "<FullPath Type=\"Target\">",
       "diff.xml:13: error: the shortcut has no FullPath with Type \"SCTarget\""},
      {" <AddObjects>\n",
       " <AddObjects>\n  <File><FullPath>$InsFolder$\\sub\\new.txt</FullPath><FileName>sub\\new.txt</FileName></File>\n",
       "diff.xml:12: error: a second record for \"$InsFolder$\\sub\\new.txt\" in AddObjects"},
      {"<DiffDistribute>", "<diffdistribute>", "error: the root element must be DiffDistribute"},
      {"</DiffDistribute>", "", "error: the program's XML parser cannot load diff.xml"},
  };
  for (const Fault& fault : faults) {
    std::string diff = kGoodDiff;
    if (fault.finding.find("root element") != std::string::npos)
      diff = Replace(Replace(diff, "<DiffDistribute>", "<diffdistribute>"), "</DiffDistribute>",
                     "</diffdistribute>");
    else diff = Replace(diff, fault.from, fault.to);
    ScratchFolder fresh;
    Lay(diff, fresh.Path());
    ToolRun run = Check(fresh.Path());
    EXPECT_EQ(run.exitCode, 1) << fault.finding << "\n" << run.out;
    EXPECT_TRUE(run.OutHas(fault.finding)) << fault.finding << "\n" << run.out;
  }
}

TEST_F(CheckFixture, MissingUninstallerFilesAndUnsafeCabinetEntriesFailTheCheck) {
  Lay(kGoodDiff);
  const std::wstring p = package_.Path();
  ASSERT_TRUE(RemoveTree(p + L"/ZNQ/INSTALL/COMMON/Uninst.exe"));
  ToolRun run = Check();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.OutHas("INSTALL\\COMMON\\Uninst.exe is missing")) << run.out;
  ASSERT_TRUE(Put(p + L"/ZNQ/INSTALL/COMMON/Uninst.exe", "x"));
  // A language without its folder falls back to ENGLISH, which must then hold the resources.
  EXPECT_EQ(RunTool({L"check", p + L"/pkg", L"--lang", L"fr"}).exitCode, 0);
  ASSERT_TRUE(RemoveTree(p + L"/ZNQ/INSTALL/ENGLISH"));
  run = RunTool({L"check", p + L"/pkg", L"--lang", L"fr"});
  EXPECT_TRUE(run.OutHas("INSTALL\\ENGLISH\\UninstRsc.dll is missing")) << run.out;
  ASSERT_TRUE(Put(p + L"/ZNQ/INSTALL/ENGLISH/UninstRsc.dll", "r"));

  // The same package as a cabinet, with one entry that climbs out of the extraction folder.
  std::vector<pack::CabinetEntry> entries = {{L"diff.xml", p + L"/pkg/diff.xml"},
                                             {L"INST\\lib.txt", p + L"/pkg/INST/lib.txt"},
                                             {L"INST\\sub\\new.txt", p + L"/pkg/INST/sub/new.txt"},
                                             {L"CUSTOM\\hook.dll", p + L"/pkg/CUSTOM/hook.dll"}};
  std::wstring reason;
  ASSERT_TRUE(pack::WriteCabinet(p + L"/good.DIFF", entries, reason)) << Utf8FromWide(reason);
  run = RunTool({L"check", p + L"/good.DIFF"});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  entries.push_back({L"..\\evil.txt", p + L"/pkg/INST/lib.txt"});
  ASSERT_TRUE(pack::WriteCabinet(p + L"/bad.DIFF", entries, reason)) << Utf8FromWide(reason);
  run = RunTool({L"check", p + L"/bad.DIFF"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.OutHas("cabinet entry \"..\\evil.txt\" is not a safe relative name")) << run.out;
  EXPECT_FALSE(FileExists(p + L"/evil.txt"));
}

// Two generated application folders: make's package, read back by the program's model, holds
// the intended records, the files under INST and the extra records; check passes it.
TEST(PackMake, ThePackageReadsBackAsTheDifferenceOfTheFolders) {
  ScratchFolder s;
  const std::wstring o = s.File(L"old"), n = s.File(L"new");
  ASSERT_TRUE(Put(o + L"/same.txt", "same"));
  ASSERT_TRUE(Put(n + L"/same.txt", "same"));
  ASSERT_TRUE(Put(o + L"/Bin/Tool.exe", PeLibrary({}, 0x00010000)));
  ASSERT_TRUE(Put(n + L"/bin/tool.exe", PeLibrary({}, 0x00020003)));  // other case: same file
  ASSERT_TRUE(Put(o + L"/gone.txt", "gone"));
  ASSERT_TRUE(Put(n + L"/sub/deep/added.txt", "added"));
  ASSERT_TRUE(Put(n + L"/sub/caf\u00e9.txt", "cafe"));
  for (const wchar_t* f : {L"setup.dll", L"Uninst.exe"})
    ASSERT_TRUE(Put(s.File(L"znq/INSTALL/COMMON/") + f, "x"));
  ASSERT_TRUE(Put(s.File(L"znq/INSTALL/COMMON/UninsVer.txt"), "7.1"));
  ASSERT_TRUE(Put(s.File(L"znq/INSTALL/ENGLISH/UninstRsc.dll"), "r"));
  ASSERT_TRUE(Put(s.File(L"before.dll"), PeLibrary({"Update_BeforeUpdate"})));
  ASSERT_TRUE(Put(s.File(L"extra.ini"),
                  "# registry and shortcut\n[registry]\nkey = Software\\Tamek\\App\n"
                  "name = Count\ntype = REG_DW\ndata = 7\n[shortcut]\nname = Tamek\\App\n"
                  "target = $InsFolder$\\bin\\tool.exe\n[hooks]\nbefore = before.dll\n"
                  "[uninstall targets]\ntarget = C:\\Other\\uninst.ini\n"));
  ToolRun run =
      RunTool({L"make", o, n, L"-o", s.File(L"out/app.DIFF"), L"--version-from", L"bin/tool.exe", L"--extra",
               s.File(L"extra.ini"), L"--znq", s.File(L"znq"), L"--display-name", L"Sample"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.OutHas("update bin\\tool.exe (1.0.0.0 -> 2.3.0.0)")) << run.out;
  EXPECT_TRUE(run.OutHas("delete gone.txt"));

  std::vector<std::wstring> names;
  std::wstring reason;
  ASSERT_TRUE(pack::ReadCabinet(s.File(L"out/app.DIFF"), s.File(L"x"), names, reason));
  auto model = LoadDiffDistribute(s.File(L"x/diff.xml"));
  ASSERT_TRUE(model);
  EXPECT_EQ(model->generalInfo->version.text, L"2.3.0.0");
  EXPECT_EQ(model->generalInfo->checkAppNames, std::vector<std::wstring>{L"tool.exe"});
  ASSERT_EQ(model->deleteObjects->files.size(), 1u);
  EXPECT_EQ(model->deleteObjects->files[0]->Path(), L"$InsFolder$\\gone.txt");
  ASSERT_EQ(model->updateObjects->files.size(), 1u);
  EXPECT_EQ(model->updateObjects->files[0]->Path(), L"$InsFolder$\\bin\\tool.exe");
  ASSERT_EQ(model->addObjects->files.size(), 2u);
  std::string bytes;
  for (const auto& f : model->addObjects->files) {
    // Each named INST file is in the cabinet with the bytes of NEW's file.
    ASSERT_TRUE(f->fileName);
    ASSERT_TRUE(ReadBytes(s.File(L"x/INST/") + f->fileName->name, bytes)) << Utf8FromWide(f->fileName->name);
    EXPECT_TRUE(bytes == "added" || bytes == "cafe");
    for (wchar_t c : f->fileName->name) EXPECT_LT(c, 0x80);  // names in the cabinet stay ASCII
  }
  EXPECT_EQ(model->addObjects->files[0]->Path(), L"$InsFolder$\\sub\\caf\u00e9.txt");
  ASSERT_EQ(model->addObjects->registries.size(), 1u);
  EXPECT_EQ(model->addObjects->registries[0]->data.type, kRegDword);
  ASSERT_EQ(model->addObjects->shortCuts.size(), 1u);
  EXPECT_EQ(model->addObjects->shortCuts[0]->name.type, kShortcutGroup);
  EXPECT_EQ(model->addObjects->uninstTarget.targets, std::vector<std::wstring>{L"C:\\Other\\uninst.ini"});
  EXPECT_EQ(model->customFunction->beforeUpdate.name, L"before.dll");
  EXPECT_EQ(model->updateObjects->displayName.name, L"Sample");
  EXPECT_TRUE(FileExists(s.File(L"out/ZNQ/INSTALL/COMMON/UninsVer.txt")));  // beside the package
  ToolRun check = RunTool({L"check", s.File(L"out/app.DIFF")});
  EXPECT_EQ(check.exitCode, 0) << check.out;
}

TEST(PackMake, ErrorsInTheDeclarativeFileNameItsLine) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  ASSERT_TRUE(Put(s.File(L"extra.ini"),
                  "[registry]\nkey = Software\\X\ntype = REG_WORD\n[registry]\nkey = K\n"
                  "type = REG_DW\ndata = 12x\n[shortcuts]\n"));
  ToolRun run = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version",
                         L"2", L"--extra", s.File(L"extra.ini")});
  EXPECT_EQ(run.exitCode, 1);
  const std::string extra = Utf8FromWide(s.File(L"extra.ini"));
  EXPECT_TRUE(run.ErrHas(extra + ":8: error: unknown section [shortcuts] (did you mean shortcut?)"))
      << run.err;
  EXPECT_FALSE(FileExists(s.File(L"p.DIFF")));
  ASSERT_TRUE(Put(s.File(L"extra.ini"),
                  "[registry]\nkey = Software\\X\ntype = REG_WORD\n[registry]\nkey = K\n"
                  "type = REG_DW\ndata = 12x\n"));
  run = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version", L"2",
                 L"--extra", s.File(L"extra.ini")});
  EXPECT_TRUE(run.ErrHas(extra + ":3: error: type = REG_WORD is not one of")) << run.err;
  EXPECT_TRUE(run.ErrHas(extra + ":7: error: REG_DW data \"12x\" is not a number the program converts"))
      << run.err;
  EXPECT_EQ(RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF")}).exitCode, 2);
}

// plan: the actions in the program's order, variables expanded from the install log, a file
// the program would not copy shown as skipped, a refused registry record with its line (the
// program writes it, with error 13), and the registry pass stopping where the program's would.
TEST(PackPlan, ListsTheActionsInTheProgramsOrder) {
  ScratchFolder s;
  const std::string diff =
      "<DiffDistribute><GeneralInfo><Version>1.1</Version></GeneralInfo>"
      "<AddObjects><File><FullPath>$InsFolder$\\kept.txt</FullPath><FileName>kept.txt</FileName></File>"
      "<Registry><RegKeyPath RegRoot=\"REG_HLM\">Software\\$Region$</RegKeyPath><RegData Type=\"REG_SZ\">a</RegData></Registry>"
      "<Registry><RegKeyPath>Software\\Bad</RegKeyPath><RegData Type=\"REG_BINARY\">00</RegData></Registry>"
      "<Registry><RegKeyPath>Software\\After</RegKeyPath><RegData Type=\"REG_SZ\">b</RegData></Registry>"
      "<ShortCut><SCName Type=\"INST_DSC\">App</SCName><FullPath Type=\"SCTarget\">$InsFolder$\\a.exe</FullPath></ShortCut>"
      "</AddObjects>"
      "<UpdateObjects><File><FullPath>$InsFolder$\\lib.txt</FullPath><FileName>lib.txt</FileName></File></UpdateObjects>"
      "<DeleteObjects><File><FullPath>$ProgFolder$\\Old\\x.txt</FullPath></File>"
      "<ShortCut><SCName Type=\"INST_GSC\">Tamek\\Old</SCName></ShortCut></DeleteObjects>"
      "</DiffDistribute>";
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"), diff));
  ASSERT_TRUE(Put(s.File(L"pkg/INST/kept.txt"), "package"));
  ASSERT_TRUE(Put(s.File(L"pkg/INST/lib.txt"), "lib"));
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>Other</AppName></AppLocal><AppLocal>"
                  "<AppName>App</AppName><FullPath>C:\\Apps\\App</FullPath><Region Region=\"EU\"/>"
                  "<UninstLog>C:\\Apps\\App\\uninst.ini</UninstLog></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  // The installed kept.txt is newer than the package's: the program would skip it.
  ASSERT_TRUE(Put(s.File(L"root/Apps/App/kept.txt"), "installed"));

  ToolRun noApp = RunTool({L"plan", s.File(L"pkg"), L"--install-log", s.File(L"log.dat")});
  EXPECT_EQ(noApp.exitCode, 1);
  EXPECT_TRUE(noApp.ErrHas("name the application with --app (the log holds: Other, App)")) << noApp.err;

  ToolRun run = RunTool({L"plan", s.File(L"pkg"), L"--install-log", s.File(L"log.dat"), L"--app", L"App",
                         L"--root", s.File(L"root")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> actions;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("# ", 0) != 0) actions.push_back(line);
  const std::vector<std::string> expected = {
      "DELETE_SHORTCUT C:/ProgramData/Microsoft/Windows/Start Menu/Programs/Tamek/Old.lnk",
      "DELETE_FILE C:\\Program Files (x86)\\Old\\x.txt",
      "UPDATE_FILE_DELETE C:\\Apps\\App\\lib.txt",
      "UPDATE_FILE_ADD C:\\Apps\\App\\lib.txt",
      "ADD_REG Software\\EU",
      "ADD_REG Software\\Bad",
      "ADD_REG Software\\After"};
  EXPECT_EQ(actions, expected) << run.out;
  EXPECT_TRUE(run.OutHas("# skipped, no action line: ADD_FILE C:\\Apps\\App\\kept.txt")) << run.out;
  EXPECT_TRUE(run.OutHas("# the record of Software\\Bad is refused")) << run.out;
  EXPECT_TRUE(run.OutHas("# the package fails at the end of this pass")) << run.out;
  // Files in use cannot be foreseen: one note says what their lines then say.
  EXPECT_TRUE(run.OutHas("# a file in use when the program runs")) << run.out;
}

// plan names the system's folders as the system gives them to the program: below --root the
// folder on that disk with its own letter case (Wine's drive C has "windows" and "users"), else
// the usual folder of Windows. Shortcuts are named by the common folders so found, joined as the
// program's join does, with '/'.
TEST(PackPlan, SystemFoldersAndShortcutsAreNamedWithTheCaseOfTheFoldersBelowTheRoot) {
  ScratchFolder s;
  const std::string diff =
      "<DiffDistribute><GeneralInfo><Version>1.1</Version></GeneralInfo>"
      "<DeleteObjects><File><FullPath>$WinFolder$\\x.dll</FullPath></File>"
      "<File WOW=\"INST_64BIT\"><FullPath>$SysFolder64$\\y.dll</FullPath></File>"
      "<ShortCut><SCName Type=\"INST_GSC\">Tamek\\Old</SCName></ShortCut></DeleteObjects>"
      "<AddObjects><ShortCut><SCName Type=\"INST_DSC\">App</SCName><FullPath Type=\"SCTarget\">"
      "$InsFolder$\\a.exe</FullPath></ShortCut></AddObjects></DiffDistribute>";
  ASSERT_TRUE(Put(s.File(L"pkg/diff.xml"), diff));
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName><FullPath>C:\\Apps\\App</FullPath>"
                  "<UninstLog>C:\\Apps\\App\\uninst.ini</UninstLog></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  ASSERT_TRUE(Put(s.File(L"wine/users/Public/Desktop/desktop.ini"), ""));
  ASSERT_TRUE(Put(s.File(L"wine/programdata/Microsoft/Windows/Start Menu/Programs/desktop.ini"), ""));
  ASSERT_TRUE(Put(s.File(L"wine/windows/system32/kernel32.dll"), ""));
  ASSERT_TRUE(Put(s.File(L"bare/Apps/App/uninst.ini"), ""));

  const std::vector<std::pair<std::wstring, std::vector<std::string>>> cases = {
      {L"wine",
       {"DELETE_SHORTCUT C:/programdata/Microsoft/Windows/Start Menu/Programs/Tamek/Old.lnk",
        "DELETE_FILE C:\\windows\\x.dll", "DELETE_FILE C:\\windows\\system32\\y.dll",
        "ADD_SHORTCUT C:/users/Public/Desktop/App.lnk"}},
      {L"bare",
       {"DELETE_SHORTCUT C:/ProgramData/Microsoft/Windows/Start Menu/Programs/Tamek/Old.lnk",
        "DELETE_FILE C:\\Windows\\x.dll", "DELETE_FILE C:\\Windows\\system32\\y.dll",
        "ADD_SHORTCUT C:/Users/Public/Desktop/App.lnk"}}};
  for (const auto& [root, want] : cases) {
    ToolRun run =
        RunTool({L"plan", s.File(L"pkg"), L"--install-log", s.File(L"log.dat"), L"--root", s.File(root)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> actions;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("# ", 0) != 0 && line.rfind("UPDATE_ZNQ_UNINSTLOG", 0) != 0) actions.push_back(line);
    EXPECT_EQ(actions, want) << run.out;
  }
}

}  // namespace
