// The setting of an end-to-end patch test: a test application installed under Program Files
// with its install-log entry, the uninstaller's files and a package for it, laid out as the
// update service lays them out (the list file, the package cabinet made by gcab and the
// wrapper's ZNQ folder side by side), and the real Brindle.exe started on the list.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/install_log_fixture_win.h"
#include "support/scratch.h"

namespace brindle::test {

// A shell special folder (CSIDL) of this machine.
std::wstring ShellFolder(int csidl);
// A name not used by another test run: the stem, the process id and a time stamp.
std::wstring Unique(const std::wstring& stem);
// Writes the bytes, creating the file's folders first.
bool WriteFileText(const std::wstring& path, const std::string& text);
// The file's bytes, or "<missing>".
std::string FileText(const std::wstring& path);
// The file's times (creation, access, last write) set to noon of 1 June of the year; false when
// they cannot be set.
bool SetFileYear(const std::wstring& path, unsigned short year);
// A path as the uninstall log writes it (each backslash doubled).
std::string Logged(const std::string& path);
// Starts Brindle.exe on the list with the mode switch; its exit code.
int RunBrindle(const std::wstring& listPath, const std::wstring& mode, unsigned timeoutMs = 120000);

class PatchFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The install log with the application SampleApp (language given) and one other application.
  void WriteInstallLog(const std::wstring& lang);
  // The wrapper's files beside the package: COMMON, and the language folders given.
  void WriteWrapperFiles(const std::vector<std::wstring>& languageFolders);
  // Builds package.diff from the package source folder and writes the list naming it.
  std::wstring BuildPackage(const std::string& diffXml);
  // Empties the package source folder, for a second package in the same test.
  void ClearPackageSource();

  std::string AppPath(const std::wstring& relative) const;

  ScratchFolder scratch_;
  InstallLogGuard installLog_;
  std::wstring programFiles_, commonFiles_, app_, uninstallerVersion_, uninstFolder_;
  std::wstring packageSource_, lists_;
  std::vector<std::wstring> extraFolders_;
};

}  // namespace brindle::test
