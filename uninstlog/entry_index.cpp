#include "uninstlog/entry_index.h"

#include <algorithm>

namespace brindle {

namespace {
constexpr wchar_t kSeparator = L'\0';
}

// ---- CContainedPathIndex ------------------------------------------------------------------------

CContainedPathIndex::CContainedPathIndex() : nodes_(1) {}

uint32_t CContainedPathIndex::Child(uint32_t node, wchar_t c) const {
  const auto it = edges_.find(EdgeKey(node, c));
  return it == edges_.end() ? 0 : it->second;
}

void CContainedPathIndex::Add(const std::wstring& path, size_t index) {
  uint32_t node = 0;
  for (wchar_t c : path) {
    uint32_t child = Child(node, c);
    if (child == 0) {
      child = static_cast<uint32_t>(nodes_.size());
      nodes_.emplace_back();
      edges_.emplace(EdgeKey(node, c), child);
    }
    node = child;
  }
  Node& end = nodes_[node];
  if (end.first == 0) end.first = index + 1;
  end.last = index + 1;
}

size_t CContainedPathIndex::Find(const std::wstring& text) const {
  // Equal: the whole text spells a path from the root.
  uint32_t node = 0;
  size_t walked = 0;
  while (walked < text.size() && (node = Child(node, text[walked])) != 0) ++walked;
  if (walked == text.size() && nodes_[node].first != 0) return nodes_[node].first - 1;
  // Contained: every path that starts at some position of the text is met by walking the trie
  // from that position; the highest index met wins. The empty path is no entry, so the root
  // itself never counts.
  size_t best = 0;
  for (size_t start = 0; start < text.size(); ++start) {
    node = 0;
    for (size_t i = start; i < text.size(); ++i) {
      node = Child(node, text[i]);
      if (node == 0) break;
      best = std::max(best, nodes_[node].last);
    }
  }
  return best == 0 ? kNoEntry : best - 1;
}

// ---- CContainingPathIndex -----------------------------------------------------------------------

void CContainingPathIndex::Add(const std::wstring& path, size_t index) {
  equal_.emplace(path, index);  // keeps the first of equal paths
  entries_.emplace_back(path, index);
  built_ = false;
}

CContainingPathIndex::Edge* CContainingPathIndex::FindEdge(int32_t state, wchar_t c) const {
  for (int32_t e = states_[state].firstEdge; e >= 0; e = edges_[e].next)
    if (edges_[e].c == c) return &edges_[e];
  return nullptr;
}

void CContainingPathIndex::AddEdge(int32_t state, wchar_t c, int32_t to) const {
  edges_.push_back(Edge{c, to, states_[state].firstEdge});
  states_[state].firstEdge = static_cast<int32_t>(edges_.size() - 1);
}

void CContainingPathIndex::Extend(wchar_t c, size_t lastPlusOne) const {
  const int32_t cur = static_cast<int32_t>(states_.size());
  states_.emplace_back();
  states_[cur].length = states_[tail_].length + 1;
  states_[cur].last = lastPlusOne;
  int32_t p = tail_;
  while (p != -1 && !FindEdge(p, c)) {
    AddEdge(p, c, cur);
    p = states_[p].link;
  }
  tail_ = cur;
  if (p == -1) {
    states_[cur].link = 0;
    return;
  }
  const int32_t q = FindEdge(p, c)->to;
  if (states_[p].length + 1 == states_[q].length) {
    states_[cur].link = q;
    return;
  }
  // q also stands for longer texts: split off the shorter ones into a clone.
  const int32_t clone = static_cast<int32_t>(states_.size());
  states_.emplace_back();
  states_[clone].length = states_[p].length + 1;
  states_[clone].link = states_[q].link;
  for (int32_t e = states_[q].firstEdge; e >= 0; e = edges_[e].next)
    AddEdge(clone, edges_[e].c, edges_[e].to);
  for (Edge* edge; p != -1 && (edge = FindEdge(p, c)) != nullptr && edge->to == q; p = states_[p].link)
    edge->to = clone;
  states_[q].link = clone;
  states_[cur].link = clone;
}

void CContainingPathIndex::Build() const {
  size_t total = 0;
  for (const auto& entry : entries_) total += entry.first.size() + 1;
  states_.assign(1, State());
  states_.reserve(2 * total + 1);
  edges_.clear();
  edges_.reserve(3 * total + 1);
  tail_ = 0;
  for (const auto& entry : entries_) {
    for (wchar_t c : entry.first) Extend(c, entry.second + 1);
    Extend(kSeparator, 0);
  }
  // A state's places include those of every state whose suffix link leads to it: hand the
  // highest index down the links, longest states first (a counting sort by length).
  std::vector<int32_t> count(total + 2, 0);
  for (const State& s : states_) ++count[static_cast<size_t>(s.length)];
  for (size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
  std::vector<int32_t> order(states_.size());
  for (size_t i = states_.size(); i-- > 0;)
    order[static_cast<size_t>(--count[static_cast<size_t>(states_[i].length)])] = static_cast<int32_t>(i);
  for (size_t i = order.size(); i-- > 0;) {
    const State& s = states_[static_cast<size_t>(order[i])];
    if (s.link >= 0) states_[s.link].last = std::max(states_[s.link].last, s.last);
  }
  built_ = true;
}

size_t CContainingPathIndex::ScanInOrder(const std::wstring& text) const {
  size_t found = kNoEntry;
  for (const auto& entry : entries_)
    if (entry.first.find(text) != std::wstring::npos) found = entry.second;
  return found;
}

size_t CContainingPathIndex::Find(const std::wstring& text) const {
  const auto equal = equal_.find(text);
  if (equal != equal_.end()) return equal->second;
  // A text holding the separator could match across two paths: scan those rare texts.
  if (text.find(kSeparator) != std::wstring::npos) return ScanInOrder(text);
  if (!built_) Build();
  int32_t state = 0;
  for (wchar_t c : text) {
    const Edge* edge = FindEdge(state, c);
    if (!edge) return kNoEntry;
    state = edge->to;
  }
  const size_t last = states_[state].last;
  return last == 0 ? kNoEntry : last - 1;
}

}  // namespace brindle
