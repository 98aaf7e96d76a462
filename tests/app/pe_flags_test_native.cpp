// The security flags of the built program files, read from their PE headers. Both builds are
// checked (tools/build.sh builds win64 and win32 before the native tests run): address-space
// randomisation with its relocations kept, no-execute data, and for the 64-bit build
// high-entropy randomisation. The toolchain sets them today; this catches a build change that
// drops one silently.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::uint16_t kDynamicBase = 0x0040;
const std::uint16_t kHighEntropyVa = 0x0020;
const std::uint16_t kNxCompat = 0x0100;
const std::uint16_t kRelocsStripped = 0x0001;  // file header characteristics
const std::uint16_t kMachineI386 = 0x014C, kMachineAmd64 = 0x8664;

struct PeFlags {
  std::uint16_t machine = 0;
  std::uint16_t characteristics = 0;
  std::uint16_t dllCharacteristics = 0;
  std::uint32_t relocationBytes = 0;  // size of the base-relocation directory
};

std::uint32_t Read(const std::vector<unsigned char>& bytes, size_t at, size_t width) {
  if (at + width > bytes.size()) throw std::out_of_range("header past the end of the file");
  std::uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
  return value;
}

bool ReadPeFlags(const std::string& path, PeFlags& flags) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
  if (Read(bytes, 0, 2) != 0x5A4D) return false;  // "MZ"
  const size_t pe = Read(bytes, 0x3C, 4);
  if (Read(bytes, pe, 4) != 0x00004550) return false;  // "PE\0\0"
  const size_t fileHeader = pe + 4, optional = fileHeader + 20;
  flags.machine = static_cast<std::uint16_t>(Read(bytes, fileHeader, 2));
  flags.characteristics = static_cast<std::uint16_t>(Read(bytes, fileHeader + 18, 2));
  const std::uint32_t magic = Read(bytes, optional, 2);
  if (magic != 0x10B && magic != 0x20B) return false;
  flags.dllCharacteristics = static_cast<std::uint16_t>(Read(bytes, optional + 70, 2));
  const size_t directories = optional + (magic == 0x20B ? 112 : 96);
  const std::uint32_t count = Read(bytes, directories - 4, 4);  // NumberOfRvaAndSizes
  if (count > 5) flags.relocationBytes = Read(bytes, directories + 5 * 8 + 4, 4);
  return true;
}

// The program of the named build; tools/build.sh puts it in bin/ (or the build folder itself
// when the build has no tests).
std::string ProgramOf(const std::string& build) {
  const std::string dir = std::string(BRINDLE_BUILD_DIR) + "/../" + build;
  for (const std::string& candidate : {dir + "/bin/Brindle.exe", dir + "/Brindle.exe"})
    if (std::ifstream(candidate)) return candidate;
  return std::string();
}

TEST(ProgramFile, BothBuildsCarryRandomisationRelocationsAndNoExecuteData) {
  struct Build {
    const char* name;
    std::uint16_t machine;
    bool highEntropy;
  };
  for (const Build& build : {Build{"win64", kMachineAmd64, true}, Build{"win32", kMachineI386, false}}) {
    SCOPED_TRACE(build.name);
    const std::string program = ProgramOf(build.name);
    ASSERT_FALSE(program.empty()) << "build " << build.name << " first (tools/build.sh)";
    PeFlags flags;
    ASSERT_TRUE(ReadPeFlags(program, flags)) << program << " is no PE program";
    EXPECT_EQ(flags.machine, build.machine);
    EXPECT_TRUE(flags.dllCharacteristics & kDynamicBase);
    EXPECT_TRUE(flags.dllCharacteristics & kNxCompat);
    if (build.highEntropy) {
      EXPECT_TRUE(flags.dllCharacteristics & kHighEntropyVa);
    }
    // Randomisation needs the relocations: an image without them loads only at its base.
    EXPECT_FALSE(flags.characteristics & kRelocsStripped);
    EXPECT_GT(flags.relocationBytes, 0u);
  }
}

}  // namespace
