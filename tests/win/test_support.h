// Shared helpers of the Windows test program.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "framework/owners.h"
#include "module/qxsdk_idl.h"

namespace qx::test {

using com::ComPtr;
using com::UniqueBstr;
using com::UniqueVariant;

// A BSTR owner from text (a std::wstring may contain NULs).
inline UniqueBstr Bstr(const wchar_t* text) { return UniqueBstr::FromText(text); }
inline UniqueBstr Bstr(const std::wstring& text) {
  return UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size()));
}
inline std::wstring Text(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

// A variant of `type` that `assign` fills.
template <class F>
UniqueVariant VarOf(VARTYPE type, F assign) {
  UniqueVariant v;
  V_VT(v.AddressOf()) = type;
  assign(*v.AddressOf());
  return v;
}
inline UniqueVariant VarI4(LONG x) { return VarOf(VT_I4, [&](VARIANT& v) { V_I4(&v) = x; }); }
inline UniqueVariant VarR8(double x) { return VarOf(VT_R8, [&](VARIANT& v) { V_R8(&v) = x; }); }
inline UniqueVariant VarText(const std::wstring& t) {
  return VarOf(VT_BSTR, [&](VARIANT& v) { V_BSTR(&v) = Bstr(t).Detach(); });
}

// What the thread's error object says; the object is left on the thread.
struct ErrorState {
  bool present = false;
  IErrorInfo* object = nullptr;  // its identity only
  DWORD helpContext = 0xFFFFFFFF;
  std::wstring description;
  std::wstring source;
  std::wstring helpFile;
  GUID guid{};
};
ErrorState PeekError();

// The DLL under test as loaded in this process (through COM), for DllCanUnloadNow.
HRESULT ModuleCanUnloadNow();

// A new object created through COM from the registered DLL.
template <class I>
ComPtr<I> New(REFCLSID clsid) {
  ComPtr<I> object;
  EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), object.PutVoid()))
      << "is the DLL registered?";
  return object;
}
inline ComPtr<INamedValues2> NewNamedValues() { return New<INamedValues2>(CLSID_NamedValues); }

// `actual` is `expected` and the call left a library error object with `description`, which
// this takes off the thread.
testing::AssertionResult Fails(HRESULT expected, HRESULT actual, const std::wstring& description = L"");

LONG CountOf(INamedValues2* nv);

// The name of a NamedValue ("<null>" for a null name).
std::wstring NameOf(IUnknown* item);
// The names in the collection's public order, read through _MemberEnum.
std::vector<std::wstring> Names(INamedValues2* nv);

// The IDispatch half of a test double for dispatch interface I, without type information.
template <class I>
class NoTypeInfoDispatch : public I {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

// One row of a class's table of refusals: after the suite's own set-up for `setup`, `call` fails
// with `hr` and leaves a library error object with `description`.
template <class T>
struct Refusal {
  const char* label;
  int setup;
  std::function<HRESULT(T*)> call;
  HRESULT hr;
  std::wstring description;
};

// An outer object aggregating what a class object makes; made with new, deletes itself.
class Outer final : public IUnknown {
 public:
  HRESULT Aggregate(IClassFactory* factory) { return factory->CreateInstance(this, IID_IUnknown, inner_.PutVoid()); }
  IUnknown* Inner() const { return inner_.Get(); }
  LONG Refs() const { return refs_; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown) return *out = static_cast<IUnknown*>(this), AddRef(), S_OK;
    *out = nullptr;
    return inner_ ? inner_->QueryInterface(iid, out) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--refs_ > 0) return refs_;
    refs_ = 1;  // steady while the inner object goes
    inner_.Reset();
    delete this;
    return 0;
  }

 private:
  LONG refs_ = 1;
  ComPtr<IUnknown> inner_;
};

// `object`'s interface I, or null.
template <class I>
ComPtr<I> As(IUnknown* object) {
  ComPtr<I> result;
  if (object) object->QueryInterface(__uuidof(I), result.PutVoid());
  return result;
}

// The first failure of calls made in order, or S_OK.
inline HRESULT Chain(std::initializer_list<HRESULT> results) {
  for (HRESULT hr : results) {
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// A variant holding `object` (with a reference of its own).
inline UniqueVariant VarObject(IUnknown* object, VARTYPE type = VT_DISPATCH) {
  return VarOf(type, [&](VARIANT& v) { V_UNKNOWN(&v) = object ? (object->AddRef(), object) : nullptr; });
}

// Leaves an error object of source "Elsewhere" with `description` (none when null) on the thread,
// as an unrelated earlier call would; returns it, for identity checks.
IErrorInfo* PutThreadError(const wchar_t* description, DWORD helpContext = 0);

// The registry form of a GUID, with braces.
std::wstring GuidText(REFGUID guid);

// Wine's type-library marshaler looks a library up under locale 0 only: for the owner's
// lifetime, the 0x409 registration is mirrored under locale 0 when that entry is missing.
class NeutralLocaleTypeLib {
 public:
  NeutralLocaleTypeLib();
  ~NeutralLocaleTypeLib();
  NeutralLocaleTypeLib(const NeutralLocaleTypeLib&) = delete;
  NeutralLocaleTypeLib& operator=(const NeutralLocaleTypeLib&) = delete;

 private:
  std::wstring created_;
};

// A path in the temp folder, unique to this process: <temp>\<stem><process id><extension>.
std::wstring TempPath(const wchar_t* stem, const wchar_t* extension);

// The lines of a text file whose lines end with CR LF (checked).
std::vector<std::string> ReadLines(const std::wstring& path);

// Runs a command line to its end (at most two minutes); returns its exit code.
DWORD RunProcess(std::wstring commandLine);

// Tests that must run alone in a process are DISABLED_ tests that only a child of this program
// runs. A child that passed leaves with kChildPassed, so a filter matching nothing does not pass.
inline constexpr UINT kChildPassed = 77;
void ChildDone();
// Runs test `fullName` ("Suite.DISABLED_Name") in a new process of this program; its exit code.
DWORD RunChildTest(const std::wstring& fullName);

// A test that starts with no error object on the thread and ends with every object of the DLL
// released (DllCanUnloadNow agrees).
class LeakCheckedTest : public testing::Test {
 protected:
  void SetUp() override { SetErrorInfo(0, nullptr); }
  void TearDown() override {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "objects of the DLL are still alive after the test";
  }
};

}  // namespace qx::test
