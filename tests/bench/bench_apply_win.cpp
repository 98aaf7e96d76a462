// Benchmark (not a test): how long Brindle.exe takes to apply a package of many files, next to
// what a person could do instead with the system's own tools in the same Wine prefix, for two
// workloads:
//   add     a package that adds the files and registry values to an installed application:
//           extrac32 (unpack), xcopy (copy the tree) and reg import (the values from an
//           equivalent .reg file) do the same;
//   update  a package that changes an installed application whose uninstall log lists every
//           file and value: 90 % of the files replaced by newer bytes, the other 10 % deleted,
//           every value given new data; extrac32, xcopy, a batch file of del commands and
//           reg import do the same.
// Both sides start from the same cabinet and the same installed state and end with the same
// files and values in place. Runs alternate between the two sides; the medians are printed with
// their ratio. Each workload is measured at the given size and at a larger one (default 20,000
// files, in proportionally more folders), and the growth of each side's time is printed.
// Brindle.exe's two fixed waits are taken out of its time: the 3 s wait at start-up and the 1 s
// for which the progress dialog shows its final state before closing.
// With --undo it measures, for the update workload at the given size, what the safety net
// costs when it is used: the same package with one value that cannot be stored at its end (every
// file is replaced, then the package fails and is taken back), and a run killed when 90 % of its
// files are placed, recovered by the next run (of a package that changes nothing); each next
// to applying the package whole and to that empty package's run with nothing to recover.
// With --against PROGRAM (Brindle_nojournal.exe: the build without the undo journal) the second
// side is that build of the program instead of the stock tools, so the ratio is what the
// journal costs.
// Usage: bench_apply [files 2000] [folders 100] [bytes per file 20000] [registry values 500]
//                    [--runs 5] [--large 20000 (0: none)] [--large-runs 3]
//                    [--workload add|update|both] [--undo] [--against PROGRAM]
#include "logs/install_log.h"
#include "support/install_log_fixture_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
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

// A run that fails can end in a message box that nobody answers: each program gets a time
// limit that grows with the package (the process is killed at the limit).
unsigned g_timeLimitMs = 600000;

int RunAndWait(const std::wstring& exe, const std::wstring& arguments) {
  StartedProcess started = StartProgram(exe, arguments);
  return WaitForExit(started, g_timeLimitMs);
}

// The package's values go below this key of the 32-bit view, spread over ten sub-keys; the
// tools' copy goes below kToolsKey, in the same view.
const wchar_t kBrindleKey[] = L"BrindleBench";
const wchar_t kToolsKey[] = L"BrindleBenchTools";
const int kValueKeys = 10;

enum class Workload { kAdd, kUpdate };

struct Size {
  int files = 2000;
  int folders = 100;
  size_t bytes = 20000;
  int values = 500;
};

struct Package {
  Workload workload;
  Size size;
  std::wstring lists;                       // list.xml, package.diff and ZNQ
  std::wstring source;                      // the package's files before packing
  std::wstring regFile;                     // the same registry values for reg import
  std::wstring delFile;                     // the batch file of del commands (update)
  std::vector<std::wstring> relativeFiles;  // every file of the application
};

std::wstring Relative(const Size& size, int i) {
  return L"dir" + std::to_wstring(i % size.folders) + L"\\file" + std::to_wstring(i) + L".bin";
}

// In the update workload every tenth file is deleted, the others are replaced.
bool IsDeleted(const Package& package, int i) { return package.workload == Workload::kUpdate && i % 10 == 9; }

std::string Content(const Size& size, int i, bool isNew) {
  std::string content(size.bytes, isNew ? 'n' : 'o');
  if (!content.empty()) content[0] = static_cast<char>('a' + i % 26);
  return content;
}

std::string ValueKey(const wchar_t* key, int i) {
  return "SOFTWARE\\" + Utf8FromWide(key) + "\\k" + std::to_string(i % kValueKeys);
}

