// The $Variable$ table with given machine folders: the same rules in both builds.
#include <gtest/gtest.h>

#include <ctime>

#include "logs/application_env.h"
#include "logs/install_log.h"
#include "package/diff_distribute.h"
#include "sys/env.h"

using namespace brindle;

namespace {

MachineFolders SampleMachine() {
  MachineFolders m;
  m.progFolder = L"C:\\Program Files (x86)";
  m.progFolder64 = L"C:\\Program Files";
  m.winFolder = L"C:\\Windows";
  m.sysFolder = L"C:\\Windows\\SysWOW64";
  m.sysFolder64 = L"C:\\Windows\\system32";
  m.sysDrive = L"C:";
  m.commonFiles = L"C:\\Program Files (x86)\\Common Files";
  return m;
}

// An install log with one application entry.
CQXInstallLog LogWith(const std::wstring& appName, const std::wstring& fullPath) {
  CQXInstallLog log;
  auto entry = std::make_unique<InstallLogEntry>();
  entry->AppName = appName;
  entry->FullPath = fullPath;
  entry->UninstLog = L"C:\\Apps\\Writer\\uninst.log";
  entry->Region.region = L"EU";
  entry->Lang.SetCode(L"en");
  entry->PvkURL = L"https://updates.example/pvk";
  log.entries.push_back(std::move(entry));
  return log;
}

const wchar_t* const kAllNames[] = {
    L"$ProgFolder$", L"$ProgFolder64$", L"$WinFolder$",   L"$SysFolder$", L"$SysFolder64$",
    L"$SysDrive$",   L"$InsFolder$",    L"$UninsParam$",  L"$Region$",    L"$LangCode$",
    L"$PvkURL$",     L"$UninsVer$",     L"$UninsFolder$", L"$UninsExe$",  L"$UninsWrapperExe$",
};

}  // namespace

TEST(Env, MachineContextFillsOnlyTheMachineRows) {
  CQXEnv env(SampleMachine());
  EXPECT_EQ(env.Lookup(L"$ProgFolder$"), L"C:\\Program Files (x86)");
  EXPECT_EQ(env.Lookup(L"$ProgFolder64$"), L"C:\\Program Files");
  EXPECT_EQ(env.Lookup(L"$SysDrive$"), L"C:");
  EXPECT_EQ(env.Expand(L"$SysFolder$\\a.dll|$SysFolder64$\\b.dll|$WinFolder$"),
            L"C:\\Windows\\SysWOW64\\a.dll|C:\\Windows\\system32\\b.dll|C:\\Windows");
  // Application rows are empty: their names simply vanish, leaving relative paths.
  EXPECT_EQ(env.Expand(L"$InsFolder$\\bin\\app.exe"), L"\\bin\\app.exe");
  EXPECT_EQ(env.Expand(L"$UninsExe$$UninsParam$$Region$$LangCode$"), L"");
  // A name outside the table, and a lone dollar, stay as written.
  EXPECT_EQ(env.Expand(L"$Unknown$ costs $5"), L"$Unknown$ costs $5");
  EXPECT_EQ(env.Lookup(L"$Unknown$"), L"");
  EXPECT_EQ(env.Lookup(L"$InstallTime$"), L"");
}

