#include <gtest/gtest.h>

#include "app/update_items.h"
#include "app/update_run.h"

using namespace brindle;

TEST(TableText, ArgumentsAreInsertedAsTextAndTheResultIsCapped) {
  EXPECT_EQ(FormatTableText(L"Mise \u00e0 jour de %s: %s", {L"Viewer", L"p.diff"}),
            L"Mise \u00e0 jour de Viewer: p.diff");
  // A name holding format characters is shown as it is, never read as a format.
  EXPECT_EQ(FormatTableText(L"de %s.", {L"100%s %d"}), L"de 100%s %d.");
  EXPECT_EQ(FormatTableText(L"%s and %s", {L"one"}), L"one and ");
  EXPECT_EQ(FormatTableText(L"50%% %s", {L"x"}), L"50% x");
  const std::wstring longName(800, L'n');
  const std::wstring text = FormatTableText(L"de %s.", {longName});
  EXPECT_EQ(text.size(), kMaxFormattedChars);
  EXPECT_EQ(text.substr(0, 3), L"de ");
}

TEST(Percent, TruncatesAndNeverDividesByZero) {
  EXPECT_EQ(PercentDone(1, 3), 33);
  EXPECT_EQ(PercentDone(2, 3), 66);
  EXPECT_EQ(PercentDone(3, 3), 100);
  EXPECT_EQ(PercentDone(0, 0), 0);
  EXPECT_EQ(PercentDone(5, 0), 0);
}

TEST(Percent, WithinAnItemRisesWithItsStepsButNeverReachesTheNextItemsShare) {
  // One package: from 0 up to 99 at most, whatever the number of steps.
  EXPECT_EQ(PercentWithinItem(0, 1, 0, 10), 0);
  EXPECT_EQ(PercentWithinItem(0, 1, 5, 10), 45);
  EXPECT_EQ(PercentWithinItem(0, 1, 10, 10), 90);
  EXPECT_EQ(PercentWithinItem(0, 1, 25, 10), 90) << "more steps than announced count as all";
  EXPECT_EQ(PercentWithinItem(0, 1, 2000000000, 2000000000), 99);
  EXPECT_EQ(PercentWithinItem(0, 1, 1, 0), 0);
  // The second of three items moves between 33 and 65.
  EXPECT_EQ(PercentWithinItem(1, 3, 0, 4000), 33);
  EXPECT_EQ(PercentWithinItem(1, 3, 2000, 4000), 49);
  EXPECT_EQ(PercentWithinItem(1, 3, 4000, 4000), 65);
  // Rising step by step, never down, never past 99.
  int last = 0;
  for (int step = 0; step <= 3000; ++step) {
    const int percent = PercentWithinItem(0, 1, step, 3000);
    EXPECT_GE(percent, last);
    EXPECT_LE(percent, 99);
    last = percent;
  }
  // Many items sharing one percent: never below the whole items' percent.
  EXPECT_EQ(PercentWithinItem(150, 300, 10, 10), 50);
  EXPECT_EQ(PercentWithinItem(0, 0, 5, 10), 0);
  EXPECT_EQ(PercentWithinItem(3, 3, 5, 10), 100);
}

TEST(ComponentPasses, DeleteUpdateAddInThatOrderAndTheUpdateResultRules) {
  const auto& passes = ComponentPasses();
  ASSERT_EQ(passes.size(), 3u);
  EXPECT_EQ(std::wstring(passes[0].actionType), L"DELETE");
  EXPECT_EQ(NoticeKindCode(passes[0].kind), 3);
  EXPECT_FALSE(passes[0].needsPath);
  EXPECT_EQ(std::wstring(passes[1].actionType), L"UPDATE");
  EXPECT_EQ(NoticeKindCode(passes[1].kind), 4);
  EXPECT_TRUE(passes[1].needsPath);
  EXPECT_EQ(std::wstring(passes[2].actionType), L"ADD");
  EXPECT_EQ(NoticeKindCode(passes[2].kind), 5);
  using R = ComponentResult;
  EXPECT_EQ(UpdateComponentResult(R::kDone, R::kDone), R::kDone);
  EXPECT_EQ(UpdateComponentResult(R::kDone, R::kAddFailed), R::kUpdateFailed);
  EXPECT_EQ(UpdateComponentResult(R::kDone, R::kFailed), R::kFailed);
  // the add's result is not looked at
  EXPECT_EQ(UpdateComponentResult(R::kDeleteFailedQuietly, R::kDone), R::kUpdateFailed);
  EXPECT_EQ(UpdateComponentResult(R::kFailed, R::kDone), R::kFailed);
  // The numbers the launcher and the service log see.
  EXPECT_EQ(ComponentResultCode(R::kDone), 200);
  EXPECT_EQ(ComponentResultCode(R::kFailed), 5);
  EXPECT_EQ(ComponentResultCode(R::kDeleteFailedQuietly), 6);
  EXPECT_EQ(ComponentResultCode(R::kAddFailed), 7);
  EXPECT_EQ(ComponentResultCode(R::kUpdateFailed), 8);
}
