// Look-ups that pair the entries of the uninstall log when it is written: the folder entry of a
// file and the registry-key entry of a registry value. Both follow one rule, "the first entry
// equal to the text, otherwise the last entry related to it by containment", and both answer in
// time that grows with the length of the text, not with the number of entries, so that a log of
// tens of thousands of files is written in one pass. Answers are identical to a scan of the
// entries in order, for every input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brindle {

constexpr size_t kNoEntry = static_cast<size_t>(-1);

// Entries whose path occurs inside the text looked up (a file's folder and its parent folders).
// Entries are added with ascending indexes.
class CContainedPathIndex {
 public:
  CContainedPathIndex();
  void Add(const std::wstring& path, size_t index);
  // The first entry equal to text, otherwise the last entry whose path occurs anywhere inside
  // text; kNoEntry when there is none.
  size_t Find(const std::wstring& text) const;

 private:
  // A trie of the entry paths; a node that ends a path knows the first and the last index of
  // the entries with that path (stored plus one: 0 means none).
  struct Node {
    size_t first = 0;
    size_t last = 0;
  };
  uint32_t Child(uint32_t node, wchar_t c) const;
  static uint64_t EdgeKey(uint32_t node, wchar_t c) {
    return (static_cast<uint64_t>(node) << 32) | static_cast<uint32_t>(c);
  }

  std::vector<Node> nodes_;
  std::unordered_map<uint64_t, uint32_t> edges_;
};

// Entries whose path contains the text looked up (registry-key entries of a value's key or of
// its subkeys). Entries are added with ascending indexes.
class CContainingPathIndex {
 public:
  void Add(const std::wstring& path, size_t index);
  // The first entry equal to text, otherwise the last entry whose path contains text as a
  // substring; kNoEntry when there is none.
  size_t Find(const std::wstring& text) const;

 private:
  // A suffix automaton over every entry path (separated by a character no path contains),
  // built on the first look-up that the equal entries cannot answer: the state that a text
  // leads to stands for every place the text occurs, and knows the last entry among them.
  struct State {
    int32_t length = 0;
    int32_t link = -1;
    int32_t firstEdge = -1;  // the state's transitions, a list in edges_
    size_t last = 0;         // last entry index plus one, 0 for none
  };
  struct Edge {
    wchar_t c;
    int32_t to;
    int32_t next;
  };
  void Build() const;
  void Extend(wchar_t c, size_t lastPlusOne) const;
  Edge* FindEdge(int32_t state, wchar_t c) const;
  void AddEdge(int32_t state, wchar_t c, int32_t to) const;
  size_t ScanInOrder(const std::wstring& text) const;

  std::unordered_map<std::wstring, size_t> equal_;
  std::vector<std::pair<std::wstring, size_t>> entries_;
  mutable std::vector<State> states_;
  mutable std::vector<Edge> edges_;
  mutable int32_t tail_ = 0;
  mutable bool built_ = false;
};

}  // namespace brindle
