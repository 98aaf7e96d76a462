#include "packtool/package_source.h"

#include "packtool/cabinet.h"
#include "sys/text.h"

namespace brindle::pack {

bool PackageSource::Open(const std::wstring& path, std::wstring& reason) {
  path_ = path;
  names_.clear();
  scratch_.reset();
  if (path == L"-") {
    // A cabinet on standard input is read through a file of its own.
    std::string bytes;
    input_ = std::make_unique<TempFolder>();
    const std::wstring copy = input_->Path() + L"/input.DIFF";
    if (!input_->Ok() || !ReadInputBytes(path, bytes) || !WriteFileBytes(copy, bytes)) {
      reason = L"standard input cannot be read";
      return false;
    }
    scratch_ = std::make_unique<TempFolder>();
    folder_ = scratch_->Path();
    return scratch_->Ok() && ReadCabinet(copy, folder_, names_, reason);
  }
  if (IsFolder(path)) {
    folder_ = path;
    return true;
  }
  if (!IsFile(path)) {
    reason = L"no such file or folder";
    return false;
  }
  scratch_ = std::make_unique<TempFolder>();
  if (!scratch_->Ok()) {
    reason = L"no temporary folder to extract the package into";
    return false;
  }
  folder_ = scratch_->Path();
  return ReadCabinet(path, folder_, names_, reason);
}

std::wstring PackageSource::BesideFolder() const {
  const fs::path parent = FsPath(path_).parent_path();
  return parent.empty() ? std::wstring(L".") : WidePath(parent);
}

std::wstring FindCaseBlind(const std::wstring& folder, const std::wstring& relative) {
  CaseBlindFinder finder;
  return finder.Find(folder, relative);
}

const CaseBlindFinder::Listing& CaseBlindFinder::ListingOf(const std::wstring& folder) {
  const auto known = listings_.find(folder);
  if (known != listings_.end()) return known->second;
  Listing& listing = listings_[folder];
  std::error_code ec;
  for (fs::directory_iterator it(FsPath(folder), ec), stop; !ec && it != stop; it.increment(ec))
    listing.names.insert(WidePath(it->path().filename()));
  // Names in sorted order: of names differing only in letter case the same one always wins.
  for (const std::wstring& name : listing.names) {
    std::wstring upper = name;
    for (wchar_t& c : upper)
      if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
    listing.byUpper.emplace(std::move(upper), name);
  }
  return listing;
}

std::wstring CaseBlindFinder::Find(const std::wstring& folder, const std::wstring& relative) {
  std::wstring current = folder;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = relative.size();
    const std::wstring part = relative.substr(start, end - start);
    if (part.empty()) return std::wstring();
    const Listing& listing = ListingOf(current);
    std::wstring found;
    if (listing.names.count(part)) {
      found = part;
    } else {
      std::wstring upper = part;
      for (wchar_t& c : upper)
        if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
      const auto it = listing.byUpper.find(upper);
      if (it == listing.byUpper.end()) return std::wstring();
      found = it->second;
    }
    current += L"/" + found;
    if (end == relative.size()) return current;
    start = end + 1;
  }
  return std::wstring();
}

}  // namespace brindle::pack
