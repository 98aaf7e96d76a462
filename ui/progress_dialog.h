// The progress dialog shown while an update runs: it follows the run's ProgressContext, which a
// worker thread writes, and closes itself when the work is done or has stopped.
#pragma once
#include <string>

#include "ui/progress_context.h"

namespace brindle {

// Shows the dialog modally with this caption until the context says the run is over; the user
// cannot close it. Returns when it has closed.
void ShowProgressDialog(const std::wstring& caption, ProgressContext& context);
// Has the open dialog look at the context at once (from any thread; nothing when none is open).
void WakeProgressDialog(const ProgressContext& context);

}  // namespace brindle
