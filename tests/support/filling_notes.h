// A journal of file notes whose disk fills up: it takes the given number of notes, then refuses
// every one, for the cases of a change whose undo cannot be noted.
#pragma once
#include <string>

#include "apply/file_changes.h"

namespace brindle {

class FillingNotes : public FileChangeJournal {
 public:
  FillingNotes(int allowed, std::wstring backup) : allowed_(allowed), backup_(std::move(backup)) {}
  bool NoteMoveAside(const std::wstring&, bool, std::wstring& backup) override {
    backup = backup_;
    return Take();
  }
  bool NoteCreated(const std::wstring&, bool, bool) override { return Take(); }
  bool NoteFolderRemoved(const std::wstring&, std::uint32_t, bool) override { return Take(); }
  bool NoteAttributes(const std::wstring&, std::uint32_t, bool) override { return Take(); }
  bool NoteRestartMove(const std::wstring&, const std::wstring&) override { return Take(); }

 private:
  bool Take() { return allowed_-- > 0; }
  int allowed_;
  std::wstring backup_;
};

}  // namespace brindle
