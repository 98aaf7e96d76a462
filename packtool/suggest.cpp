#include "packtool/suggest.h"

#include <algorithm>

namespace brindle::pack {

namespace {

wchar_t Folded(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

// Edit distance in which a change of letter case alone costs 1 and any other edit 2; two
// neighbouring letters swapped count as one edit (plna, lgo).
size_t Distance(const std::wstring& a, const std::wstring& b) {
  std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) previous[j] = 2 * j;
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = 2 * i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t change = a[i - 1] == b[j - 1] ? 0 : Folded(a[i - 1]) == Folded(b[j - 1]) ? 1 : 2;
      current[j] = std::min({previous[j] + 2, current[j - 1] + 2, previous[j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] && a[i - 1] != a[i - 2])
        current[j] = std::min(current[j], before[j - 2] + 2);
    }
    before.swap(previous);
    previous.swap(current);
  }
  return previous[b.size()];
}

}  // namespace

std::wstring NearestName(const std::wstring& word, const std::vector<std::wstring>& candidates) {
  std::wstring best;
  size_t bestDistance = 0;
  for (const std::wstring& candidate : candidates) {
    if (candidate == word) continue;
    const size_t d = Distance(word, candidate);
    if (best.empty() || d < bestDistance) {
      best = candidate;
      bestDistance = d;
    }
  }
  if (best.empty()) return best;
  // Near: letter case alone, or about one edit in three characters.
  const bool caseAlone =
      best.size() == word.size() && std::equal(best.begin(), best.end(), word.begin(),
                                               [](wchar_t x, wchar_t y) { return Folded(x) == Folded(y); });
  const size_t longest = std::max(word.size(), best.size());
  return caseAlone || bestDistance <= 2 * std::max<size_t>(1, longest / 3) ? best : std::wstring();
}

std::wstring DidYouMean(const std::wstring& word, const std::vector<std::wstring>& candidates,
                        const std::wstring& fallback) {
  const std::wstring nearest = NearestName(word, candidates);
  return nearest.empty() ? fallback : L" (did you mean " + nearest + L"?)";
}

}  // namespace brindle::pack
