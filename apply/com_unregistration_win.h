// Unregistration of a COM server that a package deletes, with its service-log line.
#pragma once
#include <string>

namespace brindle {

// Unregisters the server now (never queued) and writes the UNREGISTER_COM line: the path,
// "success" or "error", and the failing step's code (0 when there is none). False when it failed.
bool UnregisterComServer(const std::wstring& path, bool is64Bit);

}  // namespace brindle
