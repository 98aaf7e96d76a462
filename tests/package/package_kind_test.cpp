#include <gtest/gtest.h>

#include "package/package_kind.h"

using namespace brindle;

TEST(PackageKind, TheExtensionDecidesInAnyLetterCase) {
  EXPECT_EQ(PackageKindOf(L"patch.diff"), PackageKind::kPatch);
  EXPECT_EQ(PackageKindOf(L"PATCH.DIFF"), PackageKind::kPatch);
  EXPECT_EQ(PackageKindOf(L"dir.v2/patch.Diff"), PackageKind::kPatch);
  EXPECT_EQ(PackageKindOf(L"setup.EXE"), PackageKind::kSetupExe);
  EXPECT_EQ(PackageKindOf(L"tool.apz"), PackageKind::kSetupApz);
  EXPECT_EQ(PackageKindOf(L"notes.zip"), PackageKind::kSkipped);
  EXPECT_EQ(PackageKindOf(L"nodot"), PackageKind::kSkipped);
  EXPECT_EQ(PackageKindOf(L"trailing."), PackageKind::kSkipped);
  EXPECT_EQ(PackageKindOf(L"patch.diff.bak"), PackageKind::kSkipped);
  EXPECT_EQ(PackageKindOf(L""), PackageKind::kSkipped);
}
