// What the actions of a package write down before they change the machine: the undo of each
// change, through the notes of its family, and the undo records a pass gathers for all its
// records before its first change. The program's package journal is the one implementation
// it runs; every package has one, and an action whose notes cannot be written is not made.
#pragma once
#include <functional>
#include <string>

#include "apply/com_changes.h"
#include "apply/file_changes.h"
#include "apply/registry_changes.h"

namespace brindle {

// The undo records of a pass, gathered before it starts. Each throws CUpdaterException when its
// record cannot be made: the pass is then not run.
class StepDeclarations {
 public:
  virtual ~StepDeclarations() = default;
  // A file target: moved aside when it exists, else its creation and that of its missing folders.
  virtual void DeclareFile(const std::wstring& path, bool is64Bit) = 0;
  // A value about to be written, and the keys of its path that are missing.
  virtual void DeclareValue(int root, bool is64BitView, const std::wstring& keyPath,
                            const std::wstring& name) = 0;
  // A value about to be deleted (its key stays unless it empties).
  virtual void DeclareValueDeletion(int root, bool is64BitView, const std::wstring& keyPath,
                                    const std::wstring& name) = 0;
};

class PackageNotes {
 public:
  virtual ~PackageNotes() = default;
  // Gathers the pass's undo records through declare and writes them in one trip: false when they
  // cannot be gathered or written (none of them is kept, and the pass must not run).
  virtual bool DeclareStep(const std::function<void(StepDeclarations&)>& declare) = 0;
  virtual FileChangeJournal& FileNotes() = 0;
  virtual RegistryChangeJournal& RegistryNotes() = 0;
  virtual ComChangeJournal& ComNotes() = 0;
};

}  // namespace brindle
