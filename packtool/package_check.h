// The package check: every rule the program applies to a package, tested before it ships.
// diff.xml is read by the program's own parser and model classes; a token counts as known when
// the model reads it and writes the same token back, so the check can never accept what the
// program would silently read as something else. Each finding names its place in diff.xml
// (line and element path) or the cabinet entry it is about.
#pragma once
#include <string>

#include "packtool/package_source.h"
#include "packtool/report.h"

namespace brindle {

class CQXDiffDistribute;

namespace pack {

struct CheckOptions {
  std::wstring lang;  // the installed application's language code; empty: not known
  std::wstring znq;   // where the uninstaller files are; empty: ZNQ beside the package
};

void CheckPackage(const PackageSource& source, const CheckOptions& options, Report& report);

// Helpers the other verbs share.

// The $Name$ variables of a text that the expansion table does not know (in order, repeats
// kept once). $InstallTime$ counts as known only when allowInstallTime is set.
std::vector<std::wstring> UnknownVariables(const std::wstring& text, bool allowInstallTime);

// Reads registry DWORD data as the program converts it: an unsigned number with a C-style base
// prefix that must use up the whole text. False when it does not convert.
bool ParseRegistryDword(const std::wstring& text, unsigned long long& value);

// The uninstaller's language folder for a language code (fr gives FRENCH), empty for others.
std::wstring WrapperLanguageFolder(const std::wstring& code);

// What the program does not apply yet, by name ("registry value", "shortcut", ...): it refuses a
// package holding any of them as a whole (service-log line NOT_SUPPORTED) and changes nothing.
// The list follows the program's own refusal in its sub-updater; empty when the program applies
// everything the package holds.
std::vector<std::wstring> ObjectsTheProgramRefuses(const CQXDiffDistribute& package);

}  // namespace pack
}  // namespace brindle
