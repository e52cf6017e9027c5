#include "mtnamedvalues/enum_mtnv.h"

#include "common/error_reporter.h"
#include "framework/boundary.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;

// Past the end: S_FALSE and a null item.
HRESULT C_EnumMTNV::MTNext(_MTNV** hVal) {
  return ComBoundary(com::FullConvention(msg::kMTNVS), L" C_EnumMTNV::Next", [&] {
    if (!hVal) return ReportSystemError(E_POINTER);
    const auto held = lock_.Lock();
    if (position_ >= items_.size()) {
      *hVal = nullptr;
      return S_FALSE;
    }
    items_[position_++].CopyTo(hVal);
    return S_OK;
  });
}

HRESULT C_EnumMTNV::Next(NamedValue** pVal) {
  return ComBoundary(com::FullConvention(msg::kNamedValues), L" C_EnumMTNV::Next", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    ComPtr<_MTNV> item;
    const HRESULT hr = MTNext(item.Put());
    if (hr != S_OK || !item) return hr;
    return item->QueryInterface(__uuidof(NamedValue), reinterpret_cast<void**>(pVal));
  });
}

}  // namespace qx
