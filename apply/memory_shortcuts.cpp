#include "apply/memory_shortcuts.h"

#include <cstdlib>

#include "sys/paths.h"
#include "sys/text.h"

namespace brindle {

namespace {

const char kLinkMark[] = "link\n";

// One field a line, in a fixed order; a field holds no line break of its own.
std::string LinkBytes(const ShortcutLink& link) {
  std::string bytes = kLinkMark;
  for (const std::wstring* field : {&link.target, &link.arguments, &link.workFolder, &link.description})
    bytes += Utf8FromWide(*field) + "\n";
  return bytes + std::to_string(link.showCommand) + "\n";
}

}  // namespace

MemoryShortcuts::MemoryShortcuts(MemoryFiles& files) : files_(files) {}

bool MemoryShortcuts::CommonFolder(ShortcutPlace place, std::wstring& folder) {
  folder = place == ShortcutPlace::kProgramMenu ? programs_ : desktop_;
  return !folder.empty();
}

void MemoryShortcuts::SetCommonFolder(ShortcutPlace place, const std::wstring& folder) {
  (place == ShortcutPlace::kProgramMenu ? programs_ : desktop_) = folder;
}

std::int32_t MemoryShortcuts::WriteLink(const std::wstring& path, const ShortcutLink& link) {
  PathState state, folder;
  files_.Look(path, false, state);
  if (state.exists && (state.isFolder || (state.attributes & kAttributeReadOnly)))
    return ShellResultOf(kSysAccessDenied);
  files_.Look(FolderOf(path), false, folder);
  if (!folder.exists || !folder.isFolder) return ShellResultOf(kSysPathNotFound);
  files_.AddFile(path, false, LinkBytes(link));
  return 0;
}

bool MemoryShortcuts::ReadLink(const std::wstring& path, ShortcutLink& link) const {
  if (!files_.HasFile(path, false)) return false;
  const std::string bytes = files_.Bytes(path, false);
  if (bytes.compare(0, sizeof(kLinkMark) - 1, kLinkMark) != 0) return false;
  std::vector<std::string> lines;
  size_t start = sizeof(kLinkMark) - 1;
  for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(bytes.substr(start, end - start));
  if (lines.size() != 5) return false;
  link.target = WideFromUtf8(lines[0]);
  link.arguments = WideFromUtf8(lines[1]);
  link.workFolder = WideFromUtf8(lines[2]);
  link.description = WideFromUtf8(lines[3]);
  link.showCommand = std::atoi(lines[4].c_str());
  return true;
}

}  // namespace brindle
