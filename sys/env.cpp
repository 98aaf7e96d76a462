#include "sys/env.h"

// Placeholder until the expansion rules land: every name is in the table with an empty value.

namespace brindle {

CQXEnv::CQXEnv() {}
CQXEnv::CQXEnv(const std::wstring&, const CQXInstallLog*, const CQXDiffDistribute*,
               const std::wstring&) {}
std::wstring CQXEnv::Expand(const std::wstring& text) const { return text; }
std::wstring CQXEnv::ExpandKeepingSystemFolders(const std::wstring& text) const { return text; }
std::wstring CQXEnv::Lookup(const std::wstring&) const { return std::wstring(); }

}  // namespace brindle
