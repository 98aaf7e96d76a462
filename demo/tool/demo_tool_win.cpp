// The demo's hands and eyes under Wine: starts Brindle.exe the way the update service does and
// answers its dialogs as a person would, saving pictures of them; and reads back what a user
// could check afterwards (a file's version, a shortcut's target), or keeps a file in use.
//
//   demo_tool drive [--timeout S] [--pictures PREFIX] [--close CAPTION] -- program [args...]
//       Runs the program and answers every dialog of its process until it ends:
//       the progress dialog is pictured (PREFIX + "progress.png"); a running-program box is
//       pictured (PREFIX + "retry.png"), the window with CAPTION (the program to update) is
//       closed as its user would and [Réessayer] pressed, or [Ignorer] when there is no such
//       window; any other box is pictured (PREFIX + "message.png") and answered [Non] when it
//       asks a question (the demo restarts Wine itself), else [OK]. After S seconds (default
//       300) the program is stopped: exit code 124. Otherwise the program's exit code.
//   demo_tool version FILE        prints the file's version (a.b.c.d), or "-" when it has none
//   demo_tool shortcut FILE.lnk   prints the shortcut's target, or "-" when it cannot be read
//   demo_tool hold FILE MS        keeps FILE open without sharing deletion or writing for MS
//                                 milliseconds (a file in use, to be replaced at restart)
//   demo_tool folder CSIDL        prints the shell's special folder (25 common desktop, 23
//                                 common programs, 35 common application data, 44 common files
//                                 x86...)
//   demo_tool make-shortcut FILE.lnk TARGET WORKFOLDER DESCRIPTION
//                                 writes a shortcut as the installer does (missing folders made)
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "support/ui_driver_win.h"
#include "sys/text.h"
#include "sys/win_handles.h"

namespace {

using brindle::Utf8FromWide;
namespace ui = brindle::test;

const wchar_t kProgressCaption[] = L"Mise \u00e0 jour logicielle\u2026";
const int kProgressStatusId = 2001;
const int kProgressPercentId = 2006;

void Print(const std::wstring& text) {
  std::printf("%s\n", Utf8FromWide(text).c_str());
  std::fflush(stdout);
}

// One argument quoted for a command line, as the C runtime splits it again.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

struct WindowList {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
  auto* list = reinterpret_cast<WindowList*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == list->processId && IsWindowVisible(window)) list->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId) {
  WindowList list{processId, {}};
  EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&list));
  return list.windows;
}

bool HasButton(HWND dialog, const std::wstring& text) {
  for (const auto& button : ui::VisibleButtons(dialog))
    if (button == text) return true;
  return false;
}

std::wstring ShownTexts(HWND dialog) {
  std::wstring texts;
  for (const auto& control : ui::ReadControls(dialog)) {
    if (!control.visible || control.text.empty() || control.className == L"Button") continue;
    if (!texts.empty()) texts += L" | ";
    texts += control.text;
  }
  for (auto& c : texts)
    if (c == L'\n' || c == L'\r') c = L' ';
  return texts;
}

void Picture(HWND window, const std::wstring& path) {
  if (path.empty()) return;
  Sleep(300);  // let the window finish painting
  if (IsWindow(window) && ui::SaveWindowPng(window, path)) Print(L"  picture: " + path);
}

class Driver {
 public:
  Driver(DWORD processId, std::wstring pictures, std::wstring closeCaption)
      : processId_(processId), pictures_(std::move(pictures)), closeCaption_(std::move(closeCaption)) {}

  // One look at the process's windows; answers at most one box.
  void Step() {
    const std::vector<HWND> windows = VisibleWindowsOf(processId_);
    // A box may lie over the progress dialog: the picture, taken from the screen, would show
    // the box instead.
    bool boxShown = false;
    for (HWND window : windows)
      if (ui::WindowText(window) != kProgressCaption && !ui::VisibleButtons(window).empty()) boxShown = true;
    for (HWND window : windows) {
      if (ui::WindowText(window) == kProgressCaption) {
        WatchProgress(window, !boxShown);
        continue;
      }
      if (answered_.count(window)) continue;
      if (ui::VisibleButtons(window).empty()) continue;
      Answer(window);
      return;
    }
  }

 private:
  void WatchProgress(HWND dialog, bool mayPicture) {
    const std::wstring status = ui::WindowText(GetDlgItem(dialog, kProgressStatusId));
    const std::wstring percent = ui::WindowText(GetDlgItem(dialog, kProgressPercentId));
    const std::wstring seen = status + L" " + percent;
    if (seen != lastProgress_) {
      lastProgress_ = seen;
      Print(L"  progress dialog: " + (status.empty() ? L"(no title yet)" : status) + L"  " + percent);
    }
    // The first picture is taken at once; a better one replaces it when the title is shown.
    if (mayPicture && !pictures_.empty() && (!progressPictured_ || (!status.empty() && !titledPictured_))) {
      Picture(dialog, pictures_ + L"progress.png");
      progressPictured_ = true;
      titledPictured_ = !status.empty();
    }
  }

