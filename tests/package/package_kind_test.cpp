#include <gtest/gtest.h>

#include "package/package_kind.h"

using namespace brindle;

TEST(PackageKind, TheExtensionDecidesInAnyLetterCase) {
  EXPECT_EQ(PackageKindOf(L"patch.diff"), kPackagePatch);
  EXPECT_EQ(PackageKindOf(L"PATCH.DIFF"), kPackagePatch);
  EXPECT_EQ(PackageKindOf(L"dir.v2/patch.Diff"), kPackagePatch);
  EXPECT_EQ(PackageKindOf(L"setup.EXE"), kPackageSetupExe);
  EXPECT_EQ(PackageKindOf(L"tool.apz"), kPackageSetupApz);
  EXPECT_EQ(PackageKindOf(L"notes.zip"), kPackageSkipped);
  EXPECT_EQ(PackageKindOf(L"nodot"), kPackageSkipped);
  EXPECT_EQ(PackageKindOf(L"trailing."), kPackageSkipped);
  EXPECT_EQ(PackageKindOf(L"patch.diff.bak"), kPackageSkipped);
  EXPECT_EQ(PackageKindOf(L""), kPackageSkipped);
}
