#include "package/package_kind.h"

#include "sys/text.h"

namespace brindle {

PackageKind PackageKindOf(const std::wstring& fileName) {
  const size_t dot = fileName.find_last_of(L'.');
  if (dot == std::wstring::npos || dot + 1 == fileName.size()) return PackageKind::kSkipped;
  const std::wstring extension = AsciiLower(fileName.substr(dot + 1));
  if (extension == L"diff") return PackageKind::kPatch;
  if (extension == L"exe") return PackageKind::kSetupExe;
  if (extension == L"apz") return PackageKind::kSetupApz;
  return PackageKind::kSkipped;
}

}  // namespace brindle
