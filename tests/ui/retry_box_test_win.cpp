// The running-program question: its texts, the programs listed, no close box, and the answer of
// each button.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/ui_driver_win.h"
#include "ui/dialog_test_win.h"
#include "ui/message_boxes_win.h"
#include "ui/messages.h"
#include "ui/resource.h"

namespace brindle {
namespace {

using test::DialogActor;

const wchar_t kApp[] = L"Tamek Ostrel";
const wchar_t kPrograms[] = L"TamekOstrel.exe\nOstrelAgent.exe";

TEST(RetryBox, ShowsTheMessageTheProgramsAndThreeButtonsWithoutCloseBox) {
  std::wstring text, details;
  std::vector<std::wstring> buttons;
  LONG style = 0, editStyle = 0;
  COLORREF detailsBackground = 0, dialogBackground = 0;
  const std::wstring png = test::ScreenshotFolder() + L"\\retry-box.png";
  DeleteFileW(png.c_str());
  bool saved = false;
  DialogActor actor(kApp, [&](HWND d) {
    text = test::WindowText(GetDlgItem(d, IDC_RETRY_TEXT));
    HWND edit = GetDlgItem(d, IDC_RETRY_DETAILS);
    details = test::WindowText(edit);
    buttons = test::VisibleButtons(d);
    style = GetWindowLongW(d, GWL_STYLE);
    editStyle = GetWindowLongW(edit, GWL_STYLE);
    test::LetPaint();
    // What the user sees: the details on the window colour, not on the dialog's grey.
    RECT box = {};
    GetWindowRect(edit, &box);
    RECT dialogRect = {};
    GetWindowRect(d, &dialogRect);
    HDC screen = GetDC(nullptr);
    detailsBackground = GetPixel(screen, box.right - 6, box.top + 4);
    dialogBackground = GetPixel(screen, box.left - 6, box.top + 4);
    ReleaseDC(nullptr, screen);
    saved = test::SaveWindowPng(d, png);
    test::PressButton(d, L"Ignorer");
  });
  const AnswerCode answer = ShowRetryCheckBox(kApp, LoadMessage(IDS_PROGRAM_RUNNING), kPrograms);
  actor.Join();
  ASSERT_TRUE(actor.Found());
  EXPECT_EQ(answer, AnswerCode::kIgnore);
  EXPECT_EQ(text, LoadMessage(IDS_PROGRAM_RUNNING));
  EXPECT_EQ(details, L"TamekOstrel.exe\r\nOstrelAgent.exe");
  EXPECT_EQ(buttons, (std::vector<std::wstring>{L"Abandonner", L"Réessayer", L"Ignorer"}));
  EXPECT_FALSE(style & WS_SYSMENU) << "no close box";
  EXPECT_TRUE(editStyle & ES_READONLY);
  EXPECT_TRUE(editStyle & ES_MULTILINE);
  EXPECT_TRUE(editStyle & WS_HSCROLL);
  EXPECT_EQ(detailsBackground, GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(dialogBackground, GetSysColor(COLOR_BTNFACE));
  EXPECT_TRUE(saved);
}

AnswerCode AnswerRetryBox(std::function<void(HWND)> act) {
  DialogActor actor(kApp, std::move(act));
  const AnswerCode answer = ShowRetryCheckBox(kApp, LoadMessage(IDS_PROGRAM_RUNNING), kPrograms);
  actor.Join();
  EXPECT_TRUE(actor.Found());
  return answer;
}

TEST(RetryBox, EachButtonAndEscapeGiveTheirAnswers) {
  EXPECT_EQ(AnswerRetryBox([](HWND d) { test::PressButton(d, L"Abandonner"); }), AnswerCode::kAbort);
  EXPECT_EQ(AnswerRetryBox([](HWND d) { test::PressButton(d, L"Réessayer"); }), AnswerCode::kRetry);
  EXPECT_EQ(AnswerRetryBox([](HWND d) { test::PressButton(d, L"Ignorer"); }), AnswerCode::kIgnore);
  EXPECT_EQ(AnswerRetryBox([](HWND d) { test::PressKey(d, VK_ESCAPE); }), AnswerCode::kCancel);
  EXPECT_EQ(AnswerRetryBox([](HWND d) { test::PressKey(d, VK_RETURN); }), AnswerCode::kRetry)
      << "Enter asks again";
}

TEST(RetryBox, TheDialogEndsWithThePlatformsResults) {
  const std::vector<std::pair<std::wstring, INT_PTR>> presses = {
      {L"Abandonner", IDABORT}, {L"Réessayer", IDRETRY}, {L"Ignorer", IDIGNORE}};
  for (const auto& [button, result] : presses) {
    CWinQXRetryCheckMsgBox box;
    box.caption = kApp;
    box.message = L"Fermez le logiciel.";
    box.details = L"a.exe";
    DialogActor actor(kApp, [&](HWND d) { test::PressButton(d, button); });
    EXPECT_EQ(box.DoModal(), result) << button.c_str();
  }
  CWinQXRetryCheckMsgBox box;
  box.caption = kApp;
  DialogActor actor(kApp, [](HWND d) { test::PressKey(d, VK_ESCAPE); });
  EXPECT_EQ(box.DoModal(), IDCANCEL);
}

}  // namespace
}  // namespace brindle
