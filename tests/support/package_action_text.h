// One action of a package's list written as a line a test can compare: the verb of its
// service-log lines (or "(log)" for the uninstall log's own steps) and the record it works on;
// and the records of a package document the tests of the action list build their packages from.
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

// A 32-bit file record, with its source in the package when one is given, and registered as a
// COM server when com is set.
inline std::wstring FileRecordXml(const std::wstring& path, const std::wstring& source = L"",
                                  bool com = false) {
  return std::wstring(L"<File COM=\"") + (com ? L"INST_REG" : L"INST_NOREG") +
         L"\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>" + path + L"</FullPath>" +
         (source.empty() ? L"" : L"<FileName>" + source + L"</FileName>") + L"</File>";
}
// A text value of the 32-bit view below HKLM\Software\T.
inline std::wstring ValueRecordXml(const std::wstring& name) {
  return L"<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">Software\\T</RegKeyPath><RegValueName>" +
         name + L"</RegValueName><RegData Type=\"REG_SZ\">x</RegData></Registry>";
}
// A desktop shortcut.
inline std::wstring ShortcutRecordXml(const std::wstring& name) {
  return L"<ShortCut><SCName Type=\"INST_DSC\">" + name + L"</SCName></ShortCut>";
}

}  // namespace brindle::test
