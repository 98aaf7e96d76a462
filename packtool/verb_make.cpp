// brindle-pack make: a package from two folders of an application.
#include "packtool/arguments.h"
#include "packtool/pack_tool.h"
#include "packtool/package_maker.h"

namespace brindle::pack {

int RunMake(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args,
                          {L"-o", L"--version", L"--version-from", L"--app", L"--display-name",
                           L"--target", L"--check-app", L"--extra", L"--znq", L"--list",
                           L"--diff-xml"},
                          {L"--force"}, 2, 2, L"make", err))
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
  if (options.output.empty()) {
    PrintLine(err, L"brindle-pack make: -o package.DIFF is required (brindle-pack make --help)");
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
  Report report;
  MakeResult result;
  const bool made = MakePackage(options, report, out, err, result);
  for (const Finding& f : report.findings) PrintLine(err, FormatFinding(f));
  return made ? kExitOk : kExitFailed;
}

}  // namespace brindle::pack
