// The package's records for the uninstall log: the other uninstall logs to process with the
// application's own (its uninstall targets), and the custom-function library the uninstaller
// calls with the hooks it is to call. Here they read themselves from diff.xml and write
// themselves back; the uninstall-log model gives them their effect.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "package/object_records.h"
#include "package/version.h"
#include "xml/xml_tree.h"

namespace brindle {

// An UninstTarget element: one UNInfo child per uninstall-log path.
class CQXUninstallTarget {
 public:
  virtual ~CQXUninstallTarget() = default;
  // Empties the list, then takes the text of every UNInfo child in document order.
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  // An independent copy of the list, for iteration.
  std::vector<std::wstring> Targets() const { return targets; }
  bool IsEmpty() const { return targets.empty(); }
  void Clear() { targets.clear(); }

  std::vector<std::wstring> targets;
};

// One hook of the uninstaller: 1 when it is to be called, else 0.
class CQXUninstallCustomFunctionFlag {
 public:
  virtual ~CQXUninstallCustomFunctionFlag() = default;
  int flag = 0;
};

// An UninstallCustomFunction element: the library's path and version and the seven hooks.
class CQXUninstallCustomFunction {
 public:
  virtual ~CQXUninstallCustomFunction() = default;
  // Reads the element; the record then counts as present. Each read starts from a cleared
  // record, so a later element replaces an earlier one whole.
  int FromXML(const CXMLElement* element);
  // The element with every hook (Flag "1" or "0"), the path and the version.
  std::unique_ptr<CXMLElement> ToXML() const;
  // All hooks off and the record absent again.
  void Clear();

  FullPathValue fullPath;
  CQXVersion version;
  CQXUninstallCustomFunctionFlag abort;            // Uninstall_Abort
  CQXUninstallCustomFunctionFlag afterUninstall;   // Uninstall_AfterUninstall
  CQXUninstallCustomFunctionFlag beforeUninstall;  // Uninstall_BeforeUninstall
  CQXUninstallCustomFunctionFlag checkRunning;     // Uninstall_CheckRunning
  CQXUninstallCustomFunctionFlag end;              // Uninstall_End
  CQXUninstallCustomFunctionFlag startUp;          // Uninstall_StartUp
  CQXUninstallCustomFunctionFlag checkCondition;   // Uninstall_CheckCondition
  bool absent = true;  // true until an element has been read: such a record is never applied

  // The hook of an element or key name (Uninstall_End...), or null.
  CQXUninstallCustomFunctionFlag* HookNamed(const std::wstring& name);
  const CQXUninstallCustomFunctionFlag* HookNamed(const std::wstring& name) const;
};

// The hook names in the order the package writes them.
extern const wchar_t* const kUninstallHookNames[7];

}  // namespace brindle
