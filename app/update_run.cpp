#include "app/update_run.h"

#include "app/update_items.h"
#include "sys/text.h"

#include <cmath>

namespace brindle {

std::wstring FormatTableText(const std::wstring& format, const std::vector<std::wstring>& arguments,
                             size_t maxChars) {
  std::wstring text;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == L'%' && i + 1 < format.size()) {
      if (format[i + 1] == L's') {
        if (next < arguments.size()) text += arguments[next];
        ++next;
        ++i;
        continue;
      }
      if (format[i + 1] == L'%') {
        text += L'%';
        ++i;
        continue;
      }
    }
    text += format[i];
  }
  if (text.size() > maxChars) text.resize(maxChars);
  return text;
}

int PercentDone(int done, int total) {
  if (total <= 0) return 0;
  return static_cast<int>(std::trunc(static_cast<double>(done) / total * 100.0));
}

int PercentWithinItem(int done, int total, int steps, int stepsTotal) {
  const int start = PercentDone(done, total);
  if (total <= 0 || done < 0 || done >= total || stepsTotal <= 0 || steps <= 0) return start;
  if (steps > stepsTotal) steps = stepsTotal;
  // The item's steps fill its share of the run only up to its last step's share: what follows
  // the steps (the logs to write) is still part of the item.
  const double share = static_cast<double>(steps) / (static_cast<double>(stepsTotal) + 1.0);
  const int percent = static_cast<int>(std::floor((done + share) / total * 100.0));
  const int end = PercentDone(done + 1, total) - 1;  // below the next item's share
  if (percent > end) return end > start ? end : start;
  return percent > start ? percent : start;
}

const std::vector<ComponentPass>& ComponentPasses() {
  static const std::vector<ComponentPass> passes = {{L"DELETE", NoticeKind::kDeletePass, false},
                                                    {L"UPDATE", NoticeKind::kUpdatePass, true},
                                                    {L"ADD", NoticeKind::kAddPass, true}};
  return passes;
}

ComponentResult UpdateComponentResult(ComponentResult deleteResult, ComponentResult addResult) {
  const ComponentResult result = deleteResult == ComponentResult::kDone ? addResult : deleteResult;
  if (result == ComponentResult::kDeleteFailedQuietly || result == ComponentResult::kAddFailed)
    return ComponentResult::kUpdateFailed;
  return result;
}

}  // namespace brindle
