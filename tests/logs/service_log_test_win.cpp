// The service log in the user's roaming application data, through the real system.
#include <gtest/gtest.h>

#include "logs/service_log.h"
#include "support/scratch.h"
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
