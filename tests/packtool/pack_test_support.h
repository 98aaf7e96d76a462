// Shared by the tool's tests: running a command line of the tool in-process and reading what it
// printed, and a small PE library built byte by byte.
#pragma once
#include <cstdint>
#include <map>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include "packtool/pack_tool.h"
#include "sys/text.h"

namespace brindle::test {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  bool OutHas(const std::string& text) const { return out.find(text) != std::string::npos; }
  bool ErrHas(const std::string& text) const { return err.find(text) != std::string::npos; }
};

inline ToolRun RunTool(const std::vector<std::wstring>& args) {
  std::ostringstream out, err;
  ToolRun run;
  run.exitCode = pack::RunPackTool(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// A minimal PE library exporting the given names (machine x86), with a version resource when
// version is not zero: enough for the tool's export and version readers.
inline std::string PeLibrary(const std::vector<std::string>& exports, uint32_t versionMs = 0) {
  std::string b(0x400, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  auto put16 = [&](size_t at, uint16_t v) {
    b[at] = static_cast<char>(v);
    b[at + 1] = static_cast<char>(v >> 8);
  };
  b[0] = 'M';
  b[1] = 'Z';
  put32(60, 0x40);
  b.replace(0x40, 4, std::string("PE\0\0", 4));
  put16(0x44, 0x14c);   // machine
  put16(0x46, 1);       // one section
  put16(0x54, 224);     // optional header size
  put16(0x56, 0x2000);  // a DLL
  const size_t opt = 0x58;
  put16(opt, 0x10b);
  put32(opt + 92, 16);  // directories
  // One section: RVA 0x1000 at file offset 0x200, 0x200 bytes.
  const size_t sec = opt + 224;
  put32(sec + 8, 0x200);
  put32(sec + 12, 0x1000);
  put32(sec + 16, 0x200);
  put32(sec + 20, 0x200);
  // Export directory at RVA 0x1000: names table at 0x1040, names from 0x1080.
  put32(opt + 96, 0x1000);
  put32(0x200 + 24, static_cast<uint32_t>(exports.size()));
  put32(0x200 + 32, 0x1040);
  size_t nameAt = 0x280;
  for (size_t i = 0; i < exports.size(); ++i) {
    put32(0x240 + 4 * i, static_cast<uint32_t>(0x1000 + nameAt - 0x200));
    b.replace(nameAt, exports[i].size(), exports[i]);
    nameAt += exports[i].size() + 1;
  }
  if (versionMs) {
    // Resource directory at RVA 0x1100: type 16 -> id 1 -> language -> data at 0x1180.
    put32(opt + 96 + 16, 0x1100);
    const size_t r = 0x300;
    put16(r + 14, 1);
    put32(r + 16, 16);
    put32(r + 20, 0x80000000u | 0x18);
    put16(r + 0x18 + 14, 1);
    put32(r + 0x18 + 16, 1);
    put32(r + 0x18 + 20, 0x80000000u | 0x30);
    put16(r + 0x30 + 14, 1);
    put32(r + 0x30 + 16, 0x409);
    put32(r + 0x30 + 20, 0x48);
    put32(r + 0x48, 0x1180);
    put32(r + 0x48 + 4, 0x40);
    put32(0x380 + 8, 0xFEEF04BDu);
    put32(0x380 + 16, versionMs);
  }
  return b;
}

// A minimal reader of the flat JSON objects the tool writes, one per line.
inline std::vector<std::map<std::string, std::string>> ParseJsonLines(const std::string& text) {
  std::vector<std::map<std::string, std::string>> objects;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::map<std::string, std::string> object;
    size_t i = 0;
    auto expect = [&](char c) {
      while (i < line.size() && line[i] == ' ') ++i;
      if (i >= line.size() || line[i] != c)
        throw std::runtime_error("expected " + std::string(1, c) + " in " + line);
      ++i;
    };
    auto string = [&]() {
      expect('"');
      std::string value;
      for (; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\') {
          ++i;
          if (line[i] == 'u') {
            value += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
            i += 4;
          } else {
            value += line[i];
          }
        } else {
          value += line[i];
        }
      }
      expect('"');
      return value;
    };
    expect('{');
    while (true) {
      const std::string key = string();
      expect(':');
      if (line[i] == '"') {
        object[key] = string();
      } else {
        const size_t end = line.find_first_of(",}", i);
        object[key] = line.substr(i, end - i);
        i = end;
      }
      if (line[i] == '}') break;
      expect(',');
    }
    objects.push_back(object);
  }
  return objects;
}

}  // namespace brindle::test
