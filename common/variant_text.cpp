#include "common/variant_text.h"

namespace qx {

namespace {

// The object `value` holds as an IDispatch with a reference, or null when it holds none (a
// non-object value, a null object, or an IUnknown that does not answer IDispatch).
com::ComPtr<IDispatch> ObjectOf(const VARIANT& value) noexcept {
  if (V_VT(&value) == VT_DISPATCH) return com::ComPtr<IDispatch>(V_DISPATCH(&value));
  if (V_VT(&value) == VT_UNKNOWN && V_UNKNOWN(&value)) {
    return com::ComPtr<IUnknown>(V_UNKNOWN(&value)).TryQuery<IDispatch>();
  }
  return {};
}

}  // namespace

HRESULT ResolveDefaultValue(const VARIANT& value, com::UniqueVariant& plain) noexcept {
  com::UniqueVariant current;
  HRESULT hr = VariantCopyInd(current.AddressOf(), const_cast<VARIANT*>(&value));
  if (FAILED(hr)) return hr;
  for (int depth = 0;; ++depth) {
    const com::ComPtr<IDispatch> object = ObjectOf(current.Get());
    if (!object) break;
    if (depth == kDefaultValueDepth) return DISP_E_TYPEMISMATCH;
    com::UniqueVariant next;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    hr = object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, next.AddressOf(),
                        nullptr, nullptr);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    hr = VariantCopyInd(current.Put(), next.AddressOf());
    if (FAILED(hr)) return hr;
  }
  plain = std::move(current);
  return S_OK;
}

HRESULT VariantToText(const VARIANT& value, com::UniqueVariant& text) noexcept {
  text.Reset();
  com::UniqueVariant plain;
  const HRESULT hr = ResolveDefaultValue(value, plain);
  if (FAILED(hr)) return hr;
  if (plain.Type() == VT_BSTR) {
    text = std::move(plain);
    return S_OK;
  }
  // No object is left, so the platform's conversion calls no client code.
  return VariantChangeType(text.AddressOf(), plain.AddressOf(), 0, VT_BSTR);
}

}  // namespace qx
