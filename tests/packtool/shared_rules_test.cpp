// brindle-pack against the program, rule by rule, on the same inputs: registry numbers, the
// variable table, the element and attribute names the package reader knows, the uninstaller's
// version word. Each verdict of the tool (check, make, plan) must be the program's own.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "apply/registry_data.h"
#include "logs/install_log.h"
#include "package/diff_distribute.h"
#include "package/diff_elements.h"
#include "package/uninstaller_files.h"
#include "pack_test_support.h"
#include "packtool/file_access.h"
#include "packtool/package_check.h"
#include "support/scratch.h"
#include "logs/application_env.h"
#include "sys/env.h"
#include "sys/text.h"
#include "xml/xml_parser.h"

using namespace brindle;
using namespace brindle::test;

namespace {

bool Put(const std::wstring& path, const std::string& bytes) { return pack::WriteFileBytes(path, bytes); }

// A package folder holding one diff.xml, with the uninstaller files beside it.
void LayPackage(const std::wstring& root, const std::string& diff, const std::string& uninsVer = "7.1\r\n") {
  ASSERT_TRUE(Put(root + L"/pkg/diff.xml", diff));
  for (const std::wstring& f : UninstallerCommonFiles())
    ASSERT_TRUE(Put(root + L"/ZNQ/INSTALL/COMMON/" + f, "x"));
  ASSERT_TRUE(Put(root + L"/ZNQ/INSTALL/COMMON/UninsVer.txt", uninsVer));
  ASSERT_TRUE(Put(root + L"/ZNQ/INSTALL/ENGLISH/UninstRsc.dll", "r"));
}

std::string RegistryDiff(const std::string& type, const std::string& data) {
  return "<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo><AddObjects>"
         "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">Software\\T</RegKeyPath>"
         "<RegValueName>V</RegValueName><RegData Type=\"" +
         type + "\">" + data + "</RegData></Registry></AddObjects></DiffDistribute>";
}

// The numbers a package author may write as REG_DW data: check, make and plan refuse exactly
// those the program's conversion refuses (signs, blanks, negatives, junk, too large).
TEST(PackSharedRules, RegistryNumbersAreRefusedExactlyWhenTheProgramRefusesThem) {
  const std::vector<std::string> numbers = {
      "0x10", "010", "0",  "4294967295", "0xFFFFFFFF",  "0X1f",  "+5",  "-1",  " 5", "5 ",
      "",     "0x",  "08", "4294967296", "0x100000000", "12abc", "1e3", "\t7", "-0", "0x-1"};
  ScratchFolder s;
  const std::wstring log = s.File(L"log.dat");
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName>"
                  "<FullPath>C:\\App</FullPath></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", log}).exitCode, 0);
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/a.txt"), "b"));
  for (const std::wstring& f : UninstallerCommonFiles())
    ASSERT_TRUE(Put(s.File(L"znq/INSTALL/COMMON/") + f, "7.1"));
  ASSERT_TRUE(Put(s.File(L"znq/INSTALL/ENGLISH/UninstRsc.dll"), "r"));
  int n = 0;
  for (const std::string& number : numbers) {
    SCOPED_TRACE("REG_DW data \"" + number + "\"");
    RegistryValueBytes bytes;
    const bool programConverts = ConvertRegistryData(kRegDword, WideFromUtf8(number), bytes);
    const std::wstring root = s.File(L"c" + std::to_wstring(++n));
    LayPackage(root, RegistryDiff("REG_DW", number));
    ToolRun check = RunTool({L"check", root + L"/pkg"});
    EXPECT_EQ(check.exitCode == 0, programConverts) << check.out;
    EXPECT_EQ(check.OutHas("is not a number the program converts"), !programConverts) << check.out;
    EXPECT_FALSE(check.OutHas("warning:")) << check.out;  // a verdict, never a mere warning

    ToolRun plan = RunTool({L"plan", root + L"/pkg", L"--install-log", log});
    EXPECT_EQ(plan.OutHas("is refused (its data does not convert)"), !programConverts) << plan.out;
    // The program writes the record's line either way; a refused one's says error 13.
    EXPECT_TRUE(plan.OutHas("ADD_REG Software\\T\n")) << plan.out;
    EXPECT_EQ(plan.OutHas("its line says error 13"), !programConverts) << plan.out;

    // make reads the declarative file's values trimmed: blanks cannot reach it.
    if (number.find_first_of(" \t") != std::string::npos) continue;
    ASSERT_TRUE(
        Put(s.File(L"extra.ini"), "[registry]\nkey = Software\\T\ntype = REG_DW\ndata = " + number + "\n"));
    ToolRun make = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", root + L"/m.DIFF", L"--version",
                            L"2", L"--extra", s.File(L"extra.ini"), L"--znq", s.File(L"znq")});
    EXPECT_EQ(make.exitCode == 0, programConverts) << make.err;
  }
}

