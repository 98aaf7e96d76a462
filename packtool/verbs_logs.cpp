// The verbs on logs: log decode, log encode, uninstlog check.
#include "packtool/arguments.h"
#include "packtool/file_access.h"
#include "packtool/log_tool.h"
#include "packtool/pack_tool.h"
#include "packtool/report.h"
#include "packtool/uninstlog_check.h"
#include "sys/text.h"

namespace brindle::pack {


int RunLogDecode(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {L"-o"}, {}, 1, 1, L"log decode", err)) return kExitUsage;
  const std::wstring& path = a.Positional()[0];
  std::string plain;
  std::wstring reason;
  if (!DecodeLogFile(path, plain, reason)) {
    PrintLine(err, path + L": " + reason);
    return kExitFailed;
  }
  if (a.Verbose())
    PrintLine(err, path + L": " + ToWideDecimal(static_cast<long long>(plain.size())) +
                       L" bytes of text deciphered");
  if (!a.Has(L"-o")) {
    out << plain;
    return kExitOk;
  }
  if (!WriteOutputBytes(a.Value(L"-o"), plain)) {
    PrintLine(err, a.Value(L"-o") + L": cannot write the file");
    return kExitFailed;
  }
  return kExitOk;
}

int RunLogEncode(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {L"-o"}, {L"--from-utf8"}, 1, 1, L"log encode", err))
    return kExitUsage;
  if (!a.Has(L"-o")) {
    PrintLine(err, L"brindle-pack log encode: -o OUT is required");
    return kExitUsage;
  }
  const std::wstring& path = a.Positional()[0];
  std::string input, plain, enciphered;
  std::wstring reason;
  if (!ReadInputBytes(path, input)) {
    PrintLine(err, path + L": cannot read the file");
    return kExitFailed;
  }
  if (!LogPlainFromInput(input, a.Has(L"--from-utf8"), plain, reason)) {
    PrintLine(err, path + L": " + reason + L"; nothing was written");
    return kExitFailed;
  }
  // A log the program cannot read makes every later update of every application fail: only
  // text its own reader accepts is enciphered.
  if (!InstallLogTextAccepted(plain, reason)) {
    PrintLine(err, path + L": " + reason + L"; nothing was written");
    return kExitFailed;
  }
  if (!EncodeLogBytes(plain, enciphered, reason) || !WriteOutputBytes(a.Value(L"-o"), enciphered)) {
    PrintLine(err, a.Value(L"-o") + L": " + (reason.empty() ? L"cannot write the file" : reason));
    return kExitFailed;
  }
  return kExitOk;
}

int RunUninstlogCheck(const std::vector<std::wstring>& args, std::ostream& out,
                      std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {}, {}, 1, 1, L"uninstlog check", err)) return kExitUsage;
  const std::wstring& path = a.Positional()[0];
  std::string bytes;
  if (!ReadInputBytes(path, bytes)) {
    PrintLine(err, path + L": cannot read the file");
    return kExitFailed;
  }
  Report report;
  const bool loads = CheckUninstallLog(bytes, path, report);
  if (a.Quiet()) {
    for (const Finding& f : report.findings)
      if (f.severity == Finding::kError) PrintLine(out, FormatFinding(f));
    return loads ? kExitOk : kExitFailed;
  }
  if (a.Verbose())
    PrintLine(out, path + L": " + ToWideDecimal(static_cast<long long>(bytes.size())) + L" bytes");
  report.Print(out);
  PrintLine(out, loads ? L"the program's reader accepts the file"
                       : L"the program's reader refuses the whole file");
  return loads ? kExitOk : kExitFailed;
}

}  // namespace brindle::pack
