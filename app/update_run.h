// The rules of an update run that do not depend on the platform: how titles and messages are
// filled in, how far the run has come and how component results combine.
#pragma once
#include <string>
#include <vector>

#include "app/coordination.h"
#include "app/update_items.h"
#include "package/package_kind.h"

namespace brindle {

// Longest text a formatted title or message may have; longer results are cut there.
const size_t kMaxFormattedChars = 500;

// Fills each "%s" of a string-table format with the next argument and "%%" with '%'. The
// arguments are inserted as they are, never read as formats. The result is cut to maxChars.
std::wstring FormatTableText(const std::wstring& format, const std::vector<std::wstring>& arguments,
                             size_t maxChars = kMaxFormattedChars);

// trunc(done / total * 100); 0 when there is nothing to do.
int PercentDone(int done, int total);
// The percent while the item after the done ones has handled steps of its stepsTotal steps: from
// PercentDone(done, total) on, rising with the steps, and below the next item's share (never
// 100 while an item is still running, so the dialog stays open until the run has ended).
int PercentWithinItem(int done, int total, int steps, int stepsTotal);

// The component passes of a component-mode run, in order.
struct ComponentPass {
  const wchar_t* actionType;  // "DELETE", "UPDATE", "ADD"
  NoticeKind kind;            // of the pass's progress records
  bool needsPath;             // only actions that name a Path
};
const std::vector<ComponentPass>& ComponentPasses();

// The final result of an UPDATE item: the delete's result unless it succeeded, else the add's;
// a failure reported by either wrapper is reported as the update's failure.
ComponentResult UpdateComponentResult(ComponentResult deleteResult, ComponentResult addResult);

}  // namespace brindle
