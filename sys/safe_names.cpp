#include "sys/safe_names.h"

#include <algorithm>

namespace brindle {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Characters that Windows never allows in a name; '*' and '?' would also act as wildcards.
bool IsForbiddenCharacter(wchar_t c) {
  return c < 0x20 || c == 0x7F || c == L':' || c == L'<' || c == L'>' || c == L'"' || c == L'|' ||
         c == L'?' || c == L'*';
}

// Names that open a device instead of a file in any folder ("NUL", "con.txt", "COM1").
bool IsDeviceName(const std::wstring& component) {
  std::wstring stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; });
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
      stem == L"CONOUT$") {
    return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

// One component: not empty, not made only of dots and blanks (Windows drops trailing dots and
// blanks, so "..." or ". ." would name the folder itself or its parent), not a device.
bool IsSafeComponent(const std::wstring& component) {
  if (component.empty()) return false;
  if (component.find_first_not_of(L". ") == std::wstring::npos) return false;
  return !IsDeviceName(component);
}

}  // namespace

bool IsSafeRelativePath(const std::wstring& path, size_t maxChars) {
  if (path.empty() || path.size() > maxChars) return false;
  if (IsSeparator(path.front())) return false;
  if (std::any_of(path.begin(), path.end(), IsForbiddenCharacter)) return false;
  size_t start = 0;
  while (true) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (!IsSafeComponent(path.substr(start, end - start))) return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}

bool IsSafeSingleName(const std::wstring& name, size_t maxChars) {
  return std::none_of(name.begin(), name.end(), IsSeparator) && IsSafeRelativePath(name, maxChars);
}

}  // namespace brindle
