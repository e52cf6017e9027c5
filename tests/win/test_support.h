// Shared helpers of the Windows test program: COM set-up, owners, and readers of the thread's
// error object.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "framework/owners.h"
#include "module/qxsdk_idl.h"

namespace qx::test {

using com::ComPtr;
using com::UniqueBstr;
using com::UniqueVariant;

// A BSTR owner from text (the text may contain NULs when given with its length).
inline UniqueBstr Bstr(const wchar_t* text) { return UniqueBstr::FromText(text); }
inline UniqueBstr Bstr(const std::wstring& text) {
  return UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size()));
}
inline std::wstring Text(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

inline UniqueVariant VarI4(LONG value) {
  UniqueVariant v;
  V_VT(v.AddressOf()) = VT_I4;
  V_I4(v.AddressOf()) = value;
  return v;
}
inline UniqueVariant VarR8(double value) {
  UniqueVariant v;
  V_VT(v.AddressOf()) = VT_R8;
  V_R8(v.AddressOf()) = value;
  return v;
}
inline UniqueVariant VarText(const std::wstring& text) {
  UniqueVariant v;
  V_VT(v.AddressOf()) = VT_BSTR;
  V_BSTR(v.AddressOf()) = Bstr(text).Detach();
  return v;
}

// What the thread's error object says; the object is left on the thread.
struct ErrorState {
  bool present = false;
  std::wstring description;
  std::wstring source;
  std::wstring helpFile;
  GUID guid{};
};
ErrorState PeekError();

// The DLL under test as loaded in this process (through COM), for DllCanUnloadNow.
HRESULT ModuleCanUnloadNow();

// A new NamedValues created through COM from the registered DLL.
ComPtr<INamedValues2> NewNamedValues();

// Invokes a member through IDispatch by name. Returns the HRESULT of Invoke; `result` receives
// the value, `exception` the description.
HRESULT InvokeByName(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args,
                     VARIANT* result, std::wstring* exception = nullptr);

}  // namespace qx::test
