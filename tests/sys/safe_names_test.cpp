// Names from a package joined to a folder must stay inside it.
#include <gtest/gtest.h>

#include "sys/safe_names.h"

using namespace brindle;

TEST(SafeNames, RelativePathsBelowAFolderAreAccepted) {
  for (const wchar_t* path :
       {L"a.txt", L"INST\\bin\\app.exe", L"CUSTOM/hook.dll", L"a..b", L"..a", L"x.", L".hidden",
        L"deep\\er\\and\\deeper\\file", L"console\\icon.txt", L"COM10", L"\x00E9t\x00E9.txt"}) {
    EXPECT_TRUE(IsSafeRelativePath(path)) << path;
  }
}

TEST(SafeNames, PathsThatCouldLeaveTheFolderAreRefused) {
  const std::wstring withControl = std::wstring(L"a") + L'\x01' + L"b";
  const std::wstring withNul(L"a\0b", 3);
  for (const std::wstring& path : std::initializer_list<std::wstring>{L"",
                                                                      L"..",
                                                                      L".",
                                                                      L"..\\..\\evil.txt",
                                                                      L"a\\..\\..\\evil.txt",
                                                                      L"a/../b",
                                                                      L"a\\.\\b",
                                                                      L"\\evil.txt",
                                                                      L"/evil.txt",
                                                                      L"\\\\server\\share\\x",
                                                                      L"C:\\evil.txt",
                                                                      L"C:evil.txt",
                                                                      L"file.txt:stream",
                                                                      L"a\\\\b",
                                                                      L"a\\",
                                                                      L"a/",
                                                                      L"...",
                                                                      L"a\\. .\\b",
                                                                      L"NUL",
                                                                      L"sub\\con.txt",
                                                                      L"LPT1",
                                                                      L"com3.log",
                                                                      L"a*b",
                                                                      L"a?b",
                                                                      L"a|b",
                                                                      L"a<b>",
                                                                      L"\"q\"",
                                                                      withControl,
                                                                      withNul}) {
    EXPECT_FALSE(IsSafeRelativePath(path)) << path;
  }
}

TEST(SafeNames, LengthLimitAndSingleNames) {
  EXPECT_TRUE(IsSafeRelativePath(std::wstring(259, L'a')));
  EXPECT_FALSE(IsSafeRelativePath(std::wstring(260, L'a')));
  EXPECT_TRUE(IsSafeRelativePath(L"abcd", 4));
  EXPECT_FALSE(IsSafeRelativePath(L"abcde", 4));

  EXPECT_TRUE(IsSafeSingleName(L"3.1.0"));
  EXPECT_TRUE(IsSafeSingleName(L"Uninst.exe"));
  EXPECT_FALSE(IsSafeSingleName(L"a\\b"));
  EXPECT_FALSE(IsSafeSingleName(L"a/b"));
  EXPECT_FALSE(IsSafeSingleName(L".."));
  EXPECT_FALSE(IsSafeSingleName(L""));
  EXPECT_FALSE(IsSafeSingleName(L"C:x"));
  EXPECT_FALSE(IsSafeSingleName(std::wstring(10, L'v'), 9));
}
