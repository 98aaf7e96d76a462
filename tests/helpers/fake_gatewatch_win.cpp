// Stands in for the launcher window in tests: registers the launcher's window class, writes one
// line per message it receives into a file, and can send a cancel request to the updater's
// hidden window after a given number of finished items, or hang: stop answering for a while
// after the first message.
// Usage: fake_gatewatch.exe <output file> <lifetime ms> [cancel-after N | hang MS]
// Lines: "ready", "record <hwnd> <kind> <total> <done> <result> <size> <zeros ok|bad> <name>",
// "end", "cancel-sent".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/coordination.h"
#include "sys/text.h"

namespace {

std::FILE* g_out = nullptr;
int g_cancelAfter = -1;
int g_finishedItems = 0;
DWORD g_hangMs = 0;

void Line(const std::string& text) {
  std::fprintf(g_out, "%s\n", text.c_str());
  std::fflush(g_out);
}

std::int32_t At(const BYTE* data, size_t offset) {
  std::int32_t v;
  std::memcpy(&v, data + offset, 4);
  return v;
}

void OnRecord(const COPYDATASTRUCT& copy) {
  if (copy.dwData != brindle::kProgressRecordMessageId) {
    Line("unknown-copydata " + std::to_string(copy.dwData));
    return;
  }
  const BYTE* data = static_cast<const BYTE*>(copy.lpData);
  std::wstring name;
  for (size_t i = 8; i + 1 < 520 && (data[i] || data[i + 1]); i += 2)
    name += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  bool zeros = copy.cbData == brindle::kProgressRecordSize;
  for (size_t i = 8 + 2 * name.size(); zeros && i < 536; ++i) zeros = data[i] == 0;
  for (size_t i = 548; zeros && i < 552; ++i) zeros = data[i] == 0;
  char head[200];
  std::snprintf(head, sizeof head, "record %d %d %d %d %d %lu %s ", At(data, 0) != 0 ? 1 : 0, At(data, 4),
                At(data, 536), At(data, 540), At(data, 544), static_cast<unsigned long>(copy.cbData),
                zeros ? "ok" : "bad");
  Line(head + brindle::Utf8FromWide(name));
  if (At(data, 4) != 0 && At(data, 544) != 0) ++g_finishedItems;
  if (g_cancelAfter >= 0 && g_finishedItems == g_cancelAfter) {
    g_cancelAfter = -1;
    HWND updater = FindWindowW(brindle::kHiddenWindowClass, nullptr);
    if (updater && PostMessageW(updater, brindle::kCancelRequestMessage, 0, 0)) Line("cancel-sent");
    else Line("cancel-failed");
  }
}

LRESULT CALLBACK GatewatchProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_COPYDATA) {
    OnRecord(*reinterpret_cast<const COPYDATASTRUCT*>(l));
    if (g_hangMs) {
      // A hung launcher: neither this answer nor any other message comes for a while.
      const DWORD hang = g_hangMs;
      g_hangMs = 0;
      Sleep(hang);
    }
    return TRUE;
  }
  if (message == brindle::kEndOfRunMessage) {
    Line("end");
    return 0;
  }
  if (message == WM_TIMER || message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, w, l);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  g_out = _wfopen(argv[1], L"wb");
  if (!g_out) return 3;
  if (argc > 4 && std::wstring(argv[3]) == L"cancel-after") g_cancelAfter = _wtoi(argv[4]);
  if (argc > 4 && std::wstring(argv[3]) == L"hang") g_hangMs = static_cast<DWORD>(_wtoi(argv[4]));
  WNDCLASSW cls = {};
  cls.lpfnWndProc = &GatewatchProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = brindle::kGatewatchWindowClass;
  if (!RegisterClassW(&cls)) return 4;
  HWND window =
      CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, cls.hInstance, nullptr);
  if (!window) return 5;
  SetTimer(window, 1, static_cast<UINT>(_wtoi(argv[2])), nullptr);
  Line("ready");
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  std::fclose(g_out);
  return 0;
}
