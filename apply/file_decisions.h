// The decisions of the file family that depend on the files themselves, as pure functions of what
// is known of them, so that the program (which asks the system) and brindle-pack (which reads the
// bytes) decide alike.
#pragma once
#include <cstdint>

namespace brindle {

// What the version rule knows of one file.
struct FileFacts {
  bool hasVersion = false;
  std::uint64_t version = 0;    // the fixed file version: most significant half first
  std::uint64_t writeTime = 0;  // last write, in 100-ns units since 1601; 0 when unknown
};

// The rule that decides whether a package's file replaces an installed one: newer when both
// carry a version and the source's is higher; otherwise (no version on one side, or a version
// that is not higher) newer when its last write is later.
bool SourceIsNewer(const FileFacts& source, const FileFacts& target);

// The version of a file from the two halves of its fixed file version.
inline std::uint64_t FileVersionNumber(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
  return (std::uint64_t(mostSignificant) << 32) | leastSignificant;
}

}  // namespace brindle
