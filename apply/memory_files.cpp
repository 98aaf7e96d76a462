#include "apply/memory_files.h"

#include "uninstlog/path_key.h"

namespace brindle {

namespace {

const wchar_t kSystemPlace[] = L"C:\\WINDOWS\\SYSTEM32";
const wchar_t kSystem32BitPlace[] = L"C:\\WINDOWS\\SYSWOW64";

bool StartsWithFolder(const std::wstring& place, const std::wstring& folder) {
  return place.compare(0, folder.size(), folder) == 0 &&
         (place.size() == folder.size() || place[folder.size()] == L'\\');
}

std::wstring Hex(std::uint64_t value) {
  std::wstring text;
  do {
    text.insert(text.begin(), L"0123456789abcdef"[value % 16]);
    value /= 16;
  } while (value != 0);
  return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return FilePathKey(a) == FilePathKey(b); }

}  // namespace

std::wstring MemoryFiles::Place(const std::wstring& path, bool is64Bit) {
  std::wstring place = FilePathKey(path);
  while (!place.empty() && place.back() == L'\\') place.pop_back();
  if (!is64Bit && StartsWithFolder(place, kSystemPlace))
    place = kSystem32BitPlace + place.substr(std::wstring(kSystemPlace).size());
  return place;
}

std::wstring MemoryFiles::ParentOf(const std::wstring& place) {
  const size_t slash = place.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : place.substr(0, slash);
}

bool MemoryFiles::IsRoot(const std::wstring& place) {
  return !place.empty() && place.find(L'\\') == std::wstring::npos;
}

bool MemoryFiles::FolderExists(const std::wstring& place) const {
  if (IsRoot(place)) return true;
  const auto found = entries_.find(place);
  return found != entries_.end() && found->second.isFolder;
}

unsigned long MemoryFiles::MissingCode(const std::wstring& place) const {
  return FolderExists(ParentOf(place)) ? kSysFileNotFound : kSysPathNotFound;
}

unsigned long MemoryFiles::MayOverwrite(const std::wstring& place) const {
  const auto found = entries_.find(place);
  if (found == entries_.end()) return FolderExists(ParentOf(place)) ? kSysSuccess : kSysPathNotFound;
  if (found->second.isFolder) return kSysAccessDenied;
  if (found->second.inUse) return kSysSharingViolation;
  if (found->second.attributes & kAttributeReadOnly) return kSysAccessDenied;
  return kSysSuccess;
}

unsigned long MemoryFiles::Look(const std::wstring& path, bool is64Bit, PathState& state) {
  state = PathState();
  const std::wstring place = Place(path, is64Bit);
  if (IsRoot(place)) {
    state.exists = state.isFolder = true;
    state.attributes = kAttributeDirectory;
    return kSysSuccess;
  }
  const auto found = entries_.find(place);
  if (found == entries_.end()) return kSysSuccess;
  state.exists = true;
  state.isFolder = found->second.isFolder;
  state.attributes = found->second.attributes;
  return kSysSuccess;
}

unsigned long MemoryFiles::Facts(const std::wstring& path, bool is64Bit, FileFacts& facts) {
  const std::wstring place = Place(path, is64Bit);
  const auto found = entries_.find(place);
  if (found == entries_.end()) return MissingCode(place);
  facts = found->second.facts;
  return kSysSuccess;
}

unsigned long MemoryFiles::RenameFile(const std::wstring& from, const std::wstring& to, bool is64Bit,
                                      bool replace) {
  const std::wstring source = Place(from, is64Bit);
  const std::wstring destination = Place(to, is64Bit);
  const auto found = entries_.find(source);
  if (found == entries_.end()) return MissingCode(source);
  if (found->second.isFolder) return kSysAccessDenied;
  if (found->second.inUse) return kSysSharingViolation;
  if (source == destination) return kSysSuccess;
  if (entries_.count(destination) && !replace) return kSysAlreadyExists;
  if (const unsigned long refused = MayOverwrite(destination)) return refused;
  Entry moved = found->second;
  entries_.erase(found);
  entries_[destination] = moved;
  return kSysSuccess;
}

unsigned long MemoryFiles::PlaceFile(const std::wstring& source, const std::wstring& target, bool is64Bit,
                                     bool mayMove) {
  const std::wstring from = Place(source, is64Bit);
  const std::wstring to = Place(target, is64Bit);
  const auto found = entries_.find(from);
  if (found == entries_.end()) return MissingCode(from);
  if (found->second.isFolder) return kSysAccessDenied;
  if (from == to) return kSysSuccess;
  if (const unsigned long refused = MayOverwrite(to)) return refused;
  Entry placed = found->second;
  placed.inUse = false;
  if (mayMove && !found->second.inUse) entries_.erase(found);
  entries_[to] = placed;
  return kSysSuccess;
}

unsigned long MemoryFiles::RemoveFile(const std::wstring& path, bool is64Bit) {
  const std::wstring place = Place(path, is64Bit);
  if (!entries_.count(place)) return MissingCode(place);
  if (const unsigned long refused = MayOverwrite(place)) return refused;
  entries_.erase(place);
  return kSysSuccess;
}

unsigned long MemoryFiles::SetAttributes(const std::wstring& path, bool is64Bit, std::uint32_t attributes) {
  const std::wstring place = Place(path, is64Bit);
  const auto found = entries_.find(place);
  if (found == entries_.end()) return IsRoot(place) ? kSysAccessDenied : MissingCode(place);
  Entry& entry = found->second;
  // The directory bit is the folder's own, whatever is asked; a file with none left is normal.
  attributes &= ~static_cast<std::uint32_t>(kAttributeDirectory);
  if (entry.isFolder) attributes |= kAttributeDirectory;
  else if (attributes == 0) attributes = kAttributeNormal;
  else if (attributes != kAttributeNormal) attributes &= ~static_cast<std::uint32_t>(kAttributeNormal);
  entry.attributes = attributes;
  return kSysSuccess;
}

unsigned long MemoryFiles::CreateFolder(const std::wstring& path, bool is64Bit) {
  const std::wstring place = Place(path, is64Bit);
  if (IsRoot(place) || entries_.count(place)) return kSysAlreadyExists;
  if (!FolderExists(ParentOf(place))) return kSysPathNotFound;
  Entry& folder = entries_[place];
  folder.isFolder = true;
  folder.attributes = kAttributeDirectory;
  return kSysSuccess;
}

unsigned long MemoryFiles::RemoveFolder(const std::wstring& path, bool is64Bit) {
  const std::wstring place = Place(path, is64Bit);
  const auto found = entries_.find(place);
  if (found == entries_.end()) return IsRoot(place) ? kSysAccessDenied : MissingCode(place);
  if (!found->second.isFolder) return kSysDirectory;
  bool empty = false;
  IsFolderEmpty(path, is64Bit, empty);
  if (!empty) return kSysDirNotEmpty;
  if (found->second.inUse) return kSysSharingViolation;
  if (found->second.attributes & kAttributeReadOnly) return kSysAccessDenied;
  entries_.erase(found);
  return kSysSuccess;
}

unsigned long MemoryFiles::IsFolderEmpty(const std::wstring& path, bool is64Bit, bool& empty) {
  const std::wstring place = Place(path, is64Bit);
  if (!FolderExists(place)) return entries_.count(place) ? kSysDirectory : MissingCode(place);
  const std::wstring prefix = place + L"\\";
  const auto next = entries_.lower_bound(prefix);
  empty = next == entries_.end() || next->first.compare(0, prefix.size(), prefix) != 0;
  return kSysSuccess;
}

std::wstring MemoryFiles::RestartName(const std::wstring& path, bool) { return path; }

unsigned long MemoryFiles::QueueRestartMove(const std::wstring& source, const std::wstring& destination) {
  if (queueRefusal_) return queueRefusal_;
  queue_.emplace_back(source, destination);
  return kSysSuccess;
}

unsigned long MemoryFiles::UnqueueRestartMove(const std::wstring& source, const std::wstring& destination) {
  for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
    if (SamePath(it->first, source) && SamePath(it->second, destination)) {
      queue_.erase(std::next(it).base());
      break;
    }
  }
  return kSysSuccess;
}

