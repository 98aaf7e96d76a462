#include <gtest/gtest.h>

#include "logs/service_log.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/text.h"

#include <regex>
#include <sstream>
#include <thread>

using namespace brindle;
using namespace brindle::test;

TEST(ServiceLogLine, StampTagKeyAndQuotedFields) {
  const std::wstring stamp = FormatLogTimeStamp(2026, 12, 7, 5, 46, 4, 31);
  EXPECT_EQ(stamp, L"2026-12-07-05-46-04-031");
  EXPECT_EQ(FormatServiceLogLine(stamp, L"BR", L"PROCESS_END", {L"-", L"200"}),
            L"2026-12-07-05-46-04-031,BR,PROCESS_END,-,200");
  // An empty key leaves out its position and comma.
  EXPECT_EQ(FormatServiceLogLine(stamp, L"BR", L"", {L"-", L"x"}), L"2026-12-07-05-46-04-031,BR,-,x");
  // One empty field: the line ends with the comma after the key.
  EXPECT_EQ(FormatServiceLogLine(stamp, L"BR", L"K", {L""}), L"2026-12-07-05-46-04-031,BR,K,");
  EXPECT_EQ(JoinLogFields({}), L"");
}

TEST(ServiceLogLine, FieldsAreQuotedOnlyWhenTheyNeedIt) {
  EXPECT_EQ(JoinLogFields({L"-", L"a,b"}), L"-,\"a,b\"");
  EXPECT_EQ(JoinLogFields({L"say \"hi\""}), L"\"say \"\"hi\"\"\"");
  EXPECT_EQ(JoinLogFields({L"line\nbreak", L"cr\r"}), L"\"line\nbreak\",\"cr\r\"");
  EXPECT_EQ(JoinLogFields({L"C:/a/b/list.xml", L"", L"plain"}), L"C:/a/b/list.xml,,plain");
}

TEST(ServiceLogLine, TimeStampHasTheFixedLayout) {
  const std::string stamp = Utf8FromWide(LogTimeStamp());
  EXPECT_TRUE(std::regex_match(stamp, std::regex("[0-9]{4}(-[0-9]{2}){5}-[0-9]{3}"))) << stamp;
}

TEST(ServiceLogFile, ANewFileStartsWithTheByteOrderMarkAndLinesEndWithCrLf) {
  ScratchFolder folder;
  const std::wstring path = folder.File(L"log.txt");
  ASSERT_TRUE(AppendServiceLogLine(path, L"premi\u00e8re"));
  ASSERT_TRUE(AppendServiceLogLine(path, L"two\nlines"));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(path, bytes));
  EXPECT_EQ(bytes, "\xEF\xBB\xBFpremi\xC3\xA8re\r\ntwo\r\nlines\r\n");
}

TEST(ServiceLogFile, AnExistingFileIsAppendedInTheEncodingItsMarkNames) {
  ScratchFolder folder;
  const std::wstring utf8 = folder.File(L"plain.txt");
  ASSERT_TRUE(WriteBytes(utf8, "old line\r\n"));  // no mark: UTF-8, and no mark added
  ASSERT_TRUE(AppendServiceLogLine(utf8, L"\u00e9"));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(utf8, bytes));
  EXPECT_EQ(bytes, "old line\r\n\xC3\xA9\r\n");

  const std::wstring utf16 = folder.File(L"wide.txt");
  ASSERT_TRUE(WriteBytes(utf16, std::string("\xFF\xFE"
                                            "a\0\r\0\n\0",
                                            8)));
  ASSERT_TRUE(AppendServiceLogLine(utf16, L"\u00e9"));
  ASSERT_TRUE(ReadBytes(utf16, bytes));
  EXPECT_EQ(bytes, std::string("\xFF\xFE"
                               "a\0\r\0\n\0"
                               "\xE9\0\r\0\n\0",
                               14));

  const std::wstring empty = folder.File(L"empty.txt");
  ASSERT_TRUE(WriteBytes(empty, ""));
  ASSERT_TRUE(AppendServiceLogLine(empty, L"x"));
  ASSERT_TRUE(ReadBytes(empty, bytes));
  EXPECT_EQ(bytes, "\xEF\xBB\xBFx\r\n");
}

