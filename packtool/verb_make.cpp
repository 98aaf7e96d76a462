// brindle-pack make: a package from two folders of an application.
#include "packtool/arguments.h"
#include "packtool/pack_tool.h"
#include "packtool/file_access.h"
#include "packtool/package_check.h"
#include "packtool/package_maker.h"
#include "packtool/package_source.h"

#include <sstream>

namespace brindle::pack {

namespace {

// The options that name places, checked before any work: a mistake there would otherwise show
// only after the folders were compared, or not at all.
bool CheckMakeOptions(const MakeOptions& options, std::ostream& err) {
  auto wrong = [&](const std::wstring& text) {
    PrintLine(err, L"brindle-pack make: " + text + L" (brindle-pack make --help)");
    return false;
  };
  // A variable the table does not know is left to the check, which names the nearest one.
  if (!IsTargetPath(options.target) && options.target.compare(0, 1, L"$") != 0)
    return wrong(L"--target " + options.target +
                 L" is not a full package path: it must begin with a drive (C:\\) or a folder "
                 L"variable such as $InsFolder$ or $ProgFolder$");
  // A package written inside NEW (or OLD) would be part of the next package made from it.
  std::error_code ec;
  const fs::path output = fs::weakly_canonical(fs::absolute(FsPath(options.output), ec), ec);
  for (const std::wstring& folder : {options.newFolder, options.oldFolder}) {
    std::error_code folderError;
    const fs::path inside = fs::weakly_canonical(fs::absolute(FsPath(folder), folderError), folderError);
    if (folderError || inside.empty()) continue;
    const fs::path relative = output.lexically_relative(inside);
    if (!relative.empty() && *relative.begin() != "..")
      return wrong(L"-o " + options.output + L" is inside " + folder +
                   L": the package would become part of the folders it is made from; write it "
                   L"elsewhere");
  }
  if (!options.znq.empty() && !IsFolder(options.znq))
    return wrong(L"--znq " + options.znq + L": no such folder");
  if (!options.extra.empty() && options.extra != L"-" && !IsFile(options.extra))
    return wrong(L"--extra " + options.extra + L": no such file");
  if (!options.versionFrom.empty() && IsFolder(options.newFolder)) {
    const std::wstring file = FindCaseBlind(options.newFolder, options.versionFrom);
    if (file.empty() || !IsFile(file))
      return wrong(L"--version-from " + options.versionFrom + L": no such file in NEW (" + options.newFolder +
                   L")");
  }
  return true;
}

}  // namespace

int RunMake(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args,
                          {L"-o", L"--version", L"--version-from", L"--app", L"--display-name", L"--target",
                           L"--check-app", L"--extra", L"--znq", L"--list", L"--diff-xml"},
                          {L"--force", L"--json", L"--dry-run"}, 2, 2, L"make", err))
    return kExitUsage;
  // The package is a cabinet the program reads beside its uninstaller files, and the folders
  // and the list are files of their own: only --extra and --diff-xml travel on the streams.
  if (!RefuseStandardStream(a, {L"-o", L"--znq", L"--list", L"--version-from"}, true, L"make", err))
    return kExitUsage;
  MakeOptions options;
  options.oldFolder = a.Positional()[0];
  options.newFolder = a.Positional()[1];
  options.output = a.Value(L"-o");
  options.version = a.Value(L"--version");
  options.versionFrom = a.Value(L"--version-from");
  options.appName = a.Value(L"--app");
  options.displayName = a.Value(L"--display-name");
  options.target = a.Value(L"--target", options.target);
  options.checkApps = a.Values(L"--check-app");
  options.checkAppsGiven = a.Has(L"--check-app");
  options.extra = a.Value(L"--extra");
  options.znq = a.Value(L"--znq");
  options.list = a.Value(L"--list");
  options.diffXml = a.Value(L"--diff-xml");
  options.quiet = a.Quiet();
  options.force = a.Has(L"--force");
  options.verbose = a.Verbose();
  options.dryRun = a.Has(L"--dry-run");
  if (options.output.empty()) {
    PrintLine(err, L"brindle-pack make: -o package.DIFF is required (brindle-pack make --help)");
    return kExitUsage;
  }
  if (!options.version.empty() && !options.versionFrom.empty()) {
    PrintLine(err,
              L"brindle-pack make: --version and --version-from contradict each other; give "
              L"one of them");
    return kExitUsage;
  }
  if (options.version.empty() && options.versionFrom.empty()) {
    PrintLine(err, L"brindle-pack make: --version V or --version-from FILE is required");
    return kExitUsage;
  }
  if (!options.list.empty() && options.appName.empty()) {
    PrintLine(err, L"brindle-pack make: --list needs --app NAME");
    return kExitUsage;
  }
  if (!CheckMakeOptions(options, err)) return kExitUsage;
  Report report;
  MakeResult result;
  // With the diff.xml on standard output, the list of files goes to the error stream: the
  // output stays one XML document.
  const bool json = a.Has(L"--json");
  if (json && options.diffXml == L"-") {
    PrintLine(err,
              L"brindle-pack make: --json and --diff-xml - both write to standard output; "
              L"name a file for --diff-xml");
    return kExitUsage;
  }
  std::ostringstream textList;  // with --json the changes are written as JSON below
  std::ostream& fileList = json ? textList : options.diffXml == L"-" ? err : out;
  const bool made = MakePackage(options, report, fileList, err, result);
  if (!made && !options.dryRun) {
    // A failed make leaves no package at -o: not this run's, nor one an earlier run left.
    std::error_code ec;
    fs::remove(FsPath(options.output), ec);
    if (!options.list.empty()) fs::remove(FsPath(options.list), ec);
  }
  if (json) {
    for (const auto& [change, paths] : {std::pair{"add", &result.added}, std::pair{"update", &result.updated},
                                        std::pair{"delete", &result.deleted}})
      for (const std::wstring& path : *paths)
        out << "{\"change\":\"" << change << "\",\"path\":" << JsonString(path) << "}\n";
    for (Finding& f : report.findings)
      if (f.rule.empty() && !options.extra.empty() && f.file == options.extra) f.rule = L"extra-file";
    report.defaultRule = L"make";
    return report.FinishJson(out, L"make", made ? kExitOk : kExitFailed);
  }
  for (const Finding& f : report.findings) PrintLine(err, FormatFinding(f));
  return made ? kExitOk : kExitFailed;
}

}  // namespace brindle::pack
