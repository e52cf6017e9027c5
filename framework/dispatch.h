// IDispatch for dual interfaces, served from the library's type information.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cwchar>
#include <string>
#include <vector>

namespace qx::com {

// The type library the dispatch side reads: the registered library of the given identity and
// version, or, when it is not registered, the library embedded in the module itself (so that
// late binding also works for a DLL loaded without registration).
class TypeLibrary {
 public:
  static void Configure(const GUID& libid, WORD major, WORD minor, HINSTANCE module) noexcept;
  // The type information of interface `iid`, with a reference; cached per interface.
  static HRESULT GetTypeInfo(REFIID iid, ITypeInfo** out) noexcept;
  // The library itself, with a reference.
  static HRESULT Get(ITypeLib** out) noexcept;
  // Drops everything cached (module unload).
  static void Release() noexcept;
};

// The dispatch identifiers the type information gave for single names, by their exact text:
// GetIDsOfNames of one name depends on nothing else, so a remembered answer is the answer.
// Holds at most kLimit names; thread-safe.
class DispatchNameCache {
 public:
  static constexpr size_t kLimit = 64;

  bool Find(const OLECHAR* name, DISPID* id) noexcept {
    const size_t length = std::wcslen(name);
    AcquireSRWLockShared(&lock_);
    bool found = false;
    for (const Entry& entry : entries_) {
      if (entry.name.size() == length && std::wmemcmp(entry.name.data(), name, length) == 0) {
        *id = entry.id;
        found = true;
        break;
      }
    }
    ReleaseSRWLockShared(&lock_);
    return found;
  }

  void Remember(const OLECHAR* name, DISPID id) noexcept {
    AcquireSRWLockExclusive(&lock_);
    try {
      if (entries_.size() < kLimit) entries_.push_back({name, id});
    } catch (...) {
      // Not remembered; the next look-up asks the type information again.
    }
    ReleaseSRWLockExclusive(&lock_);
  }

 private:
  struct Entry {
    std::wstring name;
    DISPID id;
  };
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<Entry> entries_;
};

// What the type information's Invoke makes of a member that returned the failure `hr`: EXCEPINFO
// (when given) with the code and the thread's error object, which this takes; DISP_E_EXCEPTION.
inline HRESULT DispatchException(HRESULT hr, EXCEPINFO* exception) noexcept {
  if (exception) {
    *exception = EXCEPINFO{};
    exception->scode = hr;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
      info->GetDescription(&exception->bstrDescription);
      info->GetHelpFile(&exception->bstrHelpFile);
      info->GetSource(&exception->bstrSource);
      info->GetHelpContext(&exception->dwHelpContext);
      info->Release();
    }
  }
  return DISP_E_EXCEPTION;
}

// A dispatch fast path serves the hot calls of an interface without the type information:
//   static bool Invoke(I* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
//                      EXCEPINFO* exception, HRESULT* hr) noexcept;
// gives true with *hr set when it served the call, false to leave it to the type information.
// It must serve only calls whose outcome it gives exactly as the type information would.
struct NoFastPath {
  template <class I>
  static bool Invoke(I*, DISPID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, HRESULT*) noexcept {
    return false;
  }
};

// Implements the four IDispatch members of dual interface I through its type information, with
// single names remembered once looked up, and the calls FastPath serves served first.
// Invoke also accepts DISPATCH_METHOD for DISPID_NEWENUM, which some script engines use to
// start an enumeration of a `_NewEnum` property.
template <class I, class FastPath = NoFastPath>
class Dual : public I {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return TypeLibrary::GetTypeInfo(__uuidof(I), out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    const bool single = count == 1 && names && names[0] && ids;
    if (single && Names().Find(names[0], ids)) return S_OK;
    ITypeInfo* info = nullptr;
    HRESULT hr = TypeLibrary::GetTypeInfo(__uuidof(I), &info);
    if (FAILED(hr)) return hr;
    hr = info->GetIDsOfNames(names, count, ids);
    info->Release();
    if (single && hr == S_OK) Names().Remember(names[0], ids[0]);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override {
    if (id == DISPID_NEWENUM && (flags & DISPATCH_METHOD)) flags |= DISPATCH_PROPERTYGET;
    HRESULT hr = S_OK;
    if (FastPath::Invoke(static_cast<I*>(this), id, flags, params, result, exception, &hr)) return hr;
    ITypeInfo* info = nullptr;
    hr = TypeLibrary::GetTypeInfo(__uuidof(I), &info);
    if (FAILED(hr)) return hr;
    hr = info->Invoke(static_cast<I*>(this), id, flags, params, result, exception, argError);
    info->Release();
    return hr;
  }

 private:
  static DispatchNameCache& Names() {
    static DispatchNameCache names;
    return names;
  }
};

}  // namespace qx::com
