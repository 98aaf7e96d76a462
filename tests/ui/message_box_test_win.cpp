// The message box as the user meets it: its text, caption, icon and buttons, the answer each
// button gives, and a layout that shows the whole text.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
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

TEST(Messages, StringTableHoldsTheFrenchTexts) {
  EXPECT_EQ(LoadMessage(1000), L"Impossible de démarrer directement ce logiciel.");
  EXPECT_EQ(LoadMessage(1001),
            L"Mise à niveau du logiciel terminée.\nVous devez redémarrer votre ordinateur pour "
            L"pouvoir utiliser le logiciel.\n\nVoulez-vous redémarrer maintenant ?");
  EXPECT_EQ(LoadMessage(1002), L"Mise à jour logicielle terminée.");
  EXPECT_EQ(LoadMessage(1004), L"Mise à jour de %s: %s");
  EXPECT_EQ(LoadMessage(1005), L"Mise à jour logicielle abandonnée.");
  EXPECT_EQ(LoadMessage(1006),
            L"Le logiciel suivant ne peut pas être mis à jour parce qu'il est en cours "
            L"d'exécution.\nQuittez le logiciel, puis cliquez sur [Réessayer].\nSi le logiciel "
            L"n'est pas en cours d'exécution, cliquez sur [Ignorer].");
  EXPECT_EQ(LoadMessage(1008), L"Ostrel Service");
  EXPECT_EQ(LoadMessage(1009), L"Mise à jour logicielle\u2026");
  EXPECT_EQ(LoadMessage(1010), L"OK");
  EXPECT_EQ(LoadMessage(1011), L"Oui");
  EXPECT_EQ(LoadMessage(1012), L"Non");
  EXPECT_EQ(LoadMessage(1013), L"Abandonner");
  EXPECT_EQ(LoadMessage(1014), L"Réessayer");
  EXPECT_EQ(LoadMessage(1017), L"Une erreur s'est produite pendant la mise à jour de %s.");
  EXPECT_EQ(LoadMessage(1018), L"Ignorer");
  EXPECT_EQ(LoadMessage(1020),
            L"Un autre logiciel est en cours d'installation.\nEffectuez un contrôle de dernière "
            L"version à l'issue de l'installation.");
  EXPECT_EQ(LoadMessage(1003), L"");  // no such id
}

TEST(Messages, DialogResultsBecomeTheProgramsAnswerCodes) {
  const std::vector<std::pair<INT_PTR, AnswerCode>> table = {
      {IDYES, AnswerCode::kYes},    {IDNO, AnswerCode::kNo},         {IDCANCEL, AnswerCode::kCancel},
      {IDOK, AnswerCode::kOk},      {IDIGNORE, AnswerCode::kIgnore}, {IDRETRY, AnswerCode::kRetry},
      {IDABORT, AnswerCode::kAbort}};
  for (const auto& [result, answer] : table) {
    EXPECT_EQ(MessageBoxAnswer(result), answer) << result;
    EXPECT_EQ(RetryBoxAnswer(result), answer) << result;
  }
  // A dialog that could not be shown: the message box says no, the retry box abort.
  for (INT_PTR failure : {INT_PTR(-1), INT_PTR(0), INT_PTR(8)}) {
    EXPECT_EQ(MessageBoxAnswer(failure), AnswerCode::kNo);
    EXPECT_EQ(RetryBoxAnswer(failure), AnswerCode::kAbort);
  }
}

TEST(Messages, ADialogWithoutTemplateCannotBeShown) {
  class Missing : public CModalDialog {
   public:
    Missing() : CModalDialog(4242) {}
  } missing;
  EXPECT_EQ(missing.DoModal(), -1);
  EXPECT_EQ(MessageBoxAnswer(missing.DoModal()), AnswerCode::kNo);
}

// What one shown message box looked like, read by the acting thread.
struct Seen {
  std::wstring text;
  std::vector<std::wstring> buttons;
  HICON icon = nullptr;
  bool iconVisible = false;
  LONG style = 0;
};

