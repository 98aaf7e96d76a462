// What kind of item a list entry names, told by its file name: a patch package, a setup program
// or nothing this program runs.
#pragma once
#include <string>

namespace brindle {

enum class PackageKind { kPatch, kSetupExe, kSetupApz, kSkipped };

// From the text after the last '.' of the file name, compared in lower case: "diff" is a patch
// package, "exe" and "apz" are setup programs, anything else (or no extension) is skipped.
PackageKind PackageKindOf(const std::wstring& fileName);

}  // namespace brindle
