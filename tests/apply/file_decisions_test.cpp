// The version rule the program and brindle-pack share: a higher version wins, else the later
// write, and a version that is not higher never by itself keeps the installed file.
#include <gtest/gtest.h>

#include "apply/file_decisions.h"

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
