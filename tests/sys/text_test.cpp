#include <gtest/gtest.h>

#include "sys/paths.h"
#include "sys/text.h"

using namespace brindle;

TEST(Text, Utf8RoundTripsAccentsAndCharactersBeyondTheBasicPlane) {
  const std::wstring text = L"Mise \u00e0 jour \u2026 \u65e5\u672c";
  const std::string utf8 = Utf8FromWide(text);
  EXPECT_EQ(utf8, "Mise \xc3\xa0 jour \xe2\x80\xa6 \xe6\x97\xa5\xe6\x9c\xac");
  EXPECT_EQ(WideFromUtf8(utf8), text);
  const std::string clef = "\xf0\x9d\x84\x9e";  // U+1D11E
  EXPECT_EQ(Utf8FromWide(WideFromUtf8(clef)), clef);
}

TEST(Text, InvalidUtf8BecomesReplacementCharactersWithoutReadingPastTheEnd) {
  EXPECT_EQ(WideFromUtf8("a\xc3"), L"a\ufffd");
  EXPECT_EQ(WideFromUtf8("\xe2\x80"), L"\ufffd\ufffd");
  EXPECT_EQ(WideFromUtf8("\xc0\xaf"), L"\ufffd\ufffd");  // overlong form of '/'
  EXPECT_EQ(WideFromUtf8("\xff"), L"\ufffd");
}

TEST(Text, AnsiCodePageConversionsAreExactOrRefused) {
  std::string ansi;
  ASSERT_TRUE(AnsiFromWide(L"d\u00e9j\u00e0", ansi, 1252));
  EXPECT_EQ(ansi, "d\xe9j\xe0");
  std::wstring back;
  ASSERT_TRUE(WideFromAnsi(ansi, back, 1252));
  EXPECT_EQ(back, L"d\u00e9j\u00e0");
  EXPECT_FALSE(AnsiFromWide(L"\u65e5", ansi, 1252));
  // No look-alike stands in for a missing character (A-macron is not A, an em space no blank).
  EXPECT_FALSE(AnsiFromWide(L"C:\\\u0100pp", ansi, 1252));
  EXPECT_FALSE(AnsiFromWide(L"a\u2003b", ansi, 1252));
  EXPECT_TRUE(ansi.empty());
  ASSERT_TRUE(AnsiFromWide(L"\u65e5\u672c", ansi, 932));
  EXPECT_EQ(ansi, "\x93\xfa\x96\x7b");
  ASSERT_TRUE(WideFromAnsi(ansi, back, 932));
  EXPECT_EQ(back, L"\u65e5\u672c");
}

TEST(Paths, ParentJoinAndLastComponentUseForwardSlashes) {
  EXPECT_EQ(ParentFolder(L"C:/a/b/list.xml"), L"C:/a/b");
  EXPECT_EQ(ParentFolder(L"C:\\a\\b"), L"C:/a");
  EXPECT_EQ(ParentFolder(L"C:/a"), L"C:/");
  EXPECT_EQ(JoinPath(L"C:/a/b", L"c.txt"), L"C:/a/b/c.txt");
  EXPECT_EQ(JoinPath(L"C:/a/b/", L"c/d.txt"), L"C:/a/b/c/d.txt");
  EXPECT_EQ(LastPathComponent(L"dir/sub/pkg.diff"), L"pkg.diff");
  EXPECT_EQ(LastPathComponent(L"dir\\sub\\"), L"sub");
  EXPECT_EQ(LastPathComponent(L"pkg.diff"), L"pkg.diff");
}

TEST(Paths, FolderOfIsTheTextBeforeTheLastSeparatorInBackslashes) {
  EXPECT_EQ(FolderOf(L"C:\\a/b\\c.dll"), L"C:\\a\\b");
  EXPECT_EQ(FolderOf(L"C:\\a\\b\\"), L"C:\\a\\b");
  EXPECT_EQ(FolderOf(L"C:\\a"), L"C:");
  EXPECT_EQ(FolderOf(L"c.dll"), L"");
}