Seen Look(HWND dialog) {
  Seen seen;
  seen.text = test::StaticTexts(dialog);
  seen.buttons = test::VisibleButtons(dialog);
  HWND icon = GetDlgItem(dialog, IDC_MESSAGE_ICON);
  seen.icon = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
  seen.iconVisible = IsWindowVisible(icon) != FALSE;
  seen.style = GetWindowLongW(dialog, GWL_STYLE);
  return seen;
}

struct MessageCase {
  unsigned id;
  std::wstring caption;
  std::wstring text;
  int buttons;
  int icon;
  LPCWSTR standardIcon;
  std::vector<std::wstring> buttonTexts;
};

TEST(MessageBoxDialog, EachMessageShowsItsTextCaptionIconAndButtons) {
  std::wstring failed = LoadMessage(IDS_UPDATE_FAILED);
  failed.replace(failed.find(L"%s"), 2, kApp);
  const std::vector<MessageCase> cases = {
      {1000, LoadMessage(1008), LoadMessage(1000), kButtonsOk, kIconError, IDI_ERROR, {L"OK"}},
      {1001, kApp, LoadMessage(1001), kButtonsYesNo, kIconWarning, IDI_WARNING, {L"Oui", L"Non"}},
      {1002, kApp, LoadMessage(1002), kButtonsOk, kIconInformation, IDI_INFORMATION, {L"OK"}},
      {1005, kApp, LoadMessage(1005), kButtonsOk, kIconError, IDI_ERROR, {L"OK"}},
      {1017, kApp, failed, kButtonsOk, kIconError, IDI_ERROR, {L"OK"}},
      {1020, kApp, LoadMessage(1020), kButtonsOk, kIconError, IDI_ERROR, {L"OK"}},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.id);
    Seen seen;
    DialogActor actor(c.caption, [&](HWND dialog) {
      seen = Look(dialog);
      test::PressButton(dialog, c.buttonTexts.front());
    });
    const AnswerCode answer = ShowMessageBox(c.buttons, c.caption, c.text, c.icon);
    actor.Join();
    ASSERT_TRUE(actor.Found());
    EXPECT_EQ(seen.text, c.text);
    EXPECT_EQ(seen.buttons, c.buttonTexts);
    EXPECT_EQ(seen.icon, LoadIconW(nullptr, c.standardIcon));
    EXPECT_TRUE(seen.iconVisible);
    EXPECT_TRUE(seen.style & WS_SYSMENU) << "a close box";
    EXPECT_EQ(answer, c.buttons == kButtonsYesNo ? AnswerCode::kYes : AnswerCode::kOk);
  }
  EXPECT_EQ(failed, L"Une erreur s'est produite pendant la mise à jour de Tamek Ostrel.");
}

