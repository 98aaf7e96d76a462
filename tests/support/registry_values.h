// Registry values as the tests write them into the in-memory registry.
#pragma once
#include <string>

#include "apply/registry_data.h"
#include "package/object_records.h"
#include "sys/text.h"

namespace brindle {

// A REG_SZ value holding the text, with its ending null.
inline RegistryValueBytes RegistryText(const std::wstring& text) {
  RegistryValueBytes v;
  v.type = kStoredSz;
  v.bytes = Utf16LeBytes(text) + std::string(2, '\0');
  return v;
}

}  // namespace brindle
