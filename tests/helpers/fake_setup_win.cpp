// Stands in for a setup program named in a list. Copied under any name, it
//  - writes to "<own path>.log" the "Status" it found at its start in the setup programs' key
//    HKLM\SOFTWARE\tamek\Zentor Master Setup (32-bit view), or "-" when there was none;
//  - writes to "<own path>.place" its current folder and its command line, a line each (UTF-8);
//  - writes the answers of "<own path>.answers" into that key: lines "Status <number>",
//    "Return Value <number>" (REG_DWORD) and "RebootNeeded <text>" (REG_SZ), in that order.
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>

#include <fstream>
#include <string>

namespace {

const wchar_t kProtocol[] = L"SOFTWARE\\tamek\\Zentor Master Setup";

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::string StatusAtStart(HKEY key) {
  DWORD value = 0, bytes = sizeof(value);
  if (RegGetValueW(key, nullptr, L"Status", RRF_RT_REG_DWORD, nullptr, &value, &bytes) != ERROR_SUCCESS)
    return "-";
  return std::to_string(value);
}

void WriteAnswer(HKEY key, const std::string& line) {
  for (const char* name : {"Status", "Return Value"}) {
    const std::string prefix = std::string(name) + " ";
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    const DWORD value = std::stoul(line.substr(prefix.size()));
    const std::wstring wide(name, name + prefix.size() - 1);
    RegSetValueExW(key, wide.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
  const std::string reboot = "RebootNeeded ";
  if (line.compare(0, reboot.size(), reboot) == 0) {
    const std::wstring text(line.begin() + reboot.size(), line.end());
    RegSetValueExW(key, L"RebootNeeded", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
}

}  // namespace

int wmain() {
  const std::wstring self = OwnPath();
  brindle::UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProtocol, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr,
                      key.Receive(), nullptr) != ERROR_SUCCESS)
    return 1;
  std::ofstream((self + L".log").c_str(), std::ios::binary) << StatusAtStart(key.Get()) << "\n";
  {
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    std::ofstream((self + L".place").c_str(), std::ios::binary)
        << brindle::Utf8FromWide(current) << "\n"
        << brindle::Utf8FromWide(GetCommandLineW()) << "\n";
  }
  std::ifstream answers((self + L".answers").c_str());
  std::string line;
  while (std::getline(answers, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    WriteAnswer(key.Get(), line);
  }
  return 0;
}
