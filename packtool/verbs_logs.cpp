// The verbs on logs: log decode, log encode, uninstlog check.
#include "packtool/arguments.h"
#include "packtool/file_access.h"
#include "packtool/log_tool.h"
#include "packtool/pack_tool.h"
#include "packtool/report.h"
#include "packtool/uninstlog_check.h"
#include "sys/text.h"

namespace brindle::pack {

namespace {

// A verb's failure: one line on the error stream, or with --json the finding and the summary
// on standard output.
int Fail(bool json, const std::wstring& verb, const std::wstring& file, const std::wstring& reason,
         std::ostream& out, std::ostream& err) {
  if (!json) {
    PrintLine(err, file + L": " + reason);
    return kExitFailed;
  }
  Report report;
  report.Error(file, 0, L"", reason, L"fatal");
  return report.FinishJson(out, verb, kExitFailed);
}

}  // namespace

int RunLogDecode(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {L"-o"}, {L"--json"}, 1, 1, L"log decode", err)) return kExitUsage;
  const bool json = a.Has(L"--json");
  if (json && (!a.Has(L"-o") || a.Value(L"-o") == L"-")) {
    PrintLine(err, L"brindle-pack log decode: --json needs -o FILE (standard output carries the JSON)");
    return kExitUsage;
  }
  const std::wstring& path = a.Positional()[0];
  std::string plain;
  std::wstring reason;
  if (!DecodeLogFile(path, plain, reason)) return Fail(json, L"log decode", path, reason, out, err);
  if (a.Verbose())
    PrintLine(err, path + L": " + ToWideDecimal(static_cast<long long>(plain.size())) +
                       L" bytes of text deciphered");
  if (!a.Has(L"-o")) {
    out << plain;
    return kExitOk;
  }
  if (!WriteOutputBytes(a.Value(L"-o"), plain))
    return Fail(json, L"log decode", a.Value(L"-o"), L"cannot write the file", out, err);
  return json ? Report().FinishJson(out, L"log decode", kExitOk) : kExitOk;
}

int RunLogEncode(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {L"-o"}, {L"--from-utf8", L"--json"}, 1, 1, L"log encode", err))
    return kExitUsage;
  const bool json = a.Has(L"--json");
  if (json && a.Value(L"-o") == L"-") {
    PrintLine(err, L"brindle-pack log encode: --json needs -o FILE (standard output carries the JSON)");
    return kExitUsage;
  }
  if (!a.Has(L"-o")) {
    PrintLine(err, L"brindle-pack log encode: -o OUT is required");
    return kExitUsage;
  }
  const std::wstring& path = a.Positional()[0];
  std::string input, plain, enciphered;
  std::wstring reason;
  if (!ReadInputBytes(path, input)) return Fail(json, L"log encode", path, L"cannot read the file", out, err);
  if (!LogPlainFromInput(input, a.Has(L"--from-utf8"), plain, reason))
    return Fail(json, L"log encode", path, reason + L"; nothing was written", out, err);
  // A log the program cannot read makes every later update of every application fail: only
  // text its own reader accepts is enciphered.
  if (!InstallLogTextAccepted(plain, reason))
    return Fail(json, L"log encode", path, reason + L"; nothing was written", out, err);
  if (!EncodeLogBytes(plain, enciphered, reason) || !WriteOutputBytes(a.Value(L"-o"), enciphered))
    return Fail(json, L"log encode", a.Value(L"-o"), reason.empty() ? L"cannot write the file" : reason, out,
                err);
  return json ? Report().FinishJson(out, L"log encode", kExitOk) : kExitOk;
}

int RunUninstlogCheck(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {}, {L"--json"}, 1, 1, L"uninstlog check", err)) return kExitUsage;
  const bool json = a.Has(L"--json");
  const std::wstring& path = a.Positional()[0];
  std::string bytes;
  if (!ReadInputBytes(path, bytes))
    return Fail(json, L"uninstlog check", path, L"cannot read the file", out, err);
  Report report;
  report.defaultRule = L"uninstall-log";
  const bool loads = CheckUninstallLog(bytes, path, report);
  if (json) return report.FinishJson(out, L"uninstlog check", loads ? kExitOk : kExitFailed);
  if (a.Quiet()) {
    for (const Finding& f : report.findings)
      if (f.severity == Finding::kError) PrintLine(out, FormatFinding(f));
    return loads ? kExitOk : kExitFailed;
  }
  if (a.Verbose())
    PrintLine(out, path + L": " + ToWideDecimal(static_cast<long long>(bytes.size())) + L" bytes");
  report.Print(out);
  PrintLine(
      out, loads ? L"the program's reader accepts the file" : L"the program's reader refuses the whole file");
  return loads ? kExitOk : kExitFailed;
}

}  // namespace brindle::pack
