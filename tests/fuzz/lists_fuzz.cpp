// Fuzz target of the update list files: the bytes are written to a file and loaded both as a
// DiffLocalList and as an ActionList; every answer is a result code, never a memory error, and
// the package order comes out sorted.
#include "logs/update_lists.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace brindle;

namespace {
std::wstring ScratchFile() {
  static const std::wstring path = [] {
    const char* dir = std::getenv("TMPDIR");
    const std::string name =
        std::string(dir && *dir ? dir : "/tmp") + "/lists_fuzz_" + std::to_string(getpid()) + ".xml";
    return std::wstring(name.begin(), name.end());
  }();
  return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring path = ScratchFile();
  const std::string narrow(path.begin(), path.end());
  std::FILE* f = std::fopen(narrow.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::vector<DiffLocalEntry> entries;
  if (LoadDiffLocalList(path, entries) == ListLoad::kLoaded) {
    for (size_t i = 1; i < entries.size(); ++i)
      if (entries[i].order.value < entries[i - 1].order.value) std::abort();
  }
  CQXActionListXML actions;
  if (LoadActionList(path, actions) == ListLoad::kLoaded) {
    for (const auto& action : actions.actions)
      if (action.size() != kActionFieldCount) std::abort();
    for (const std::wstring& id : ActionIds(actions, L"ADD")) ActionPath(actions, id);
  }
  std::remove(narrow.c_str());
  return 0;
}
