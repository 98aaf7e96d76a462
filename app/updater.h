// One update run: the list it was started with, the busy checks against other updates and
// installations, the worker thread that walks the list while the main thread shows progress (or
// serves the hidden window of the component mode), and the final message and result.
#pragma once
#ifdef _WIN32
#include <memory>
#include <string>
#include <vector>

#include "app/update_driver.h"
#include "logs/update_lists.h"
#include "sys/win_handles.h"

namespace brindle {

class CQXSystemUtil;
class CQXSubUpdater;
class CQXUpdateItems;
struct ProgressContext;

class CQXUpdater {
 public:
  // Loads the list file and deletes it from disk, whether it could be loaded or not.
  CQXUpdater(const std::wstring& listPath, UpdateMode mode);
  virtual ~CQXUpdater();
  CQXUpdater(const CQXUpdater&) = delete;
  CQXUpdater& operator=(const CQXUpdater&) = delete;

  bool Loaded() const { return entries != nullptr || actionList != nullptr; }
  // The display name of the first entry (lowest Order): the title of every message box.
  std::wstring FirstDisplayName() const;
  // Runs the loaded list and says how the run ended.
  RunResult Run(CQXSystemUtil& system, CQXUpdateItems& items);

  std::wstring packageFolder;                            // folder of the list file (patch modes)
  std::wstring installLogPath;                           // forward slashes
  std::unique_ptr<std::vector<DiffLocalEntry>> entries;  // patch modes, sorted by Order
  std::unique_ptr<CQXActionListXML> actionList;          // component mode
  UpdateMode mode = UpdateMode::kUnknown;
  UniqueHandle instanceMutex;

  // Set for the run, used by the worker thread.
  CQXSystemUtil* system = nullptr;
  CQXUpdateItems* items = nullptr;
};

// The worker thread of a run; the argument is the run's ProgressContext.
unsigned UpdateWorker(void* context);

// The run with the given items (the product passes its own; tests pass theirs).
RunResult RunUpdateWith(const std::wstring& listPath, CQXSystemUtil* system, CQXSubUpdater* subUpdater,
                        CQXUpdateItems& items, UpdateMode mode);

// The hidden window of the component mode: serves cancel requests until the worker has
// finished. Returns at once when the window cannot be made. When it returns, the window is
// destroyed and its class unregistered.
void RunHiddenWindow(ProgressContext& context);
// The same with the window class registered for the given module (RunHiddenWindow uses the
// module of the program file Brindle.exe; null: nothing is made).
void RunHiddenWindowFor(void* module, ProgressContext& context);

}  // namespace brindle
#endif
