#include "apply/registry_key_cache_win.h"

#include <cstdint>

#include "uninstlog/path_key.h"

namespace brindle {

namespace {

const REGSAM kViews = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// The cache's name of a key: its root, its view and its path (without trailing separators,
// which name the same key) in the case Windows compares key names in.
std::wstring CacheName(HKEY root, REGSAM view, const std::wstring& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == L'\\') --end;
  return std::to_wstring(reinterpret_cast<std::uintptr_t>(root)) + L"|" + std::to_wstring(view & kViews) +
         L"|" + RegistryPathKey(path.substr(0, end));
}

}  // namespace

RegistryKeyCache::Key& RegistryKeyCache::Find(HKEY root, REGSAM view, const std::wstring& path) {
  return keys_[CacheName(root, view, path)];
}

HKEY RegistryKeyCache::Serving(const Key& key, REGSAM access) {
  for (const Handle& handle : key.handles)
    if ((handle.access & access) == access) return handle.key.Get();
  return nullptr;
}

HKEY RegistryKeyCache::Open(HKEY root, REGSAM view, const std::wstring& path, REGSAM access, LONG& result) {
  Key& key = Find(root, view, path);
  if (key.missing) {
    result = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  if (const HKEY open = Serving(key, access)) {
    result = ERROR_SUCCESS;
    return open;
  }
  UniqueRegKey opened;
  result = RegOpenKeyExW(root, path.c_str(), 0, access | (view & kViews), opened.Receive());
  if (result != ERROR_SUCCESS) {
    if (result == ERROR_FILE_NOT_FOUND && rememberMissing_) key.missing = true;
    return nullptr;
  }
  key.handles.push_back({std::move(opened), access});
  return key.handles.back().key.Get();
}

HKEY RegistryKeyCache::Create(HKEY root, REGSAM view, const std::wstring& path, LONG& result) {
  Key& key = Find(root, view, path);
  key.missing = false;
  if (const HKEY open = Serving(key, KEY_ALL_ACCESS)) {
    result = ERROR_SUCCESS;
    return open;
  }
  UniqueRegKey created;
  result = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS | (view & kViews), nullptr, created.Receive(), nullptr);
  if (result != ERROR_SUCCESS) return nullptr;
  key.handles.push_back({std::move(created), KEY_ALL_ACCESS});
  return key.handles.back().key.Get();
}

void RegistryKeyCache::Clear() {
  keys_.clear();
  rememberMissing_ = false;
}

}  // namespace brindle
