// brindle-pack plan: the actions the program would take with a package, in its order, with every
// $Variable$ expanded from the install log by the program's own expansion table, and nothing on
// the machine changed. Each action is one line "VERB object" with the verb and object of the
// service-log line the program writes for it; every other line starts with "# ".
#pragma once
#include <ostream>
#include <string>

#include "packtool/package_source.h"
#include "packtool/report.h"

namespace brindle::pack {

struct PlanOptions {
  std::wstring installLog;           // the enciphered install log
  std::wstring appName;              // the entry; empty: the log's only entry
  std::wstring root;                 // a folder standing for C:\ (files are looked up below it)
  std::wstring registry;             // a registry export standing for the machine's registry
  bool json = false;                 // one JSON object per line: {"verb","object"} or {"note"}
  bool quiet = false;                // actions only
  std::ostream* progress = nullptr;  // progress lines for a large package (standard error)
};

// False (with the reason in report) when the install log, its entry or diff.xml cannot be had.
bool PlanPackage(const PackageSource& source, const PlanOptions& options, std::ostream& out, Report& report);

struct VerifyOptions {
  std::wstring installLog;  // the enciphered install log
  std::wstring appName;     // the entry; empty: the log's only entry
  std::wstring root;        // a folder standing for C:\ of the machine
  std::wstring package;     // a package that was applied (optional)
  std::wstring registry;    // a registry export standing for the machine's registry (optional)
};

// Checks an installed application below root against its install log and uninstall log:
// the installation folder and the uninstall log present, every line of the uninstall log
// readable by the program, every file it lists present; with a package, every file the
// package adds or updates present with the package's bytes and listed in the uninstall log,
// every file it deletes gone. With a registry export: every file the uninstall log lists as shared
// has a shared-library count, and with a package every value it writes is there with its data,
// every value it deletes gone. False
// (with the reason in report) when the install log or its entry cannot be had.
bool VerifyInstallation(const VerifyOptions& options, Report& report);

}  // namespace brindle::pack