TEST(ServiceLogFile, TheFolderChainIsCreatedAndAMissingFolderDropsTheLine) {
  ScratchFolder folder;
  const std::wstring deep = JoinPath(folder.Path(), L"Tamek_Inc_RW/ServiceLog/OstrelService");
  EXPECT_FALSE(AppendServiceLogLine(JoinPath(deep, kServiceLogFileName), L"lost"));
  ASSERT_TRUE(CreateFolderChain(deep));
  EXPECT_TRUE(CreateFolderChain(deep));  // an existing folder is no error
  ASSERT_TRUE(AppendServiceLogLine(JoinPath(deep, kServiceLogFileName), L"kept"));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(JoinPath(deep, kServiceLogFileName), bytes));
  EXPECT_EQ(bytes, "\xEF\xBB\xBFkept\r\n");
}

TEST(ServiceLogFile, TwoThreadsWritingAThousandLinesEachGiveTwoThousandWholeLines) {
  ScratchFolder folder;
  const std::wstring path = folder.File(L"threads.txt");
  auto writer = [&path](wchar_t letter) {
    const std::wstring line(120, letter);
    for (int i = 0; i < 1000; ++i) AppendServiceLogLine(path, line);
  };
  std::thread a(writer, L'a'), b(writer, L'b');
  a.join();
  b.join();
  std::string bytes;
  ASSERT_TRUE(ReadBytes(path, bytes));
  ASSERT_EQ(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0);
  std::istringstream in(bytes.substr(3));
  std::string line;
  int as = 0, bs = 0, other = 0;
  while (std::getline(in, line)) {
    if (line == std::string(120, 'a') + "\r") ++as;
    else if (line == std::string(120, 'b') + "\r") ++bs;
    else ++other;
  }
  EXPECT_EQ(as, 1000);
  EXPECT_EQ(bs, 1000);
  EXPECT_EQ(other, 0);
}

TEST(ServiceLogFolderChoice, OnlyTheProfileComponentTakesTheSessionUsersName) {
  // A user named "App": AppData and the roaming folder stay as they are.
  EXPECT_EQ(SubstituteProfileUser(L"C:\\Users\\App\\AppData\\Roaming", L"C:\\Users\\App", L"Marie"),
            L"C:\\Users\\Marie\\AppData\\Roaming");
  // Users named like other components of the path.
  EXPECT_EQ(SubstituteProfileUser(L"C:\\Users\\Users\\AppData\\Roaming", L"C:\\Users\\Users", L"Jo"),
            L"C:\\Users\\Jo\\AppData\\Roaming");
  EXPECT_EQ(SubstituteProfileUser(L"C:\\Users\\Roaming\\AppData\\Roaming", L"C:\\Users\\Roaming", L"Jo"),
            L"C:\\Users\\Jo\\AppData\\Roaming");
  // The profile named in other letter case, with a trailing separator, or with forward slashes.
  EXPECT_EQ(SubstituteProfileUser(L"C:\\Users\\admin\\AppData\\Roaming", L"C:/users/Admin/", L"Jo"),
            L"C:\\Users\\Jo\\AppData\\Roaming");
  // Outside the profile, or a profile that only shares a prefix: unchanged.
  EXPECT_EQ(SubstituteProfileUser(L"D:\\Data\\Roaming", L"C:\\Users\\App", L"Jo"), L"D:\\Data\\Roaming");
  EXPECT_EQ(SubstituteProfileUser(L"C:\\Users\\Application\\x", L"C:\\Users\\App", L"Jo"),
            L"C:\\Users\\Application\\x");
  EXPECT_EQ(SubstituteProfileUser(L"C:\\Users\\App\\x", L"", L"Jo"), L"C:\\Users\\App\\x");
}
