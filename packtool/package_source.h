// A package as the tool reads it: a cabinet file (extracted into a scratch folder, with the
// list of names it stores) or a folder laid out like an extracted one (diff.xml, INST, CUSTOM).
#pragma once
#include <memory>
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

}  // namespace brindle::pack
