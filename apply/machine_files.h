// The file system as a package's file actions see it: files and folders named by their full
// path and the view they belong to (the 64-bit view of a 32-bit program on 64-bit Windows is
// reached with redirection switched off), looked at, moved, placed, removed and queued for the
// restart one call at a time. Windows answers through the system; an in-memory file system
// answers the tests and brindle-pack's plan. Every call answers the system's error code (0 on
// success), never through GetLastError.
#pragma once
#include <cstdint>
#include <string>

#include "apply/file_decisions.h"
#include "apply/machine_registry.h"

namespace brindle {

// The file system's error codes the file changes name, beside the registry's.
enum : unsigned long {
  kSysAccessDenied = 5,
  kSysNotSameDevice = 17,
  kSysSharingViolation = 32,
  kSysFileExists = 80,
  kSysInvalidName = 123,
  kSysAlreadyExists = 183,
  kSysDirectory = 267,
};

// The file attributes the changes look at (the system's own values).
enum : std::uint32_t {
  kAttributeReadOnly = 0x1,
  kAttributeDirectory = 0x10,
  kAttributeNormal = 0x80,
};

// What a change needs to know of one path, as it is now.
struct PathState {
  bool exists = false;
  bool isFolder = false;
  std::uint32_t attributes = 0;
};

// The comparison key of a path's folder in one view of the file system: the same folder name
// may name two folders, one for each view.
std::wstring FolderKey(const std::wstring& path, bool is64Bit);

class MachineFiles {
 public:
  virtual ~MachineFiles() = default;
  // The path as it is now. A missing path (or a missing folder on its way) is not an error here:
  // the state says it does not exist. Any other failure answers its code.
  virtual unsigned long Look(const std::wstring& path, bool is64Bit, PathState& state) = 0;
  // What the version rule knows of a file (its fixed version and last write).
  virtual unsigned long Facts(const std::wstring& path, bool is64Bit, FileFacts& facts) = 0;
  // Renames a file, never a folder; with replace, a file at the destination is overwritten (a
  // read-only one refuses with kSysAccessDenied).
  // kSysFileNotFound when the source is gone; kSysSharingViolation when it is in use.
  virtual unsigned long RenameFile(const std::wstring& from, const std::wstring& to, bool is64Bit,
                                   bool replace) = 0;
  // Puts a file of the unpacked package at the target, overwriting what is there; moved when
  // mayMove (no other record needs the source), else copied.
  virtual unsigned long PlaceFile(const std::wstring& source, const std::wstring& target, bool is64Bit,
                                  bool mayMove) = 0;
  virtual unsigned long RemoveFile(const std::wstring& path, bool is64Bit) = 0;
  virtual unsigned long SetAttributes(const std::wstring& path, bool is64Bit, std::uint32_t attributes) = 0;
  // Makes one folder whose parent exists (kSysAlreadyExists when it is there).
  virtual unsigned long CreateFolder(const std::wstring& path, bool is64Bit) = 0;
  // Removes a folder only while it is empty (kSysDirNotEmpty otherwise).
  virtual unsigned long RemoveFolder(const std::wstring& path, bool is64Bit) = 0;
  virtual unsigned long IsFolderEmpty(const std::wstring& path, bool is64Bit, bool& empty) = 0;
  // The name under which a move queued for the restart names the file (its short form on
  // Windows, so that a deletion queued before it does not change what it means).
  virtual std::wstring RestartName(const std::wstring& path, bool is64Bit) = 0;
  // Queues a move for the next restart (an empty destination queues a deletion), and takes the
  // last such move out of the queue again (nothing to take out is success).
  virtual unsigned long QueueRestartMove(const std::wstring& source, const std::wstring& destination) = 0;
  virtual unsigned long UnqueueRestartMove(const std::wstring& source, const std::wstring& destination) = 0;
};

}  // namespace brindle
