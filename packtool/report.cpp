#include "packtool/report.h"

#include "sys/text.h"

namespace brindle::pack {

std::wstring FormatFinding(const Finding& f) {
  std::wstring text = f.file;
  if (f.line) text += L":" + ToWideDecimal(static_cast<long long>(f.line));
  text += f.severity == Finding::kError ? L": error: " : L": warning: ";
  text += f.message;
  if (!f.place.empty()) text += L" [" + f.place + L"]";
  return text;
}

void Report::Add(Finding::Severity severity, const std::wstring& file, size_t line,
                 const std::wstring& place, const std::wstring& message) {
  findings.push_back({severity, file, line, place, message});
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

void Report::Print(std::ostream& out) const {
  for (const Finding& f : findings) PrintLine(out, FormatFinding(f));
  PrintLine(out, ToWideDecimal(static_cast<long long>(Errors())) + L" error(s), " +
                     ToWideDecimal(static_cast<long long>(Warnings())) + L" warning(s)");
}

void PrintLine(std::ostream& out, const std::wstring& text) {
  out << Utf8FromWide(text) << '\n';
}

}  // namespace brindle::pack
