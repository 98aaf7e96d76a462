// A package as the tool reads it: a cabinet file (extracted into a scratch folder, with the
// list of names it stores) or a folder laid out like an extracted one (diff.xml, INST, CUSTOM).
#pragma once
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "packtool/file_access.h"

namespace brindle::pack {

class PackageSource {
 public:
  // False with a reason when the path is neither a readable cabinet nor a folder; "-" reads a
  // cabinet from standard input.
  bool Open(const std::wstring& path, std::wstring& reason);

  const std::wstring& Path() const { return path_; }
  // The folder holding diff.xml, INST, CUSTOM (and ZNQ when the cabinet carries it).
  const std::wstring& Folder() const { return folder_; }
  bool IsCabinet() const { return scratch_ != nullptr; }
  // The names the cabinet stores ('\' kept); empty for a folder.
  const std::vector<std::wstring>& EntryNames() const { return names_; }
  std::wstring DiffXmlPath() const { return folder_ + L"/diff.xml"; }
  // The folder the package file stands in: the program looks for the uninstaller files there.
  std::wstring BesideFolder() const;

 private:
  std::wstring path_, folder_;
  std::unique_ptr<TempFolder> scratch_;
  std::unique_ptr<TempFolder> input_;
  std::vector<std::wstring> names_;
};

// The file below folder whose relative path equals relative without regard to letter case (as
// on Windows), or empty text. '\' and '/' both separate.
std::wstring FindCaseBlind(const std::wstring& folder, const std::wstring& relative);

// The same look-up for many names below folders that do not change meanwhile: each folder is
// listed once, on its first look-up, and then answered from its index, so that a check of a
// package with many files in one folder takes time in proportion to their number.
class CaseBlindFinder {
 public:
  std::wstring Find(const std::wstring& folder, const std::wstring& relative);

 private:
  struct Listing {
    std::set<std::wstring> names;                  // as stored
    std::map<std::wstring, std::wstring> byUpper;  // upper case -> the first name in order
  };
  const Listing& ListingOf(const std::wstring& folder);
  std::map<std::wstring, Listing> listings_;
};

}  // namespace brindle::pack
