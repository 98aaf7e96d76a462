// brindle-pack check: a package against every rule the program applies.
#include "packtool/arguments.h"
#include "packtool/file_access.h"
#include "packtool/package_check.h"
#include "packtool/pack_tool.h"
#include "sys/text.h"

namespace brindle::pack {

int RunCheck(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {L"--lang", L"--znq"}, {L"--json", L"--strict", L"--allow-unknown"}, 1, 1,
                          L"check", err))
    return kExitUsage;
  if (!RefuseStandardStream(a, {L"--znq"}, false, L"check", err)) return kExitUsage;
  if (a.Has(L"--znq") && !IsFolder(a.Value(L"--znq"))) {
    PrintLine(err, L"brindle-pack check: --znq " + a.Value(L"--znq") + L": no such folder");
    return kExitUsage;
  }
  PackageSource source;
  std::wstring reason;
  const std::wstring& path = a.Positional()[0];
  const bool json = a.Has(L"--json");
  if (!source.Open(path, reason)) {
    if (!json) {
      PrintLine(err, path + L": " + reason);
      return kExitFailed;
    }
    Report fatal;
    fatal.Error(path, 0, L"", reason, L"fatal");
    return fatal.FinishJson(out, L"check", kExitFailed);
  }
  CheckOptions options;
  options.lang = a.Value(L"--lang");
  options.znq = a.Value(L"--znq");
  options.allowUnknown = a.Has(L"--allow-unknown");
  options.progress = a.Quiet() ? nullptr : &err;
  Report report;
  CheckPackage(source, options, report);
  if (a.Has(L"--strict")) report.MakeWarningsErrors();
  const int exitCode = report.Errors() == 0 ? kExitOk : kExitFailed;
  if (json) return report.FinishJson(out, L"check", exitCode);
  if (a.Quiet()) {
    for (const Finding& f : report.findings)
      if (f.severity == Finding::kError) PrintLine(out, FormatFinding(f));
  } else {
    if (a.Verbose())
      PrintLine(
          out, L"checking " + path +
                   (source.IsCabinet()
                        ? L" (a cabinet of " +
                              ToWideDecimal(static_cast<long long>(source.EntryNames().size())) + L" entries)"
                        : L" (a folder)"));
    report.Print(out);
  }
  return report.Errors() == 0 ? kExitOk : kExitFailed;
}

}  // namespace brindle::pack
