// Notes that keep nothing, for every family (the registry's own, NothingNoted, is beside its
// changes): no undo record is written and no old file is moved aside (it is deleted), so what is
// changed through them cannot be taken back. Only the benchmark's build that measures what the
// journal costs applies packages with them; the program never does.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "apply/package_notes.h"

namespace brindle {

class NothingNotedFiles : public FileChangeJournal {
 public:
  bool NoteMoveAside(const std::wstring&, bool, std::wstring& backup) override {
    backup.clear();
    return true;
  }
  bool NoteCreated(const std::wstring&, bool, bool) override { return true; }
  bool NoteFolderRemoved(const std::wstring&, std::uint32_t, bool) override { return true; }
  bool NoteAttributes(const std::wstring&, std::uint32_t, bool) override { return true; }
  bool NoteRestartMove(const std::wstring&, const std::wstring&) override { return true; }
};
class NothingNotedCom : public ComChangeJournal {
 public:
  bool NoteServer(const std::wstring&, bool, bool) override { return true; }
  bool NoteWaitingRegistration(const std::wstring&) override { return true; }
};
class NothingNotedPackage : public PackageNotes {
 public:
  bool DeclareStep(const std::function<void(StepDeclarations&)>&) override { return true; }
  FileChangeJournal& FileNotes() override { return files_; }
  RegistryChangeJournal& RegistryNotes() override { return registry_; }
  ComChangeJournal& ComNotes() override { return com_; }

 private:
  NothingNotedFiles files_;
  NothingNoted registry_;  // registry_changes.h
  NothingNotedCom com_;
};

}  // namespace brindle
