#include "sys/wow64_redirection.h"

#include <algorithm>
#include <memory>

namespace brindle {

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);

template <typename Fn>
Fn Kernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name))) : nullptr;
}

// Looked up once, at start-up: not every Windows version has them.
const DisableFn g_disable = Kernel32Function<DisableFn>("Wow64DisableWow64FsRedirection");
const RevertFn g_revert = Kernel32Function<RevertFn>("Wow64RevertWow64FsRedirection");

std::mutex g_instanceLock;
std::unique_ptr<CQXWow64Redirection> g_instance;

bool SwitchOff(PVOID* oldValue) {
#ifdef _WIN64
  *oldValue = nullptr;  // a 64-bit process sees no redirection
  return true;
#else
  return g_disable && g_disable(oldValue);
#endif
}

bool SwitchBack(PVOID oldValue) {
#ifdef _WIN64
  (void)oldValue;
  return true;
#else
  return g_revert && g_revert(oldValue);
#endif
}

}  // namespace

bool IsWow64Windows() {
#ifdef _WIN64
  return true;
#else
  auto isWow64 = Kernel32Function<IsWow64ProcessFn>("IsWow64Process");
  BOOL wow64 = FALSE;
  return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
#endif
}

CQXWow64Redirection* CQXWow64Redirection::Get() {
  std::lock_guard<std::mutex> guard(g_instanceLock);
  if (!g_instance) {
    if (!IsWow64Windows()) return nullptr;
    g_instance.reset(new CQXWow64Redirection());
  }
  return g_instance.get();
}

void CQXWow64Redirection::Release() {
  std::lock_guard<std::mutex> guard(g_instanceLock);
  g_instance.reset();
}

CQXWow64Redirection::~CQXWow64Redirection() {
  std::lock_guard<std::mutex> guard(lock_);
  while (!threads_.empty()) {
    SwitchBack(oldValues_.back());
    threads_.pop_back();
    oldValues_.pop_back();
  }
}

bool CQXWow64Redirection::Disable() {
  std::lock_guard<std::mutex> guard(lock_);
  const DWORD self = GetCurrentThreadId();
  if (std::find(threads_.begin(), threads_.end(), self) != threads_.end()) return true;
  PVOID oldValue = nullptr;
  if (!SwitchOff(&oldValue)) return false;
  threads_.push_back(self);
  oldValues_.push_back(oldValue);
  return true;
}

bool CQXWow64Redirection::Revert() {
  std::lock_guard<std::mutex> guard(lock_);
  const auto it = std::find(threads_.begin(), threads_.end(), GetCurrentThreadId());
  if (it == threads_.end()) return true;
  const size_t index = static_cast<size_t>(it - threads_.begin());
  if (!SwitchBack(oldValues_[index])) return false;
  threads_.erase(it);
  oldValues_.erase(oldValues_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

bool CQXWow64Redirection::IsDisabledOnThisThread() {
  std::lock_guard<std::mutex> guard(lock_);
  return std::find(threads_.begin(), threads_.end(), GetCurrentThreadId()) != threads_.end();
}

}  // namespace brindle
