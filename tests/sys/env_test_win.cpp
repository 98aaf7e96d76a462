// The machine's folders as the $Variable$ table reads them from the real system (a 64-bit
// Windows under Wine in the test run, with the 32-bit view's values a real one has).
#include <gtest/gtest.h>

#include "logs/application_env.h"
#include "logs/install_log.h"
#include "package/diff_distribute.h"
#include "sys/env.h"
#include "sys/text.h"
#include "sys/wow64_redirection.h"

using namespace brindle;

namespace {

bool EndsWithIgnoringCase(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && EqualsIgnoreAsciiCase(text.substr(text.size() - tail.size()), tail);
}

}  // namespace

TEST(EnvWindows, MachineFoldersAreThoseA32BitProgramSees) {
  ASSERT_TRUE(IsWow64Windows());
  const MachineFolders m = ReadMachineFolders();
  // The 32-bit view names the x86 program folder, the 64-bit view the native one.
  ASSERT_FALSE(m.progFolder64.empty());
  EXPECT_TRUE(EqualsIgnoreAsciiCase(m.progFolder, m.progFolder64 + L" (x86)")) << m.progFolder;
  EXPECT_TRUE(EqualsIgnoreAsciiCase(m.commonFiles, m.progFolder + L"\\Common Files")) << m.commonFiles;
  EXPECT_TRUE(EndsWithIgnoringCase(m.sysFolder64, L"\\system32")) << m.sysFolder64;
  EXPECT_TRUE(EndsWithIgnoringCase(m.sysFolder, L"\\syswow64")) << m.sysFolder;
  EXPECT_TRUE(EqualsIgnoreAsciiCase(m.sysFolder64, m.winFolder + L"\\system32"));
  ASSERT_EQ(m.sysDrive.size(), 2u);
  EXPECT_EQ(m.sysDrive[1], L':');
  EXPECT_TRUE(EqualsIgnoreAsciiCase(m.sysDrive, m.winFolder.substr(0, 2)));
  EXPECT_NE(GetFileAttributesW(m.sysFolder64.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(m.winFolder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(EnvWindows, ContextsBuiltFromTheSystem) {
  const MachineFolders m = ReadMachineFolders();
  CQXEnv machine;
  EXPECT_EQ(machine.Expand(L"$ProgFolder64$|$SysFolder$|$SysDrive$|$InsFolder$"),
            m.progFolder64 + L"|" + m.sysFolder + L"|" + m.sysDrive + L"|");

  CQXInstallLog log;
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = L"Writer";
  entry->FullPath = L"C:\\Apps\\Writer";
  entry->UninstLog = L"C:\\Apps\\Writer\\uninst.log";
  log.entries.push_back(std::move(entry));
  CQXDiffDistribute package;
  const CQXEnv app = ApplicationEnv(L"Writer", &log, &package, L"4.2");
  EXPECT_EQ(app.Expand(L"$InsFolder$\\bin"), L"C:\\Apps\\Writer\\bin");
  EXPECT_EQ(app.Expand(L"$UninsExe$ $UninsParam$"),
            L"\"" + m.commonFiles + L"\\Tamek\\ZNQ\\4.2\\Uninst.exe\" \"C:\\Apps\\Writer\\uninst.log\"");
  EXPECT_EQ(app.ExpandKeepingSystemFolders(L"$SysFolder64$\\x.dll"), L"$SysFolder64$\\x.dll");
}
