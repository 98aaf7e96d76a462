// What a registry record of a package does to the machine, decided from the key as it is before
// anything changes. The program applies these decisions and brindle-pack's plan prints them, so
// both say the same verb for the same registry.
#pragma once
#include <string>

#include "apply/machine_registry.h"

namespace brindle {

// The deletion of one value.
struct RegistryDeletion {
  const wchar_t* verb = L"";       // the verb of the line when the deletion succeeds
  const wchar_t* errorVerb = L"";  // the verb of an error line: the section's own verb
  bool keyMissing = false;         // nothing to delete: the line reports code 2 and the step goes on
  bool deleteValue = false;        // the value exists and is deleted
  bool deleteKey = false;          // the key is left empty and is removed after the value (one level)
};

// A deletion of the update section (inUpdate) takes the value only, verb UPDATE_REG_DELETE; one
// of the delete section also removes the key the deletion leaves with no value and no key, verb
// DELETE_REG. A key that does not exist, or a key the deletion does not empty, gives the line
// UPDATE_REG_DELETE; an error line has the section's verb.
RegistryDeletion DecideRegistryDeletion(const RegistryKeyState& state, bool inUpdate);

// The verb of a written value: ADD_REG in the add section, else UPDATE_REG_ADD.
const wchar_t* RegistryWriteVerb(bool inAdd);

}  // namespace brindle
