// Benchmark (not a test): the cost of one service-log line. Appends 2,000 lines, as many as an
// update of 2,000 files writes, to a log in a scratch folder, several rounds, and prints the
// best round's total and its time per line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "logs/service_log.h"
#include "support/scratch.h"
#include "sys/paths.h"

using namespace brindle;

int main() {
  constexpr int kLines = 2000;
  constexpr int kRounds = 5;
  brindle::test::ScratchFolder folder;
  const std::wstring path = folder.File(kServiceLogFileName);
  const std::wstring line =
      L"2026-12-07-05-46-04-031,BR,UPDATE_FILE_ADD,-,C:\\Program Files\\Example\\bin\\library.dll,success,0";
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i)
      if (!AppendServiceLogLine(path, line)) {
        std::fprintf(stderr, "line %d not written\n", i);
        return 1;
      }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  std::printf("%d lines: %.1f ms, %.1f us a line (best of %d)\n", kLines, best, best * 1000.0 / kLines,
              kRounds);
  return 0;
}
