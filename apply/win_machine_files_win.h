// The machine's files on Windows: each call acts on the path in the view the thread's
// redirection is switched to (the caller switches it for the record in hand). A file moved is
// renamed through one handle, and copied whole before it is removed when the move crosses
// volumes; a file placed from the package gets the access list its new folder hands down.
#pragma once
#include <windows.h>

#include <string>

#include "apply/machine_files.h"
#include "sys/file_placement_win.h"

namespace brindle {

class WinMachineFiles : public MachineFiles {
 public:
  unsigned long Look(const std::wstring& path, bool is64Bit, PathState& state) override;
  unsigned long Facts(const std::wstring& path, bool is64Bit, FileFacts& facts) override;
  unsigned long RenameFile(const std::wstring& from, const std::wstring& to, bool is64Bit,
                           bool replace) override;
  unsigned long PlaceFile(const std::wstring& source, const std::wstring& target, bool is64Bit,
                          bool mayMove) override;
  unsigned long RemoveFile(const std::wstring& path, bool is64Bit) override;
  unsigned long SetAttributes(const std::wstring& path, bool is64Bit, std::uint32_t attributes) override;
  unsigned long CreateFolder(const std::wstring& path, bool is64Bit) override;
  unsigned long RemoveFolder(const std::wstring& path, bool is64Bit) override;
  unsigned long IsFolderEmpty(const std::wstring& path, bool is64Bit, bool& empty) override;
  std::wstring RestartName(const std::wstring& path, bool is64Bit) override;
  unsigned long QueueRestartMove(const std::wstring& source, const std::wstring& destination) override;
  unsigned long UnqueueRestartMove(const std::wstring& source, const std::wstring& destination) override;

  // The end of a step: what was learnt of the folders' access lists is forgotten.
  void EndStep() { inheritedAccess_.Clear(); }

 private:
  enum class Move { kPlaced, kNotMoved, kLost };
  Move MoveIntoPlace(const std::wstring& source, const std::wstring& target, bool is64Bit,
                     unsigned long& error);
  unsigned long PutBack(const std::wstring& from, const std::wstring& to);

  // The access list each target folder hands down, learnt at its first placed file.
  CQXInheritedAccess inheritedAccess_;
};

// Copies the file to the destination under a passing name, flushed, keeping its times, and gives
// it the destination's name only once the copy is whole: a process ended in the middle leaves
// no half copy under that name. False with the system's error set.
bool CopyWholeThenName(const std::wstring& path, const std::wstring& destination);

// Removes the last move from source to destination that the system queued for the restart
// (nothing queued is success); 0 or the system's error.
unsigned long RemoveRestartMove(const std::wstring& source, const std::wstring& destination);

}  // namespace brindle
