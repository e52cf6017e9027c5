// IDispatch for dual interfaces, served from the library's type information.
#pragma once

#include <windows.h>
#include <oaidl.h>

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

// Implements the four IDispatch members of dual interface I through its type information.
// Invoke also accepts DISPATCH_METHOD for DISPID_NEWENUM, which some script engines use to
// start an enumeration of a `_NewEnum` property.
template <class I>
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
    ITypeInfo* info = nullptr;
    HRESULT hr = TypeLibrary::GetTypeInfo(__uuidof(I), &info);
    if (FAILED(hr)) return hr;
    hr = info->GetIDsOfNames(names, count, ids);
    info->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override {
    ITypeInfo* info = nullptr;
    HRESULT hr = TypeLibrary::GetTypeInfo(__uuidof(I), &info);
    if (FAILED(hr)) return hr;
    if (id == DISPID_NEWENUM && (flags & DISPATCH_METHOD)) flags |= DISPATCH_PROPERTYGET;
    hr = info->Invoke(static_cast<I*>(this), id, flags, params, result, exception, argError);
    info->Release();
    return hr;
  }
};

}  // namespace qx::com
