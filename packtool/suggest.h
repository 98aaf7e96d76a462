// Near-miss suggestions for names an author mistyped: the known name closest to what was
// written, when it is close enough to be what was meant.
#pragma once
#include <string>
#include <vector>

namespace brindle::pack {

// The candidate nearest to word (letter case counts little), or empty text when none is near.
std::wstring NearestName(const std::wstring& word, const std::vector<std::wstring>& candidates);

// " (did you mean X?)" with the nearest candidate, or fallback when none is near.
std::wstring DidYouMean(const std::wstring& word, const std::vector<std::wstring>& candidates,
                        const std::wstring& fallback);

}  // namespace brindle::pack
