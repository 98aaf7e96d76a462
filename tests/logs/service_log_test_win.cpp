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

// Between two lines nothing is held on the file: other programs append, rename and delete it,
// and the next line goes to the file then at the path (a new one starts with its byte-order mark).
TEST(ServiceLogWindows, BetweenLinesOtherProgramsAppendRenameAndDeleteTheLog) {
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
  // Opened without sharing by another program: nothing of this one is open on it.
  {
    UniqueFile exclusive(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(exclusive) << GetLastError();
  }
  const std::wstring aside = path + L".1";
  ASSERT_TRUE(MoveFileExW(path.c_str(), aside.c_str(), 0)) << GetLastError();
  ASSERT_TRUE(AppendServiceLogLine(path, L"three"));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(aside, bytes));
  EXPECT_EQ(bytes, "\xEF\xBB\xBFone\r\nsibling\r\ntwo\r\n");
  ASSERT_TRUE(ReadBytes(path, bytes));
  EXPECT_EQ(bytes, "\xEF\xBB\xBFthree\r\n");
  ASSERT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
  ASSERT_TRUE(AppendServiceLogLine(path, L"four"));
  ASSERT_TRUE(ReadBytes(path, bytes));
  EXPECT_EQ(bytes,
            "\xEF\xBB\xBF"
            "four\r\n");
  // Still checked at every line: a file with a second name is refused.
  const std::wstring second = path + L".2";
  if (CreateHardLinkW(second.c_str(), path.c_str(), nullptr)) {
    EXPECT_FALSE(AppendServiceLogLine(path, L"five"));
    ASSERT_TRUE(ReadBytes(path, bytes));
    EXPECT_EQ(bytes,
              "\xEF\xBB\xBF"
              "four\r\n");
    ASSERT_TRUE(DeleteFileW(second.c_str()));
  }
  EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}
