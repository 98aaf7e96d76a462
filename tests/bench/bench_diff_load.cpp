// Benchmark (not a test): loads a generated diff.xml of 20,000 File records and prints the time
// of the XML load (file to tree) and of the model build (tree to package model).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <objbase.h>
#endif

#include "package/diff_distribute.h"
#include "support/scratch.h"
#include "xml/xml_parser.h"

using namespace brindle;

namespace {

constexpr int kFiles = 20000;
constexpr int kRounds = 7;

std::string GeneratePackage() {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute>\r\n";
  xml += "     <GeneralInfo>\r\n          <Version>3.2.0.1</Version>\r\n     </GeneralInfo>\r\n";
  xml += "     <AddObjects>\r\n";
  for (int i = 0; i < kFiles; ++i) {
    const char* com = (i % 17 == 0) ? "INST_REG" : "INST_NOREG";
    const char* wow = (i % 2 == 0) ? "INST_32BIT" : "INST_64BIT";
    xml += std::string("          <File COM=\"") + com + "\" DelInfo=\"INST_DEL\" WOW=\"" + wow + "\">\r\n";
    xml += "               <FullPath>$ProgFolder$\\modules\\group" + std::to_string(i % 50) + "\\file" +
           std::to_string(i) + ".dll</FullPath>\r\n";
    xml += "          </File>\r\n";
  }
  xml += "     </AddObjects>\r\n</DiffDistribute>\r\n";
  return xml;
}

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Run() {
  test::ScratchFolder folder;
  const std::wstring path = folder.File(L"diff.xml");
  const std::string xml = GeneratePackage();
  if (!test::WriteBytes(path, xml)) {
    std::printf("cannot write the package\n");
    return 1;
  }
  CXMLParser* parser = GetXMLParser();
  if (!parser) {
    std::printf("no XML parser\n");
    return 1;
  }
  std::vector<double> loads, builds;
  size_t files = 0;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<CXMLDocument> document = parser->Load(path);
    const auto loaded = std::chrono::steady_clock::now();
    if (!document) {
      std::printf("the package does not load\n");
      return 1;
    }
    CQXDiffDistribute model;
    if (model.FromXML(document->GetRoot()) != 0) {
      std::printf("the package is not a DiffDistribute\n");
      return 1;
    }
    const auto built = std::chrono::steady_clock::now();
    files = model.addObjects->files.size();
    loads.push_back(Milliseconds(loaded - start));
    builds.push_back(Milliseconds(built - loaded));
  }
  const double load = Median(loads);
  const double build = Median(builds);
  std::printf("diff.xml: %d File records, %zu bytes, %zu records in the model\n", kFiles, xml.size(), files);
  std::printf("XML load (file to tree), median of %d: %.1f ms (min %.1f)\n", kRounds, load,
              *std::min_element(loads.begin(), loads.end()));
  std::printf("model build (tree to model), median of %d: %.1f ms (min %.1f)\n", kRounds, build,
              *std::min_element(builds.begin(), builds.end()));
  std::printf("model build / XML load: %.2f\n", build / load);
  DestroyXMLParser();
  return files == static_cast<size_t>(kFiles) ? 0 : 1;
}

}  // namespace

int main() {
#ifdef _WIN32
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
  const int result = Run();
#ifdef _WIN32
  CoUninitialize();
#endif
  return result;
}
