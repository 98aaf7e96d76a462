// The progress context as the worker and the dialog share it: the title is handed over whole,
// and clearing it gives a run that has not started.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ui/progress_context.h"

namespace brindle {
namespace {

TEST(ProgressContext, AReaderOnlyEverSeesWholeTitles) {
  ProgressContext context;
  const std::wstring first(200, L'a');
  const std::wstring second = L"Mise à jour de Tamek Ostrel: " + std::wstring(300, L'b');
  context.SetTitle(first);
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    for (unsigned i = 0; !stop; ++i) context.SetTitle(i % 2 ? first : second);
  });
  int torn = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::wstring seen = context.Title();
    if (seen != first && seen != second) ++torn;
  }
  stop = true;
  worker.join();
  EXPECT_EQ(torn, 0);
}

TEST(ProgressContext, ClearingForgetsTheLastRun) {
  ProgressContext context;
  context.rangeMaximum = 100;
  context.percent = 40;
  context.total = 5;
  context.done = 2;
  context.failed = true;
  context.quietEnd = true;
  context.cancelled = true;
  context.finished = true;
  context.SetTitle(L"Mise à jour de Tamek Ostrel: a.diff");
  EXPECT_TRUE(context.Ended());
  context.Clear();
  EXPECT_EQ(context.rangeMinimum, 0);
  EXPECT_EQ(context.rangeMaximum, 0);
  EXPECT_EQ(context.percent, 0);
  EXPECT_EQ(context.total, 0);
  EXPECT_EQ(context.done, 0);
  EXPECT_FALSE(context.Ended());
  EXPECT_EQ(context.Title(), L"");
  for (std::atomic<bool> ProgressContext::*flag : {&ProgressContext::failed, &ProgressContext::quietEnd,
                                                   &ProgressContext::cancelled, &ProgressContext::finished}) {
    context.*flag = true;
    EXPECT_TRUE(context.Ended());
    context.*flag = false;
  }
}

}  // namespace
}  // namespace brindle
