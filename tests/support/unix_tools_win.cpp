#include "support/unix_tools_win.h"

#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>

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

namespace {

// Starts the Linux program and waits for it when Wine gives a handle to wait on: false when it
// cannot be started or runs over the time limit.
bool StartAndWait(const std::string& program, const std::vector<std::string>& arguments,
                  const std::wstring& workingFolder, unsigned timeoutMs) {
  std::wstring commandLine = QuoteArgument(program);
  for (const std::string& argument : arguments) commandLine += L" " + QuoteArgument(argument);
  const std::wstring image = L"Z:" + ToBackslashes(WideFromUtf8(program));
  const std::wstring folder = ToBackslashes(workingFolder);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(image.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    return false;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (WaitForSingleObject(process.Get(), timeoutMs) == WAIT_TIMEOUT) {
    TerminateProcess(process.Get(), 1);
    return false;
  }
  return true;
}

}  // namespace

int RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::wstring& workingFolder, unsigned timeoutMs) {
  // Wine gives no usable process handle for a Linux program it started, so neither its end
  // nor its exit code can be learnt from Windows. So a shell runs the
  // program and then puts its exit code into a status file in one rename; the file's arrival
  // marks the end.
  wchar_t temp[MAX_PATH] = {};
  if (!GetTempPathW(MAX_PATH, temp)) return -1;
  const std::wstring statusFile = std::wstring(temp) + L"brindle_status_" + std::to_wstring(GetCurrentProcessId()) +
                                  L"_" + std::to_wstring(GetTickCount64()) + L".txt";
  const std::string statusUnix = UnixPath(statusFile);
  if (statusUnix.empty() || statusUnix.find('\'') != std::string::npos) return -1;
  const std::string part = "'" + statusUnix + ".part'";
  std::vector<std::string> shellArguments = {
      "-c", "\"$0\" \"$@\"; echo $? > " + part + " && mv " + part + " '" + statusUnix + "'", program};
  shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
  DeleteFileW(statusFile.c_str());
  const ULONGLONG started = GetTickCount64();
  if (!StartAndWait("/bin/sh", shellArguments, workingFolder, timeoutMs)) return -1;
  while (GetFileAttributesW(statusFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount64() - started > timeoutMs) return -1;
    Sleep(10);
  }
  std::string status;
  const bool read = ReadBytes(statusFile, status);
  DeleteFileW(statusFile.c_str());
  if (!read || status.empty() || status[0] < '0' || status[0] > '9') return -1;
  return std::stoi(status);
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
