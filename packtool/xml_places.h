// Where each element of a diff.xml stands: its line in the file and its element path
// (DiffDistribute/AddObjects[1]/File[3]), so that every finding can name its place.
//
// The program's parser keeps every element in document order, so the elements of its tree,
// visited depth first, meet the start tags of the text one for one; the text is scanned only for
// the lines of those start tags (comments, declarations and processing instructions skipped).
#pragma once
#include <map>
#include <string>
#include <vector>

#include "xml/xml_tree.h"

namespace brindle::pack {

struct Place {
  std::wstring path;  // element path with 1-based indexes among same-named siblings
  size_t line = 0;    // 1-based, 0 when unknown
};

// The line of every start tag, in document order. UTF-16 text (with its byte-order mark) and
// any ASCII-compatible encoding are understood.
std::vector<size_t> StartTagLines(const std::string& bytes);

// Where a text that the parser refuses goes wrong, found by a scan of its tags (ASCII-compatible
// encodings): a misspelt or missing end tag, a tag never closed, a stray '<'.
struct XmlMalformation {
  size_t line = 0, column = 0;
  std::wstring what;
};
bool FindMalformation(const std::string& bytes, XmlMalformation& found);

class PlaceIndex {
 public:
  // Indexes the tree below root; lines come from the text's start tags.
  PlaceIndex(const CXMLElement* root, const std::vector<size_t>& startTagLines);
  Place Of(const CXMLElement* element) const;

 private:
  void Visit(const CXMLElement* element, const std::wstring& path, int depth);
  std::map<const CXMLElement*, Place> places_;
  const std::vector<size_t>& lines_;
  size_t next_ = 0;
};

}  // namespace brindle::pack
