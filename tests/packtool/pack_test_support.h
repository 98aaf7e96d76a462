// Shared by the tool's tests: running a command line of the tool in-process and reading what it
// printed.
#pragma once
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

}  // namespace brindle::test
