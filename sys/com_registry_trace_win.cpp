#include "sys/com_registry_trace_win.h"

#include "sys/com_registration_win.h"
#include "sys/library_loading.h"
#include "sys/win_handles.h"

#include <windows.h>
#include <objbase.h>

#include <cwchar>

namespace brindle {

namespace {

// The scratch keys of the trials, one per trial, named "<process id>-<number>"; only
// administrators can write below HKLM\SOFTWARE.
const wchar_t kScratchParent[] = L"SOFTWARE\\Tamek\\Brindle\\ComTrace";

struct RedirectedRoot {
  HKEY root;
  const wchar_t* name;  // its key in the scratch
};

const RedirectedRoot kRoots[] = {{HKEY_CLASSES_ROOT, L"HKCR"},
                                 {HKEY_LOCAL_MACHINE, L"HKLM"},
                                 {HKEY_CURRENT_USER, L"HKCU"},
                                 {HKEY_USERS, L"HKU"}};

// The roots redirected into the scratch for the scope's length; each one redirected is given
// back when the scope ends.
class RootsRedirected {
 public:
  ~RootsRedirected() {
    for (HKEY root : redirected_) RegOverridePredefKey(root, nullptr);
  }
  bool Redirect(HKEY scratch) {
    for (const RedirectedRoot& entry : kRoots) {
      UniqueRegKey key;
      if (RegCreateKeyExW(scratch, entry.name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(),
                          nullptr) != ERROR_SUCCESS ||
          RegOverridePredefKey(entry.root, key.Get()) != ERROR_SUCCESS)
        return false;
      redirected_.push_back(entry.root);
    }
    return true;
  }

 private:
  std::vector<HKEY> redirected_;
};

// Scratch keys of trials whose process is gone (ended in the middle of a trial).
void RemoveStaleScratches(HKEY parent) {
  std::vector<std::wstring> stale;
  for (DWORD index = 0;; ++index) {
    wchar_t name[64];
    DWORD length = 64;
    if (RegEnumKeyExW(parent, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    const DWORD owner = static_cast<DWORD>(wcstoul(name, nullptr, 10));
    if (owner == GetCurrentProcessId()) continue;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, owner));
    if (!process || WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) stale.push_back(name);
  }
  for (const std::wstring& name : stale) RegDeleteTreeW(parent, name.c_str());
}

std::vector<std::wstring> ValueNames(HKEY key) {
  std::vector<std::wstring> names;
  std::wstring name(16384, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueW(key, index, &name[0], &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(name.substr(0, length));
  }
  return names;
}

std::vector<std::wstring> SubKeyNames(HKEY key) {
  std::vector<std::wstring> names;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(std::wstring(name, length));
  }
  return names;
}

// Reads back what the trial wrote below one root's scratch key, parents before children.
bool ReadBack(HKEY key, ComTraceRoot root, const std::wstring& path, std::vector<ComTracedKey>& keys) {
  if (!path.empty()) {
    if (keys.size() >= kMaxTracedComKeys) return false;
    ComTracedKey traced;
    traced.root = root;
    traced.path = path;
    traced.values = ValueNames(key);
    keys.push_back(std::move(traced));
  } else if (!ValueNames(key).empty()) {
    return false;  // a value in a root itself
  }
  for (const std::wstring& name : SubKeyNames(key)) {
    UniqueRegKey child;
    if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, child.Receive()) != ERROR_SUCCESS) return false;
    if (!ReadBack(child.Get(), root, path.empty() ? name : path + L"\\" + name, keys)) return false;
  }
  return true;
}

bool HasContents(HKEY scratch, const wchar_t* name) {
  UniqueRegKey key;
  if (RegOpenKeyExW(scratch, name, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
  return !SubKeyNames(key.Get()).empty() || !ValueNames(key.Get()).empty();
}

// Runs the registration with the roots redirected into the scratch; false when it failed.
bool RegisterIntoScratch(const std::wstring& path, HKEY scratch) {
  CComInitialization com;
  if (!com.Usable()) return false;
  UniqueModule library = LoadLibraryWithItsFolder(path);
  if (!library) return false;
  using ServerFunction = HRESULT(STDAPICALLTYPE*)();
  auto registerServer = reinterpret_cast<ServerFunction>(
      reinterpret_cast<void*>(GetProcAddress(library.Get(), "DllRegisterServer")));
  if (!registerServer) return false;
  RootsRedirected redirected;
  return redirected.Redirect(scratch) && registerServer() == S_OK;
}

}  // namespace

bool TraceComRegistration(const std::wstring& path, std::vector<ComTracedKey>& keys) {
  keys.clear();
  if (CComRegistration::IsLocalServer(path)) return false;
  UniqueRegKey parent;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratchParent, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      parent.Receive(), nullptr) != ERROR_SUCCESS)
    return false;
  RemoveStaleScratches(parent.Get());
  static LONG trials = 0;
  const std::wstring name =
      std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(InterlockedIncrement(&trials));
  bool traced = false;
  {
    UniqueRegKey scratch;
    DWORD disposition = 0;
    if (RegCreateKeyExW(parent.Get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, scratch.Receive(),
                        &disposition) != ERROR_SUCCESS)
      return false;
    // A key of that name left by an earlier process of the same id holds no trial of this one.
    if (disposition == REG_OPENED_EXISTING_KEY) RegDeleteTreeW(scratch.Get(), nullptr);
    traced = RegisterIntoScratch(path, scratch.Get()) && !HasContents(scratch.Get(), L"HKU");
    const struct {
      const wchar_t* name;
      ComTraceRoot root;
    } readBack[] = {{L"HKCR", ComTraceRoot::ClassesRoot},
                    {L"HKLM", ComTraceRoot::LocalMachine},
                    {L"HKCU", ComTraceRoot::CurrentUser}};
    for (const auto& entry : readBack) {
      if (!traced) break;
      UniqueRegKey key;
      traced = RegOpenKeyExW(scratch.Get(), entry.name, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS &&
               ReadBack(key.Get(), entry.root, std::wstring(), keys);
    }
  }
  RegDeleteTreeW(parent.Get(), name.c_str());
  if (!traced) keys.clear();
  return traced;
}

}  // namespace brindle
