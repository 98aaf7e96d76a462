// A person at the screen, in a process of its own, for tests that run the driver inside the test
// program: it waits for a box of the given process, reads it and answers it, or watches the
// progress dialog. Out of the test's process so that the process under test keeps to its own two
// threads (three threads at work crash a 32-bit Wine process under qemu-i386).
// Usage: brindle_person.exe <mode> <pid> <caption> <button> <time-out ms> <stop event> <result file> <ready event>
//   answer:   waits for the box, reads it, presses the button;
//   nobox:    answers any box that appears (its last button) until the stop event is signalled;
//   progress: keeps the percentages the dialog shows until it closes.
// The ready event is signalled once the helper watches. The result file receives, in UTF-8, the box's text (answer,
// nobox: empty when no box appeared) or the percentages the dialog showed, one a line (progress).
#include <windows.h>

#include <string>
#include <vector>

#include "support/ui_driver_win.h"
#include "sys/text.h"
#include "sys/win_handles.h"

using namespace brindle;
using namespace brindle::test;

namespace {

bool WriteResult(const std::wstring& path, const std::wstring& text) {
  const std::string bytes = Utf8FromWide(text);
  UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// The text a control shows, read without sending it a message: the dialog's thread may be busy.
std::wstring ShownText(HWND control) {
  wchar_t text[256] = {};
  InternalGetWindowText(control, text, 256);
  return text;
}

BOOL CALLBACK CollectPercentText(HWND control, LPARAM data) {
  auto* seen = reinterpret_cast<std::vector<std::wstring>*>(data);
  const std::wstring text = ShownText(control);
  if (!text.empty() && text.back() == L'%' && (seen->empty() || seen->back() != text)) seen->push_back(text);
  return TRUE;
}

std::wstring Answer(DWORD pid, const std::wstring& caption, const std::wstring& button, unsigned timeoutMs) {
  HWND box = FindDialog(caption, timeoutMs, pid);
  if (!box) return L"<no box>";
  const std::wstring text = StaticTexts(box);
  if (PressButton(box, button)) return text;
  PostMessageW(box, WM_CLOSE, 0, 0);  // never leave the run waiting on the box
  return L"<no button " + button + L"> " + text;
}

std::wstring WatchForNoBox(DWORD pid, const std::wstring& caption, HANDLE stop) {
  while (WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
    HWND box = FindDialog(caption, 100, pid);
    if (!box) continue;
    const std::wstring text = StaticTexts(box);
    const std::vector<std::wstring> buttons = VisibleButtons(box);
    if (buttons.empty() || !PressButton(box, buttons.back())) PostMessageW(box, WM_CLOSE, 0, 0);
    return text;
  }
  return std::wstring();
}

struct ShownSearch {
  DWORD pid;
  const std::wstring* caption;
  HWND found;
};

BOOL CALLBACK OnShownWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<ShownSearch*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->pid || !IsWindowVisible(window) || ShownText(window) != *search->caption) return TRUE;
  search->found = window;
  return FALSE;
}

// The process's visible window with the caption, its caption read without a message: the
// dialog's thread holds its last picture for a moment without answering messages, and a
// window looked for by asking it its text would be missed then.
HWND FindShownWindow(DWORD pid, const std::wstring& caption, unsigned timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    ShownSearch search{pid, &caption, nullptr};
    EnumWindows(&OnShownWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found || GetTickCount64() >= deadline) return search.found;
    Sleep(20);
  }
}

std::wstring WatchProgress(DWORD pid, const std::wstring& caption, unsigned timeoutMs) {
  std::vector<std::wstring> seen;
  HWND dialog = FindShownWindow(pid, caption, timeoutMs);
  while (dialog && IsWindow(dialog)) {
    EnumChildWindows(dialog, &CollectPercentText, reinterpret_cast<LPARAM>(&seen));
    Sleep(50);
  }
  std::wstring lines;
  for (const std::wstring& text : seen) lines += text + L"\n";
  return lines;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 9) return 2;
  const std::wstring mode = argv[1], caption = argv[3], button = argv[4], result = argv[7], ready = argv[8];
  const DWORD pid = static_cast<DWORD>(_wtoi(argv[2]));
  const unsigned timeoutMs = static_cast<unsigned>(_wtoi(argv[5]));
  UniqueHandle stop(OpenEventW(SYNCHRONIZE, FALSE, argv[6]));
  UniqueHandle readyEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, ready.c_str()));
  if (!stop || !readyEvent) return 3;
  SetEvent(readyEvent.Get());
  std::wstring text;
  if (mode == L"answer") text = Answer(pid, caption, button, timeoutMs);
  else if (mode == L"nobox") text = WatchForNoBox(pid, caption, stop.Get());
  else if (mode == L"progress") text = WatchProgress(pid, caption, timeoutMs);
  else return 2;
  return WriteResult(result, text) ? 0 : 4;
}
