// RAII owners for the platform resources the library handles: interface pointers, BSTRs,
// VARIANTs, SAFEARRAYs, kernel handles and critical sections.
//
// Every owner uses the same verbs:
//   Attach(x)    adopts x without adding a reference (the owner frees it later);
//   Detach()     gives the resource away; the owner is left empty;
//   Put()        frees what is held, then gives the address for an out-parameter;
//   AddressOf()  gives the address without freeing (for in/out use);
//   CopyTo(out)  hands out a new reference or copy; the owner keeps its own.
// Owners that must allocate throw std::bad_alloc, which the method boundary turns into
// E_OUTOFMEMORY.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <new>
#include <utility>

namespace qx::com {

// ---------------------------------------------------------------------------------------------
// ComPtr: one counted reference to an interface (or to an implementation class).
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Shares the caller's pointer: adds a reference.
  explicit ComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  ComPtr(const ComPtr<U>& other) noexcept : ComPtr(static_cast<T*>(other.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Adopts a reference the caller already owns (no AddRef).
  static ComPtr Adopt(T* p) noexcept {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  void Attach(T* p) noexcept {
    Reset();
    p_ = p;
  }
  [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T** Put() noexcept {
    Reset();
    return &p_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
  T** AddressOf() noexcept { return &p_; }

  // Hands out a new reference through an out-parameter (null stays null).
  template <class U>
  void CopyTo(U** out) const noexcept {
    *out = p_;
    if (p_) p_->AddRef();
  }

  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // QueryInterface for I; an empty pointer when the object does not answer it.
  template <class I>
  ComPtr<I> TryQuery() const noexcept {
    ComPtr<I> result;
    if (p_) p_->QueryInterface(__uuidof(I), result.PutVoid());
    return result;
  }
  [[nodiscard]] HRESULT QueryTo(REFIID iid, void** out) const noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return p_ ? p_->QueryInterface(iid, out) : E_NOINTERFACE;
  }

 private:
  T* p_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// UniqueBstr: one BSTR. A null BSTR and an empty one are different values and are kept apart.
class UniqueBstr {
 public:
  UniqueBstr() noexcept = default;
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  UniqueBstr(UniqueBstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    if (this != &other) Attach(std::exchange(other.b_, nullptr));
    return *this;
  }
  ~UniqueBstr() { Reset(); }

  // A copy of `source` with its full length (embedded NULs kept); null stays null.
  static UniqueBstr Copy(const OLECHAR* source, UINT length) {
    UniqueBstr result;
    if (source) {
      result.b_ = SysAllocStringLen(source, length);
      if (!result.b_) throw std::bad_alloc();
    }
    return result;
  }
  static UniqueBstr Copy(BSTR source) { return Copy(source, SysStringLen(source)); }
  static UniqueBstr FromText(const wchar_t* text) {
    return text ? Copy(text, static_cast<UINT>(wcslen(text))) : UniqueBstr();
  }

  void Attach(BSTR b) noexcept {
    Reset();
    b_ = b;
  }
  [[nodiscard]] BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
  void Reset() noexcept {
    if (BSTR b = std::exchange(b_, nullptr)) SysFreeString(b);
  }
  BSTR* Put() noexcept {
    Reset();
    return &b_;
  }
  BSTR* AddressOf() noexcept { return &b_; }
  // A fresh copy for an out-parameter.
  void CopyTo(BSTR* out) const { *out = Copy(b_).Detach(); }

  BSTR Get() const noexcept { return b_; }
  UINT Length() const noexcept { return SysStringLen(b_); }
  bool IsNull() const noexcept { return b_ == nullptr; }

 private:
  BSTR b_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// UniqueVariant: one VARIANT, cleared on destruction.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { VariantInit(&v_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  UniqueVariant(UniqueVariant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) Attach(other.v_);
    return *this;
  }
  ~UniqueVariant() { Reset(); }

  // Adopts the contents of `v`; `v` is left VT_EMPTY. The old value is cleared last, once this
  // owner holds the new one (see Reset).
  void Attach(VARIANT& v) noexcept {
    VARIANT old = v_;
    v_ = v;
    VariantInit(&v);
    VariantClear(&old);
  }
  // Gives the contents away into `out`, which must hold nothing that needs freeing.
  void Detach(VARIANT* out) noexcept {
    *out = v_;
    VariantInit(&v_);
  }
  // The owner is empty before the old value is cleared: clearing an object value runs its
  // release, which may read this owner again.
  void Reset() noexcept {
    VARIANT old = v_;
    VariantInit(&v_);
    VariantClear(&old);
  }
  VARIANT* Put() noexcept {
    Reset();
    return &v_;
  }
  VARIANT* AddressOf() noexcept { return &v_; }
  [[nodiscard]] HRESULT CopyTo(VARIANT* out) const noexcept { return VariantCopy(out, const_cast<VARIANT*>(&v_)); }

  const VARIANT& Get() const noexcept { return v_; }
  VARIANT& Get() noexcept { return v_; }
  VARTYPE Type() const noexcept { return V_VT(&v_); }

 private:
  VARIANT v_;
};

// ---------------------------------------------------------------------------------------------
// UniqueSafeArray: one SAFEARRAY, destroyed with its elements.
class UniqueSafeArray {
 public:
  UniqueSafeArray() noexcept = default;
  explicit UniqueSafeArray(SAFEARRAY* adopted) noexcept : a_(adopted) {}
  UniqueSafeArray(const UniqueSafeArray&) = delete;
  UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
  UniqueSafeArray(UniqueSafeArray&& other) noexcept : a_(std::exchange(other.a_, nullptr)) {}
  ~UniqueSafeArray() { Reset(); }

  void Attach(SAFEARRAY* a) noexcept {
    Reset();
    a_ = a;
  }
  [[nodiscard]] SAFEARRAY* Detach() noexcept { return std::exchange(a_, nullptr); }
  void Reset() noexcept {
    if (SAFEARRAY* a = std::exchange(a_, nullptr)) SafeArrayDestroy(a);
  }
  SAFEARRAY** Put() noexcept {
    Reset();
    return &a_;
  }
  SAFEARRAY* Get() const noexcept { return a_; }

 private:
  SAFEARRAY* a_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// UniqueHandle: one kernel handle (null and INVALID_HANDLE_VALUE both mean none).
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(HANDLE adopted) noexcept : h_(adopted) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Attach(std::exchange(other.h_, nullptr));
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  void Attach(HANDLE h) noexcept {
    Reset();
    h_ = h;
  }
  [[nodiscard]] HANDLE Detach() noexcept { return std::exchange(h_, nullptr); }
  void Reset() noexcept {
    HANDLE h = std::exchange(h_, nullptr);
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  HANDLE* Put() noexcept {
    Reset();
    return &h_;
  }
  HANDLE Get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// UniqueRegKey: one open registry key, closed when the owner goes.
class UniqueRegKey {
 public:
  UniqueRegKey() noexcept = default;
  UniqueRegKey(const UniqueRegKey&) = delete;
  UniqueRegKey& operator=(const UniqueRegKey&) = delete;
  ~UniqueRegKey() { Reset(); }

  void Attach(HKEY key) noexcept {
    Reset();
    key_ = key;
  }
  [[nodiscard]] HKEY Detach() noexcept { return std::exchange(key_, nullptr); }
  void Reset() noexcept {
    if (HKEY key = std::exchange(key_, nullptr)) RegCloseKey(key);
  }
  HKEY* Put() noexcept {
    Reset();
    return &key_;
  }
  HKEY Get() const noexcept { return key_; }

 private:
  HKEY key_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// CriticalSection with a scope guard: `auto held = section.Lock();`
class CriticalSection {
 public:
  CriticalSection() noexcept { InitializeCriticalSection(&cs_); }
  // A lock that a contending thread first spins for (`spinCount` rounds) before it sleeps: for
  // locks held briefly by many threads, where sleeping and waking cost more than the wait.
  explicit CriticalSection(DWORD spinCount) noexcept { InitializeCriticalSectionAndSpinCount(&cs_, spinCount); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection() { DeleteCriticalSection(&cs_); }

  class Guard {
   public:
    explicit Guard(CRITICAL_SECTION& cs) noexcept : cs_(&cs) { EnterCriticalSection(cs_); }
    Guard(Guard&& other) noexcept : cs_(std::exchange(other.cs_, nullptr)) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() {
      if (cs_) LeaveCriticalSection(cs_);
    }

   private:
    CRITICAL_SECTION* cs_;
  };

  [[nodiscard]] Guard Lock() noexcept { return Guard(cs_); }
  // Unguarded entry, for locks whose holding spans more than one scope; pair with Leave.
  void Enter() noexcept { EnterCriticalSection(&cs_); }
  [[nodiscard]] bool TryEnter() noexcept { return TryEnterCriticalSection(&cs_) != FALSE; }
  void Leave() noexcept { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

}  // namespace qx::com
