#include "support/install_log_fixture_win.h"

#include "support/scratch.h"
#include "sys/paths.h"

#include <windows.h>

namespace brindle::test {

InstallLogGuard::InstallLogGuard() : path_(InstallLogPath()) {
  hadLog_ = ReadBytes(path_, saved_);
  DeleteFileW(ToBackslashes(path_).c_str());
}

InstallLogGuard::~InstallLogGuard() {
  if (hadLog_) WriteBytes(path_, saved_);
  else DeleteFileW(ToBackslashes(path_).c_str());
}

bool InstallLogGuard::WriteWithApps(const std::vector<std::wstring>& appNames) {
  CQXInstallLog log;
  for (const std::wstring& name : appNames) {
    auto entry = std::make_unique<InstallLogEntry>();
    entry->AppName = name;
    entry->DisplayName.name = name + L" Suite";
    entry->applicationVersion.text = L"1.0";
    entry->FullPath = L"C:\\Program Files (x86)\\" + name;
    log.entries.push_back(std::move(entry));
  }
  CreateFolderChain(ParentFolder(path_));
  return SaveInstallLog(log, path_);
}

std::string InstallLogGuard::Bytes() const {
  std::string bytes;
  ReadBytes(path_, bytes);
  return bytes;
}

}  // namespace brindle::test
