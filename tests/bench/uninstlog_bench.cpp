// Benchmark of the uninstall log: loads a generated log of N entry lines and writes it back
// through the writer, and compares with reading and writing the same bytes with plain file I/O
// in the same run. Runs N and 2N to show that the time grows linearly.
// Usage: uninstlog_bench [lines, default 200000]
#include "support/scratch.h"
#include "uninstlog/ini_file.h"
#include "uninstlog/profile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace brindle;
using namespace brindle::test;

namespace {

using Clock = std::chrono::steady_clock;

// A log of `lines` entry lines in sections of 1,000, in the written form of each kind.
std::string Generate(size_t lines) {
  std::string out;
  out.reserve(lines * 80);
  for (size_t i = 0; i < lines; ++i) {
    if (i % 1000 == 0) out += "[Section" + std::to_string(i / 1000) + "]\r\n";
    const std::string n = std::to_string(i);
    switch (i % 4) {
      case 0:
        out += "UIFILE=\"C:\\\\Program Files\\\\Tamek\\\\App\\\\bin\\\\file" + n +
               ".dll\" INST_REQ INST_VER INST_DEL INST_REG\r\n";
        break;
      case 1:
        out +=
            "UIFLDR=\"C:\\\\Program Files\\\\Tamek\\\\App\\\\dir" + n + "\" INST_REQ INST_CRE INST_DEL \r\n";
        break;
      case 2:
        out += "UIREGI=HLM \"Software\\\\Tamek\\\\App\\\\Key" + n +
               "\" \"Value\" INST_REQ INST_REQ INST_DEL\r\n";
        break;
      default: out += "UNInfo=\"Target number " + n + "\"\r\n";
    }
  }
  return out;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Load + write back through the model; seconds, or a negative value on failure.
double ModelRoundTrip(const std::wstring& in, const std::wstring& out) {
  RemoveTree(out);
  const auto start = Clock::now();
  CIniFile ini;
  if (!ini.Load(in, 1252)) return -1;
  CProfile writer(1252);
  if (!writer.Open(out)) return -1;
  const bool ok = writer.WriteModel(ini);
  writer.Close();
  const auto end = Clock::now();
  return ok ? Seconds(start, end) : -1;
}

// The same bytes read and written whole with plain file I/O.
double PlainRoundTrip(const std::wstring& in, const std::wstring& out) {
  RemoveTree(out);
  const auto start = Clock::now();
  std::string bytes;
  if (!ReadBytes(in, bytes) || !WriteBytes(out, bytes)) return -1;
  return Seconds(start, Clock::now());
}

struct Figures {
  double model;
  double plain;
};

Figures Measure(const ScratchFolder& dir, size_t lines) {
  const std::wstring in = dir.File(L"in.log"), out = dir.File(L"out.log");
  const std::string text = Generate(lines);
  if (!WriteBytes(in, text)) {
    std::printf("cannot write the generated log\n");
    std::exit(1);
  }
  Figures best{1e9, 1e9};
  for (int run = 0; run < 3; ++run) {
    const double m = ModelRoundTrip(in, out);
    const double p = PlainRoundTrip(in, out);
    if (m < 0 || p < 0) {
      std::printf("round trip failed\n");
      std::exit(1);
    }
    best.model = std::min(best.model, m);
    best.plain = std::min(best.plain, p);
  }
  // The written log must be the generated one, byte for byte.
  ModelRoundTrip(in, out);
  std::string back;
  if (!ReadBytes(out, back) || back != text) {
    std::printf("the log written back differs from the one read\n");
    std::exit(1);
  }
  std::printf(
      "%zu lines (%zu bytes): load+write %.3f s = %.0f lines/s; plain read+write %.4f s; "
      "ratio %.1f\n",
      lines, text.size(), best.model, lines / best.model, best.plain, best.model / best.plain);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
  ScratchFolder dir;
  const Figures one = Measure(dir, lines);
  const Figures two = Measure(dir, lines * 2);
  const double growth = two.model / one.model;
  std::printf("twice the lines took %.2f times as long (limit 2.2)\n", growth);
  return growth <= 2.2 ? 0 : 2;
}
