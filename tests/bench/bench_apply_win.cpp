// Benchmark (not a test): how long Brindle.exe takes to apply a package of many files, next to
// what a person could do instead with the system's own tools in the same Wine prefix: unpack
// the cabinet with extrac32, copy the tree with xcopy and import the package's registry values
// from an equivalent .reg file with reg import. Both sides start from the same cabinet and end
// with the same files and values in place; the median of three runs of each is printed.
// Brindle.exe's two fixed waits are taken out of its time: the 3 s wait at start-up and the 1 s
// for which the progress dialog shows its final state before closing. The dialog's 500 ms
// polling, which can add up to half a second at the end, is left in.
// Usage: bench_apply [files, default 2000] [folders, default 100] [bytes per file, default 20000]
//                    [registry values, default 500]
#include "logs/install_log.h"
#include "support/install_log_fixture_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace brindle;
using namespace brindle::test;

namespace {

const double kFixedWaitSeconds = 3.0 + 1.0;  // the start-up wait and the dialog's final pause

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

// The package's values go below this key of the 32-bit view, spread over ten sub-keys; the
// tools' copy goes below kToolsKey, in the same view.
const wchar_t kBrindleKey[] = L"BrindleBench";
const wchar_t kToolsKey[] = L"BrindleBenchTools";
const int kValueKeys = 10;

struct Package {
  std::wstring lists;   // list.xml, package.diff and ZNQ
  std::wstring source;  // the package's files before packing
  std::wstring regFile; // the same registry values for reg import
  std::vector<std::wstring> relativeFiles;
  int values = 0;
};

std::string ValueKey(const wchar_t* key, int i) {
  return "SOFTWARE\\" + Utf8FromWide(key) + "\\k" + std::to_string(i % kValueKeys);
}

// The 32-bit view of HKLM\SOFTWARE, where both sides write their values.
UniqueRegKey OpenSoftware32() {
  UniqueRegKey software;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, software.Receive());
  return software;
}

void RemoveValues(const wchar_t* key) {
  UniqueRegKey software = OpenSoftware32();
  if (software) RegDeleteTreeW(software.Get(), key);
}

int CountValues(const wchar_t* key) {
  UniqueRegKey software = OpenSoftware32();
  if (!software) return 0;
  int total = 0;
  for (int k = 0; k < kValueKeys; ++k) {
    UniqueRegKey sub;
    const std::wstring name = std::wstring(key) + L"\\k" + std::to_wstring(k);
    if (RegOpenKeyExW(software.Get(), name.c_str(), 0, KEY_READ, sub.Receive()) != ERROR_SUCCESS) continue;
    DWORD count = 0;
    if (RegQueryInfoKeyW(sub.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      total += static_cast<int>(count);
  }
  return total;
}

Package MakePackage(const ScratchFolder& scratch, int files, int folders, size_t bytes, int values) {
  Package package{scratch.File(L"lists"), scratch.File(L"package"), scratch.File(L"values.reg"), {},
                  values};
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
  // The .reg file is what the registry editor exports: UTF-16 with a byte-order mark. A 64-bit
  // reg.exe reaches the 32-bit view through Wow6432Node.
  std::wstring reg = L"\xFEFFWindows Registry Editor Version 5.00\r\n";
  std::string lastKey;
  for (int i = 0; i < values; ++i) {
    const std::string name = "v" + std::to_string(i), data = "value " + std::to_string(i);
    xml += "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" + ValueKey(kBrindleKey, i) +
           "</RegKeyPath><RegValueName>" + name + "</RegValueName><RegData Type=\"REG_SZ\">" + data +
           "</RegData></Registry>";
    reg += L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\" + std::wstring(kToolsKey) + L"\\k" +
           std::to_wstring(i % kValueKeys) + L"]\r\n\"" + WideFromUtf8(name) + L"\"=\"" + WideFromUtf8(data) +
           L"\"\r\n";
  }
  xml += "</AddObjects></DiffDistribute>";
  WriteText(package.source + L"\\diff.xml", xml);
  WriteText(package.regFile, std::string(reinterpret_cast<const char*>(reg.data()), reg.size() * sizeof(wchar_t)));
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
  const int values = argc > 4 ? _wtoi(argv[4]) : 500;
  ScratchFolder scratch;
  InstallLogGuard guard;
  const Package package = MakePackage(scratch, files, folders, bytes, values);
  const std::wstring app = ShellFolder(CSIDL_PROGRAM_FILESX86) + L"\\BrindleBench";
  const std::wstring list = package.lists + L"\\list.xml";
  const std::wstring system = ShellFolder(CSIDL_SYSTEM);

  std::vector<double> brindle, tools;
  for (int run = 0; run < 3; ++run) {
    Install(app, guard);
    RemoveValues(kBrindleKey);
    RemoveValues(kToolsKey);
    WriteText(list, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
                    "<FileName>package.diff</FileName><AppName>BenchApp</AppName>"
                    "<DisplayName>Bench</DisplayName></DiffLocal></DiffLocalList>");
    ULONGLONG start = GetTickCount64();
    const int code = RunAndWait(ProgramPath(L"Brindle.exe"), L"\"" + list + L"\" /non_notification");
    brindle.push_back(Seconds(start) - kFixedWaitSeconds);
    if (code != 200 || !AllInPlace(app, package) || CountValues(kBrindleKey) != values) {
      std::fprintf(stderr, "bench_apply: Brindle.exe ended with exit code %d%s\n", code,
                   code == 200 ? " but left files or registry values out" : "");
      return 1;
    }

    const std::wstring unpacked = scratch.File(L"unpacked") + std::to_wstring(run);
    const std::wstring copied = app + L"_tools";
    RemoveTree(copied);
    start = GetTickCount64();
    RunAndWait(system + L"\\extrac32.exe", L"/Y /E /L \"" + ToBackslashes(unpacked) + L"\" \"" +
                                              ToBackslashes(package.lists) + L"\\package.diff\"");
    RunAndWait(system + L"\\xcopy.exe", L"/E /Y /I /Q \"" + ToBackslashes(unpacked) + L"\\INST\" \"" + copied + L"\"");
    if (values > 0) RunAndWait(system + L"\\reg.exe", L"import \"" + ToBackslashes(package.regFile) + L"\"");
    tools.push_back(Seconds(start));
    if (!AllInPlace(copied, package) || CountValues(kToolsKey) != values) {
      std::fprintf(stderr, "bench_apply: extrac32 + xcopy + reg import left files or values out\n");
      return 1;
    }
    RemoveTree(copied);
    RemoveTree(unpacked);
    std::printf("run %d: Brindle.exe %.2f s (without its %.1f s of fixed waits), extrac32 + xcopy + reg import %.2f s\n",
                run + 1, brindle.back(), kFixedWaitSeconds, tools.back());
  }
  RemoveTree(app);
  RemoveValues(kBrindleKey);
  RemoveValues(kToolsKey);
  const double b = Median(brindle), t = Median(tools);
  std::printf("%d files in %d folders, %zu bytes each, %d registry values: Brindle.exe %.2f s, "
              "extrac32 + xcopy + reg import %.2f s, ratio %.2f\n",
              files, folders, bytes, values, b, t, b / t);
  return 0;
}
