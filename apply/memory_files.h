// A file system held in memory behind the machine's file interface: the native tests run the
// file changes on it (and interrupt them at every call), and brindle-pack's plan can decide on it
// as the program would. Paths compare without regard to case and to doubled or forward
// separators, as Windows compares them. The 32-bit view of C:\Windows\System32 is
// C:\Windows\SysWOW64, as on 64-bit Windows; every other path is shared by both views. A file
// holds its bytes, attributes and the facts the version rule reads; a file marked in use refuses
// to be moved, deleted or overwritten, and a read-only one to be deleted or overwritten, with the
// codes Windows answers. Drive roots ("C:") always exist.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "apply/machine_files.h"

namespace brindle {

class MemoryFiles : public MachineFiles {
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
  // The path as given: the in-memory file system has no short names.
  std::wstring RestartName(const std::wstring& path, bool is64Bit) override;
  unsigned long QueueRestartMove(const std::wstring& source, const std::wstring& destination) override;
  unsigned long UnqueueRestartMove(const std::wstring& source, const std::wstring& destination) override;

  // Puts a file there (its folders made first), replacing whatever file was there.
  void AddFile(const std::wstring& path, bool is64Bit, const std::string& bytes, const FileFacts& facts = {},
               std::uint32_t attributes = kAttributeNormal);
  // Makes the folder and every missing folder on its way.
  void AddFolder(const std::wstring& path, bool is64Bit);
  // A file held open by another program: moving, deleting or overwriting it fails.
  void SetInUse(const std::wstring& path, bool is64Bit, bool inUse = true);
  // The restart queue refuses every move with this code (0: it takes them).
  void RefuseRestartMoves(unsigned long code) { queueRefusal_ = code; }

  bool HasFile(const std::wstring& path, bool is64Bit) const;
  bool HasFolder(const std::wstring& path, bool is64Bit) const;
  // The bytes of a file (empty when there is none).
  std::string Bytes(const std::wstring& path, bool is64Bit) const;
  std::uint32_t Attributes(const std::wstring& path, bool is64Bit) const;
  // The moves queued for the restart, in order: source, destination (empty: a deletion).
  const std::vector<std::pair<std::wstring, std::wstring>>& RestartQueue() const { return queue_; }
  // Every folder and file with its attributes, bytes and facts, then the restart queue, one per
  // line in a stable order, paths in their compared form: two machines hold the same files
  // exactly when their listings are equal.
  std::wstring Listing() const;

 private:
  struct Entry {
    bool isFolder = false;
    std::uint32_t attributes = 0;
    std::string bytes;
    FileFacts facts;
    bool inUse = false;
  };
  // The path's place in the one tree: its compared form, the 32-bit view's system folder mapped.
  static std::wstring Place(const std::wstring& path, bool is64Bit);
  static std::wstring ParentOf(const std::wstring& place);
  static bool IsRoot(const std::wstring& place);
  bool FolderExists(const std::wstring& place) const;
  // The code Windows answers for a missing path: its folder there or not.
  unsigned long MissingCode(const std::wstring& place) const;
  // Whether an existing file at the place may be overwritten (0) or why not.
  unsigned long MayOverwrite(const std::wstring& place) const;

  std::map<std::wstring, Entry> entries_;  // by place
  std::vector<std::pair<std::wstring, std::wstring>> queue_;
  unsigned long queueRefusal_ = 0;
};

}  // namespace brindle
