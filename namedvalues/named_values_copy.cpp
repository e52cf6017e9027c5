// CNamedValues: moving members between collections (Copy, Merge, Clone), walking them for other
// components (Traverse, Resolve), and passing Refresh and SlimFast on to the members.
//
// A source collection or member may be any implementation of the public interfaces, so sources
// are read only through those interfaces.
#include <new>
#include <vector>

#include "common/error_reporter.h"
#include "common/request_pass.h"
#include "framework/boundary.h"
#include "namedvalues/member_transfer.h"
#include "namedvalues/member_walk.h"
#include "namedvalues/named_values.h"
#include "namedvalues/store_rules.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;
using com::kDescribeWhereFound;
using com::UniqueBstr;
using com::UniqueVariant;

namespace {

constexpr com::MethodConvention kCopyConvention = com::FullConvention(msg::kNamedValues);

}  // namespace

HRESULT CNamedValues::Copy(NamedValue* pnvSource, VARIANT_BOOL ReplaceDuplicates, NamedValue** pVal) {
  if (pVal) *pVal = nullptr;
  if (pnvSource && readOnly_) return RefuseFrozen();
  return ComBoundary(kCopyConvention, L" CNamedValues::Copy", [&] {
    if (!pnvSource) return ReportSystemError(E_POINTER);
    UniqueBstr name;
    UniqueVariant value;
    const HRESULT hr = ReadMember(pnvSource, name, value);
    if (FAILED(hr)) return hr;
    return InternalAdd(name.Get(), value.Get(), ReplaceDuplicates != VARIANT_FALSE, pVal);
  });
}

HRESULT CNamedValues::Merge(_NamedValues* pnvSource, VARIANT_BOOL ReplaceDuplicates) {
  if (pnvSource && readOnly_) return RefuseFrozen();
  return ComBoundary(kCopyConvention, L" CNamedValues::Merge", [&] {
    if (!pnvSource) return ReportSystemError(E_POINTER);
    return MergeMembers(pnvSource, [&](NamedValue* member) {
      ComPtr<NamedValue> copy;
      return Copy(member, ReplaceDuplicates, copy.Put());
    });
  });
}

HRESULT CNamedValues::Clone(INamedValues2** pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = nullptr;
  // An empty, writable collection like this one.
  const auto emptyCopy = [&](ComPtr<CNamedValues>& copy) {
    try {
      copy = com::MakeCom<CNamedValues>();
    } catch (...) {
      return ReportSystemError(E_OUTOFMEMORY);
    }
    // The new collection is empty and writable, so these cannot be refused.
    HRESULT hr = copy->put_Style(static_cast<qxnvStyleConstants>(style_.Bits()));
    if (SUCCEEDED(hr)) hr = copy->put_Sorted(items_.Sorted() ? VARIANT_TRUE : VARIANT_FALSE);
    if (FAILED(hr)) return hr;
    // The capacity is only a reservation: the store grows on demand if this fails.
    try {
      copy->items_.SetCapacity(items_.Capacity());
    } catch (const std::bad_alloc&) {
    }
    return S_OK;
  };
  ComPtr<CNamedValues> copy;
  HRESULT hr = emptyCopy(copy);
  if (FAILED(hr)) return hr;
  // The members go straight in; should any of them fail, the copy starts over by Merge, which
  // reports that failure as a Merge of this collection would.
  if (!copy->CopyMembersFrom(*this)) {
    hr = emptyCopy(copy);
    if (SUCCEEDED(hr)) hr = copy->Merge(static_cast<INamedValues2*>(this), VARIANT_FALSE);
    if (FAILED(hr)) return hr;  // the partial copy goes with `copy`
  }
  *pVal = static_cast<INamedValues2*>(copy.Detach());
  return S_OK;
}

HRESULT CNamedValues::Traverse(void* pCallback, void* pPassThru, qxtrStyleFlags Style) {
  return ReportHResult(TraverseMembers(items_, pCallback, pPassThru, Style));
}

HRESULT CNamedValues::Resolve(BSTR Name, VARIANT* pVal) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::Resolve", [&] { return ResolveMember(items_, Name, pVal); });
}

// Both pass the request on to the members' values, each collection at most once per pass (a
// collection may hold itself), over a counted snapshot of the members, since a value's code may
// change this collection meanwhile.
template <class Forward>
HRESULT CNamedValues::ForwardToMembers(int kind, Forward&& forward) {
  if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
  const RequestPass pass(static_cast<RequestPass::Kind>(kind), this);
  if (!pass.First()) return S_OK;
  std::vector<ComPtr<CNamedValue>> members;
  try {
    members = ShrunkSnapshot(items_);
  } catch (const std::bad_alloc&) {
    return S_OK;
  }
  for (const auto& member : members) forward(*member);
  return S_OK;
}

HRESULT CNamedValues::Refresh() {
  return ForwardToMembers(RequestPass::kRefresh, [](CNamedValue& member) { (void)member.Refresh(); });
}

HRESULT CNamedValues::SlimFast(LONG Reserved) {
  return ForwardToMembers(RequestPass::kSlimFast, [Reserved](CNamedValue& member) { (void)member.SlimFast(Reserved); });
}

}  // namespace qx
