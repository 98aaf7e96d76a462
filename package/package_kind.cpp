#include "package/package_kind.h"

#include "sys/text.h"

namespace brindle {

int PackageKindOf(const std::wstring& fileName) {
  const size_t dot = fileName.find_last_of(L'.');
  if (dot == std::wstring::npos || dot + 1 == fileName.size()) return kPackageSkipped;
  const std::wstring extension = AsciiLower(fileName.substr(dot + 1));
  if (extension == L"diff") return kPackagePatch;
  if (extension == L"exe") return kPackageSetupExe;
  if (extension == L"apz") return kPackageSetupApz;
  return kPackageSkipped;
}

}  // namespace brindle
