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
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
  if (!convert) return std::string();
  char* unix = convert(ToBackslashes(windowsPath).c_str());
  if (!unix) return std::string();
  std::string path = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

int RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::wstring& workingFolder, unsigned timeoutMs) {
  // Wine starts a Linux program without a process that can be waited for: the program runs
  // under a shell that writes its exit code to a marker file (complete once renamed), and the
  // marker is awaited here.
  static LONG counter = 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring marker = std::wstring(temp) + L"brindle-unix-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(InterlockedIncrement(&counter)) + L".done";
  DeleteFileW(marker.c_str());
  std::wstring commandLine = QuoteArgument("/bin/sh") + L" -c " +
                             QuoteArgument("m=$1; shift; \"$@\"; echo $? > \"$m.tmp\" && mv \"$m.tmp\" \"$m\"") +
                             L" sh " + QuoteArgument(UnixPath(marker)) + L" " + QuoteArgument(program);
  for (const std::string& argument : arguments) commandLine += L" " + QuoteArgument(argument);
  const std::wstring folder = ToBackslashes(workingFolder);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    return -1;
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  for (ULONGLONG start = GetTickCount64(); !FileExists(marker);) {
    if (GetTickCount64() - start > timeoutMs) return -1;
    Sleep(20);
  }
  std::string code;
  ReadBytes(marker, code);
  DeleteFileW(marker.c_str());
  return code.empty() ? -1 : std::atoi(code.c_str());
}

bool MakeCabinet(const std::wstring& cabinetPath, const std::wstring& sourceFolder) {
  std::vector<std::wstring> files;
  CollectFiles(ToBackslashes(sourceFolder), L"", files);
  std::vector<std::string> arguments = {"-c", UnixPath(cabinetPath)};
  for (const std::wstring& file : files) arguments.push_back(Utf8FromWide(file));
  DeleteFileW(ToBackslashes(cabinetPath).c_str());
  return RunUnixProgram("/usr/bin/gcab", arguments, sourceFolder) == 0 && FileExists(cabinetPath);
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
