// brindle-pack make: a package that turns one folder of an application into another. The two
// folders are compared (relative paths without regard to letter case, as on Windows); files only
// in OLD are deleted, files whose bytes differ are updated, files only in NEW are added. The
// package description is built as the program's own model and written by the program's own XML
// writer, so what make writes is what the program reads.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "packtool/report.h"

namespace brindle::pack {

struct MakeOptions {
  std::wstring oldFolder, newFolder, output;
  std::wstring version;                  // the application's version after the update
  std::wstring versionFrom;              // or: a file of NEW whose version resource gives it
  std::wstring appName;                  // install-log key (for the list file)
  std::wstring displayName;              // UpdateObjects/DisplayName
  std::wstring target = L"$InsFolder$";  // where OLD is installed, as a package path
  std::vector<std::wstring> checkApps;
  bool checkAppsGiven = false;
  std::wstring extra;    // the declarative file ("-": standard input)
  std::wstring znq;      // the uninstaller files
  std::wstring list;     // a DiffLocalList to write
  std::wstring diffXml;  // a copy of diff.xml to write ("-": standard output)
  bool quiet = false;
  bool verbose = false;  // name every file stored in the cabinet
  bool force = false;    // keep a package that the check finds errors in
  bool dryRun = false;   // compare and read everything, write nothing
};

// What make did, one line per file, for the user and for tests.
struct MakeResult {
  std::vector<std::wstring> added, updated, deleted;  // relative paths ('\')
};

// Builds the package; findings (errors name the file and line) go to report, progress to
// progress (unless quiet), the file list to out. False when the package was not written.
bool MakePackage(const MakeOptions& options, Report& report, std::ostream& out, std::ostream& progress,
                 MakeResult& result);

}  // namespace brindle::pack
