// brindle-pack plan: what the program would do with a package, in its order.
#include "packtool/arguments.h"
#include "packtool/file_access.h"
#include "packtool/pack_tool.h"
#include "packtool/package_plan.h"

namespace brindle::pack {

int RunPlan(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {L"--install-log", L"--app", L"--root", L"--registry"}, {L"--json"}, 1, 1,
                          L"plan", err))
    return kExitUsage;
  if (!RefuseStandardStream(a, {L"--root", L"--registry"}, false, L"plan", err)) return kExitUsage;
  if (a.Positional()[0] == L"-" && a.Value(L"--install-log") == L"-") {
    PrintLine(err,
              L"brindle-pack plan: the package and the install log cannot both come from "
              L"standard input (\"-\"); name one of them as a file");
    return kExitUsage;
  }
  PlanOptions options;
  options.installLog = a.Value(L"--install-log");
  options.appName = a.Value(L"--app");
  options.root = a.Value(L"--root");
  options.registry = a.Value(L"--registry");
  options.json = a.Has(L"--json");
  options.quiet = a.Quiet();
  options.progress = options.quiet ? nullptr : &err;
  if (options.installLog.empty()) {
    PrintLine(err, L"brindle-pack plan: --install-log FILE is required (brindle-pack plan --help)");
    return kExitUsage;
  }
  if (!options.registry.empty() && !IsFile(options.registry)) {
    PrintLine(err, L"brindle-pack plan: --registry " + options.registry + L": no such file");
    return kExitUsage;
  }
  PackageSource source;
  std::wstring reason;
  Report report;
  if (!source.Open(a.Positional()[0], reason)) {
    if (!options.json) {
      PrintLine(err, a.Positional()[0] + L": " + reason);
      return kExitFailed;
    }
    report.Error(a.Positional()[0], 0, L"", reason, L"fatal");
    return report.FinishJson(out, L"plan", kExitFailed);
  }
  const bool planned = PlanPackage(source, options, out, report);
  // With --json the findings follow the actions on standard output, as for every verb.
  if (options.json) return report.FinishJson(out, L"plan", planned ? kExitOk : kExitFailed);
  for (const Finding& f : report.findings) PrintLine(err, FormatFinding(f));
  return planned ? kExitOk : kExitFailed;
}

}  // namespace brindle::pack

namespace brindle::pack {

int RunVerify(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {L"--install-log", L"--app", L"--root", L"--package", L"--registry"},
                          {L"--json"}, 0, 0, L"verify", err))
    return kExitUsage;
  if (!RefuseStandardStream(a, {L"--root", L"--registry"}, false, L"verify", err)) return kExitUsage;
  VerifyOptions options;
  options.installLog = a.Value(L"--install-log");
  options.appName = a.Value(L"--app");
  options.root = a.Value(L"--root");
  options.package = a.Value(L"--package");
  options.registry = a.Value(L"--registry");
  if (options.installLog.empty() || options.root.empty()) {
    PrintLine(err,
              L"brindle-pack verify: --install-log FILE and --root FOLDER are required "
              L"(brindle-pack verify --help)");
    return kExitUsage;
  }
  if (!IsFolder(options.root)) {
    PrintLine(err, L"brindle-pack verify: --root " + options.root + L": no such folder");
    return kExitUsage;
  }
  if (!options.registry.empty() && !IsFile(options.registry)) {
    PrintLine(err, L"brindle-pack verify: --registry " + options.registry + L": no such file");
    return kExitUsage;
  }
  Report report;
  report.defaultRule = L"verify";
  const bool read = VerifyInstallation(options, report);
  const int code = read && report.Errors() == 0 ? kExitOk : kExitFailed;
  if (a.Has(L"--json")) return report.FinishJson(out, L"verify", code);
  if (a.Quiet()) {
    for (const Finding& f : report.findings)
      if (f.severity == Finding::kError) PrintLine(out, FormatFinding(f));
  } else {
    report.Print(out);
  }
  return code;
}

}  // namespace brindle::pack
