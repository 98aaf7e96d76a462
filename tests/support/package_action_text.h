// One action of a package's list written as a line a test can compare: the verb of its
// service-log lines (or "(log)" for the uninstall log's own steps) and the record it works on.
#pragma once
#include <string>

#include "apply/package_steps.h"
#include "package/object_records.h"

namespace brindle::test {

inline std::wstring DescribeAction(const PackageAction& action) {
  std::wstring text = action.step.verb ? action.step.verb : L"(log)";
  if (action.file) text += L" " + action.file->Path();
  if (action.registry) text += L" " + action.registry->valueName;
  if (action.shortcut) text += L" " + action.shortcut->name.name;
  return text;
}

}  // namespace brindle::test
