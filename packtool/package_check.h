// The package check: every rule the program applies to a package, tested before it ships.
// diff.xml is read by the program's own parser and model classes; a token counts as known when
// the model reads it and writes the same token back, so the check can never accept what the
// program would silently read as something else. Each finding names its place in diff.xml
// (line and element path) or the cabinet entry it is about.
#pragma once
#include <ostream>
#include <string>

#include "packtool/package_source.h"
#include "packtool/report.h"

namespace brindle {

class CQXDiffDistribute;

namespace pack {

struct CheckOptions {
  std::wstring lang;                     // the installed application's language code; empty: not known
  std::wstring znq;                      // where the uninstaller files are; empty: ZNQ beside the package
  bool allowUnknown = false;             // unknown elements and attributes are warnings, not errors
  std::ostream* progress = nullptr;      // progress lines (standard error), or none
  std::wstring progressVerb = L"check";  // the verb they name
};

void CheckPackage(const PackageSource& source, const CheckOptions& options, Report& report);

// Helpers the other verbs share.

// The $Name$ variables of a text that the expansion table does not know (in order, repeats
// kept once). $InstallTime$ counts as known only when allowInstallTime is set.
std::vector<std::wstring> UnknownVariables(const std::wstring& text, bool allowInstallTime);

// The variables a full path may begin with: those of the table that name a folder.
const std::vector<std::wstring>& FolderVariables();

// True when a path begins with a drive ("C:\\"), a UNC name or a folder variable: a place the
// program can act on without depending on its own working folder.
bool IsTargetPath(const std::wstring& path);

// Why the program's conversion refuses the registry data of a type (kRegDword...), or empty
// text when it converts: the program stops its registry pass at such a record.
std::wstring RegistryDataProblem(int type, const std::wstring& text);

// " (did you mean $InsFolder$?)" for a name close to one of the table, else empty text.
std::wstring VariableSuggestion(const std::wstring& name, bool allowInstallTime);

}  // namespace pack
}  // namespace brindle
