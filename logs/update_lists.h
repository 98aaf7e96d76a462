// The list files through which the update service names the work of one run: a DiffLocalList
// of patch packages (patch modes) or an ActionList of components to delete, update or add
// (component mode).
#pragma once
#include <string>
#include <vector>

#include "package/order.h"

namespace brindle {

// Results of loading a list file.
enum class ListLoad {
  kLoaded,
  kUnreadable,  // not loadable as XML (or, for an action list, a root without children)
  kWrongRoot,   // the root element has another name
};

// One package of a DiffLocalList.
struct DiffLocalEntry {
  std::wstring FileName;     // package file, relative to the list file's folder
  std::wstring AppName;      // key of the application's install-log entry
  std::wstring DisplayName;  // shown in titles and messages
  CQXOrder order{-1};        // -1 when the entry names no order
};

// Appends the list's entries in ascending Order; among equal orders the first in the file comes
// first. Every child element of the root is an entry, whatever its name.
ListLoad LoadDiffLocalList(const std::wstring& path, std::vector<DiffLocalEntry>& entries);

// The number in an Order text, read as the C library's atoi reads it: leading white space, an
// optional sign, then digits up to the first non-digit; no digits give 0. Values beyond the
// 32-bit range are held at its ends.
int OrderFromText(const std::wstring& text);

// The fields of one action, in this order.
enum ActionField : size_t { kActionId = 0, kActionType, kActionPath, kActionVersion, kActionResult };
constexpr size_t kActionFieldCount = 5;

// An ActionList: the actions in file order (each exactly five fields; missing attributes give
// empty text), and the root's attributes.
class CQXActionListXML {
 public:
  virtual ~CQXActionListXML() = default;
  std::vector<std::vector<std::wstring>> actions;
  std::wstring ParentAppName;
  std::wstring ComponentType;  // kept, not used by this program
};

// Replaces the list's content with the file's. Actions without ID or Action are skipped.
ListLoad LoadActionList(const std::wstring& path, CQXActionListXML& list);

// The IDs of the actions whose Action equals the type exactly, in file order.
std::vector<std::wstring> ActionIds(const CQXActionListXML& list, const std::wstring& type);
// The same, keeping only actions that name a Path.
std::vector<std::wstring> ActionIdsWithPath(const CQXActionListXML& list, const std::wstring& type);
// The Path of the first action with this ID, or empty text.
std::wstring ActionPath(const CQXActionListXML& list, const std::wstring& id);

}  // namespace brindle