std::string ValueData(int i, bool isNew) { return (isNew ? "value " : "old value ") + std::to_string(i); }

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

void WriteOldValues(const wchar_t* key, int values) {
  UniqueRegKey software = OpenSoftware32();
  for (int i = 0; i < values; ++i) {
    UniqueRegKey sub;
    const std::wstring name = std::wstring(key) + L"\\k" + std::to_wstring(i % kValueKeys);
    if (RegCreateKeyExW(software.Get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.Receive(),
                        nullptr) != ERROR_SUCCESS)
      continue;
    const std::wstring value = L"v" + std::to_wstring(i), data = WideFromUtf8(ValueData(i, false));
    RegSetValueExW(sub.Get(), value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
}

// The number of values below the key and whether value v0 holds the new data.
int CountValues(const wchar_t* key, bool& firstIsNew) {
  firstIsNew = false;
  UniqueRegKey software = OpenSoftware32();
  if (!software) return 0;
  int total = 0;
  for (int k = 0; k < kValueKeys; ++k) {
    UniqueRegKey sub;
    const std::wstring name = std::wstring(key) + L"\\k" + std::to_wstring(k);
    if (RegOpenKeyExW(software.Get(), name.c_str(), 0, KEY_READ, sub.Receive()) != ERROR_SUCCESS) continue;
    DWORD count = 0;
    if (RegQueryInfoKeyW(sub.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      total += static_cast<int>(count);
    if (k == 0) {
      wchar_t data[64] = {};
      DWORD bytes = sizeof(data) - sizeof(wchar_t);
      if (RegQueryValueExW(sub.Get(), L"v0", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &bytes) ==
          ERROR_SUCCESS)
        firstIsNew = Utf8FromWide(data) == ValueData(0, true);
    }
  }
  return total;
}

// A cabinet of the folder; the names go to gcab in one command line, however many there are.
bool MakeLargeCabinet(const std::wstring& cabinetPath, const std::wstring& sourceFolder,
                      const std::vector<std::wstring>& relativeNames) {
  std::string names;
  for (const std::wstring& name : relativeNames) names += Utf8FromWide(ToForwardSlashes(name)) + "\n";
  const std::wstring listPath = ToBackslashes(cabinetPath) + L".files";
  if (!WriteBytes(listPath, names)) return false;
  DeleteFileW(ToBackslashes(cabinetPath).c_str());
  const int code = RunUnixProgram("/usr/bin/xargs",
                                  {"-d", "\\n", "-x", "-s", "2000000", "-a", UnixPath(listPath),
                                   "/usr/bin/gcab", "-c", UnixPath(cabinetPath)},
                                  sourceFolder, 600000);
  DeleteFileW(listPath.c_str());
  return code == 0 && FileExists(cabinetPath);
}

std::string FileRecord(const std::string& relative, bool withSource) {
  return "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$InsFolder$\\" +
         relative + "</FullPath>" + (withSource ? "<FileName>" + relative + "</FileName>" : "") + "</File>";
}

// The record that fails a package after its files: a number that cannot be stored.
const char kFailingValue[] =
    "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">SOFTWARE\\BrindleBench\\k0</RegKeyPath>"
    "<RegValueName>bad</RegValueName><RegData Type=\"REG_DW\">not a number</RegData></Registry>";

Package MakePackage(const std::wstring& folder, Workload workload, const Size& size, const std::wstring& app,
                    bool failing = false) {
  Package package{workload,
                  size,
                  folder + L"\\lists",
                  folder + L"\\package",
                  folder + L"\\values.reg",
                  folder + L"\\deletes.cmd",
                  {}};
  const bool update = workload == Workload::kUpdate;
  std::string files, deletes, dels;
  std::vector<std::wstring> packed = {L"diff.xml"};
  for (int i = 0; i < size.files; ++i) {
    const std::wstring relative = Relative(size, i);
    package.relativeFiles.push_back(relative);
    const std::string r = Utf8FromWide(relative);
    if (IsDeleted(package, i)) {
      deletes += FileRecord(r, false);
      dels += "del /F /Q \"" + Utf8FromWide(app) + "_tools\\" + r + "\"\r\n";
      continue;
    }
    WriteText(package.source + L"\\INST\\" + relative, Content(size, i, true));
    packed.push_back(L"INST\\" + relative);
    files += FileRecord(r, true);
  }
  // The .reg file is what the registry editor exports: UTF-16 with a byte-order mark. A 64-bit
  // reg.exe (that of a 64-bit benchmark) reaches the 32-bit view through Wow6432Node; a 32-bit
  // one is in that view already.
  const std::wstring toolsSoftware = sizeof(void*) == 8 ? L"SOFTWARE\\Wow6432Node\\" : L"SOFTWARE\\";
  std::wstring reg = L"\xFEFFWindows Registry Editor Version 5.00\r\n";
  std::string values;
  for (int i = 0; i < size.values; ++i) {
    const std::string name = "v" + std::to_string(i), data = ValueData(i, true);
    values += "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"REG_HLM\">" + ValueKey(kBrindleKey, i) +
              "</RegKeyPath><RegValueName>" + name + "</RegValueName><RegData Type=\"REG_SZ\">" + data +
              "</RegData></Registry>";
    reg += L"\r\n[HKEY_LOCAL_MACHINE\\" + toolsSoftware + std::wstring(kToolsKey) + L"\\k" +
           std::to_wstring(i % kValueKeys) + L"]\r\n\"" + WideFromUtf8(name) + L"\"=\"" + WideFromUtf8(data) +
           L"\"\r\n";
  }
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo>"
      "<Version>2.0</Version></GeneralInfo>";
  if (update)
    xml += "<DeleteObjects>" + deletes + "</DeleteObjects><UpdateObjects>" + files + values +
           (failing ? kFailingValue : "") + "</UpdateObjects>";
  else xml += "<AddObjects>" + files + values + "</AddObjects>";
  xml += "</DiffDistribute>";
  WriteText(package.source + L"\\diff.xml", xml);
  WriteText(package.regFile,
            std::string(reinterpret_cast<const char*>(reg.data()), reg.size() * sizeof(wchar_t)));
  WriteText(package.delFile, "@echo off\r\n" + dels);
  const std::wstring znq = package.lists + L"\\ZNQ\\INSTALL";
  WriteText(znq + L"\\COMMON\\setup.dll", "setup");
  WriteText(znq + L"\\COMMON\\Uninst.exe", "uninst");
  WriteText(znq + L"\\COMMON\\UninsVer.txt", "9.9.9");
  WriteText(znq + L"\\ENGLISH\\UninstRsc.dll", "rsc");
  if (!MakeLargeCabinet(package.lists + L"\\package.diff", package.source, packed)) {
    std::fprintf(stderr, "bench_apply: gcab failed\n");
    std::exit(1);
  }
  RemoveTree(package.source);
  return package;
}

std::string Logged(const std::wstring& path) {
  std::string out;
  for (char c : Utf8FromWide(path)) {
    out += c;
    if (c == '\\') out += '\\';
  }
  return out;
}

// The application as installed before a run: for the update workload every file in its old
// bytes and an uninstall log that lists every file, folder and value.
void InstallFiles(const std::wstring& root, const Package& package) {
  RemoveTree(root);
  CreateFolderChain(root);
  if (package.workload != Workload::kUpdate) return;
  for (int i = 0; i < package.size.files; ++i)
    WriteText(root + L"\\" + package.relativeFiles[i], Content(package.size, i, false));
}

void Install(const std::wstring& app, const Package& package, const InstallLogGuard& guard) {
  InstallFiles(app, package);
  std::string log = "[Language]\r\n";
  if (package.workload == Workload::kUpdate) {
    log += "[Folders]\r\n";
    for (int f = 0; f < package.size.folders; ++f)
      log += "UIFLDR=\"" + Logged(app + L"\\dir" + std::to_wstring(f)) + "\" INST_REQ INST_CRE INST_DEL \r\n";
    log += "[Files]\r\n";
    for (const std::wstring& relative : package.relativeFiles)
      log += "UIFILE=\"" + Logged(app + L"\\" + relative) + "\" INST_REQ INST_REQ INST_DEL INST_NOREG\r\n";
    log += "[RegistryKey]\r\n";
    for (int k = 0; k < kValueKeys && k < package.size.values; ++k)
      log += "UIREGIKEY=HLM \"" + Logged(WideFromUtf8(ValueKey(kBrindleKey, k))) +
             "\" INST_REQ INST_REQ INST_DEL\r\n";
    log += "[Registry]\r\n";
    for (int i = 0; i < package.size.values; ++i)
      log += "UIREGI=HLM \"" + Logged(WideFromUtf8(ValueKey(kBrindleKey, i))) + "\" \"v" + std::to_string(i) +
             "\" INST_REQ INST_REQ INST_DEL\r\n";
  }
  log += "[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n";
  WriteText(app + L"\\uninst.ini", log);
  CQXInstallLog installLog;
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = L"BenchApp";
  entry->applicationVersion.text = L"1.0";
  entry->FullPath = app;
  entry->Lang.SetCode(L"en");
  entry->UninstLog = app + L"\\uninst.ini";
  installLog.entries.push_back(std::move(entry));
  CreateFolderChain(ParentFolder(guard.Path()));
  SaveInstallLog(installLog, guard.Path());
}

// Every kept file holds its new bytes and every deleted file is gone.
bool AllInPlace(const std::wstring& root, const Package& package) {
  for (int i = 0; i < package.size.files; ++i) {
    const std::wstring path = root + L"\\" + package.relativeFiles[i];
    if (IsDeleted(package, i)) {
      if (FileExists(path)) return false;
      continue;
    }
    std::string bytes;
    if (!ReadBytes(path, bytes) || bytes != Content(package.size, i, true)) return false;
  }
  return true;
}

bool ValuesInPlace(const wchar_t* key, int values) {
  bool firstIsNew = false;
  return CountValues(key, firstIsNew) == values && (values == 0 || firstIsNew);
}

struct Timing {
  double brindle = 0, tools = 0;
};

// The list that names the package for the application.
std::wstring WriteList(const Package& package) {
  const std::wstring list = package.lists + L"\\list.xml";
  WriteText(list,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList><DiffLocal Order=\"1\">"
            "<FileName>package.diff</FileName><AppName>BenchApp</AppName>"
            "<DisplayName>Bench</DisplayName></DiffLocal></DiffLocalList>");
  return list;
}

void PrepareBrindleSide(const Package& package, const std::wstring& app, const InstallLogGuard& guard) {
  Install(app, package, guard);
  RemoveValues(kBrindleKey);
  if (package.workload == Workload::kUpdate) WriteOldValues(kBrindleKey, package.size.values);
}

bool RunBrindle(const Package& package, const std::wstring& app, const InstallLogGuard& guard,
                double& seconds, const std::wstring& program = L"Brindle.exe") {
  PrepareBrindleSide(package, app, guard);
  const std::wstring list = WriteList(package);
  const ULONGLONG start = GetTickCount64();
  const int code = RunAndWait(ProgramPath(program), L"\"" + list + L"\" /non_notification");
  seconds = Seconds(start) - kFixedWaitSeconds;
  if (code != 200 || !AllInPlace(app, package) || !ValuesInPlace(kBrindleKey, package.size.values)) {
    std::fprintf(stderr, "bench_apply: %ls ended with exit code %d%s\n", program.c_str(), code,
                 code == 200 ? " but left files or registry values out" : "");
    return false;
  }
  return true;
}

bool RunTools(const Package& package, const std::wstring& app, const std::wstring& unpacked,
              double& seconds) {
  const std::wstring copied = app + L"_tools";
  const std::wstring system = ShellFolder(CSIDL_SYSTEM);
  InstallFiles(copied, package);
  RemoveValues(kToolsKey);
  if (package.workload == Workload::kUpdate) WriteOldValues(kToolsKey, package.size.values);
  RemoveTree(unpacked);
  const ULONGLONG start = GetTickCount64();
  RunAndWait(system + L"\\extrac32.exe", L"/Y /E /L \"" + ToBackslashes(unpacked) + L"\" \"" +
                                             ToBackslashes(package.lists) + L"\\package.diff\"");
  RunAndWait(system + L"\\xcopy.exe",
             L"/E /Y /I /Q \"" + ToBackslashes(unpacked) + L"\\INST\" \"" + copied + L"\"");
  if (package.workload == Workload::kUpdate)
    RunAndWait(system + L"\\cmd.exe", L"/c \"" + ToBackslashes(package.delFile) + L"\"");
  if (package.size.values > 0)
    RunAndWait(system + L"\\reg.exe", L"import \"" + ToBackslashes(package.regFile) + L"\"");
  seconds = Seconds(start);
  const bool ok = AllInPlace(copied, package) && ValuesInPlace(kToolsKey, package.size.values);
  RemoveTree(copied);
  RemoveTree(unpacked);
  if (!ok) std::fprintf(stderr, "bench_apply: the stock tools left files or values out\n");
  return ok;
}

const char* Name(Workload workload) { return workload == Workload::kAdd ? "add" : "update"; }

// Medians of alternating runs of the two sides (Brindle.exe first in odd runs, the tools first
// in even ones).
// The program run instead of the stock tools (--against); empty for the tools.
std::wstring g_against;

std::wstring OtherSide() { return g_against.empty() ? L"stock tools" : g_against; }

bool RunOtherSide(const Package& package, const std::wstring& app, const InstallLogGuard& guard,
                  const std::wstring& unpacked, double& seconds) {
  if (g_against.empty()) return RunTools(package, app, unpacked, seconds);
  return RunBrindle(package, app, guard, seconds, g_against);
}

bool Measure(const ScratchFolder& scratch, Workload workload, const Size& size, int runs, Timing& median) {
  const std::wstring folder = ToBackslashes(scratch.File(
      std::wstring(L"w") + (workload == Workload::kAdd ? L"a" : L"u") + std::to_wstring(size.files)));
  const std::wstring app = ShellFolder(CSIDL_PROGRAM_FILESX86) + L"\\BrindleBench";
  const Package package = MakePackage(folder, workload, size, app);
  InstallLogGuard guard;
  std::vector<double> brindle, tools;
  for (int run = 0; run < runs; ++run) {
    double b = 0, t = 0;
    const bool brindleFirst = run % 2 == 0;
    if (brindleFirst && !RunBrindle(package, app, guard, b)) return false;
    if (!RunOtherSide(package, app, guard, folder + L"\\unpacked", t)) return false;
    if (!brindleFirst && !RunBrindle(package, app, guard, b)) return false;
    brindle.push_back(b);
    tools.push_back(t);
    std::printf("%s, %d files, run %d: Brindle.exe %.2f s (without its %.1f s of fixed waits), %ls %.2f s\n",
                Name(workload), size.files, run + 1, b, kFixedWaitSeconds, OtherSide().c_str(), t);
    std::fflush(stdout);
  }
  RemoveTree(app);
  RemoveValues(kBrindleKey);
  RemoveValues(kToolsKey);
  RemoveTree(folder);
  median.brindle = Median(brindle);
  median.tools = Median(tools);
  return true;
}

// ---- the undo ------------------------------------------------------------------------------

// Presses OK on the run's final message whenever one shows (a failed package ends with one).
class BoxAnswerer {
 public:
  BoxAnswerer()
      : thread_([this] {
          while (!stop_)
            if (HWND box = FindDialog(L"Bench", 200)) PressButton(box, L"OK");
        }) {}
  ~BoxAnswerer() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The installed application exactly as before the package: every file in its old bytes, every
// value with its old data.
bool AllAsBefore(const std::wstring& root, const Package& package) {
  for (int i = 0; i < package.size.files; ++i) {
    std::string bytes;
    if (!ReadBytes(root + L"\\" + package.relativeFiles[i], bytes) ||
        bytes != Content(package.size, i, false))
      return false;
  }
  bool firstIsNew = true;
  return CountValues(kBrindleKey, firstIsNew) == package.size.values && !firstIsNew;
}

struct UndoTiming {
  double apply = 0, failed = 0, floor = 0, recovery = 0;
};

// A run of Brindle.exe on the list, timed without its fixed waits; its exit code.
int TimedRun(const std::wstring& list, double& seconds) {
  const ULONGLONG start = GetTickCount64();
  const int code = RunAndWait(ProgramPath(L"Brindle.exe"), L"\"" + list + L"\" /non_notification");
  seconds = Seconds(start) - kFixedWaitSeconds;
  return code;
}

// Starts the package and kills the run once 90 % of its files are placed.
bool KillWhenMostlyPlaced(const Package& package) {
  const size_t placed = static_cast<size_t>(package.size.files) * 8 / 10;  // 90 % of the 90 % replaced
  ServiceLogTail tail;
  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + WriteList(package) + L"\" /non_notification");
  while (WaitForSingleObject(run.process.Get(), 100) == WAIT_TIMEOUT) {
    if (tail.Details(L"UPDATE_FILE_ADD").size() >= placed) {
      TerminateProcess(run.process.Get(), 9);
      WaitForSingleObject(run.process.Get(), INFINITE);
      return true;
    }
  }
  std::fprintf(stderr, "bench_apply: the run ended before it could be killed\n");
  return false;
}

bool MeasureUndo(const ScratchFolder& scratch, const Size& size, int runs, UndoTiming& median) {
  const std::wstring app = ShellFolder(CSIDL_PROGRAM_FILESX86) + L"\\BrindleBench";
  const std::wstring folder = ToBackslashes(scratch.File(L"undo" + std::to_wstring(size.files)));
  const Package good = MakePackage(folder + L"\\good", Workload::kUpdate, size, app);
  const Package failing = MakePackage(folder + L"\\failing", Workload::kUpdate, size, app, true);
  Size none = size;
  none.files = none.values = 0;
  const Package empty = MakePackage(folder + L"\\empty", Workload::kUpdate, none, app);
  InstallLogGuard guard;
  BoxAnswerer answerer;
  std::vector<double> apply, failed, floor, recovery;
  for (int run = 0; run < runs; ++run) {
    UndoTiming t;
    PrepareBrindleSide(good, app, guard);
    const int applyCode = TimedRun(WriteList(good), t.apply);
    if (applyCode != 200 || !AllInPlace(app, good)) {
      std::fprintf(stderr, "bench_apply: the package did not apply (exit code %d)\n", applyCode);
      return false;
    }
    PrepareBrindleSide(failing, app, guard);
    const int failedCode = TimedRun(WriteList(failing), t.failed);
    if (failedCode != 100 || !AllAsBefore(app, failing)) {
      std::fprintf(stderr, "bench_apply: the failing package was not taken back whole (exit code %d)\n",
                   failedCode);
      return false;
    }
    PrepareBrindleSide(good, app, guard);
    const int floorCode = TimedRun(WriteList(empty), t.floor);
    if (floorCode != 200) {
      std::fprintf(stderr, "bench_apply: a run with nothing to do ended with exit code %d\n", floorCode);
      return false;
    }
    if (!KillWhenMostlyPlaced(good)) return false;
    const int recoveryCode = TimedRun(WriteList(empty), t.recovery);
    if (recoveryCode != 200 || !AllAsBefore(app, good)) {
      std::fprintf(stderr, "bench_apply: the killed package was not recovered whole (exit code %d)\n",
                   recoveryCode);
      return false;
    }
    std::printf(
        "undo, %d files, run %d: applied %.2f s, failed and taken back %.2f s, nothing to do %.2f s, "
        "recovered %.2f s\n",
        size.files, run + 1, t.apply, t.failed, t.floor, t.recovery);
    std::fflush(stdout);
    apply.push_back(t.apply);
    failed.push_back(t.failed);
    floor.push_back(t.floor);
    recovery.push_back(t.recovery);
  }
  RemoveTree(app);
  RemoveValues(kBrindleKey);
  RemoveTree(folder);
  median = {Median(apply), Median(failed), Median(floor), Median(recovery)};
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Size size;
  int runs = 5, large = 20000, largeRuns = 3;
  std::vector<Workload> workloads = {Workload::kAdd, Workload::kUpdate};
  int positional = 0;
  bool undo = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == L"--undo") undo = true;
    else if (a == L"--against" && hasValue) g_against = argv[++i];
    else if (a == L"--runs" && hasValue) runs = std::max(1, _wtoi(argv[++i]));
    else if (a == L"--large" && hasValue) large = _wtoi(argv[++i]);
    else if (a == L"--large-runs" && hasValue) largeRuns = std::max(1, _wtoi(argv[++i]));
    else if (a == L"--workload" && hasValue) {
      const std::wstring w = argv[++i];
      if (w == L"add") workloads = {Workload::kAdd};
      else if (w == L"update") workloads = {Workload::kUpdate};
    } else if (positional == 0) size.files = std::max(1, _wtoi(argv[i])), ++positional;
    else if (positional == 1) size.folders = std::max(1, _wtoi(argv[i])), ++positional;
    else if (positional == 2) size.bytes = static_cast<size_t>(_wtoi(argv[i])), ++positional;
    else if (positional == 3) size.values = _wtoi(argv[i]), ++positional;
  }
  g_timeLimitMs = 120000 + 20u * static_cast<unsigned>(std::max(size.files, large));
  ScratchFolder scratch;
  if (undo) {
    UndoTiming t;
    if (!MeasureUndo(scratch, size, runs, t)) return 1;
    std::printf(
        "undo: %d files, %d values: applied %.2f s; failed at its end and taken back %.2f s (the undo "
        "%.2f s, %.2fx the apply); killed at 90 %% and recovered by the next run %.2f s beyond a run "
        "with nothing to do (%.2f s), %.2fx the apply (median of %d)\n",
        size.files, size.values, t.apply, t.failed, t.failed - t.apply, (t.failed - t.apply) / t.apply,
        t.recovery - t.floor, t.floor, (t.recovery - t.floor) / t.apply, runs);
    return 0;
  }
  for (Workload workload : workloads) {
    Timing small;
    if (!Measure(scratch, workload, size, runs, small)) return 1;
    std::printf(
        "%s: %d files in %d folders, %zu bytes each, %d registry values: Brindle.exe %.2f s, "
        "%ls %.2f s, ratio %.2f (median of %d)\n",
        Name(workload), size.files, size.folders, size.bytes, size.values, small.brindle, OtherSide().c_str(),
        small.tools, small.brindle / small.tools, runs);
    std::fflush(stdout);
    if (large <= size.files) continue;
    Size bigger = size;
    bigger.files = large;
    bigger.folders = std::max(1, static_cast<int>(static_cast<long long>(size.folders) * large / size.files));
    Timing big;
    if (!Measure(scratch, workload, bigger, largeRuns, big)) return 1;
    std::printf(
        "%s: %d files in %d folders: Brindle.exe %.2f s (%.1fx the time of %d files), %ls "
        "%.2f s (%.1fx), ratio %.2f (median of %d)\n",
        Name(workload), bigger.files, bigger.folders, big.brindle, big.brindle / small.brindle, size.files,
        OtherSide().c_str(), big.tools, big.tools / small.tools, big.brindle / big.tools, largeRuns);
    std::fflush(stdout);
  }
  return 0;
}
