// The structured-string form of NamedValues: DumpToString and LoadFromString.
#include "common/error_reporter.h"
#include "framework/boundary.h"
#include "namedvalues/named_values.h"
#include "namedvalues/text_form.h"

namespace qx {

using com::ComBoundary;
using com::kDescribeWhereFound;

HRESULT CNamedValues::DumpToString(BSTR* pStr) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::DumpToString", [&] {
    if (!pStr) return ReportSystemError(E_POINTER);
    *pStr = nullptr;
    return PropagateHResult(DumpStructuredString(Members(), pStr));
  });
}

HRESULT CNamedValues::LoadFromString(BSTR str) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::LoadFromString", [&] {
    if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
    const HRESULT failure =
        LoadStructuredString(str, [&](NameRef name, NameRef value) { return AddLoaded(name, value); });
    return FAILED(failure) ? ReportHResult(failure) : S_OK;
  });
}

}  // namespace qx