  void Answer(HWND box) {
    answered_.insert(box);
    Print(L"  dialog \"" + ui::WindowText(box) + L"\": " + ShownTexts(box));
    std::wstring button;
    if (HasButton(box, L"R\u00e9essayer")) {
      Picture(box, pictures_.empty() ? L"" : pictures_ + L"retry.png");
      HWND running = closeCaption_.empty() ? nullptr : ui::FindDialog(closeCaption_, 0);
      if (running) {
        Print(L"  closing \"" + closeCaption_ + L"\" as its user would");
        PostMessageW(running, WM_CLOSE, 0, 0);
        ui::WaitWindowGone(running, 10000);
        Sleep(500);  // the process ends after its window
        button = L"R\u00e9essayer";
      } else {
        button = L"Ignorer";
      }
    } else {
      Picture(box, pictures_.empty() ? L"" : pictures_ + L"message.png");
      button = HasButton(box, L"Non") ? L"Non" : L"OK";
    }
    Print(L"  pressing [" + button + L"]");
    if (!ui::PressButton(box, button)) Print(L"  the button could not be pressed");
    ui::WaitWindowGone(box, 10000);
  }

  DWORD processId_;
  std::wstring pictures_;
  std::wstring closeCaption_;
  std::wstring lastProgress_;
  bool progressPictured_ = false;
  bool titledPictured_ = false;
  std::set<HWND> answered_;
};

int Drive(int argc, wchar_t** argv) {
  DWORD timeoutSeconds = 300;
  std::wstring pictures, closeCaption;
  int i = 2;
  for (; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) return 2;
    if (arg == L"--timeout") timeoutSeconds = static_cast<DWORD>(_wtoi(argv[++i]));
    else if (arg == L"--pictures") pictures = argv[++i];
    else if (arg == L"--close") closeCaption = argv[++i];
    else return 2;
  }
  if (i >= argc) return 2;
  std::wstring commandLine;
  for (int a = i; a < argc; ++a) commandLine += (a > i ? L" " : L"") + Quote(argv[a]);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    Print(L"  cannot start " + commandLine);
    return 2;
  }
  brindle::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  Driver driver(process.dwProcessId, pictures, closeCaption);
  const ULONGLONG deadline = GetTickCount64() + timeoutSeconds * 1000ULL;
  while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    if (GetTickCount64() > deadline) {
      Print(L"  no end within " + std::to_wstring(timeoutSeconds) + L" s: stopping the program");
      TerminateProcess(process.hProcess, 124);
      WaitForSingleObject(process.hProcess, 5000);
      return 124;
    }
    driver.Step();
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}

int Version(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<BYTE> data(size ? size : 1);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!size || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
    Print(L"-");
    return 1;
  }
  Print(std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
        std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
        std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
        std::to_wstring(LOWORD(info->dwFileVersionLS)));
  return 0;
}

int ShortcutTarget(const std::wstring& path) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring target = L"-";
  {
    brindle::ComPtr<IShellLinkW> link;
    brindle::ComPtr<IPersistFile> file;
    wchar_t buffer[MAX_PATH] = {};
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   link.ReceiveVoid())) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) &&
        SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
        SUCCEEDED(link->GetPath(buffer, MAX_PATH, nullptr, 0)))
      target = buffer;
  }
  CoUninitialize();
  Print(target);
  return target == L"-" ? 1 : 0;
}

int Hold(const std::wstring& path, DWORD milliseconds) {
  brindle::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    Print(L"cannot open " + path);
    return 1;
  }
  Print(L"holding " + path);
  Sleep(milliseconds);
  return 0;
}

int SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return 1;
  Print(path);
  return 0;
}

int MakeShortcut(const std::wstring& path, const std::wstring& target, const std::wstring& work,
                 const std::wstring& description) {
  const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok = false;
  {
    brindle::ComPtr<IShellLinkW> link;
    brindle::ComPtr<IPersistFile> file;
    ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    link.ReceiveVoid())) &&
         SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetWorkingDirectory(work.c_str())) &&
         SUCCEEDED(link->SetDescription(description.c_str())) &&
         SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) &&
         SUCCEEDED(file->Save(path.c_str(), TRUE));
  }
  CoUninitialize();
  if (!ok) Print(L"cannot write " + path);
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"drive") return Drive(argc, argv);
  if (command == L"version" && argc == 3) return Version(argv[2]);
  if (command == L"shortcut" && argc == 3) return ShortcutTarget(argv[2]);
  if (command == L"hold" && argc == 4) return Hold(argv[2], static_cast<DWORD>(_wtoi(argv[3])));
  if (command == L"folder" && argc == 3) return SpecialFolder(_wtoi(argv[2]));
  if (command == L"make-shortcut" && argc == 6) return MakeShortcut(argv[2], argv[3], argv[4], argv[5]);
  std::fprintf(stderr, "usage: demo_tool drive|version|shortcut|hold|folder|make-shortcut ...\n");
  return 2;
}
