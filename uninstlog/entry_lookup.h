// Finding the entry of the uninstall log that an operation changes (the file entry of a file,
// the folder entry of a folder, the registry-key entry of a key, the value entries of a key)
// without scanning its section: the entries of one kind in the sections of one name, by their
// comparison key (path_key.h), in section order. Built from the model on first use and kept in
// step by the operations that add and remove entries, so that an update of tens of thousands
// of files costs the same per file as one of a few.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include "uninstlog/ini_file.h"

namespace brindle {

class CEntryLookup {
 public:
  // The comparison key of an entry of the kind (the kind is checked by the lookup).
  using KeyOf = std::wstring (*)(const CKey& entry);

  CEntryLookup(std::wstring section, KeyKind kind, KeyOf keyOf);

  // The first entry with the key in the sections of the name, in order; null when none.
  // holder, when given, receives the section that lists it.
  CKey* Find(const CIniFile& model, const std::wstring& key, CSection** holder = nullptr);
  // Takes the first entry with the key out of its section; false when there is none.
  bool RemoveFirst(const CIniFile& model, const std::wstring& key);
  // To be called after an entry line was added to the section of the name (the model appends
  // it to the first section of that name).
  void NoteAdded(const CIniFile& model);
  // Forgets what was read: the next use reads the model again.
  void Reset() {
    built_ = false;
    places_.clear();
  }

 private:
  struct Place {
    CSection* section;
    CKey* key;
  };
  void Build(const CIniFile& model);
  // The only section of the name, or null when there are none or several.
  CSection* SoleSection(const CIniFile& model) const;

  std::wstring section_;
  KeyKind kind_;
  KeyOf keyOf_;
  bool built_ = false;
  std::unordered_map<std::wstring, std::vector<Place>> places_;
};

}  // namespace brindle