// Every name of the program's table is known to the tool, every other $Name$ is reported:
// exactly the names the program's expansion leaves in the text.
TEST(PackSharedRules, VariablesAreKnownExactlyWhenTheProgramExpandsThem) {
  MachineFolders machine;
  machine.progFolder = machine.progFolder64 = L"P";
  machine.winFolder = machine.sysFolder = machine.sysFolder64 = L"W";
  machine.sysDrive = L"C:";
  machine.commonFiles = L"F";
  CQXInstallLog log;
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = L"App";
  entry->FullPath = L"I";
  entry->UninstLog = L"U";
  entry->Region.region = L"R";
  entry->Lang.code = L"fr";
  entry->Lang.languageId = L"1036";
  entry->PvkURL = L"V";
  log.entries.push_back(std::move(entry));
  CQXDiffDistribute package;
  const CQXEnv env = ApplicationEnv(machine, L"App", &log, &package, L"7.1");

  std::vector<std::wstring> names = VariableNames();
  for (const wchar_t* other : {L"$INSFOLDER$", L"$insfolder$", L"$InstFolder$", L"$InstallTime$", L"$Foo$",
                               L"$ProgFolder32$", L"$Region_$"})
    names.push_back(other);
  for (const std::wstring& name : names) {
    SCOPED_TRACE(Utf8FromWide(name));
    const bool programExpands = env.Expand(L"x" + name + L"y") != L"x" + name + L"y";
    EXPECT_EQ(pack::UnknownVariables(name, false).empty(), programExpands);
  }
  // The registry data alone takes $InstallTime$, which the registry actions replace.
  EXPECT_TRUE(pack::UnknownVariables(L"$InstallTime$", true).empty());
  EXPECT_NE(ReplaceInstallTimeWith(L"$InstallTime$", 5), L"$InstallTime$");
  // A misspelt name is reported with the name the author meant.
  EXPECT_EQ(pack::VariableSuggestion(L"$INSFOLDER$", false), L" (did you mean $InsFolder$?)");
  EXPECT_EQ(pack::VariableSuggestion(L"$UninsExee$", false), L" (did you mean $UninsExe$?)");
  EXPECT_EQ(pack::VariableSuggestion(L"$Banana$", false), L"");
}

