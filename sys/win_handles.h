// RAII owners for the system's handles: each closes its handle once, on every path.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <tlhelp32.h>

#include <utility>

namespace brindle {

// Owns one handle-like value and releases it with Traits::Close unless it is Traits::Invalid().
template <typename Traits>
class ScopedHandle {
 public:
  using Type = typename Traits::Type;
  ScopedHandle() : value_(Traits::Invalid()) {}
  explicit ScopedHandle(Type value) : value_(value) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : value_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Type Get() const { return value_; }
  bool Valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return Valid(); }
  // For out-parameters of the API: releases what is held and hands out the slot.
  Type* Receive() {
    Reset();
    return &value_;
  }
  Type Release() {
    Type v = value_;
    value_ = Traits::Invalid();
    return v;
  }
  void Reset(Type value = Traits::Invalid()) {
    if (Valid()) Traits::Close(value_);
    value_ = value;
  }

 private:
  Type value_;
};

struct KernelHandleTraits {  // CreateFile and friends: INVALID_HANDLE_VALUE on failure
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};
struct NullableHandleTraits {  // OpenProcess, CreateMutex, threads: NULL on failure
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { CloseHandle(h); }
};
struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { RegCloseKey(h); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { FreeLibrary(h); }
};
struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { FindClose(h); }
};
struct CryptProvTraits {
  using Type = HCRYPTPROV;
  static Type Invalid() { return 0; }
  static void Close(Type h) { CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
  using Type = HCRYPTHASH;
  static Type Invalid() { return 0; }
  static void Close(Type h) { CryptDestroyHash(h); }
};
struct CryptKeyTraits {
  using Type = HCRYPTKEY;
  static Type Invalid() { return 0; }
  static void Close(Type h) { CryptDestroyKey(h); }
};
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { LocalFree(h); }
};
struct WindowTraits {  // a window this thread created: destroyed with its owner
  using Type = HWND;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { DestroyWindow(h); }
};

using UniqueFile = ScopedHandle<KernelHandleTraits>;
using UniqueHandle = ScopedHandle<NullableHandleTraits>;
using UniqueRegKey = ScopedHandle<RegKeyTraits>;
using UniqueModule = ScopedHandle<ModuleTraits>;
using UniqueFind = ScopedHandle<FindTraits>;
using UniqueCryptProv = ScopedHandle<CryptProvTraits>;
using UniqueCryptHash = ScopedHandle<CryptHashTraits>;
using UniqueCryptKey = ScopedHandle<CryptKeyTraits>;
using UniqueLocal = ScopedHandle<LocalMemoryTraits>;
using UniqueWindow = ScopedHandle<WindowTraits>;

// Owns one reference of a COM interface pointer.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : p_(p) {}  // takes over a reference
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(const ComPtr& o) {
    if (o.p_) o.p_->AddRef();
    Reset();
    p_ = o.p_;
    return *this;
  }
  ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (p_) {
      p_->Release();
      p_ = nullptr;
    }
  }
  template <typename U>
  HRESULT As(ComPtr<U>& out, REFIID iid) const {
    return p_ ? p_->QueryInterface(iid, out.ReceiveVoid()) : E_POINTER;
  }

 private:
  T* p_ = nullptr;
};

// Owns a BSTR.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(const wchar_t* text) : s_(SysAllocString(text)) {}
  ~UniqueBstr() { SysFreeString(s_); }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  BSTR Get() const { return s_; }
  BSTR* Receive() {
    SysFreeString(s_);
    s_ = nullptr;
    return &s_;
  }

 private:
  BSTR s_ = nullptr;
};

}  // namespace brindle
