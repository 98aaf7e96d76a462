// The hidden window of the component mode. The launcher learns its handle from the progress
// records and may send it a cancel request, which the worker sees before its next item.
#include "app/coordination.h"
#include "ui/progress_context.h"
#include "app/updater.h"
#include "logs/service_log.h"
#include "sys/child_wait.h"
#include "sys/win_handles.h"

#include <windows.h>

#include <atomic>

namespace brindle {

namespace {

using ChangeWindowMessageFilterFn = BOOL(WINAPI*)(UINT, DWORD);

// Looked up once at start-up: older systems have no window-message filter.
const ChangeWindowMessageFilterFn g_changeMessageFilter = [] {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<ChangeWindowMessageFilterFn>(
                      reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")))
                : nullptr;
}();

std::atomic<ProgressContext*> g_hiddenWindowContext{nullptr};

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == kCancelRequestMessage) {
    WriteServiceLog({L"-"}, L"BR", L"USER_CANCEL");
    if (ProgressContext* context = g_hiddenWindowContext.load()) context->cancelled = true;
    SignalCancel();  // ends a wait for the installer wrapper at once
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

// Unregisters the window class when the loop ends, on every path.
struct ClassRegistration {
  HINSTANCE module;
  ~ClassRegistration() { UnregisterClassW(kHiddenWindowClass, module); }
};

// The window procedure forgets the run's context when the loop ends: a late request must not
// reach a context that no longer exists.
struct ContextPublication {
  explicit ContextPublication(ProgressContext& context) { g_hiddenWindowContext = &context; }
  ~ContextPublication() { g_hiddenWindowContext = nullptr; }
};

}  // namespace

void RunHiddenWindow(ProgressContext& context) {
  RunHiddenWindowFor(GetModuleHandleW(L"Brindle.exe"), context);
}

void RunHiddenWindowFor(void* moduleHandle, ProgressContext& context) {
  if (g_changeMessageFilter) g_changeMessageFilter(kCancelRequestMessage, MSGFLT_ADD);
  ContextPublication publication(context);
  HINSTANCE module = static_cast<HINSTANCE>(moduleHandle);
  if (!module) return;
  WNDCLASSW cls = {};
  cls.lpfnWndProc = &HiddenWindowProc;
  cls.hInstance = module;
  cls.lpszClassName = kHiddenWindowClass;
  if (!RegisterClassW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return;
  ClassRegistration registration{module};
  // Destroyed when the loop ends, before its class is unregistered: no stale window stays
  // findable by the class name.
  UniqueWindow window(
      CreateWindowExW(WS_EX_TOOLWINDOW, kHiddenWindowClass, L"", 0, GetSystemMetrics(SM_CXFULLSCREEN) / 2,
                      GetSystemMetrics(SM_CYFULLSCREEN) / 2, 0, 0, nullptr, nullptr, module, nullptr));
  if (!window) return;
  ShowWindow(window.Get(), SW_HIDE);
  SetActiveWindow(window.Get());
  // Messages are waited for with a short time-out, so the end of the worker is noticed
  // promptly without keeping a processor busy.
  while (!context.finished) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace brindle
