// The names diff.xml's reader knows: for every element name, the child elements and the
// attributes the package model reads. The table is not written out by hand: it is what the
// model's own writer produces for a package with every part filled, so a name the model learns
// is known here at once. brindle-pack checks packages against it.
#pragma once
#include <map>
#include <set>
#include <string>

namespace brindle {

struct DiffElementShape {
  std::set<std::wstring> children;
  std::set<std::wstring> attributes;
};

// Keyed by element name ("DiffDistribute", "File", "FullPath"...). An element name met under
// several parents (FullPath, FileName, Version) has the union of what it holds there.
const std::map<std::wstring, DiffElementShape>& DiffElementShapes();

// The children a named parent may hold, or null for a name the model does not know.
const DiffElementShape* DiffElementShapeOf(const std::wstring& name);

}  // namespace brindle
