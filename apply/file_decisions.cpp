#include "apply/file_decisions.h"

namespace brindle {

bool SourceIsNewer(const FileFacts& source, const FileFacts& target) {
  if (source.hasVersion && target.hasVersion && source.version > target.version) return true;
  return source.writeTime > target.writeTime;
}

}  // namespace brindle
