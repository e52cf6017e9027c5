// What the members of both named-value collections do with their values beyond storing them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "framework/owners.h"

namespace qx {

// The value as an object of interface I, if it is (or converts to) one that answers I; empty
// otherwise. Used to pass SlimFast and Refresh on to object values.
template <class I>
com::ComPtr<I> ValueObject(const VARIANT& v) noexcept {
  if (V_VT(&v) == VT_UNKNOWN || V_VT(&v) == VT_DISPATCH) {
    IUnknown* object = V_VT(&v) == VT_UNKNOWN ? V_UNKNOWN(&v) : V_DISPATCH(&v);
    return object ? com::ComPtr<IUnknown>(object).TryQuery<I>() : com::ComPtr<I>();
  }
  com::UniqueVariant converted;
  if (FAILED(VariantChangeType(converted.AddressOf(), const_cast<VARIANT*>(&v), 0, VT_UNKNOWN)) ||
      !V_UNKNOWN(&converted.Get())) {
    return {};
  }
  return com::ComPtr<IUnknown>(V_UNKNOWN(&converted.Get())).TryQuery<I>();
}

}  // namespace qx
