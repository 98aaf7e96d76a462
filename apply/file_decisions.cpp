#include "apply/file_decisions.h"

#include <cstdint>

#include "package/object_records.h"

namespace brindle {

bool SourceIsNewer(const FileFacts& source, const FileFacts& target) {
  if (source.hasVersion && target.hasVersion && source.version > target.version) return true;
  return source.writeTime > target.writeTime;
}

SharedCount SharedCountOf(bool found, const RegistryValueBytes& value) {
  SharedCount c;
  c.present = found;
  c.isNumber = found && value.type == kStoredDword && value.bytes.size() == 4;
  for (size_t i = 0; c.isNumber && i < 4; ++i)
    c.count |= std::uint32_t(static_cast<unsigned char>(value.bytes[i])) << (8 * i);
  return c;
}

FileDeletion DecideFileDeletion(int delInfo, bool inUpdate, const SharedCount& count) {
  FileDeletion d;
  if (delInfo == kDelInfoHold) {
    d.kind = FileDeletionKind::kHeld;
    return d;
  }
  if (delInfo != kDelInfoReference || inUpdate || !count.present) return d;
  if (count.isNumber && count.count > 1) {
    d.kind = FileDeletionKind::kCountLowered;
    d.lowered = count.count - 1;
    return d;
  }
  d.removeCount = true;
  return d;
}

bool RaisedSharedCount(const SharedCount& count, std::uint32_t& raised) {
  if (count.present && !count.isNumber) return false;
  const std::uint32_t now = count.present ? count.count : 0;
  raised = now == UINT32_MAX ? now : now + 1;
  return true;
}

}  // namespace brindle
