// The service log: one line per step, appended to a UTF-8 file shared with the maker's other
// programs. Each call opens the file, writes one whole line and closes it again (nothing is kept
// back in this process), so a line is in the file as soon as the call returns, and between two
// lines other programs may read, append, rename or delete the file.
#pragma once
#include <string>
#include <vector>

namespace brindle {

using LogFields = std::vector<std::wstring>;

// Appends one line: time stamp, tag, key (left out when empty) and the quoted fields.
// Never throws; a line that cannot be written is dropped.
void WriteServiceLog(const LogFields& fields, const std::wstring& tag, const std::wstring& key);

// The detail text: each field quoted as in comma-separated values, joined by commas.
std::wstring JoinLogFields(const LogFields& fields);
// One line without its line end: stamp + "," + tag + "," [+ key + ","] + detail.
std::wstring FormatServiceLogLine(const std::wstring& stamp, const std::wstring& tag, const std::wstring& key,
                                  const LogFields& fields);
// Local time as "%04d-%02d-%02d-%02d-%02d-%02d-%03d".
std::wstring LogTimeStamp();
std::wstring FormatLogTimeStamp(int year, int month, int day, int hour, int minute, int second,
                                int millisecond);

// The folder of the log file, forward slashes.
std::wstring ServiceLogFolder();
// The service log's file name inside that folder.
extern const wchar_t kServiceLogFileName[];
extern const wchar_t kServiceLogSubfolder[];

// An elevated process writes into the logged-on user's profile: in base, the path component
// that is the process user's profile folder (the last component of profile) is replaced by the
// session user's name. Only that one component changes, so a user named "App" leaves
// "AppData" alone. Base is returned unchanged when it does not lie inside profile.
std::wstring SubstituteProfileUser(const std::wstring& base, const std::wstring& profile,
                                   const std::wstring& sessionUser);

// Creates the folder with every missing parent; on Windows never through a link (a link in the
// chain makes it fail). True when the folder exists afterwards.
bool CreateServiceLogFolder(const std::wstring& folder);
// Appends one line (CRLF added) to the file, whose folder must exist (on Windows the file is
// never reached through a link: see the implementation). A new or empty file starts with the UTF-8
// byte-order mark; an existing file keeps the encoding its byte-order mark names (UTF-16LE
// with FF FE, else UTF-8). Calls from several threads never interleave inside a line.
bool AppendServiceLogLine(const std::wstring& path, const std::wstring& line);

}  // namespace brindle

namespace brindle {
// The bytes one line adds to a file: text-mode line ends (every LF becomes CR LF, and the line
// ends with CR LF), in UTF-16LE or UTF-8, with the byte-order mark first for a new file.
enum class LogFileEncoding { kNewFile, kUtf8, kUtf16 };
std::string EncodeServiceLogLine(const std::wstring& line, LogFileEncoding encoding);
// What an existing file's first bytes say about how to append to it.
LogFileEncoding DetectLogFileEncoding(const std::string& firstBytes, unsigned long long fileSize);
}  // namespace brindle