// A package that holds every element and attribute the reader knows, each with a value that
// is not a default, so that losing any of them changes what the program reads.
const char kEveryElement[] =
    "<DiffDistribute>\n"
    "<GeneralInfo><Version>2</Version><CheckAppName>a.exe</CheckAppName></GeneralInfo>\n"
    "<DeleteObjects>"
    "<File COM=\"INST_REG\" DelInfo=\"INST_HLD\" WOW=\"INST_64BIT\"><FullPath Type=\"SCTarget\">$InsFolder$\\d.dll</FullPath></File>"
    "<Registry WOW=\"INST_64BIT\"><RegKeyPath RegRoot=\"REG_HCU\">Software\\D</RegKeyPath><RegValueName>N</RegValueName><RegData Type=\"REG_SZ\">x</RegData></Registry>"
    "<ShortCut><SCName Type=\"INST_GSC\">D</SCName></ShortCut>"
    "<UninstTarget><UNInfo>C:\\d.ini</UNInfo></UninstTarget></DeleteObjects>\n"
    "<AddObjects>"
    "<File DelInfo=\"INST_REF\"><FullPath>$InsFolder$\\a.txt</FullPath><FileName Type=\"AfterUpdate\">a.txt</FileName></File>"
    "<ShortCut><SCName Type=\"INST_GSC\">A</SCName><FullPath Type=\"SCTarget\">$InsFolder$\\a.exe</FullPath>"
    "<CLParameter>/p</CLParameter><FullPath Type=\"WorkFolder\">$InsFolder$</FullPath>"
    "<WindowSize Type=\"INST_MAX\"></WindowSize><Text>t</Text></ShortCut>"
    "<RecordAliasHandle><KVTAppName>K</KVTAppName><FullPath Type=\"WorkFolder\">C:\\k</FullPath></RecordAliasHandle>"
    "<Dock>d</Dock><LSRegisterApp>l</LSRegisterApp><ImageCapture>i</ImageCapture>"
    "<UninstTarget><UNInfo>C:\\a.ini</UNInfo></UninstTarget></AddObjects>\n"
    "<UpdateObjects>"
    "<RecordAliasHandle><KVTAppName>U</KVTAppName><FullPath>C:\\u</FullPath></RecordAliasHandle>"
    "<Signature>s</Signature><DisplayName>New</DisplayName>"
    "<UninstallCustomFunction><Uninstall_Abort Flag=\"1\"></Uninstall_Abort><Uninstall_AfterUninstall Flag=\"1\"></Uninstall_AfterUninstall>"
    "<Uninstall_BeforeUninstall Flag=\"1\"></Uninstall_BeforeUninstall><Uninstall_CheckRunning Flag=\"1\"></Uninstall_CheckRunning>"
    "<Uninstall_CheckCondition Flag=\"1\"></Uninstall_CheckCondition><Uninstall_End Flag=\"1\"></Uninstall_End>"
    "<Uninstall_StartUp Flag=\"1\"></Uninstall_StartUp><FullPath Type=\"SCTarget\">C:\\c.dll</FullPath><Version>3</Version>"
    "</UninstallCustomFunction></UpdateObjects>\n"
    "<CustomFunction><FileName Type=\"BeforeUpdate\">b.dll</FileName><FileName Type=\"AfterUpdate\">c.dll</FileName></CustomFunction>\n"
    "</DiffDistribute>\n";

// What the program's model reads from the text, written back as text.
std::wstring ReadByTheProgram(const std::string& text) {
  std::unique_ptr<CXMLDocument> document = GetXMLParser()->LoadXML(WideFromUtf8(text));
  if (!document) return L"(not loaded)";
  CQXDiffDistribute model;
  if (model.FromXML(document->GetRoot()) != 0) return L"(refused)";
  std::wstring written;
  GetXMLParser()->GetXML(NewDocument(model.ToXML()).get(), written);
  return written;
}

// The element and attribute names: for each one the package holds, the tool treats it as known
// exactly when the program's reader reads it (renaming it changes what the program reads).
TEST(PackSharedRules, ElementsAndAttributesAreKnownExactlyWhenTheProgramReadsThem) {
  const std::string every = kEveryElement;
  // The package above holds every name of the reader's table.
  const std::regex startTag("<([A-Za-z_]+)[ >]"), attribute(" ([A-Za-z]+)=\"");
  std::set<std::string> inText;
  for (auto it = std::sregex_iterator(every.begin(), every.end(), startTag); it != std::sregex_iterator();
       ++it)
    inText.insert((*it)[1].str());
  for (const auto& [name, shape] : DiffElementShapes()) {
    EXPECT_TRUE(inText.count(Utf8FromWide(name))) << Utf8FromWide(name);
    for (const std::wstring& attribute : shape.attributes)
      EXPECT_NE(every.find(" " + Utf8FromWide(attribute) + "=\""), std::string::npos)
          << Utf8FromWide(attribute);
  }
  const std::wstring original = ReadByTheProgram(every);
  ScratchFolder s;
  {
    LayPackage(s.Path(), every);
    ToolRun run = RunTool({L"check", s.File(L"pkg")});
    EXPECT_FALSE(run.OutHas("is ignored by the program")) << run.out;
    EXPECT_FALSE(run.OutHas("is not read by the program")) << run.out;
  }
  // Each start tag renamed in turn (its end tag with it), then each attribute.
  std::vector<std::pair<size_t, std::string>> tags, attributes;
  for (auto it = std::sregex_iterator(every.begin(), every.end(), startTag); it != std::sregex_iterator();
       ++it)
    if ((*it)[1].str() != "DiffDistribute")
      tags.push_back({static_cast<size_t>(it->position(1)), (*it)[1].str()});
  for (auto it = std::sregex_iterator(every.begin(), every.end(), attribute); it != std::sregex_iterator();
       ++it)
    attributes.push_back({static_cast<size_t>(it->position(1)), (*it)[1].str()});
  int n = 0;
  auto probe = [&](const std::string& changed, const std::string& what, const char* warning) {
    SCOPED_TRACE(what);
    const bool programReads = ReadByTheProgram(changed) != original;
    const std::wstring root = s.File(L"p" + std::to_wstring(++n));
    LayPackage(root, changed);
    ToolRun run = RunTool({L"check", root + L"/pkg"});
    EXPECT_TRUE(programReads);
    EXPECT_TRUE(run.OutHas(warning)) << run.out;
  };
  for (const auto& [at, name] : tags) {
    std::string changed = every;
    const size_t end = changed.find("</" + name + ">", at);
    ASSERT_NE(end, std::string::npos);
    changed.replace(end + 2, name.size(), "Q" + name);
    changed.replace(at, name.size(), "Q" + name);
    probe(changed, "element " + name, ("element Q" + name).c_str());
  }
  for (const auto& [at, name] : attributes) {
    std::string changed = every;
    changed.replace(at, name.size(), "Q" + name);
    probe(changed, "attribute " + name, ("attribute Q" + name + " is not read").c_str());
  }
}