TEST(Env, ApplicationContextFillsEntryAndUninstallerRows) {
  CQXInstallLog log = LogWith(L"Writer", L"C:\\Apps\\Writer");
  CQXDiffDistribute package;
  const CQXEnv env = ApplicationEnv(SampleMachine(), L"Writer", &log, &package, L"2.0.1");
  EXPECT_EQ(env.Lookup(L"$InsFolder$"), L"C:\\Apps\\Writer");
  EXPECT_EQ(env.Lookup(L"$UninsParam$"), L"\"C:\\Apps\\Writer\\uninst.log\"");
  EXPECT_EQ(env.Lookup(L"$Region$"), L"EU");
  EXPECT_EQ(env.Lookup(L"$LangCode$"), L"1033");
  EXPECT_EQ(env.Lookup(L"$PvkURL$"), L"https://updates.example/pvk");
  EXPECT_EQ(env.Lookup(L"$UninsVer$"), L"2.0.1");
  const std::wstring root = L"C:\\Program Files (x86)\\Common Files\\Tamek\\ZNQ\\";
  EXPECT_EQ(env.Lookup(L"$UninsFolder$"), root + L"2.0.1");
  EXPECT_EQ(env.Lookup(L"$UninsExe$"), root + L"2.0.1\\Uninst.exe");
  EXPECT_EQ(env.Lookup(L"$UninsWrapperExe$"), root + L"UninstallWrapper.exe");

  // The uninstall command alone quotes the uninstaller; any other text keeps it bare.
  EXPECT_EQ(env.Expand(L"$UninsExe$ $UninsParam$"),
            L"\"" + root + L"2.0.1\\Uninst.exe\" \"C:\\Apps\\Writer\\uninst.log\"");
  EXPECT_EQ(env.Expand(L"$UninsExe$"), root + L"2.0.1\\Uninst.exe");
  EXPECT_EQ(env.Expand(L" $UninsExe$ $UninsParam$"),
            L" " + root + L"2.0.1\\Uninst.exe \"C:\\Apps\\Writer\\uninst.log\"");
  EXPECT_EQ(env.Expand(L"$UninsExe$  $UninsParam$"),
            root + L"2.0.1\\Uninst.exe  \"C:\\Apps\\Writer\\uninst.log\"");
}

TEST(Env, PartialContextsLeaveTheirRowsEmpty) {
  CQXInstallLog log = LogWith(L"Writer", L"C:\\Apps\\Writer");
  CQXDiffDistribute package;
  // Entry not found: entry rows empty, uninstaller rows still filled from the package.
  const CQXEnv other = ApplicationEnv(SampleMachine(), L"Painter", &log, &package, L"7");
  EXPECT_EQ(other.Expand(L"$InsFolder$\\x"), L"\\x");
  EXPECT_EQ(other.Lookup(L"$UninsVer$"), L"7");
  EXPECT_NE(other.Lookup(L"$UninsExe$"), L"");
  // No package: entry rows filled, uninstaller rows empty.
  const CQXEnv noPackage = ApplicationEnv(SampleMachine(), L"Writer", &log, nullptr, L"7");
  EXPECT_EQ(noPackage.Lookup(L"$InsFolder$"), L"C:\\Apps\\Writer");
  EXPECT_EQ(noPackage.Lookup(L"$UninsVer$"), L"");
  EXPECT_EQ(noPackage.Lookup(L"$UninsFolder$"), L"");
  // No install log or no name: nothing of the application, not even the package rows.
  const CQXEnv noLog = ApplicationEnv(SampleMachine(), L"Writer", nullptr, &package, L"7");
  const CQXEnv noName = ApplicationEnv(SampleMachine(), L"", &log, &package, L"7");
  for (const CQXEnv* env : {&noLog, &noName}) {
    EXPECT_EQ(env->Lookup(L"$InsFolder$"), L"");
    EXPECT_EQ(env->Lookup(L"$UninsVer$"), L"");
    EXPECT_EQ(env->Lookup(L"$UninsExe$"), L"");
    EXPECT_EQ(env->Lookup(L"$WinFolder$"), L"C:\\Windows");
  }
}

TEST(Env, WithoutCommonFilesTheUninstallerPathsStayEmpty) {
  MachineFolders machine = SampleMachine();
  machine.commonFiles.clear();
  CQXInstallLog log = LogWith(L"Writer", L"C:\\Apps\\Writer");
  CQXDiffDistribute package;
  const CQXEnv env = ApplicationEnv(machine, L"Writer", &log, &package, L"2.0.1");
  EXPECT_EQ(env.Lookup(L"$UninsVer$"), L"2.0.1");
  EXPECT_EQ(env.Lookup(L"$UninsFolder$"), L"");
  EXPECT_EQ(env.Lookup(L"$UninsExe$"), L"");
  EXPECT_EQ(env.Lookup(L"$UninsWrapperExe$"), L"");
  EXPECT_EQ(env.Expand(L"$UninsFolder$\\Uninst.ini"), L"\\Uninst.ini");
}

