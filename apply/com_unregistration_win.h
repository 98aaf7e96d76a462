// Unregistration of a COM server that a package deletes, with its service-log line.
#pragma once
#include <string>

#include "apply/com_changes.h"

namespace brindle {

// Unregisters the server now (never queued) on the system, its undo noted first, and writes the
// UNREGISTER_COM line: the path, "success" or "error", and the failing step's code (0 when there
// is none). No line when its undo could not be noted (the journal wrote its own).
ComChangeResult UnregisterComServer(const std::wstring& path, bool is64Bit, ComChangeJournal& notes);

}  // namespace brindle
