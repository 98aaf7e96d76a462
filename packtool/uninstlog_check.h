// Checks an uninstall log line by line with the rules of the program's own reader: every line
// that would make the reader refuse the whole file is reported with its number and why.
#pragma once
#include <string>

#include "packtool/report.h"

namespace brindle::pack {

// Checks the file's bytes (code page 0: the ANSI code page); name is what findings call the
// file. The verdict of the program's reader on the whole file is the result: true when it
// loads. A finding is added for each bad line.
bool CheckUninstallLog(const std::string& bytes, const std::wstring& name, Report& report,
                       unsigned codePage = 0);

}  // namespace brindle::pack