TEST(MessageBoxDialog, TheRestartQuestionIsSavedAsAPicture) {
  const std::wstring png = test::ScreenshotFolder() + L"\\restart-question.png";
  DeleteFileW(png.c_str());
  bool saved = false;
  DialogActor actor(kApp, [&](HWND dialog) {
    test::LetPaint();
    saved = test::SaveWindowPng(dialog, png);
    test::PressButton(dialog, L"Non");
  });
  EXPECT_EQ(ShowMessageBox(kButtonsYesNo, kApp, LoadMessage(IDS_REBOOT_QUESTION), kIconWarning),
            AnswerCode::kNo);
  actor.Join();
  EXPECT_TRUE(saved);
  EXPECT_NE(GetFileAttributesW(png.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Shows a box and lets `act` answer it; returns the answer.
AnswerCode Answer(int buttons, const std::wstring& message, int icon, std::function<void(HWND)> act) {
  DialogActor actor(kApp, std::move(act));
  const AnswerCode answer = ShowMessageBox(buttons, kApp, message, icon);
  actor.Join();
  EXPECT_TRUE(actor.Found());
  return answer;
}

TEST(MessageBoxDialog, EachWayOfAnsweringGivesItsCode) {
  const std::wstring question = LoadMessage(IDS_REBOOT_QUESTION);
  EXPECT_EQ(Answer(kButtonsYesNo, question, kIconWarning, [](HWND d) { test::PressButton(d, L"Oui"); }),
            AnswerCode::kYes);
  EXPECT_EQ(Answer(kButtonsYesNo, question, kIconWarning, [](HWND d) { test::PressButton(d, L"Non"); }),
            AnswerCode::kNo);
  EXPECT_EQ(Answer(kButtonsYesNo, question, kIconWarning, [](HWND d) { test::PressKey(d, VK_ESCAPE); }),
            AnswerCode::kCancel);
  EXPECT_EQ(Answer(kButtonsYesNo, question, kIconWarning, [](HWND d) { test::PressKey(d, VK_RETURN); }),
            AnswerCode::kYes)
      << "Enter presses the first button";
  EXPECT_EQ(Answer(kButtonsYesNo, question, kIconWarning, [](HWND d) { test::PressAltF4(d); }),
            AnswerCode::kCancel)
      << "close box";
  EXPECT_EQ(Answer(kButtonsOk, L"Fin.", kIconInformation, [](HWND d) { test::PressKey(d, VK_RETURN); }),
            AnswerCode::kOk);
  EXPECT_EQ(Answer(kButtonsOk, L"Fin.", kIconInformation, [](HWND d) { test::PressKey(d, VK_ESCAPE); }),
            AnswerCode::kCancel);
}

TEST(MessageBoxDialog, OtherButtonSetsAndIconKinds) {
  std::vector<std::wstring> buttons;
  HICON icon = nullptr;
  bool iconVisible = true;
  EXPECT_EQ(Answer(kButtonsYes, L"Oui seulement", kIconQuestion,
                   [&](HWND d) {
                     buttons = test::VisibleButtons(d);
                     icon =
                         reinterpret_cast<HICON>(SendDlgItemMessageW(d, IDC_MESSAGE_ICON, STM_GETICON, 0, 0));
                     test::PressButton(d, L"Oui");
                   }),
            AnswerCode::kYes);
  EXPECT_EQ(buttons, std::vector<std::wstring>{L"Oui"});
  EXPECT_EQ(icon, LoadIconW(nullptr, IDI_QUESTION));

  // No button and no icon: only Escape (or the close box) ends it, and Enter does nothing.
  EXPECT_EQ(Answer(7, L"Rien", 9,
                   [&](HWND d) {
                     buttons = test::VisibleButtons(d);
                     iconVisible = IsWindowVisible(GetDlgItem(d, IDC_MESSAGE_ICON)) != FALSE;
                     test::PressKey(d, VK_RETURN);
                     Sleep(300);
                     if (IsWindow(d)) test::PressKey(d, VK_ESCAPE);
                   }),
            AnswerCode::kCancel);
  EXPECT_TRUE(buttons.empty());
  EXPECT_FALSE(iconVisible);
}

// Geometry of a shown box, in client pixels.
struct Layout {
  RECT client = {};
  RECT icon = {};
  RECT text = {};
  std::vector<RECT> buttons;  // visible ones, left to right
  SIZE measured = {};         // the widest line and the lines' height, measured here
  int lineHeight = 0;
  int wrappedHeight = 0;  // the text's height when drawn with word breaks in its control
};

Layout Measure(HWND dialog, const std::wstring& message) {
  Layout layout;
  GetClientRect(dialog, &layout.client);
  HWND text = GetDlgItem(dialog, IDC_MESSAGE_TEXT);
  layout.icon = test::ClientRectOf(dialog, GetDlgItem(dialog, IDC_MESSAGE_ICON));
  layout.text = test::ClientRectOf(dialog, text);
  for (int id : {IDOK, IDYES, IDNO, IDCANCEL}) {
    HWND button = GetDlgItem(dialog, id);
    if (IsWindowVisible(button)) layout.buttons.push_back(test::ClientRectOf(dialog, button));
  }
  std::sort(layout.buttons.begin(), layout.buttons.end(),
            [](const RECT& a, const RECT& b) { return a.left < b.left; });

  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(text, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  layout.lineHeight = metrics.tmHeight;
  size_t start = 0;
  int lines = 0;
  for (;;) {
    const size_t end = message.find(L'\n', start);
    const std::wstring line = message.substr(start, end == std::wstring::npos ? end : end - start);
    SIZE size = {};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    layout.measured.cx = std::max(layout.measured.cx, size.cx);
    ++lines;
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  layout.measured.cy = lines * layout.lineHeight;
  RECT drawn = {0, 0, layout.text.right - layout.text.left, 0};
  DrawTextW(dc, message.c_str(), -1, &drawn, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  layout.wrappedHeight = drawn.bottom - drawn.top;
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return layout;
}

Layout ShowAndMeasure(int buttons, const std::wstring& message, int icon) {
  Layout layout;
  Answer(buttons, message, icon, [&](HWND d) {
    layout = Measure(d, message);
    test::PressKey(d, VK_ESCAPE);
  });
  return layout;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

TEST(MessageBoxDialog, ALongMessageIsShownWhole) {
  const std::wstring message = LoadMessage(IDS_REBOOT_QUESTION);
  const Layout l = ShowAndMeasure(kButtonsYesNo, message, kIconWarning);
  // Four lines, the empty one included, each as wide as the widest.
  EXPECT_EQ(l.measured.cy, 4 * l.lineHeight);
  EXPECT_GE(Width(l.text), l.measured.cx);
  EXPECT_GE(Height(l.text), l.measured.cy);
  EXPECT_LE(l.wrappedHeight, Height(l.text)) << "no line is broken or cut";
  // Icon and text where the margins put them, inside the client area.
  EXPECT_EQ(l.icon.left, 30);
  EXPECT_EQ(l.icon.top, 20);
  EXPECT_EQ(l.text.left, 30 + Width(l.icon) + 20);
  EXPECT_EQ(l.text.top, 30);
  EXPECT_EQ(l.client.right, Width(l.icon) + Width(l.text) + 80);
  EXPECT_GE(l.client.right - l.text.right, 30);
  // Two buttons below the text, 10 apart and centred.
  ASSERT_EQ(l.buttons.size(), 2u);
  const int textBottom = std::max(Height(l.icon), Height(l.text)) + 40;
  EXPECT_EQ(l.buttons[0].top, textBottom);
  EXPECT_EQ(l.buttons[1].top, textBottom);
  EXPECT_EQ(l.buttons[1].left - l.buttons[0].right, 10);
  EXPECT_LE(std::abs(l.buttons[0].left - (l.client.right - l.buttons[1].right)), 1);
  EXPECT_EQ(l.client.bottom, textBottom + Height(l.buttons[0]) + 20);
}

TEST(MessageBoxDialog, AShortMessageWidensTheBoxForBothButtons) {
  const Layout l = ShowAndMeasure(kButtonsYesNo, L"X", kIconQuestion);
  ASSERT_EQ(l.buttons.size(), 2u);
  const int row = Width(l.buttons[0]) + 10 + Width(l.buttons[1]);
  EXPECT_GT(row + 60, Width(l.icon) + Width(l.text) + 80) << "the text alone is narrower";
  EXPECT_EQ(l.client.right, row + 60);
  EXPECT_EQ(l.buttons[0].left, 30);
  EXPECT_EQ(l.client.right - l.buttons[1].right, 30);
}

TEST(MessageBoxDialog, ASingleButtonIsCentred) {
  const Layout l = ShowAndMeasure(kButtonsOk, LoadMessage(IDS_INSTALLER_BUSY), kIconError);
  ASSERT_EQ(l.buttons.size(), 1u);
  EXPECT_LE(std::abs(l.buttons[0].left - (l.client.right - l.buttons[0].right)), 1);
  EXPECT_EQ(l.measured.cy, 2 * l.lineHeight);
  EXPECT_LE(l.wrappedHeight, Height(l.text));
}

TEST(MessageBoxDialog, AmpersandsInTheTextAreShownAsTheyAre) {
  // An application name such as "Tamek & Ostrel" must not turn into an underlined letter.
  std::wstring shown;
  LONG style = 0;
  Answer(kButtonsOk, L"Tamek & Ostrel", kIconInformation, [&](HWND d) {
    shown = test::StaticTexts(d);
    style = GetWindowLongW(GetDlgItem(d, IDC_MESSAGE_TEXT), GWL_STYLE);
    test::PressButton(d, L"OK");
  });
  EXPECT_EQ(shown, L"Tamek & Ostrel");
  EXPECT_TRUE(style & SS_NOPREFIX);
}

}  // namespace
}  // namespace brindle
