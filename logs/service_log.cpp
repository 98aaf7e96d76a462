#include "logs/service_log.h"

#include "sys/paths.h"
#include "sys/text.h"

#include <cstdio>

namespace brindle {

const wchar_t kServiceLogFileName[] = L"Tamek_ACT_SERVICELOG_tmp.txt";
const wchar_t kServiceLogSubfolder[] = L"Tamek_Inc_RW/ServiceLog/OstrelService";

namespace {

std::wstring QuoteField(const std::wstring& field) {
  if (field.find_first_of(L"\n\r\",") == std::wstring::npos) return field;
  std::wstring quoted = L"\"";
  for (wchar_t c : field) {
    if (c == L'"') quoted += L'"';
    quoted += c;
  }
  quoted += L'"';
  return quoted;
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

}  // namespace

std::wstring JoinLogFields(const LogFields& fields) {
  std::wstring detail;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) detail += L',';
    detail += QuoteField(fields[i]);
  }
  return detail;
}

std::wstring FormatServiceLogLine(const std::wstring& stamp, const std::wstring& tag, const std::wstring& key,
                                  const LogFields& fields) {
  std::wstring line = stamp + L"," + tag + L",";
  if (!key.empty()) line += key + L",";
  return line + JoinLogFields(fields);
}

std::wstring FormatLogTimeStamp(int year, int month, int day, int hour, int minute, int second,
                                int millisecond) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d-%02d-%02d-%02d-%03d", year, month, day, hour, minute,
                second, millisecond);
  return WideFromUtf8(buffer);
}

std::wstring SubstituteProfileUser(const std::wstring& base, const std::wstring& profile,
                                   const std::wstring& sessionUser) {
  std::wstring root = profile;
  while (!root.empty() && IsSeparator(root.back())) root.pop_back();
  const std::wstring userComponent = LastPathComponent(root);
  if (userComponent.empty() || sessionUser.empty() || base.size() < root.size()) return base;
  if (!EqualsIgnoreAsciiCase(ToForwardSlashes(base.substr(0, root.size())), ToForwardSlashes(root)))
    return base;
  if (base.size() > root.size() && !IsSeparator(base[root.size()])) return base;
  const size_t start = root.size() - userComponent.size();
  return base.substr(0, start) + sessionUser + base.substr(root.size());
}

void WriteServiceLog(const LogFields& fields, const std::wstring& tag, const std::wstring& key) {
  const std::wstring line = FormatServiceLogLine(LogTimeStamp(), tag, key, fields);
  const std::wstring folder = ServiceLogFolder();
  CreateServiceLogFolder(folder);
  AppendServiceLogLine(JoinPath(folder, kServiceLogFileName), line);
}

}  // namespace brindle

namespace brindle {

std::string EncodeServiceLogLine(const std::wstring& line, LogFileEncoding encoding) {
  std::wstring text;
  text.reserve(line.size() + 2);
  for (wchar_t c : line) {
    if (c == L'\n') text += L'\r';
    text += c;
  }
  text += L"\r\n";
  if (encoding == LogFileEncoding::kUtf16) {
    return Utf16LeBytes(text);
  }
  std::string bytes = encoding == LogFileEncoding::kNewFile ? "\xEF\xBB\xBF" : "";
  return bytes + Utf8FromWide(text);
}

LogFileEncoding DetectLogFileEncoding(const std::string& firstBytes, unsigned long long fileSize) {
  if (fileSize == 0) return LogFileEncoding::kNewFile;
  if (firstBytes.size() >= 2 && static_cast<unsigned char>(firstBytes[0]) == 0xFF &&
      static_cast<unsigned char>(firstBytes[1]) == 0xFE)
    return LogFileEncoding::kUtf16;
  return LogFileEncoding::kUtf8;
}

}  // namespace brindle
