#include "sys/paths.h"

namespace brindle {

std::wstring ToBackslashes(std::wstring path) {
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::wstring ToForwardSlashes(std::wstring path) {
  for (auto& c : path)
    if (c == L'\\') c = L'/';
  return path;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::wstring normalised = ToBackslashes(path);
  const size_t slash = normalised.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : normalised.substr(0, slash);
}

std::wstring LastPathComponent(const std::wstring& path) {
  size_t end = path.find_last_not_of(L"/\\");
  if (end == std::wstring::npos) return std::wstring();
  size_t start = path.find_last_of(L"/\\", end);
  start = start == std::wstring::npos ? 0 : start + 1;
  return path.substr(start, end + 1 - start);
}

bool HasExeExtension(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  const size_t dot = path.find_last_of(L'.');
  if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator)) return false;
  const std::wstring extension = path.substr(dot);
  if (extension.size() != 4) return false;
  const wchar_t* expected = L".exe";
  for (size_t i = 0; i < 4; ++i) {
    wchar_t c = extension[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != expected[i]) return false;
  }
  return true;
}

}  // namespace brindle
