#include "packtool/pack_tool.h"

#include <iostream>

#include "packtool/file_access.h"
#include "packtool/report.h"
#include "packtool/suggest.h"
#include "sys/text.h"

namespace brindle::pack {

namespace {

const wchar_t kToolHelp[] =
    L"brindle-pack: make, check and preview Brindle patch packages; read install and uninstall "
    L"logs.\n"
    L"\n"
    L"Usage: brindle-pack <verb> [arguments]   (brindle-pack <verb> --help for details)\n"
    L"\n"
    L"  make OLD NEW -o package.DIFF --version V   build a package that turns OLD into NEW\n"
    L"  check package.DIFF|FOLDER                  check a package against the program's rules\n"
    L"  plan package.DIFF --install-log FILE       list the actions the program would take\n"
    L"  verify --root FOLDER --install-log FILE    an installed application against its logs\n"
    L"  list package.DIFF                          the package's records with their files\n"
    L"  extract package.DIFF -o FOLDER             the package's files into an empty folder\n"
    L"  diff PKG1 PKG2                             the records that differ between two packages\n"
    L"  log decode FILE [-o OUT]                   decipher an install log into its XML\n"
    L"  log encode FILE -o OUT                     encipher XML into an install log\n"
    L"  uninstlog check FILE                       check an uninstall log line by line\n"
    L"\n"
    L"\n"
    L"Every verb takes -q/--quiet (less output), -v/--verbose (more) and --json (standard\n"
    L"output holds JSON objects only, one per line: results, findings with rule, file, line\n"
    L"and column, and a last {\"summary\",\"errors\",\"warnings\",\"exit\"}). Progress goes to\n"
    L"standard error. \"-\" stands for standard input or output: the package of check and\n"
    L"plan, the install log of plan (not both), the files of log and uninstlog, make's --extra\n"
    L"and --diff-xml; elsewhere it is refused. --version names the tool.\n"
    L"Exit code: 0 done, 1 errors found or the work failed, 2 wrong command line.\n";

const wchar_t kVersion[] = L"brindle-pack 1.0.0.0";

const wchar_t kMakeHelp[] =
    L"Usage: brindle-pack make OLD NEW -o package.DIFF --version V [options]\n"
    L"       (each file added or updated is listed on standard output with its versions)\n"
    L"\n"
    L"Compares the folders OLD and NEW of an application (relative paths compared without\n"
    L"regard to letter case, as Windows does) and writes a patch package: a cabinet holding\n"
    L"diff.xml (files to delete, update and add), the new files under INST, hook libraries\n"
    L"under CUSTOM and the uninstaller files under ZNQ.\n"
    L"\n"
    L"Options:\n"
    L"  -o FILE              the package to write (required)\n"
    L"  --version V          the application's version after the update\n"
    L"  --version-from FILE  or: the version resource of this file of NEW (path relative to NEW)\n"
    L"  --app NAME           the application's install-log key; with --list, written there\n"
    L"  --display-name TEXT  the application's new display name (UpdateObjects/DisplayName)\n"
    L"  --target PREFIX      where OLD is installed, as a package path (default $InsFolder$)\n"
    L"  --check-app NAME     a program that must not run during the update (repeatable);\n"
    L"                       default: every .exe that the package updates or deletes\n"
    L"  --extra FILE         declarative file: registry values, shortcuts, hooks, uninstall\n"
    L"                       targets (see docs/package-authors.md)\n"
    L"  --znq FOLDER         the uninstaller files (INSTALL/COMMON/..., INSTALL/<LANG>/...);\n"
    L"                       put into the cabinet under ZNQ and beside the package, where the\n"
    L"                       program reads them\n"
    L"  --list FILE          also write a DiffLocalList naming the package (needs --app)\n"
    L"  --diff-xml FILE      also write the diff.xml alone\n"
    L"  --dry-run            compare the folders, read --extra and list the changes; write\n"
    L"                       nothing (no package, list, diff.xml or uninstaller files)\n"
    L"  --force              keep the package even when the check of what was built finds\n"
    L"                       errors (it says so); without it such a package is not kept\n"
    L"  -q, --quiet          no progress output\n"
    L"  -v, --verbose        name every file stored in the cabinet\n"
    L"  --json               the changes ({\"change\",\"path\"}), findings and a summary as JSON\n"
    L"                       lines on standard output\n"
    L"\n"
    L"The package is reproducible: the same folders and options give the same bytes. A failed\n"
    L"make leaves no package at -o; the uninstaller files beside it are replaced, not merged;\n"
    L"-o inside NEW or OLD is refused.\n"
    L"Options naming one thing may be given once; --version and --version-from exclude each\n"
    L"other; --target, --znq, --extra and --version-from are checked before any work (exit\n"
    L"code 2). The --extra file is UTF-8 (with or without a byte-order mark) or UTF-16 with\n"
    L"its mark; a key given twice in one block is an error. Progress (comparing, packing and\n"
    L"the check of what was built) goes to standard error. A package that changes nothing is\n"
    L"warned about. The package written is checked as \"check\" does; errors fail make (exit\n"
    L"code 1).\n";

const wchar_t kCheckHelp[] =
    L"Usage: brindle-pack check package.DIFF|FOLDER|- [--lang CODE] [--znq FOLDER] [--json]\n"
    L"                          [--strict] [--allow-unknown]\n"
    L"\n"
    L"Checks a package (a cabinet, or a folder holding diff.xml, INST and CUSTOM) against every\n"
    L"rule the program applies: element and attribute names and tokens, registry data (REG_DW\n"
    L"parsing, string lengths, types without a conversion), path and name limits, unsafe names\n"
    L"in the cabinet and in records, files named by records present in INST, hook libraries\n"
    L"present and exporting their function, uninstaller files and language folders present,\n"
    L"duplicate records. Each finding names diff.xml's line and the record's element path.\n"
    L"\n"
    L"  --lang CODE   the installed application's language code (ja, en, fr, ...): check its\n"
    L"                uninstaller language folder\n"
    L"  --znq FOLDER  where the uninstaller files are (default: ZNQ beside the package)\n"
    L"  --json        one JSON object per finding and line: file, line, column, severity,\n"
    L"                rule, message, place; then {\"summary\",\"errors\",\"warnings\",\"exit\"}\n"
    L"  --strict      every warning counts as an error\n"
    L"  --allow-unknown  elements and attributes the program's reader does not know are\n"
    L"                warnings (they are errors: the program ignores them without a word)\n"
    L"  -q, --quiet   errors only, no progress (progress goes to standard error)\n"
    L"\n"
    L"Exit code 0 when no error was found (warnings allowed), 1 otherwise.\n";

const wchar_t kPlanHelp[] =
    L"Usage: brindle-pack plan package.DIFF|FOLDER --install-log FILE [--app NAME]\n"
    L"                         [--root FOLDER] [--registry FILE] [--json]\n"
    L"\n"
    L"Lists, without changing anything, the actions the program would take for the package, in\n"
    L"its order: wrapper files, hooks, then delete (COM, shortcuts, registry, files), update\n"
    L"(COM, files, registry, shortcuts) and add (files, registry, shortcuts), COM registration,\n"
    L"after-update hook. Paths are expanded with the variables of the install log's entry.\n"
    L"Each action is one line \"VERB object\", as the program's service-log line names it;\n"
    L"every other line starts with \"# \".\n"
    L"\n"
    L"  --install-log FILE  the enciphered install log (TamekOstrelLog.dat)\n"
    L"  --app NAME          the entry's AppName (default: the only entry of the log)\n"
    L"  --root FOLDER       a folder standing for C:\\ of the machine: the machine folders are\n"
    L"                      the usual ones (C:\\Program Files (x86), C:\\Windows...) and files\n"
    L"                      are looked up below FOLDER, so actions the program would skip (an\n"
    L"                      installed file that is not older) are shown as skipped; on\n"
    L"                      Windows, without --root, the machine's own files are consulted\n"
    L"  --registry FILE     the machine's registry as \"reg export\" wrote it (of the 64-bit\n"
    L"                      view; the 32-bit view of HKLM\\Software is its WOW6432Node key):\n"
    L"                      a deleted value's line then says DELETE_REG or UPDATE_REG_DELETE\n"
    L"                      as the program decides it, from the values its key keeps\n"
    L"  --json              one JSON object per line: {\"verb\",\"object\"} for an action,\n"
    L"                      {\"note\"} for a note, then the findings and the summary\n"
    L"  -q, --quiet         the actions alone, no progress (progress goes to standard error)\n"
    L"A package that brings a lower version than the installed one is warned about.\n";

const wchar_t kListHelp[] =
    L"Usage: brindle-pack list package.DIFF|FOLDER|- [--json]\n"
    L"\n"
    L"Lists the package's records as the program reads them, one per line: \"<section> file\n"
    L"<path> (INST\\<name>, <size> bytes, <digest>)\", \"<section> registry <root>\\<key> [<value>]\n"
    L"(<type> <data>)\", \"<section> shortcut ...\", the hooks and the version. --json: one\n"
    L"{\"record\",\"detail\"} per record, then the summary.\n";

const wchar_t kExtractHelp[] =
    L"Usage: brindle-pack extract package.DIFF|- -o FOLDER [--json]\n"
    L"\n"
    L"Writes every file of the cabinet below FOLDER (new or empty), with its stored time stamp;\n"
    L"names that are not safe relative paths are never written. -v names each file.\n";

const wchar_t kDiffHelp[] =
    L"Usage: brindle-pack diff PKG1 PKG2 [--json]\n"
    L"\n"
    L"Compares the records of two packages (as list prints them): \"only-first\", \"only-second\"\n"
    L"and \"changed\" (other data, or another stored file) lines. Exit code 0 when they hold the\n"
    L"same records, 1 when they differ.\n";

const wchar_t kVerifyHelp[] =
    L"Usage: brindle-pack verify --root FOLDER --install-log FILE [--app NAME]\n"
    L"                           [--package package.DIFF] [--registry FILE] [--json]\n"
    L"\n"
    L"Checks an installed application against its install log and uninstall log, FOLDER\n"
    L"standing for C:\\ of the machine: the installation folder and the uninstall log present,\n"
    L"every line of the uninstall log readable by the program, every file it lists installed.\n"
    L"With --package (one that was applied): every file it adds or updates installed with its\n"
    L"bytes and listed in the uninstall log, every file it deletes gone. With --registry FILE\n"
    L"(the machine's registry as \"reg export ... /reg:64\" wrote it): every file the uninstall\n"
    L"log lists as shared (INST_REF) has a SharedDLLs count of at least 1, and with --package\n"
    L"every value the package writes is there with its data, every value it deletes gone.\n"
    L"Without it registry values are not looked at. Exit code 0 when nothing is wrong, 1\n"
    L"otherwise.\n";

const wchar_t kLogHelp[] =
    L"Usage: brindle-pack log decode FILE [-o OUT]\n"
    L"       brindle-pack log encode FILE -o OUT [--from-utf8]\n"
    L"       (--json: the outcome as JSON lines on standard output; decode then needs -o)\n"
    L"\n"
    L"decode deciphers an install log into its XML text (standard output without -o); encode\n"
    L"enciphers XML text into an install log, only when the program's own reader accepts the\n"
    L"text (an AppLocalList document in the ANSI code page). The XML is handled as the exact bytes the program\n"
    L"enciphers (the ANSI code page, usually Windows-1252), so decoding a log and encoding the\n"
    L"result gives the same bytes. encode reads Unicode text as such (a byte-order mark, an\n"
    L"XML declaration naming UTF-8, or --from-utf8) and turns it into the code page exactly:\n"
    L"a character the code page lacks is refused with its line and column, never stored as\n"
    L"a look-alike.\n";

const wchar_t kUninstlogHelp[] =
    L"Usage: brindle-pack uninstlog check FILE [--json]\n"
    L"\n"
    L"Checks an uninstall log with the rules of the program's reader, line by line: lexing\n"
    L"(quotes, brackets, backslash escapes), section headers, the fields of UIFILE, UIFLDR,\n"
    L"UIREGI, UIREGIKEY and the Uninstall_ keys, flag and root names. The program refuses the\n"
    L"whole file for one bad line; every bad line is listed. Exit code 0 when it loads.\n";

}  // namespace

std::wstring HelpText(const std::wstring& verb) {
  if (verb == L"make") return kMakeHelp;
  if (verb == L"check") return kCheckHelp;
  if (verb == L"plan") return kPlanHelp;
  if (verb == L"log") return kLogHelp;
  if (verb == L"list") return kListHelp;
  if (verb == L"verify") return kVerifyHelp;
  if (verb == L"extract") return kExtractHelp;
  if (verb == L"diff") return kDiffHelp;
  if (verb == L"uninstlog") return kUninstlogHelp;
  return kToolHelp;
}

bool WantsHelp(const std::vector<std::wstring>& args) {
  for (const auto& a : args)
    if (a == L"--help" || a == L"-h") return true;
  return false;
}

int RunPackTool(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  return RunPackTool(args, out, err, std::cin);
}

int RunPackTool(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err,
                std::istream& in) {
  SetStandardStreams(&in, &out);
  if (args.empty()) {
    err << Utf8FromWide(HelpText(L""));
    return kExitUsage;
  }
  const std::wstring& verb = args[0];
  std::vector<std::wstring> rest(args.begin() + 1, args.end());
  if (verb == L"--version") {
    PrintLine(out, kVersion);
    return kExitOk;
  }
  if (verb == L"help" || verb == L"--help" || verb == L"-h") {
    out << Utf8FromWide(HelpText(rest.empty() ? L"" : rest[0]));
    return kExitOk;
  }
  auto twoWords = [&](const std::wstring& second) { return !rest.empty() && rest[0] == second; };
  if ((verb == L"log" || verb == L"uninstlog") &&
      (rest.empty() || rest[0] == L"--help" || rest[0] == L"-h")) {
    (rest.empty() ? err : out) << Utf8FromWide(HelpText(verb));
    return rest.empty() ? kExitUsage : kExitOk;
  }
  if (verb == L"make" || verb == L"check" || verb == L"plan" || verb == L"log" || verb == L"uninstlog" ||
      verb == L"list" || verb == L"extract" || verb == L"diff" || verb == L"verify") {
    if (WantsHelp(rest)) {
      out << Utf8FromWide(HelpText(verb));
      return kExitOk;
    }
  }
  if (verb == L"make") return RunMake(rest, out, err);
  if (verb == L"check") return RunCheck(rest, out, err);
  if (verb == L"plan") return RunPlan(rest, out, err);
  if (verb == L"list") return RunList(rest, out, err);
  if (verb == L"verify") return RunVerify(rest, out, err);
  if (verb == L"extract") return RunExtract(rest, out, err);
  if (verb == L"diff") return RunDiff(rest, out, err);
  if (verb == L"log" && twoWords(L"decode"))
    return RunLogDecode(std::vector<std::wstring>(rest.begin() + 1, rest.end()), out, err);
  if (verb == L"log" && twoWords(L"encode"))
    return RunLogEncode(std::vector<std::wstring>(rest.begin() + 1, rest.end()), out, err);
  if (verb == L"uninstlog" && twoWords(L"check"))
    return RunUninstlogCheck(std::vector<std::wstring>(rest.begin() + 1, rest.end()), out, err);
  std::wstring hint;
  if (verb == L"log" || verb == L"uninstlog") {
    hint = DidYouMean(rest[0],
                      verb == L"log" ? std::vector<std::wstring>{L"decode", L"encode"}
                                     : std::vector<std::wstring>{L"check"},
                      L"");
  } else {
    hint = DidYouMean(
        verb,
        {L"make", L"check", L"plan", L"verify", L"list", L"extract", L"diff", L"log", L"uninstlog", L"help"},
        L"");
  }
  PrintLine(err, L"brindle-pack: unknown verb \"" + verb +
                     (verb == L"log" || verb == L"uninstlog" ? L" " + rest[0] : L"") + L"\"" + hint +
                     L" (brindle-pack --help)");
  return kExitUsage;
}

}  // namespace brindle::pack
