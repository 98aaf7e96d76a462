// The version rule the program and brindle-pack share: a higher version wins, else the later
// write, and a version that is not higher never by itself keeps the installed file.
#include <gtest/gtest.h>

#include "apply/file_decisions.h"
#include "package/object_records.h"

namespace brindle {
namespace {

FileFacts Facts(bool hasVersion, std::uint64_t version, std::uint64_t time) {
  FileFacts f;
  f.hasVersion = hasVersion;
  f.version = version;
  f.writeTime = time;
  return f;
}

TEST(FileDecisions, TheSourceIsNewerByAHigherVersionElseByALaterWrite) {
  const std::uint64_t v1 = FileVersionNumber(1, 0), v2 = FileVersionNumber(2, 0);
  EXPECT_EQ(v2 - v1, std::uint64_t(1) << 32);  // the most significant half counts first
  EXPECT_LT(FileVersionNumber(1, 0xFFFFFFFF), FileVersionNumber(2, 0));
  struct Case {
    FileFacts source, target;
    bool newer;
    const char* why;
  } cases[] = {
      {Facts(true, v2, 10), Facts(true, v1, 20), true, "higher version, older write"},
      {Facts(true, v1, 30), Facts(true, v2, 20), true, "lower version, later write"},
      {Facts(true, v1, 20), Facts(true, v1, 20), false, "same version, same write"},
      {Facts(true, v1, 10), Facts(true, v1, 20), false, "same version, older write"},
      {Facts(false, 0, 30), Facts(true, v2, 20), true, "no version on the source, later write"},
      {Facts(true, v2, 10), Facts(false, 0, 20), false, "no version on the target, older write"},
      {Facts(false, 0, 0), Facts(false, 0, 20), false, "the source's time unknown"},
      {Facts(false, 0, 5), Facts(false, 0, 0), true, "the target's time unknown"},
  };
  for (const Case& c : cases) EXPECT_EQ(SourceIsNewer(c.source, c.target), c.newer) << c.why;
}

}  // namespace
}  // namespace brindle

namespace brindle {
namespace {

SharedCount Count(std::uint32_t n) { return SharedCountOf(true, DwordValue(n)); }

TEST(FileDecisions, ASharedFileStaysWhileOthersCountOnItAndItsCountGoesWithIt) {
  EXPECT_EQ(DecideFileDeletion(kDelInfoHold, false, Count(5)).kind, FileDeletionKind::kHeld);
  const FileDeletion lowered = DecideFileDeletion(kDelInfoReference, false, Count(3));
  EXPECT_EQ(lowered.kind, FileDeletionKind::kCountLowered);
  EXPECT_EQ(lowered.lowered, 2u);
  EXPECT_FALSE(lowered.removeCount);
  for (const SharedCount& last :
       {Count(1), Count(0), SharedCountOf(true, RegistryValueBytes{kStoredSz, "x"})}) {
    const FileDeletion d = DecideFileDeletion(kDelInfoReference, false, last);
    EXPECT_EQ(d.kind, FileDeletionKind::kRemoved);
    EXPECT_TRUE(d.removeCount);
  }
  // No count, a plain file, or the update section: the file goes and no count is touched.
  for (const FileDeletion& d : {DecideFileDeletion(kDelInfoReference, false, SharedCount()),
                                DecideFileDeletion(kDelInfoDelete, false, Count(3)),
                                DecideFileDeletion(kDelInfoReference, true, Count(3))}) {
    EXPECT_EQ(d.kind, FileDeletionKind::kRemoved);
    EXPECT_FALSE(d.removeCount);
  }
}

TEST(FileDecisions, ACopyRaisesTheCountByOneWithoutWrappingAndLeavesAValueOfAnotherKind) {
  std::uint32_t raised = 0;
  ASSERT_TRUE(RaisedSharedCount(SharedCount(), raised));
  EXPECT_EQ(raised, 1u);
  ASSERT_TRUE(RaisedSharedCount(Count(4), raised));
  EXPECT_EQ(raised, 5u);
  ASSERT_TRUE(RaisedSharedCount(Count(0xFFFFFFFFu), raised));
  EXPECT_EQ(raised, 0xFFFFFFFFu);  // never back to zero, which would read as unused
  EXPECT_FALSE(
      RaisedSharedCount(SharedCountOf(true, RegistryValueBytes{kStoredSz, std::string(4, 'x')}), raised));
  EXPECT_FALSE(SharedCountOf(true, RegistryValueBytes{kStoredDword, "xy"}).isNumber);  // too short
}

}  // namespace
}  // namespace brindle
