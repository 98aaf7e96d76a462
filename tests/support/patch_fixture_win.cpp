#include "support/patch_fixture_win.h"

#include "logs/install_log.h"
#include "support/process_win.h"
#include "support/unix_tools_win.h"
#include "sys/paths.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <shlobj.h>

namespace brindle::test {

std::wstring ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

std::wstring Unique(const std::wstring& stem) {
  return stem + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64() % 100000);
}

bool WriteFileText(const std::wstring& path, const std::string& text) {
  CreateFolderChain(ParentFolder(path));
  return WriteBytes(path, text);
}

std::string FileText(const std::wstring& path) {
  std::string text;
  if (!ReadBytes(path, text)) return "<missing>";
  return text;
}

bool SetFileYear(const std::wstring& path, unsigned short year) {
  SYSTEMTIME st = {};
  st.wYear = year;
  st.wMonth = 6;
  st.wDay = 1;
  st.wHour = 12;
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  UniqueFile file(
      CreateFileW(ToBackslashes(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return file && SetFileTime(file.Get(), &ft, &ft, &ft);
}

std::string Logged(const std::string& path) {
  std::string out;
  for (char c : path) {
    out += c;
    if (c == '\\') out += '\\';
  }
  return out;
}

int RunBrindle(const std::wstring& listPath, const std::wstring& mode, unsigned timeoutMs) {
  StartedProcess run =
      StartProgram(ProgramPath(L"Brindle.exe"), L"\"" + ToBackslashes(listPath) + L"\" " + mode);
  return WaitForExit(run, timeoutMs);
}

void PatchFixture::SetUp() {
  programFiles_ = ShellFolder(CSIDL_PROGRAM_FILESX86);
  commonFiles_ = ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86);
  ASSERT_FALSE(programFiles_.empty());
  ASSERT_FALSE(commonFiles_.empty());
  app_ = programFiles_ + L"\\" + Unique(L"BrindleApp");
  uninstallerVersion_ = L"7.1." + std::to_wstring(GetCurrentProcessId());
  uninstFolder_ = commonFiles_ + L"\\Tamek\\ZNQ\\" + uninstallerVersion_;
  packageSource_ = scratch_.File(L"package");
  lists_ = scratch_.File(L"lists");
}

void PatchFixture::TearDown() {
  RemoveTree(app_);
  RemoveTree(uninstFolder_);
  for (const std::wstring& extra : extraFolders_) RemoveTree(extra);
}

void PatchFixture::WriteInstallLog(const std::wstring& lang) {
  CQXInstallLog log;
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = L"SampleApp";
  entry->DisplayName.name = L"Sample Application";
  entry->applicationVersion.text = L"1.0";
  entry->uninstallerVersion.text = L"7.0";
  entry->FullPath = app_;
  entry->Lang.SetCode(lang);
  entry->UninstLog = app_ + L"\\uninst.ini";
  log.entries.push_back(std::move(entry));
  auto other = std::make_unique<InstallLogEntry>();
  other->AppName = L"OtherApp";
  other->applicationVersion.text = L"3.3";
  other->FullPath = L"C:\\Other";
  log.entries.push_back(std::move(other));
  CreateFolderChain(ParentFolder(installLog_.Path()));
  ASSERT_TRUE(SaveInstallLog(log, installLog_.Path()));
}

void PatchFixture::WriteWrapperFiles(const std::vector<std::wstring>& languageFolders) {
  const std::wstring znq = lists_ + L"/ZNQ/INSTALL";
  ASSERT_TRUE(WriteFileText(znq + L"/COMMON/setup.dll", "setup"));
  ASSERT_TRUE(WriteFileText(znq + L"/COMMON/Uninst.exe", "uninst"));
  ASSERT_TRUE(
      WriteFileText(znq + L"/COMMON/UninsVer.txt", Utf8FromWide(uninstallerVersion_) + "\r\nnotes\r\n"));
  for (const std::wstring& folder : languageFolders)
    ASSERT_TRUE(WriteFileText(znq + L"/" + folder + L"/UninstRsc.dll", "rsc-" + Utf8FromWide(folder)));
}

std::wstring PatchFixture::BuildPackage(const std::string& diffXml) {
  EXPECT_TRUE(WriteFileText(packageSource_ + L"/diff.xml", diffXml));
  EXPECT_TRUE(MakeCabinet(lists_ + L"/package.diff", packageSource_));
  const std::wstring list = lists_ + L"/list.xml";
  EXPECT_TRUE(
      WriteFileText(list,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList>"
                    "<DiffLocal Order=\"1\"><FileName>package.diff</FileName><AppName>SampleApp</AppName>"
                    "<DisplayName>Sample Application</DisplayName></DiffLocal></DiffLocalList>"));
  return list;
}

void PatchFixture::ClearPackageSource() { RemoveTree(packageSource_); }

std::string PatchFixture::AppPath(const std::wstring& relative) const {
  return Utf8FromWide(app_ + L"\\" + relative);
}

}  // namespace brindle::test
