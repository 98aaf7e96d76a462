// Stands in for the installer wrapper's programs (the uninstall wrapper, Install.exe) and for a
// local COM server in the tests. Copied under any name, it
//  - appends to "<own path>.log" one line: "[<command-line tail>] parent=<ParentAppName>
//    folder=<ParentInsFolder> stale=<Result Value found at start, or ->", where the tail is
//    everything after the program's own name, and the values come from the shared key
//    HKLM\SOFTWARE\Tamek_Inc_RW\Ostrel Shared (32-bit view; "-" when missing);
//  - appends to "<own path>.place" two lines: its current folder and its whole command line;
//  - looks up its first argument in "<own path>.answers" (lines "<argument> <number|none>",
//    "*" matching any argument) and writes the number as the key's "Result Value" (REG_DWORD);
//    "none", or no matching line, writes nothing; "hang" writes nothing and does not end for two
//    minutes (a wrapper that hangs).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "sys/text.h"

namespace {

const wchar_t kShared[] = L"SOFTWARE\\Tamek_Inc_RW\\Ostrel Shared";

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring CommandTail() {
  const wchar_t* line = GetCommandLineW();
  if (*line == L'"') {
    ++line;
    while (*line && *line != L'"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != L' ' && *line != L'\t') ++line;
  }
  return line;
}

// A value of the shared key, read with the type asked; false when it is missing.
bool ReadShared(const wchar_t* name, DWORD flags, void* data, DWORD bytes) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShared, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
    return false;
  const bool read = RegGetValueW(key, nullptr, name, flags, nullptr, data, &bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  return read;
}

std::wstring SharedText(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  return ReadShared(name, RRF_RT_REG_SZ, buffer, sizeof(buffer) - sizeof(wchar_t)) ? buffer : L"-";
}

std::wstring SharedNumber(const wchar_t* name) {
  DWORD value = 0;
  return ReadShared(name, RRF_RT_REG_DWORD, &value, sizeof(value)) ? std::to_wstring(value) : L"-";
}

// The answer for the argument: a number, or empty text for none.
std::string AnswerFor(const std::string& argument) {
  std::string text;
  if (FILE* file = _wfopen((OwnPath() + L".answers").c_str(), L"rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
  }
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    std::string key, value;
    fields >> key >> value;
    if ((key == argument || key == "*") && value != "none") return value;
    if (key == argument || key == "*") return std::string();
  }
  return std::string();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring line = L"[" + CommandTail() + L"] parent=" + SharedText(L"ParentAppName") + L" folder=" +
                            SharedText(L"ParentInsFolder") + L" stale=" + SharedNumber(L"Result Value") +
                            L"\n";
  if (FILE* out = _wfopen((OwnPath() + L".log").c_str(), L"ab")) {
    const std::string bytes = brindle::Utf8FromWide(line);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  if (FILE* out = _wfopen((OwnPath() + L".place").c_str(), L"ab")) {
    const std::string bytes =
        brindle::Utf8FromWide(std::wstring(current) + L"\n" + GetCommandLineW() + L"\n");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  const std::string answer = AnswerFor(argc > 1 ? brindle::Utf8FromWide(argv[1]) : std::string());
  if (answer == "hang") {
    Sleep(120000);
    return 0;
  }
  if (!answer.empty()) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kShared, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      const DWORD value = static_cast<DWORD>(std::stoul(answer));
      RegSetValueExW(key, L"Result Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof(value));
      RegCloseKey(key);
    }
  }
  return 0;
}
