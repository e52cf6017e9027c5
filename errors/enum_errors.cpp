#include "errors/enum_errors.h"

#include <climits>

namespace qx {

// The enumerator reports no error objects: its results are the platform's standard codes.
HRESULT CEnumErrors::Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) {
  if (!rgVar || (celt != 1 && !pCeltFetched)) return E_POINTER;
  LONG count = 0;
  HRESULT hr = parent_->get_Count(&count);
  if (FAILED(hr)) return hr;

  ULONG fetched = 0;
  hr = S_OK;
  while (fetched < celt) {
    if (cursor_ > count) {
      hr = S_FALSE;
      break;
    }
    VARIANT& element = rgVar[fetched];
    hr = VariantClear(&element);
    if (FAILED(hr)) break;
    _QXError* view = nullptr;
    hr = parent_->get_Item(cursor_, &view);
    if (FAILED(hr)) break;
    V_VT(&element) = VT_DISPATCH;
    V_DISPATCH(&element) = view;
    ++cursor_;
    ++fetched;
  }
  if (FAILED(hr)) {
    while (fetched > 0) VariantClear(&rgVar[--fetched]);
  }
  if (pCeltFetched) *pCeltFetched = fetched;
  return hr;
}

// The cursor may pass beyond the end (it is not pulled back), so entries added later are not
// reached by a Next that follows an over-long Skip.
HRESULT CEnumErrors::Skip(ULONG celt) {
  LONG count = 0;
  const HRESULT hr = parent_->get_Count(&count);
  if (FAILED(hr)) return hr;
  const long long cursor = static_cast<long long>(cursor_) + celt;
  cursor_ = cursor > LONG_MAX ? LONG_MAX : static_cast<LONG>(cursor);
  return cursor > static_cast<long long>(count) + 1 ? S_FALSE : S_OK;
}

HRESULT CEnumErrors::Reset() {
  cursor_ = 1;
  return S_OK;
}

HRESULT CEnumErrors::Clone(IEnumVARIANT** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

}  // namespace qx
