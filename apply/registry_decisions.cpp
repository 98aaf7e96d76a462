#include "apply/registry_decisions.h"

namespace brindle {

RegistryDeletion DecideRegistryDeletion(const RegistryKeyState& state, bool inUpdate) {
  RegistryDeletion d;
  d.verb = L"UPDATE_REG_DELETE";
  d.errorVerb = inUpdate ? L"UPDATE_REG_DELETE" : L"DELETE_REG";
  if (!state.exists) {
    d.keyMissing = true;
    return d;
  }
  d.deleteValue = state.holdsValue;
  const size_t valuesLeft = state.values - (state.holdsValue && state.values > 0 ? 1 : 0);
  if (!inUpdate && valuesLeft == 0 && state.subKeys == 0) {
    d.deleteKey = true;
    d.verb = L"DELETE_REG";
  }
  return d;
}

const wchar_t* RegistryWriteVerb(bool inAdd) { return inAdd ? L"ADD_REG" : L"UPDATE_REG_ADD"; }

}  // namespace brindle
