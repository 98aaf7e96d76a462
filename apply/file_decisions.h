// The decisions of the file family that depend on the files themselves, as pure functions of what
// is known of them, so that the program (which asks the system) and brindle-pack (which reads the
// bytes) decide alike.
#pragma once
#include <cstdint>

#include "apply/registry_data.h"

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

// A file's shared-library count (SharedDLLs) as the registry holds it.
struct SharedCount {
  bool present = false;   // a value of the file's name exists
  bool isNumber = false;  // and it is a four-byte REG_DWORD
  std::uint32_t count = 0;
};
SharedCount SharedCountOf(bool found, const RegistryValueBytes& value);

// What deleting a file record does, decided before anything changes.
enum class FileDeletionKind {
  kHeld,          // INST_HLD: the file stays; the line says success
  kCountLowered,  // a shared file still used by others: its count goes down by one, it stays
  kRemoved,       // the file is removed (moved aside)
};
struct FileDeletion {
  FileDeletionKind kind = FileDeletionKind::kRemoved;
  bool removeCount = false;  // the count's value goes with the file (one or less, or not a number)
  std::uint32_t lowered = 0;
};
// A shared file (INST_REF) deleted by the delete section: a count above one is lowered and the
// file stays; otherwise the file goes and so does a count there is. The update section's
// deletions never touch a count.
FileDeletion DecideFileDeletion(int delInfo, bool inUpdate, const SharedCount& count);

// The count after a copy of a shared file: one more than now (1 when there is none); a count
// at its largest stays there rather than wrap to zero. False when the value is of another kind,
// which is not the program's to change.
bool RaisedSharedCount(const SharedCount& count, std::uint32_t& raised);

}  // namespace brindle
