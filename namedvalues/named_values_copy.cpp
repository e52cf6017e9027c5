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
#include "namedvalues/named_values.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;
using com::kDescribeWhereFound;
using com::UniqueBstr;
using com::UniqueVariant;

namespace {

constexpr com::MethodConvention kCopyConvention = com::FullConvention(msg::kNamedValues);

// The caller's function of ITraverse: the callee removes its arguments.
using TraverseCallback = HRESULT(__stdcall*)(IUnknown* member, void* passThru);

// Restores the store's Sorted flag when it goes out of scope.
template <class Store>
class SortedRestorer {
 public:
  SortedRestorer(Store& store, bool sorted) : store_(store), saved_(store.Sorted()) { store_.SetSorted(sorted); }
  ~SortedRestorer() { store_.SetSorted(saved_); }
  SortedRestorer(const SortedRestorer&) = delete;
  SortedRestorer& operator=(const SortedRestorer&) = delete;

 private:
  Store& store_;
  bool saved_;
};

// Shrinks the store's arrays to its members (keeping the larger arrays if that fails).
template <class Store>
void Shrink(Store& store) noexcept {
  try {
    store.SetCapacity(store.Count());
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

HRESULT CNamedValues::Copy(NamedValue* pnvSource, VARIANT_BOOL ReplaceDuplicates, NamedValue** pVal) {
  if (pVal) *pVal = nullptr;
  // A frozen collection refuses plainly, without the closing report.
  if (pnvSource && readOnly_) {
    ClearErrorInfo();
    return ReportSystemError(E_ACCESSDENIED);
  }
  return ComBoundary(kCopyConvention, L" CNamedValues::Copy", [&] {
    if (!pnvSource) return ReportSystemError(E_POINTER);
    UniqueBstr name;
    HRESULT hr = pnvSource->get_Name(name.Put());
    if (FAILED(hr)) return PropagateHResult(hr);
    UniqueVariant value;
    hr = pnvSource->get_Value(value.Put());
    if (FAILED(hr)) return PropagateHResult(hr);
    return InternalAdd(name.Get(), value.Get(), ReplaceDuplicates != VARIANT_FALSE, pVal);
  });
}

HRESULT CNamedValues::Merge(_NamedValues* pnvSource, VARIANT_BOOL ReplaceDuplicates) {
  if (pnvSource && readOnly_) {
    ClearErrorInfo();
    return ReportSystemError(E_ACCESSDENIED);
  }
  return ComBoundary(kCopyConvention, L" CNamedValues::Merge", [&] {
    if (!pnvSource) return ReportSystemError(E_POINTER);
    // The source's own enumerator: its public order, over a snapshot (so merging a collection
    // into itself ends).
    ComPtr<_EnumNamedValue> members;
    HRESULT hr = pnvSource->get__MemberEnum(members.Put());
    if (FAILED(hr)) return PropagateHResult(hr);
    if (!members) return ReportSystemError(E_POINTER);

    // A failing member does not stop the others; the last failure is the result.
    HRESULT outcome = S_OK;
    ComPtr<NamedValue> member;
    while (members->Next(member.Put()) == S_OK && member) {
      ComPtr<NamedValue> copy;
      hr = Copy(member.Get(), ReplaceDuplicates, copy.Put());
      if (FAILED(hr)) outcome = hr;
    }
    return outcome;
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
  const bool sortedStyle = (Style & qxtrSorted) != 0;
  const bool unsortedStyle = (Style & qxtrUnsorted) != 0;
  if (sortedStyle && unsortedStyle) return LibraryError(msg::kInvalidOptions, L"");
  if (items_.Empty()) return S_OK;
  if (!pCallback) return ReportSystemError(E_POINTER);

  // The enumerator takes its snapshot in the order the style asks for; the collection's own
  // flag is put back as soon as it has.
  ComPtr<_EnumNamedValue> members;
  HRESULT hr;
  {
    SortedRestorer<Store> order(items_, sortedStyle || (!unsortedStyle && items_.Sorted()));
    hr = get__MemberEnum(members.Put());
  }
  if (FAILED(hr)) return hr;

  const auto callback = reinterpret_cast<TraverseCallback>(pCallback);
  hr = S_OK;
  ComPtr<NamedValue> member;
  while (members->Next(member.Put()) == S_OK && member) {
    ComPtr<IUnknown> unknown;
    hr = member->QueryInterface(IID_IUnknown, unknown.PutVoid());
    if (FAILED(hr)) break;
    hr = callback(unknown.Get(), pPassThru);
    if (FAILED(hr)) break;
  }
  member.Reset();
  members.Reset();
  return ReportHResult(hr);
}

HRESULT CNamedValues::Resolve(BSTR Name, VARIANT* pVal) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::Resolve", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    VariantInit(pVal);
    // The same lookup as Item with a string index (the string is only borrowed).
    VARIANT index;
    V_VT(&index) = VT_BSTR;
    V_BSTR(&index) = Name;
    CNamedValue* found = nullptr;
    HRESULT hr = Lookup(index, &found);
    if (FAILED(hr)) return hr;
    const ComPtr<CNamedValue> member = ComPtr<CNamedValue>::Adopt(found);
    return member->get_Value(pVal);
  });
}

// Both pass the request on to the members' values, each collection at most once per pass (a
// collection may hold itself), over a counted snapshot of the members, since a value's code may
// change this collection meanwhile.
template <class Forward>
HRESULT CNamedValues::ForwardToMembers(int kind, Forward&& forward) {
  if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
  const RequestPass pass(static_cast<RequestPass::Kind>(kind), this);
  if (!pass.First()) return S_OK;
  Shrink(items_);
  std::vector<ComPtr<CNamedValue>> members;
  try {
    members = Members();
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
  return ForwardToMembers(RequestPass::kSlimFast,
                          [Reserved](CNamedValue& member) { (void)member.SlimFast(Reserved); });
}

}  // namespace qx
