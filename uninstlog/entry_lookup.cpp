#include "uninstlog/entry_lookup.h"

#include <algorithm>

namespace brindle {

CEntryLookup::CEntryLookup(std::wstring section, KeyKind kind, KeyOf keyOf)
    : section_(std::move(section)), kind_(kind), keyOf_(keyOf) {}

void CEntryLookup::Build(const CIniFile& model) {
  places_.clear();
  for (CSection* s : model.Sections()) {
    if (s->Name() != section_) continue;
    for (CKey* key : s->Keys())
      if (key->Kind() == kind_) places_[keyOf_(*key)].push_back(Place{s, key});
  }
  built_ = true;
}

CSection* CEntryLookup::SoleSection(const CIniFile& model) const {
  CSection* found = nullptr;
  for (CSection* s : model.Sections()) {
    if (s->Name() != section_) continue;
    if (found) return nullptr;
    found = s;
  }
  return found;
}

CKey* CEntryLookup::Find(const CIniFile& model, const std::wstring& key, CSection** holder) {
  if (!built_) Build(model);
  const auto it = places_.find(key);
  if (it == places_.end() || it->second.empty()) return nullptr;
  if (holder) *holder = it->second.front().section;
  return it->second.front().key;
}

bool CEntryLookup::RemoveFirst(const CIniFile& model, const std::wstring& key) {
  if (!built_) Build(model);
  const auto it = places_.find(key);
  if (it == places_.end() || it->second.empty()) return false;
  const Place first = it->second.front();
  if (!first.section->RemoveKey(first.key)) {
    Reset();  // the model changed behind the lookup: read it again next time
    return false;
  }
  // A key the section owned is freed with every mention of it in that section.
  std::vector<Place>& places = it->second;
  places.erase(
      std::remove_if(places.begin(), places.end(),
                     [&](const Place& p) { return p.key == first.key && p.section == first.section; }),
      places.end());
  if (places.empty()) places_.erase(it);
  return true;
}

void CEntryLookup::NoteAdded(const CIniFile& model) {
  if (!built_) return;  // read whole at the next use
  CSection* section = SoleSection(model);
  if (!section || section->Keys().empty()) {
    // Several sections of the name: the new entry's place in their order is read again.
    Reset();
    return;
  }
  CKey* key = section->Keys().back();
  if (key->Kind() == kind_) places_[keyOf_(*key)].push_back(Place{section, key});
}

}  // namespace brindle
