#include "packtool/pe_image.h"

#include "packtool/file_access.h"

#include <cstring>

#include "sys/text.h"

namespace brindle::pack {

namespace {

// Little-endian reads that never go past the end of the bytes.
class Bytes {
 public:
  explicit Bytes(const std::string& data) : data_(data) {}
  bool Has(std::uint64_t offset, std::uint64_t size) const {
    return offset <= data_.size() && size <= data_.size() - offset;
  }
  std::uint32_t U32(std::uint64_t offset) const {
    if (!Has(offset, 4)) return 0;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data_[offset + i]);
    return v;
  }
  std::uint16_t U16(std::uint64_t offset) const {
    if (!Has(offset, 2)) return 0;
    return static_cast<std::uint16_t>(static_cast<unsigned char>(data_[offset]) |
                                      (static_cast<unsigned char>(data_[offset + 1]) << 8));
  }
  // A zero-terminated name starting at offset (at most 512 characters); empty when the bytes
  // end before its terminator, so that a cut name never passes for a shorter one.
  std::string Name(std::uint64_t offset) const {
    std::string name;
    while (Has(offset, 1) && data_[offset] != '\0' && name.size() < 512) name += data_[offset++];
    return Has(offset, 1) ? name : std::string();
  }
  const std::string& Data() const { return data_; }

