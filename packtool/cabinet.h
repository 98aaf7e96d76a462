// Cabinet files, written and read by the platform's cabinet library: libgcab on Linux, the
// system's cabinet API (FCI to write, FDI to read) on Windows. Names inside a cabinet use '\'
// between folders, as the program's extraction expects.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace brindle::pack {

struct CabinetEntry {
  std::wstring name;    // the name inside the cabinet (ASCII, '\' between folders)
  std::wstring source;  // the file whose bytes and time stamp go in
};

// Called after each file with the number done and the total.
using CabinetProgress = std::function<void(size_t done, size_t total)>;

// Writes a cabinet (MSZIP compression) holding the entries in order; false with a reason.
bool WriteCabinet(const std::wstring& path, const std::vector<CabinetEntry>& entries, std::wstring& reason,
                  const CabinetProgress& progress = CabinetProgress());

// Reads a cabinet: every name it stores goes to names (as stored, '\' kept), and every entry
// whose name is a safe relative path is extracted below folder ('\' becomes a sub-folder).
// Entries with unsafe names are listed but never written. False with a reason when the file is
// not a cabinet or cannot be read.
bool ReadCabinet(const std::wstring& path, const std::wstring& folder, std::vector<std::wstring>& names,
                 std::wstring& reason);

}  // namespace brindle::pack