// The uninstaller's version word: check refuses the files exactly when the program would
// refuse the version (and fail the update), and plan names the program's word.
TEST(PackSharedRules, TheUninstallerVersionWordIsTheProgramsOwn) {
  const std::vector<std::string> texts = {"7.1\r\n",
                                          "\v\f 7.1 rest",
                                          "  8.0\tx",
                                          "",
                                          " \r\n",
                                          "../7",
                                          "a\\b",
                                          "con",
                                          std::string(65, '9'),
                                          "7:1",
                                          std::string("7.1\0x", 5)};
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName>"
                  "</AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  int n = 0;
  for (const std::string& text : texts) {
    SCOPED_TRACE("UninsVer.txt \"" + text + "\"");
    std::wstring version;
    const bool programTakes = UninstallerVersionFromText(text, version);
    const std::wstring root = s.File(L"u" + std::to_wstring(++n));
    LayPackage(root, "<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo></DiffDistribute>",
               text);
    ToolRun check = RunTool({L"check", root + L"/pkg"});
    EXPECT_EQ(check.exitCode == 0, programTakes) << check.out;
    EXPECT_EQ(check.OutHas("UninsVer.txt's first word"), !programTakes) << check.out;
    if (!programTakes) continue;
    ToolRun plan = RunTool({L"plan", root + L"/pkg", L"--install-log", s.File(L"log.dat")});
    EXPECT_TRUE(plan.OutHas("# uninstaller files " + Utf8FromWide(version) + " -> ")) << plan.out;
  }
}

}  // namespace

namespace {

std::string DeletedValue(const std::string& key, const std::string& section = "DeleteObjects",
                         const std::string& wow = "INST_32BIT") {
  return "<" + section + "><Registry WOW=\"" + wow + "\"><RegKeyPath RegRoot=\"REG_HLM\">" + key +
         "</RegKeyPath><RegValueName>V</RegValueName></Registry></" + section + ">";
}

}  // namespace

