// Benchmark (not a test): how long Brindle.exe takes to apply a package of many files, next to
// what a person could do instead with the system's own tools in the same Wine prefix: unpack
// the cabinet with extrac32 and copy the tree with xcopy. Both sides start from the same
// cabinet and end with the same files in place; the median of three runs of each is printed.
// Brindle.exe's fixed start-up wait (3 s) is taken out of its time; the progress dialog's
// 500 ms polling, which can add up to half a second at the end, is left in.
// Usage: bench_apply [files, default 2000] [folders, default 100] [bytes per file, default 20000]
#include "logs/install_log.h"
#include "support/install_log_fixture_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/text.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace brindle;
using namespace brindle::test;

namespace {

const double kFixedWaitSeconds = 3.0;  // the program's start-up wait

std::wstring ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

bool WriteText(const std::wstring& path, const std::string& text) {
  CreateFolderChain(ParentFolder(path));
  return WriteBytes(path, text);
}

double Seconds(ULONGLONG start) { return (GetTickCount64() - start) / 1000.0; }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int RunAndWait(const std::wstring& exe, const std::wstring& arguments) {
  StartedProcess started = StartProgram(exe, arguments);
  return WaitForExit(started, 600000);
}

struct Package {
  std::wstring lists;   // list.xml, package.diff and ZNQ
  std::wstring source;  // the package's files before packing
  std::vector<std::wstring> relativeFiles;
};

Package MakePackage(const ScratchFolder& scratch, int files, int folders, size_t bytes) {
  Package package{scratch.File(L"lists"), scratch.File(L"package"), {}};
  std::string content(bytes, 'x');
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo>"
                    "<Version>2.0</Version></GeneralInfo><AddObjects>";
  for (int i = 0; i < files; ++i) {
    const std::wstring relative = L"dir" + std::to_wstring(i % folders) + L"\\file" + std::to_wstring(i) + L".bin";
    content[0] = static_cast<char>('a' + i % 26);
    WriteText(package.source + L"\\INST\\" + relative, content);
    package.relativeFiles.push_back(relative);
    const std::string r = Utf8FromWide(relative);
    xml += "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\" + r +
           "</FullPath><FileName>" + r + "</FileName></File>";
  }
  xml += "</AddObjects></DiffDistribute>";
  WriteText(package.source + L"\\diff.xml", xml);
  const std::wstring znq = package.lists + L"\\ZNQ\\INSTALL";
  WriteText(znq + L"\\COMMON\\setup.dll", "setup");
  WriteText(znq + L"\\COMMON\\Uninst.exe", "uninst");
  WriteText(znq + L"\\COMMON\\UninsVer.txt", "9.9.9");
  WriteText(znq + L"\\ENGLISH\\UninstRsc.dll", "rsc");
  if (!MakeCabinet(package.lists + L"\\package.diff", package.source)) {
    std::fprintf(stderr, "bench_apply: gcab failed\n");
    std::exit(1);
  }
  return package;
}

// A fresh installed application for one run of Brindle.exe.
void Install(const std::wstring& app, const InstallLogGuard& guard) {
  RemoveTree(app);
  WriteText(app + L"\\uninst.ini",
            "[Language]\r\n[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n"
            "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n");
  CQXInstallLog log;
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = L"BenchApp";
  entry->applicationVersion.text = L"1.0";
  entry->FullPath = app;
  entry->Lang.SetCode(L"en");
  entry->UninstLog = app + L"\\uninst.ini";
  log.entries.push_back(std::move(entry));
  CreateFolderChain(ParentFolder(guard.Path()));
  SaveInstallLog(log, guard.Path());
}

bool AllInPlace(const std::wstring& root, const Package& package) {
  for (const std::wstring& relative : package.relativeFiles)
    if (!FileExists(root + L"\\" + relative)) return false;
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int files = argc > 1 ? _wtoi(argv[1]) : 2000;
  const int folders = argc > 2 ? _wtoi(argv[2]) : 100;
  const size_t bytes = argc > 3 ? static_cast<size_t>(_wtoi(argv[3])) : 20000;
  ScratchFolder scratch;
  InstallLogGuard guard;
  const Package package = MakePackage(scratch, files, folders, bytes);
  const std::wstring app = ShellFolder(CSIDL_PROGRAM_FILESX86) + L"\\BrindleBench";
  const std::wstring list = package.lists + L"\\list.xml";
  const std::wstring system = ShellFolder(CSIDL_SYSTEM);

  std::vector<double> brindle, tools;
  for (int run = 0; run < 3; ++run) {
    Install(app, guard);
    WriteText(list, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
                    "<FileName>package.diff</FileName><AppName>BenchApp</AppName>"
                    "<DisplayName>Bench</DisplayName></DiffLocal></DiffLocalList>");
    ULONGLONG start = GetTickCount64();
    const int code = RunAndWait(ProgramPath(L"Brindle.exe"), L"\"" + list + L"\" /non_notification");
    brindle.push_back(Seconds(start) - kFixedWaitSeconds);
    if (code != 200 || !AllInPlace(app, package)) {
      std::fprintf(stderr, "bench_apply: Brindle.exe ended with exit code %d%s\n", code,
                   code == 200 ? " but left files out" : "");
      return 1;
    }

    const std::wstring unpacked = scratch.File(L"unpacked") + std::to_wstring(run);
    const std::wstring copied = app + L"_tools";
    RemoveTree(copied);
    start = GetTickCount64();
    RunAndWait(system + L"\\extrac32.exe", L"/Y /E /L \"" + ToBackslashes(unpacked) + L"\" \"" +
                                              ToBackslashes(package.lists) + L"\\package.diff\"");
    RunAndWait(system + L"\\xcopy.exe", L"/E /Y /I /Q \"" + ToBackslashes(unpacked) + L"\\INST\" \"" + copied + L"\"");
    tools.push_back(Seconds(start));
    if (!AllInPlace(copied, package)) {
      std::fprintf(stderr, "bench_apply: extrac32 + xcopy left files out\n");
      return 1;
    }
    RemoveTree(copied);
    RemoveTree(unpacked);
    std::printf("run %d: Brindle.exe %.2f s (without its %.1f s start-up wait), extrac32 + xcopy %.2f s\n",
                run + 1, brindle.back(), kFixedWaitSeconds, tools.back());
  }
  RemoveTree(app);
  const double b = Median(brindle), t = Median(tools);
  std::printf("%d files in %d folders, %zu bytes each: Brindle.exe %.2f s, extrac32 + xcopy %.2f s, ratio %.2f\n",
              files, folders, bytes, b, t, b / t);
  return 0;
}