void MemoryFiles::AddFolder(const std::wstring& path, bool is64Bit) {
  for (std::wstring place = Place(path, is64Bit); !place.empty() && !IsRoot(place); place = ParentOf(place)) {
    Entry& folder = entries_[place];
    folder.isFolder = true;
    if (!(folder.attributes & kAttributeDirectory)) folder.attributes = kAttributeDirectory;
  }
}

void MemoryFiles::AddFile(const std::wstring& path, bool is64Bit, const std::string& bytes,
                          const FileFacts& facts, std::uint32_t attributes) {
  const std::wstring place = Place(path, is64Bit);
  AddFolder(ParentOf(place), true);  // the place is already in the right view
  Entry& file = entries_[place];
  file = Entry();
  file.bytes = bytes;
  file.facts = facts;
  file.attributes = attributes;
}

void MemoryFiles::SetInUse(const std::wstring& path, bool is64Bit, bool inUse) {
  const auto found = entries_.find(Place(path, is64Bit));
  if (found != entries_.end()) found->second.inUse = inUse;
}

bool MemoryFiles::HasFile(const std::wstring& path, bool is64Bit) const {
  const auto found = entries_.find(Place(path, is64Bit));
  return found != entries_.end() && !found->second.isFolder;
}

bool MemoryFiles::HasFolder(const std::wstring& path, bool is64Bit) const {
  return FolderExists(Place(path, is64Bit));
}

std::string MemoryFiles::Bytes(const std::wstring& path, bool is64Bit) const {
  const auto found = entries_.find(Place(path, is64Bit));
  return found == entries_.end() ? std::string() : found->second.bytes;
}

std::uint32_t MemoryFiles::Attributes(const std::wstring& path, bool is64Bit) const {
  const auto found = entries_.find(Place(path, is64Bit));
  return found == entries_.end() ? 0 : found->second.attributes;
}

std::wstring MemoryFiles::Listing() const {
  std::wstring out;
  for (const auto& entry : entries_) {
    const Entry& e = entry.second;
    out += entry.first + (e.isFolder ? L"\\" : L"") + L" attributes " + Hex(e.attributes);
    if (!e.isFolder) {
      out += L" version " + (e.facts.hasVersion ? Hex(e.facts.version) : std::wstring(L"-"));
      out += L" written " + Hex(e.facts.writeTime) + L" bytes";
      for (unsigned char byte : e.bytes) out += L" " + Hex(byte);
    }
    out += L"\n";
  }
  for (const auto& move : queue_) out += L"restart: " + move.first + L" -> " + move.second + L"\n";
  return out;
}

}  // namespace brindle