// A deleted value's line: with the machine's registry given, plan names the verb the program's
// own decision gives (DELETE_REG only when the key is left empty, and the key then gone for
// what follows); without it, the step's verb and a note.
TEST(PackSharedRules, ADeletedValuesVerbIsTheProgramsDecisionOnTheGivenRegistry) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName>"
                  "<FullPath>C:\\App</FullPath></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  LayPackage(s.Path(), "<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo>" +
                           DeletedValue("Software\\Only") + DeletedValue("Software\\Shared") +
                           DeletedValue("Software\\Missing") +
                           DeletedValue("Software\\Wide", "DeleteObjects", "INST_64BIT") +
                           DeletedValue("Software\\Kept", "UpdateObjects") + "</DiffDistribute>");
  // The export in UTF-16 with its mark, as "reg export" writes it: the 32-bit keys are below
  // WOW6432Node, the 64-bit one is not.
  const std::wstring exported =
      L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Only]\r\n\"v\"=\"1\"\r\n\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Shared]\r\n\"V\"=\"1\"\r\n\"W\"=dword:00000001\r\n\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide]\r\n\"V\"=\"1\"\r\n\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Kept]\r\n\"V\"=\"1\"\r\n";
  // Two exports joined byte for byte, each with its own mark, read as one.
  const size_t half = exported.find(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide]");
  ASSERT_TRUE(
      Put(s.File(L"machine.reg"),
          Utf16LeBytes(exported.substr(0, half)) +
              Utf16LeBytes(L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n" + exported.substr(half))));
  const std::vector<std::wstring> base = {L"plan", s.File(L"pkg"), L"--install-log", s.File(L"log.dat"),
                                          L"-q"};

  std::vector<std::wstring> args = base;
  args.insert(args.end(), {L"--registry", s.File(L"machine.reg")});
  ToolRun plan = RunTool(args);
  ASSERT_EQ(plan.exitCode, 0) << plan.out;
  std::string lines;
  for (const char* want : {"DELETE_REG Software\\Only\n", "UPDATE_REG_DELETE Software\\Shared\n",
                           "UPDATE_REG_DELETE Software\\Missing\n", "DELETE_REG Software\\Wide\n",
                           "UPDATE_REG_DELETE Software\\Kept\n"})
    lines += want;
  EXPECT_NE(plan.out.find(lines), std::string::npos) << plan.out;

  ToolRun blind = RunTool(base);
  EXPECT_TRUE(blind.OutHas("DELETE_REG Software\\Shared")) << blind.out;

  ASSERT_TRUE(Put(s.File(L"wrong.reg"),
                  "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\nV=1\r\n"));
  args = base;
  args.insert(args.end(), {L"--registry", s.File(L"wrong.reg")});
  ToolRun wrong = RunTool(args);
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_TRUE(wrong.ErrHas("wrong.reg:3:")) << wrong.err;
  args = base;
  args.insert(args.end(), {L"--registry", s.File(L"none.reg")});
  EXPECT_EQ(RunTool(args).exitCode, 2);
}

// Shared files on the given registry: plan says what the program's count decisions do (a count
// above one lowered and the file kept, a last count removed with the file, an add raising it),
// carried forward from one record to the next.
TEST(PackSharedRules, SharedCountsArePlannedByTheProgramsDecisionsOnTheGivenRegistry) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName>"
                  "<FullPath>C:\\App</FullPath></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  auto shared = [](const std::string& name) {
    return "<File DelInfo=\"INST_REF\"><FullPath>$InsFolder$\\" + name + "</FullPath><FileName>" + name +
           "</FileName></File>";
  };
  LayPackage(s.Path(), "<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo><DeleteObjects>" +
                           shared("many.dll") + shared("last.dll") + shared("none.dll") +
                           "</DeleteObjects><AddObjects>" + shared("many.dll") + shared("new.dll") +
                           "</AddObjects></DiffDistribute>");
  ASSERT_TRUE(Put(s.File(L"pkg/INST/many.dll"), "m"));
  ASSERT_TRUE(Put(s.File(L"pkg/INST/new.dll"), "n"));
  ASSERT_TRUE(
      Put(s.File(L"machine.reg"),
          "Windows Registry Editor Version 5.00\r\n\r\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]\r\n"
          "\"C:\\\\App\\\\many.dll\"=dword:00000003\r\n\"C:\\\\App\\\\last.dll\"=dword:00000001\r\n"));
  ToolRun plan = RunTool(
      {L"plan", s.File(L"pkg"), L"--install-log", s.File(L"log.dat"), L"--registry", s.File(L"machine.reg")});
  ASSERT_EQ(plan.exitCode, 0) << plan.err;
  const std::string out = plan.out;
  auto after = [&out](const std::string& action, const std::string& note) {
    const size_t at = out.find(action);
    return at != std::string::npos && out.find(note, at) == out.find("\n", at) + 1;
  };
  EXPECT_TRUE(after("DELETE_FILE C:\\App\\many.dll\n",
                    "#   shared (INST_REF): its SharedDLLs count goes from 3 to 2; the file stays"))
      << out;
  EXPECT_TRUE(after("DELETE_FILE C:\\App\\last.dll\n",
                    "#   shared (INST_REF): its last SharedDLLs count goes with the file"))
      << out;
  EXPECT_TRUE(after("DELETE_FILE C:\\App\\none.dll\n", "#   shared (INST_REF) without a SharedDLLs count"))
      << out;
  // The add sees the count the deletion left.
  EXPECT_TRUE(after("ADD_FILE C:\\App\\many.dll\n", "#   its SharedDLLs count becomes 3")) << out;
  EXPECT_TRUE(after("ADD_FILE C:\\App\\new.dll\n", "#   its SharedDLLs count becomes 1")) << out;
}

