#include <gtest/gtest.h>

#include "app/coordination.h"

using namespace brindle;

namespace {
std::uint32_t At(const std::vector<std::uint8_t>& r, size_t offset) {
  return r[offset] | (r[offset + 1] << 8) | (r[offset + 2] << 16) |
         (static_cast<std::uint32_t>(r[offset + 3]) << 24);
}
}  // namespace

TEST(ProgressRecord, FieldsSitAtTheirOffsetsAndEveryOtherByteIsZero) {
  const auto r = BuildProgressRecord(0x00012345u, NoticeKind::kUpdatePass, L"Aide\u00e9", 3, 2, 200);
  ASSERT_EQ(r.size(), 552u);
  EXPECT_EQ(At(r, 0), 0x00012345u);
  EXPECT_EQ(At(r, 4), 4u);
  const std::vector<std::uint8_t> name = {'A', 0, 'i', 0, 'd', 0, 'e', 0, 0xE9, 0, 0, 0};
  EXPECT_TRUE(std::equal(name.begin(), name.end(), r.begin() + 8));
  EXPECT_EQ(At(r, 536), 3u);
  EXPECT_EQ(At(r, 540), 2u);
  EXPECT_EQ(At(r, 544), 200u);
  for (size_t i = 8 + 10; i < 536; ++i) ASSERT_EQ(r[i], 0) << "byte " << i;
  for (size_t i = 548; i < 552; ++i) ASSERT_EQ(r[i], 0) << "byte " << i;
}

TEST(ProgressRecord, ALongNameIsCutTo255CharactersAndStaysTerminated) {
  std::wstring name;
  for (int i = 0; i < 300; ++i) name += static_cast<wchar_t>(L'a' + i % 26);
  const auto r = BuildProgressRecord(0, NoticeKind::kDeletePass, name, 1, 0, 0);
  for (size_t i = 0; i < 255; ++i) ASSERT_EQ(r[8 + 2 * i], static_cast<std::uint8_t>(name[i])) << i;
  EXPECT_EQ(r[8 + 2 * 255], 0);
  EXPECT_EQ(r[9 + 2 * 255], 0);
  EXPECT_EQ(At(r, 536), 1u);  // the name did not spill into the counters
  // Exactly 255 characters fit whole.
  const auto exact = BuildProgressRecord(0, NoticeKind::kDeletePass, name.substr(0, 255), 0, 0, 0);
  EXPECT_EQ(exact[8 + 2 * 254], static_cast<std::uint8_t>(name[254]));
}

TEST(ProgressRecord, RunLevelNoticeHasNoNameAndNegativeValuesKeepTheirBits) {
  const auto r = BuildProgressRecord(0, NoticeKind::kRun, L"", 0, 0, 10);
  EXPECT_EQ(At(r, 0), 0u);
  EXPECT_EQ(At(r, 544), 10u);
  EXPECT_EQ(r[8], 0);
  EXPECT_EQ(At(BuildProgressRecord(0, NoticeKind::kRun, L"", -1, 0, 0), 536), 0xFFFFFFFFu);
}
