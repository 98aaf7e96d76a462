#include "support/unix_tools_win.h"

#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>

#include <cstdlib>

namespace brindle::test {

namespace {

std::wstring QuoteArgument(const std::string& argument) {
  std::wstring quoted = L"\"";
  for (wchar_t c : WideFromUtf8(argument)) {
    if (c == L'"') quoted += L'\\';
    quoted += c;
  }
  return quoted + L"\"";
}

void CollectFiles(const std::wstring& folder, const std::wstring& relative,
                  std::vector<std::wstring>& files) {
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!find) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = relative.empty() ? name : relative + L"/" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) CollectFiles(folder + L"\\" + name, path, files);
    else files.push_back(path);
  } while (FindNextFileW(find.Get(), &found));
}

}  // namespace

std::string UnixPath(const std::wstring& windowsPath) {
  using Convert = char*(CDECL*)(const wchar_t*);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return std::string();
  char* unix = convert(ToBackslashes(windowsPath).c_str());
  if (!unix) return std::string();
  std::string path = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

// Wine starts a Linux program but gives no process handle that waits for it or tells its exit
// code, so the program runs under /bin/sh, which writes the code into a marker file and then
// renames it into place: the marker appears whole, and only once the program has ended.
int RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::wstring& workingFolder, unsigned timeoutMs) {
  static unsigned counter = 0;
  wchar_t temp[MAX_PATH] = {};
  if (!GetTempPathW(MAX_PATH, temp)) return -1;
  const std::wstring marker = std::wstring(temp) + L"brindle-unix-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(++counter) + L".rc";
  DeleteFileW(marker.c_str());
  const std::string unixMarker = UnixPath(marker);
  const std::string unixFolder = workingFolder.empty() ? std::string(".") : UnixPath(workingFolder);
  if (unixMarker.empty() || unixFolder.empty()) return -1;
  std::vector<std::string> shell = {"-c",
                                    "m=\"$1\"; cd \"$2\" || exit 1; shift 2; \"$@\" >/dev/null 2>&1; "
                                    "echo $? > \"$m.part\"; mv \"$m.part\" \"$m\"",
                                    "sh",
                                    unixMarker,
                                    unixFolder,
                                    program};
  shell.insert(shell.end(), arguments.begin(), arguments.end());
  std::wstring commandLine = L"/bin/sh";
  for (const std::string& argument : shell) commandLine += L" " + QuoteArgument(argument);
  if (commandLine.size() >= 32767) return -1;  // the system would cut it short
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info))
    return -1;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  for (unsigned waited = 0; waited < timeoutMs; waited += 20) {
    std::string code;
    if (ReadBytes(marker, code) && !code.empty()) {
      DeleteFileW(marker.c_str());
      return std::atoi(code.c_str());
    }
    Sleep(20);
  }
  return -1;
}

// The names go to gcab through a list file and xargs: a package of a few thousand files does
// not fit one Windows command line.
bool MakeCabinet(const std::wstring& cabinetPath, const std::wstring& sourceFolder) {
  std::vector<std::wstring> files;
  CollectFiles(ToBackslashes(sourceFolder), L"", files);
  std::string names;
  for (const std::wstring& file : files) names += Utf8FromWide(file) + "\n";
  const std::wstring listPath = ToBackslashes(cabinetPath) + L".files";
  if (!WriteBytes(listPath, names)) return false;
  DeleteFileW(ToBackslashes(cabinetPath).c_str());
  const int code = RunUnixProgram(
      "/usr/bin/xargs",
      {"-d", "\\n", "-x", "-a", UnixPath(listPath), "/usr/bin/gcab", "-c", UnixPath(cabinetPath)},
      sourceFolder);
  DeleteFileW(listPath.c_str());
  return code == 0 && FileExists(cabinetPath);
}

bool RenameCabinetEntry(const std::wstring& cabinetPath, const std::string& from, const std::string& to) {
  if (from.size() != to.size()) return false;
  std::string bytes;
  if (!ReadBytes(cabinetPath, bytes)) return false;
  const size_t at = bytes.find(from + '\0');
  if (at == std::string::npos) return false;
  bytes.replace(at, to.size(), to);
  return WriteBytes(cabinetPath, bytes);
}

}  // namespace brindle::test
