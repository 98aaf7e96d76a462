// A process ended at any change it makes, for the crash runs of the change families: the machine's
// registry, file system and links and the journal's disk wrapped so that every change they see is
// counted, and the one numbered cutAt never happens (a journal write it ends is left half on the
// disk). Reads change nothing, so an end before a read is the end before the next change.
#pragma once
#include <stdexcept>
#include <string>

#include "apply/machine_files.h"
#include "apply/machine_registry.h"
#include "apply/machine_shortcuts.h"
#include "apply/undo_journal.h"
#include "support/forwarding_registry.h"

namespace brindle {

// The process ends: nothing after this point happens.
struct PowerCut : std::runtime_error {
  PowerCut() : std::runtime_error("power cut") {}
};

struct Power {
  int cutAt = -1;  // -1: never
  int changes = 0;
  void Change() {
    if (changes++ == cutAt) throw PowerCut();
  }
};

class CutRegistry : public ForwardingRegistry {
 public:
  CutRegistry(MachineRegistry& registry, Power& power) : ForwardingRegistry(registry), power_(power) {}
  unsigned long WriteValue(const RegistryKeyName& key, const std::wstring& name,
                           const RegistryValueBytes& value, bool replace) override {
    power_.Change();
    return ForwardingRegistry::WriteValue(key, name, value, replace);
  }
  unsigned long DeleteValue(const RegistryKeyName& key, const std::wstring& name) override {
    power_.Change();
    return ForwardingRegistry::DeleteValue(key, name);
  }
  unsigned long DeleteKeyIfEmpty(const RegistryKeyName& key) override {
    power_.Change();
    return ForwardingRegistry::DeleteKeyIfEmpty(key);
  }
  unsigned long CreateKey(const RegistryKeyName& key) override {
    power_.Change();
    return ForwardingRegistry::CreateKey(key);
  }

 private:
  Power& power_;
};

class CutFiles : public MachineFiles {
 public:
  CutFiles(MachineFiles& files, Power& power) : f_(files), power_(power) {}
  unsigned long Look(const std::wstring& path, bool is64Bit, PathState& state) override {
    return f_.Look(path, is64Bit, state);
  }
  unsigned long Facts(const std::wstring& path, bool is64Bit, FileFacts& facts) override {
    return f_.Facts(path, is64Bit, facts);
  }
  unsigned long IsFolderEmpty(const std::wstring& path, bool is64Bit, bool& empty) override {
    return f_.IsFolderEmpty(path, is64Bit, empty);
  }
  std::wstring RestartName(const std::wstring& path, bool is64Bit) override {
    return f_.RestartName(path, is64Bit);
  }
  unsigned long RenameFile(const std::wstring& from, const std::wstring& to, bool is64Bit,
                           bool replace) override {
    power_.Change();
    return f_.RenameFile(from, to, is64Bit, replace);
  }
  unsigned long PlaceFile(const std::wstring& source, const std::wstring& target, bool is64Bit,
                          bool mayMove) override {
    power_.Change();
    return f_.PlaceFile(source, target, is64Bit, mayMove);
  }
  unsigned long RemoveFile(const std::wstring& path, bool is64Bit) override {
    power_.Change();
    return f_.RemoveFile(path, is64Bit);
  }
  unsigned long SetAttributes(const std::wstring& path, bool is64Bit, std::uint32_t attributes) override {
    power_.Change();
    return f_.SetAttributes(path, is64Bit, attributes);
  }
  unsigned long CreateFolder(const std::wstring& path, bool is64Bit) override {
    power_.Change();
    return f_.CreateFolder(path, is64Bit);
  }
  unsigned long RemoveFolder(const std::wstring& path, bool is64Bit) override {
    power_.Change();
    return f_.RemoveFolder(path, is64Bit);
  }
  unsigned long QueueRestartMove(const std::wstring& source, const std::wstring& destination) override {
    power_.Change();
    return f_.QueueRestartMove(source, destination);
  }
  unsigned long UnqueueRestartMove(const std::wstring& source, const std::wstring& destination) override {
    power_.Change();
    return f_.UnqueueRestartMove(source, destination);
  }

 private:
  MachineFiles& f_;
  Power& power_;
};

class CutShortcuts : public MachineShortcuts {
 public:
  CutShortcuts(MachineShortcuts& shortcuts, Power& power) : s_(shortcuts), power_(power) {}
  bool CommonFolder(ShortcutPlace place, std::wstring& folder) override {
    return s_.CommonFolder(place, folder);
  }
  std::vector<std::wstring> ProtectedFolders() override { return s_.ProtectedFolders(); }
  std::int32_t WriteLink(const std::wstring& path, const ShortcutLink& link) override {
    power_.Change();
    return s_.WriteLink(path, link);
  }

 private:
  MachineShortcuts& s_;
  Power& power_;
};

class CutSink : public CQXJournalSink {
 public:
  CutSink(std::string& disk, Power& power) : disk_(disk), power_(power) {}
  bool Append(const std::string& bytes) override {
    try {
      power_.Change();
    } catch (const PowerCut&) {
      disk_ += bytes.substr(0, bytes.size() / 2);  // the write is torn
      throw;
    }
    disk_ += bytes;
    return true;
  }

 private:
  std::string& disk_;
  Power& power_;
};

}  // namespace brindle