// An update of a shared file that the uninstall log does not list gives it a line, and the
// program raises its count with it; a listed one keeps its count. The log is read below --root
// as the run leaves it: a deletion of the delete section takes a file's line away first.
TEST(PackSharedRules, AnUpdatedSharedFileTheUninstallLogDoesNotListHasItsCountRaised) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"log.xml"),
                  "<AppLocalList><AppLocal><AppName>App</AppName><FullPath>C:\\App</FullPath>"
                  "<UninstLog>C:\\App\\uninst.ini</UninstLog></AppLocal></AppLocalList>"));
  ASSERT_EQ(RunTool({L"log", L"encode", s.File(L"log.xml"), L"-o", s.File(L"log.dat")}).exitCode, 0);
  auto file = [](const std::string& delInfo, const std::string& name) {
    return "<File DelInfo=\"" + delInfo + "\"><FullPath>$InsFolder$\\" + name + "</FullPath><FileName>" +
           name + "</FileName></File>";
  };
  LayPackage(s.Path(), "<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo><DeleteObjects>" +
                           file("INST_DEL", "relisted.dll") + "</DeleteObjects><UpdateObjects>" +
                           file("INST_REF", "listed.dll") + file("INST_REF", "unlisted.dll") +
                           file("INST_REF", "relisted.dll") + "</UpdateObjects></DiffDistribute>");
  for (const wchar_t* name : {L"listed.dll", L"unlisted.dll", L"relisted.dll"})
    ASSERT_TRUE(Put(s.File(L"pkg/INST/") + name, "new"));
  // The log names two of the files, one of them in other letter case, as Windows compares paths.
  ASSERT_TRUE(Put(s.File(L"root/App/uninst.ini"),
                  "[Language]\r\nLang=\"en\"\r\n[Files]\r\n"
                  "UIFILE=\"C:\\\\App\\\\LISTED.dll\" INST_REQ INST_REQ INST_REF INST_NOREG\r\n"
                  "UIFILE=\"C:\\\\App\\\\relisted.dll\" INST_REQ INST_REQ INST_REF INST_NOREG\r\n"));
  ASSERT_TRUE(
      Put(s.File(L"machine.reg"),
          "Windows Registry Editor Version 5.00\r\n\r\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]\r\n"
          "\"C:\\\\App\\\\listed.dll\"=dword:00000002\r\n\"C:\\\\App\\\\unlisted.dll\"=dword:00000001\r\n"
          "\"C:\\\\App\\\\relisted.dll\"=dword:00000005\r\n"));
  const std::vector<std::wstring> base = {
      L"plan", s.File(L"pkg"), L"--install-log", s.File(L"log.dat"), L"--registry", s.File(L"machine.reg")};
  std::vector<std::wstring> args = base;
  args.insert(args.end(), {L"--root", s.File(L"root")});
  ToolRun plan = RunTool(args);
  ASSERT_EQ(plan.exitCode, 0) << plan.err;
  const std::string out = plan.out;
  auto noteAfter = [&out](const std::string& action) {
    const size_t at = out.find(action);
    if (at == std::string::npos) return std::string("<no action>");
    const size_t start = out.find("\n", at) + 1;
    return out.substr(start, out.find("\n", start) - start);
  };
  EXPECT_EQ(noteAfter("UPDATE_FILE_ADD C:\\App\\listed.dll"), "UPDATE_FILE_ADD C:\\App\\unlisted.dll") << out;
  EXPECT_EQ(noteAfter("UPDATE_FILE_ADD C:\\App\\unlisted.dll"), "#   its SharedDLLs count becomes 2") << out;
  EXPECT_EQ(noteAfter("UPDATE_FILE_ADD C:\\App\\relisted.dll"), "#   its SharedDLLs count becomes 6") << out;

  // Without the uninstall log the plan cannot tell, and says so.
  ToolRun blind = RunTool(base);
  ASSERT_EQ(blind.exitCode, 0) << blind.err;
  EXPECT_TRUE(
      blind.OutHas("UPDATE_FILE_ADD C:\\App\\unlisted.dll\n#   its SharedDLLs count rises by one when "
                   "the uninstall log does not list it"))
      << blind.out;
}