TEST(Env, WalkOrderRepeatsAndValuesHoldingNames) {
  // A folder whose value names later and earlier variables, and itself.
  CQXInstallLog log = LogWith(L"Writer", L"D:\\$WinFolder$\\$ProgFolder$\\$InsFolder$");
  CQXDiffDistribute package;
  const CQXEnv env = ApplicationEnv(SampleMachine(), L"Writer", &log, &package, L"1");
  // $InsFolder$ comes before $WinFolder$ in the walk, so the inserted $WinFolder$ is expanded
  // when its turn comes; $ProgFolder$ (walked after $InsFolder$ too) likewise; the inserted
  // $InsFolder$ is not searched again, so the walk ends.
  EXPECT_EQ(env.Expand(L"$InsFolder$"), L"D:\\C:\\Windows\\C:\\Program Files (x86)\\$InsFolder$");
  // Both occurrences of a repeated name are replaced.
  EXPECT_EQ(env.Expand(L"$SysDrive$|$SysDrive$|$SysDrive$"), L"C:|C:|C:");
  // An install folder literally named like a variable (its own name) is inserted once.
  CQXInstallLog selfLog = LogWith(L"Self", L"$InsFolder$$InsFolder$");
  const CQXEnv self = ApplicationEnv(SampleMachine(), L"Self", &selfLog, nullptr, L"");
  EXPECT_EQ(self.Expand(L"[$InsFolder$][$InsFolder$]"), L"[$InsFolder$$InsFolder$][$InsFolder$$InsFolder$]");
  // A value that names an earlier variable of the walk keeps that name.
  MachineFolders machine = SampleMachine();
  machine.winFolder = L"$ProgFolder$";
  CQXEnv earlier(machine);
  EXPECT_EQ(earlier.Expand(L"$WinFolder$"), L"$ProgFolder$");
}

TEST(Env, KeepingSystemFoldersLeavesOnlyThoseTwoNames) {
  CQXInstallLog log = LogWith(L"Writer", L"C:\\Apps\\Writer");
  const CQXEnv env = ApplicationEnv(SampleMachine(), L"Writer", &log, nullptr, L"");
  EXPECT_EQ(env.ExpandKeepingSystemFolders(
                L"$SysFolder$\\a.dll;$SysFolder64$\\b.dll;$InsFolder$\\c.dll;$WinFolder$"),
            L"$SysFolder$\\a.dll;$SysFolder64$\\b.dll;C:\\Apps\\Writer\\c.dll;C:\\Windows");
}

TEST(Env, EveryNameIsInTheTableEvenWhenEmpty) {
  MachineFolders empty;
  CQXEnv env(empty);
  for (const wchar_t* name : kAllNames) {
    EXPECT_EQ(env.Expand(std::wstring(L"<") + name + L">"), L"<>") << name;
  }
}

TEST(Env, SystemDriveIsAtMostTwoCharacters) {
  MachineFolders machine = SampleMachine();
  machine.sysDrive = L"C:\\Windows";
  CQXEnv env(machine);
  EXPECT_EQ(env.Lookup(L"$SysDrive$"), L"C:");
}

TEST(InstallTime, OnlyTheFirstOccurrenceIsReplaced) {
  EXPECT_EQ(ReplaceInstallTimeWith(L"t=$InstallTime$;u=$InstallTime$", 1700000000u),
            L"t=1700000000;u=$InstallTime$");
  EXPECT_EQ(ReplaceInstallTimeWith(L"$InstallTime$", 4294967295u), L"4294967295");
  EXPECT_EQ(ReplaceInstallTimeWith(L"no time here", 5u), L"no time here");
  EXPECT_EQ(ReplaceInstallTimeWith(L"$installtime$", 5u), L"$installtime$");

  const auto before = static_cast<unsigned long long>(std::time(nullptr));
  const std::wstring now = ReplaceInstallTime(L"$InstallTime$");
  const auto after = static_cast<unsigned long long>(std::time(nullptr));
  ASSERT_FALSE(now.empty());
  ASSERT_EQ(now.find_first_not_of(L"0123456789"), std::wstring::npos) << now;
  const unsigned long long value = std::stoull(now);
  EXPECT_GE(value, before);
  EXPECT_LE(value, after);
  // The expansion table itself leaves the name alone.
  CQXEnv env(SampleMachine());
  EXPECT_EQ(env.Expand(L"$InstallTime$"), L"$InstallTime$");
}
