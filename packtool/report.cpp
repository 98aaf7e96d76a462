#include "packtool/report.h"

#include <algorithm>
#include <cstdio>

#include "sys/text.h"

namespace brindle::pack {

std::wstring FormatFinding(const Finding& f) {
  std::wstring text = f.file;
  if (f.line) text += L":" + ToWideDecimal(static_cast<long long>(f.line));
  if (f.line && f.column) text += L":" + ToWideDecimal(static_cast<long long>(f.column));
  text += f.severity == Finding::kError ? L": error: " : L": warning: ";
  text += f.message;
  if (!f.place.empty()) text += L" [" + f.place + L"]";
  return text;
}

void Report::Add(Finding::Severity severity, const std::wstring& file, size_t line, const std::wstring& place,
                 const std::wstring& message, const std::wstring& rule) {
  Finding f;
  f.severity = severity;
  f.file = file;
  f.line = line;
  f.place = place;
  f.message = message;
  f.rule = rule;
  findings.push_back(std::move(f));
}

size_t Report::Errors() const {
  size_t n = 0;
  for (const Finding& f : findings) n += f.severity == Finding::kError ? 1 : 0;
  return n;
}

bool Report::Mentions(const std::wstring& text) const {
  for (const Finding& f : findings)
    if (f.message.find(text) != std::wstring::npos) return true;
  return false;
}

void Report::MakeWarningsErrors() {
  for (Finding& f : findings) f.severity = Finding::kError;
}

void Report::Print(std::ostream& out) const {
  for (const Finding& f : findings) PrintLine(out, FormatFinding(f));
  PrintLine(out, ToWideDecimal(static_cast<long long>(Errors())) + L" error(s), " +
                     ToWideDecimal(static_cast<long long>(Warnings())) + L" warning(s)");
}

void Report::PrintJson(std::ostream& out) const {
  for (const Finding& f : findings) {
    out << "{\"file\":" << JsonString(f.file) << ",\"line\":" << f.line << ",\"column\":" << f.column
        << ",\"severity\":\"" << (f.severity == Finding::kError ? "error" : "warning")
        << "\",\"rule\":" << JsonString(f.rule.empty() ? defaultRule : f.rule)
        << ",\"message\":" << JsonString(f.message) << ",\"place\":" << JsonString(f.place) << "}\n";
  }
}

void Progress::Step(const std::wstring& stage, size_t done, size_t total, size_t size) {
  if (!out_ || size < 100 || total == 0) return;  // small work needs no progress
  const size_t step = std::max<size_t>(1, std::min<size_t>(500, total / 10));
  if (done % step == 0 || done == total)
    PrintLine(*out_, verb_ + L": " + stage + L" " + ToWideDecimal(static_cast<long long>(done)) + L"/" +
                         ToWideDecimal(static_cast<long long>(total)));
}

int Report::FinishJson(std::ostream& out, const std::wstring& verb, int exitCode) const {
  PrintJson(out);
  out << "{\"summary\":" << JsonString(verb) << ",\"errors\":" << Errors() << ",\"warnings\":" << Warnings()
      << ",\"exit\":" << exitCode << "}\n";
  return exitCode;
}

void PrintLine(std::ostream& out, const std::wstring& text) { out << Utf8FromWide(text) << '\n'; }

std::string JsonString(const std::wstring& text) {
  const std::string utf8 = Utf8FromWide(text);
  std::string json = "\"";
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

}  // namespace brindle::pack
