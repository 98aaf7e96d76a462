// The service-log table of docs/service-log.md names exactly the keys the program writes. The
// keys are the upper-case wide literals of the product's sources (flag and type tokens of the
// package and the uninstall log, INST_* and REG_*, the registry's root names HKEY_* as a registry
// export writes them, and the environment variables of the test build, BRINDLE_*, are not keys);
// the table's keys are the back-quoted names of the first column of the table headed "| key |".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> KeysInSources(const fs::path& root) {
  static const char* const kFolders[] = {"app", "apply", "logs", "sys", "ui", "uninstlog", "package", "xml"};
  const std::regex literal("L\"([A-Z][A-Z0-9]*(_[A-Z0-9]+)+)\"");
  std::set<std::string> keys;
  for (const char* folder : kFolders) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      const std::string text = ReadText(entry.path());
      for (std::sregex_iterator it(text.begin(), text.end(), literal), end; it != end; ++it) {
        const std::string key = (*it)[1];
        if (key.rfind("INST_", 0) != 0 && key.rfind("REG_", 0) != 0 && key.rfind("BRINDLE_", 0) != 0 &&
            key.rfind("HKEY_", 0) != 0)
          keys.insert(key);
      }
    }
  }
  return keys;
}

// The rows of the table whose header row starts "| key |", up to the first line that is not a row.
std::set<std::string> KeysInTable(const std::string& document) {
  std::set<std::string> keys;
  const size_t start = document.find("\n| key |");
  if (start == std::string::npos) return keys;
  std::istringstream table(document.substr(start + 1));
  const std::regex name("`([A-Z][A-Z0-9_]+)`");
  for (std::string line; std::getline(table, line) && line.rfind('|', 0) == 0;) {
    if (line.rfind("| `", 0) != 0) continue;
    const std::string first = line.substr(0, line.find('|', 1));
    for (std::sregex_iterator it(first.begin(), first.end(), name), e; it != e; ++it) keys.insert((*it)[1]);
  }
  return keys;
}

}  // namespace

TEST(ServiceLogKeys, TheDocumentedTableNamesEveryKeyTheProgramWritesAndNoOther) {
  const fs::path root = BRINDLE_SOURCE_DIR;
  const std::set<std::string> written = KeysInSources(root);
  const std::set<std::string> listed = KeysInTable(ReadText(root / "docs" / "service-log.md"));
  ASSERT_GT(written.size(), 40u) << "the sources' keys were not found";
  ASSERT_GT(listed.size(), 40u) << "the table of docs/service-log.md was not found";
  for (const std::string& key : written)
    EXPECT_TRUE(listed.count(key)) << key << " is missing from docs/service-log.md";
  for (const std::string& key : listed)
    EXPECT_TRUE(written.count(key)) << key << " is in docs/service-log.md but not written";
}
