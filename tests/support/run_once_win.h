// The machine's RunOnce key (32-bit view), where a COM server whose registration failed is
// queued for the next logon: read and clean up by the tests of that fallback.
#pragma once
#include <string>

namespace brindle::test {

// A REG_SZ value of RunOnce, or "<missing>".
std::wstring RunOnceValue(const std::wstring& name);
// Removes the value when it is there.
void DeleteRunOnceValue(const std::wstring& name);

}  // namespace brindle::test
