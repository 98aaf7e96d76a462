#include "support/service_log_reader.h"

#include "logs/service_log.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/text.h"

namespace brindle::test {

namespace {
std::string ReadLog() {
  std::string bytes;
  ReadBytes(JoinPath(ServiceLogFolder(), kServiceLogFileName), bytes);
  return bytes;
}
}  // namespace

ServiceLogTail::ServiceLogTail() : start_(ReadLog().size()) {}

std::vector<ServiceLogLine> ServiceLogTail::NewLines() const {
  const std::string bytes = ReadLog();
  std::vector<ServiceLogLine> lines;
  if (bytes.size() <= start_) return lines;
  std::wstring text = WideFromUtf8(bytes.substr(start_));
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L"\r\n", pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(pos, end - pos);
    pos = end + 2;
    if (!line.empty() && line[0] == 0xFEFF) line.erase(0, 1);
    ServiceLogLine parsed;
    size_t a = line.find(L','), b = line.find(L',', a + 1), c = line.find(L',', b + 1);
    if (a == std::wstring::npos || b == std::wstring::npos) continue;
    parsed.stamp = line.substr(0, a);
    parsed.tag = line.substr(a + 1, b - a - 1);
    if (c == std::wstring::npos) {
      parsed.key = line.substr(b + 1);
    } else {
      parsed.key = line.substr(b + 1, c - b - 1);
      parsed.detail = line.substr(c + 1);
    }
    lines.push_back(parsed);
  }
  return lines;
}

std::vector<std::wstring> ServiceLogTail::Details(const std::wstring& key) const {
  std::vector<std::wstring> details;
  for (const ServiceLogLine& line : NewLines())
    if (line.key == key) details.push_back(line.detail);
  return details;
}

}  // namespace brindle::test
