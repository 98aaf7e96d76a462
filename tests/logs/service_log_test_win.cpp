// The service log in the user's roaming application data, through the real system.
#include <gtest/gtest.h>

#include "logs/service_log.h"
#include "support/scratch.h"
#include "sys/win_handles.h"
#include "sys/paths.h"
#include "sys/text.h"

#include <windows.h>
#include <shlobj.h>

using namespace brindle;
using namespace brindle::test;

TEST(ServiceLogWindows, LinesGoToTheRoamingApplicationDataOfTheUser) {
  wchar_t appData[MAX_PATH] = {};
  ASSERT_HRESULT_SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData));
  const std::wstring folder = ServiceLogFolder();
  EXPECT_EQ(folder, ToForwardSlashes(appData) + L"/Tamek_Inc_RW/ServiceLog/OstrelService");
  const std::wstring marker = L"marker-" + std::to_wstring(GetTickCount64());
  WriteServiceLog({L"-", marker, L"a,b"}, L"BR", L"TEST_KEY");
  std::string bytes;
  ASSERT_TRUE(ReadBytes(folder + L"/Tamek_ACT_SERVICELOG_tmp.txt", bytes));
  const std::string expected = ",BR,TEST_KEY,-," + Utf8FromWide(marker) + ",\"a,b\"\r\n";
  ASSERT_GE(bytes.size(), expected.size());
  EXPECT_EQ(bytes.substr(bytes.size() - expected.size()), expected);
}

// The file is held from the first line: other programs still read and append between two
// lines, but cannot rename, remove or replace the file that was checked meanwhile.
TEST(ServiceLogWindows, OtherProgramsAppendBetweenLinesButTheHeldLogStaysInPlace) {
  ScratchFolder folder;
  const std::wstring path = ToBackslashes(folder.File(L"log.txt"));
  ASSERT_TRUE(AppendServiceLogLine(path, L"one"));
  {
    UniqueFile other(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(other.Get(), "sibling\r\n", 9, &written, nullptr));
  }
  ASSERT_TRUE(AppendServiceLogLine(path, L"two"));
  const std::wstring aside = path + L".1";
  EXPECT_FALSE(MoveFileExW(path.c_str(), aside.c_str(), 0));
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  ASSERT_TRUE(AppendServiceLogLine(path, L"three"));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(path, bytes));
  EXPECT_EQ(bytes, "\xEF\xBB\xBFone\r\nsibling\r\ntwo\r\nthree\r\n");
  EXPECT_FALSE(FileExists(aside));
  // A line for another file lets this one go: it can be removed again.
  ASSERT_TRUE(AppendServiceLogLine(folder.File(L"other.txt"), L"x"));
  EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}