 private:
  const std::string& data_;
};

struct Section {
  std::uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

// The file offset of a relative virtual address, or false when no section holds it.
bool OffsetOfRva(const std::vector<Section>& sections, std::uint32_t rva, std::uint64_t& offset) {
  for (const Section& s : sections) {
    const std::uint32_t size = s.virtualSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < size && rva - s.virtualAddress < s.rawSize) {
      offset = static_cast<std::uint64_t>(s.rawOffset) + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

// The first data entry below a resource directory, following the first entry of each level.
bool FirstResourceData(const Bytes& b, std::uint64_t base, std::uint64_t directory, int depth,
                       std::uint32_t& dataRva, std::uint32_t& dataSize) {
  if (depth > 3 || !b.Has(directory, 16)) return false;
  const unsigned entries = b.U16(directory + 12) + b.U16(directory + 14);
  if (entries == 0) return false;
  const std::uint32_t target = b.U32(directory + 16 + 4);
  if (target & 0x80000000u)
    return FirstResourceData(b, base, base + (target & 0x7fffffffu), depth + 1, dataRva, dataSize);
  if (!b.Has(base + target, 8)) return false;
  dataRva = b.U32(base + target);
  dataSize = b.U32(base + target + 4);
  return true;
}

void ReadVersion(const Bytes& b, const std::vector<Section>& sections, std::uint32_t resourceRva,
                 PeImage& image) {
  std::uint64_t base = 0;
  if (!resourceRva || !OffsetOfRva(sections, resourceRva, base) || !b.Has(base, 16)) return;
  // The root lists resource types; RT_VERSION is 16 (an id entry).
  const unsigned named = b.U16(base + 12), ids = b.U16(base + 14);
  for (unsigned i = 0; i < named + ids && i < 4096; ++i) {
    const std::uint64_t entry = base + 16 + 8ull * i;
    if (!b.Has(entry, 8)) return;
    const std::uint32_t id = b.U32(entry), target = b.U32(entry + 4);
    if ((id & 0x80000000u) || id != 16 || !(target & 0x80000000u)) continue;
    std::uint32_t dataRva = 0, dataSize = 0;
    std::uint64_t data = 0;
    if (!FirstResourceData(b, base, base + (target & 0x7fffffffu), 1, dataRva, dataSize) ||
        !OffsetOfRva(sections, dataRva, data) || !b.Has(data, dataSize))
      return;
    // VS_FIXEDFILEINFO starts with its signature on a 4-byte boundary.
    for (std::uint64_t at = data; at + 16 <= data + dataSize; at += 4) {
      if (b.U32(at) == 0xFEEF04BDu) {
        image.hasVersion = true;
        image.versionMs = b.U32(at + 8);
        image.versionLs = b.U32(at + 12);
        return;
      }
    }
    return;
  }
}

void ReadExports(const Bytes& b, const std::vector<Section>& sections, std::uint32_t exportRva,
                 PeImage& image) {
  std::uint64_t directory = 0;
  if (!exportRva || !OffsetOfRva(sections, exportRva, directory) || !b.Has(directory, 40)) return;
  const std::uint32_t count = b.U32(directory + 24), namesRva = b.U32(directory + 32);
  std::uint64_t names = 0;
  if (count == 0 || count > 65536 || !OffsetOfRva(sections, namesRva, names)) return;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint64_t name = 0;
    if (!OffsetOfRva(sections, b.U32(names + 4ull * i), name)) continue;
    const std::string text = b.Name(name);
    if (!text.empty()) image.exports.push_back(text);
  }
}

}  // namespace

bool PeImage::Exports(const std::string& name) const {
  for (const std::string& e : exports)
    if (e == name) return true;
  return false;
}

std::wstring PeImage::VersionText() const {
  if (!hasVersion) return std::wstring();
  return ToWideDecimal(versionMs >> 16) + L"." + ToWideDecimal(versionMs & 0xffff) + L"." +
         ToWideDecimal(versionLs >> 16) + L"." + ToWideDecimal(versionLs & 0xffff);
}

PeImage ReadPeImage(const std::string& data) {
  PeImage image;
  const Bytes b(data);
  if (!b.Has(0, 64) || data[0] != 'M' || data[1] != 'Z') {
    image.problem = L"not a Windows program or library (no MZ header)";
    return image;
  }
  const std::uint64_t pe = b.U32(60);
  if (!b.Has(pe, 24) || std::memcmp(data.data() + pe, "PE\0\0", 4) != 0) {
    image.problem = L"not a Windows program or library (no PE header)";
    return image;
  }
  image.machine = b.U16(pe + 4);
  const unsigned sectionCount = b.U16(pe + 6);
  const unsigned optionalSize = b.U16(pe + 20);
  image.isLibrary = (b.U16(pe + 22) & 0x2000) != 0;
  const std::uint64_t optional = pe + 24;
  const std::uint16_t magic = b.U16(optional);
  std::uint64_t directories = 0;
  std::uint32_t directoryCount = 0;
  if (magic == 0x10b) {
    directories = optional + 96;
    directoryCount = b.U32(optional + 92);
  } else if (magic == 0x20b) {
    directories = optional + 112;
    directoryCount = b.U32(optional + 108);
  } else {
    image.problem = L"unknown optional header";
    return image;
  }
  std::vector<Section> sections;
  const std::uint64_t table = optional + optionalSize;
  for (unsigned i = 0; i < sectionCount && i < 96; ++i) {
    const std::uint64_t s = table + 40ull * i;
    if (!b.Has(s, 40)) break;
    sections.push_back({b.U32(s + 12), b.U32(s + 8), b.U32(s + 20), b.U32(s + 16)});
  }
  image.valid = true;
  if (directoryCount > 0) ReadExports(b, sections, b.U32(directories), image);
  if (directoryCount > 2) ReadVersion(b, sections, b.U32(directories + 16), image);
  return image;
}

FileFacts FileFactsOf(const std::wstring& path) {
  FileFacts facts;
  std::string bytes;
  if (ReadFileBytes(path, bytes)) {
    const PeImage image = ReadPeImage(bytes);
    facts.hasVersion = image.hasVersion;
    if (image.hasVersion) facts.version = FileVersionNumber(image.versionMs, image.versionLs);
  }
  if (!FileWriteTime(path, facts.writeTime)) facts.writeTime = 0;
  return facts;
}

}  // namespace brindle::pack
