// What the tool needs to know about a Windows program or library without loading it: its
// processor, the names it exports (a hook library must export its function) and the fixed file
// version of its version resource (the program compares versions before it overwrites a file).
// The file is read as bytes, so the same code answers on Linux and on Windows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "apply/file_decisions.h"

namespace brindle::pack {

struct PeImage {
  bool valid = false;                // a PE image whose headers could be read
  std::uint16_t machine = 0;         // 0x14c x86, 0x8664 x64
  bool isLibrary = false;            // the DLL flag of the file header
  std::vector<std::string> exports;  // exported names, as stored
  bool hasVersion = false;
  std::uint32_t versionMs = 0;  // fixed file version, most significant half
  std::uint32_t versionLs = 0;
  std::wstring problem;  // why valid is false

  bool Exports(const std::string& name) const;
  // "1.2.3.4", or empty text without a version.
  std::wstring VersionText() const;
};

enum : std::uint16_t { kMachineX86 = 0x14c, kMachineX64 = 0x8664 };

// Reads the image from the file's bytes. A file that is not a PE image gives valid false (and
// no version), which is what the program's version look-up gives for such a file.
PeImage ReadPeImage(const std::string& bytes);

// What the program's version rule knows of the file (apply/file_decisions.h), read from its bytes
// and its time as the program reads them through the system.
FileFacts FileFactsOf(const std::wstring& path);

}  // namespace brindle::pack
