#include "mtnamedvalues/mtnvs.h"

#include <new>
#include <utility>

#include "common/error_reporter.h"
#include "mtnamedvalues/enum_mtnv.h"
#include "namedvalues/store_rules.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;

namespace {

constexpr VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// The closing reports of this class: the _MTNVS members and those of the NamedValues view.
constexpr UINT kOwn = msg::kMTNVS;
constexpr UINT kView = msg::kNamedValues;

}  // namespace

CMTNVS::CMTNVS() : items_(ComparerFor(style_)) {}

CMTNVS::~CMTNVS() {
  // Under the lock, so that an item method that got hold of it finishes first; items still held
  // by clients become orphans before the lock and the collection go.
  const auto held = lock_.Lock();
  ReleaseAll();
}

void CMTNVS::ReleaseAll() noexcept {
  ReleaseAllMembers(items_, [](CMTNV* member) {
    const auto held = member->OwnLock().Lock();
    member->SetParent(nullptr);
  });
}

HRESULT CMTNVS::get_NVS(_NamedValues** hNVS) {
  return QueryInterface(__uuidof(_NamedValues), reinterpret_cast<void**>(hNVS));
}

HRESULT CMTNVS::get_INVS2(INamedValues2** hINVS2) {
  return QueryInterface(__uuidof(INamedValues2), reinterpret_cast<void**>(hINVS2));
}

HRESULT CMTNVS::get_MTItem(VARIANT* Index, _MTNV** hVal) {
  return Locked(kOwn, L" CMTNVS::get_MTItem", [&] {
    if (!hVal || !Index) return ReportSystemError(E_POINTER);
    *hVal = nullptr;
    return LookupMemberAs(items_, *Index, hVal);
  });
}

HRESULT CMTNVS::get_MTCount(LONG* pVal) {
  return Locked(kOwn, L" CMTNVS::get_Count", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = items_.Count();
    return S_OK;
  });
}

HRESULT CMTNVS::MTAdd(BSTR Name, VARIANT* Value, _MTNV** hVal) {
  return Locked(kOwn, L" CMTNVS::Add", [&] {
    if (hVal) *hVal = nullptr;
    if (readOnly_) return E_ACCESSDENIED;
    if (!Value) return ReportSystemError(E_POINTER);
    CMTNV* member = nullptr;
    const HRESULT hr = InternalAdd(Name, *Value, false, hVal ? &member : nullptr);
    if (SUCCEEDED(hr) && hVal) *hVal = member;
    return hr;
  });
}

HRESULT CMTNVS::InternalAdd(BSTR name, const VARIANT& value, bool replaceDuplicates, CMTNV** item) noexcept {
  return ComBoundary(com::kDescribeWhereFound, L" CMTNVS::InternalAdd",
                     [&] { return PlaceValue(name, value, replaceDuplicates, item); });
}

HRESULT CMTNVS::PlaceValue(BSTR name, const VARIANT& value, bool replaceDuplicates, CMTNV** item) {
  // The value is stored without by-reference indirection (a script's variable arrives as a
  // reference), and a NamedValues value as an MTNVS: an MTNVS value is shared as it is.
  com::UniqueVariant stored;
  HRESULT hr = VariantCopyInd(stored.AddressOf(), const_cast<VARIANT*>(&value));
  if (FAILED(hr)) throw com::ComError(hr);
  if (stored.Type() == VT_DISPATCH && V_DISPATCH(&stored.Get())) {
    ComPtr<IDispatch> object(V_DISPATCH(&stored.Get()));
    if (!object.TryQuery<_MTNVS>()) {
      if (const auto nested = object.TryQuery<_NamedValues>()) {
        hr = CreateSubCollection(nested.Get(), replaceDuplicates, stored.Put());
        if (FAILED(hr)) return hr;
      }
    }
  }

  com::UniqueBstr holder;
  return PlaceMember(
      items_, TrimmedKey(style_, NameOf(name), holder), replaceDuplicates, item,
      [&](CMTNV* existing) {
        {
          const auto held = existing->OwnLock().Lock();
          existing->ExchangeValue(stored);
        }
        stored.Reset();  // the old value, released outside the item's lock
        return S_OK;
      },
      [&](NameRef key) { return com::MakeCom<CMTNV>(this, CopyName(key), std::move(stored)); });
}

HRESULT CMTNVS::CreateSubCollection(_NamedValues* source, bool replaceDuplicates, VARIANT* converted) {
  ComPtr<CMTNVS> nested;
  try {
    nested = com::MakeCom<CMTNVS>();
  } catch (...) {
    return LibraryError(msg::kCreateMTNVS, L" CMTNVS> Couldn't create MTNVS.");
  }
  if (FAILED(nested->put_Sorted(VARIANT_FALSE))) {
    return LibraryError(msg::kCreateMTNVS, L" CMTNVS> Error setting sorted flag to FALSE.");
  }
  // The new collection is not visible to any other thread yet, so its lock, taken while this
  // collection's is held, cannot take part in a deadlock.
  const HRESULT hr = nested->Merge(source, AsVariantBool(replaceDuplicates));
  if (FAILED(hr)) return hr;
  V_VT(converted) = VT_DISPATCH;
  V_DISPATCH(converted) = static_cast<INamedValues2*>(nested.Detach());
  return S_OK;
}

HRESULT CMTNVS::get__MTMemberEnum(_EnumMTNV** hVal) {
  return Locked(kOwn, L" CMTNVS::get__MTMemberEnum", [&] {
    if (!hVal) return ReportSystemError(E_POINTER);
    *hVal = nullptr;
    *hVal = com::MakeCom<C_EnumMTNV>(items_.PublicOrder()).Detach();
    return S_OK;
  });
}

HRESULT CMTNVS::MTSetSize(LONG NewSize) {
  return Locked(kOwn, L" CMTNVS::MTSetSize", [&] {
    if (readOnly_) return E_ACCESSDENIED;
    if (NewSize < items_.Count()) return ReportSystemError(E_INVALIDARG);
    items_.SetCapacity(NewSize);  // std::bad_alloc: E_OUTOFMEMORY, the store unchanged
    return S_OK;
  });
}

HRESULT CMTNVS::get_MTReadOnly(VARIANT_BOOL* pVal) {
  return Locked(kOwn, L" CMTNVS::get_MTReadOnly", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = AsVariantBool(readOnly_);
    return S_OK;
  });
}

HRESULT CMTNVS::MTFreeze() {
  return Locked(kOwn, L" CMTNVS::MTFreeze", [&] {
    readOnly_ = true;
    return S_OK;
  });
}

HRESULT CMTNVS::get_MTStyle(qxnvStyleConstants* pVal) {
  return Locked(kOwn, L" CMTNVS::get_MTStyle", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = static_cast<qxnvStyleConstants>(style_.Bits());
    return S_OK;
  });
}

HRESULT CMTNVS::put_MTStyle(qxnvStyleConstants newVal) {
  return Locked(kOwn, L" CMTNVS::put_MTStyle", [&] {
    if (readOnly_) return E_ACCESSDENIED;
    if (items_.Count() != 0) return LibraryError(msg::kStyleWithValues, L"");
    style_ = NameStyle::FromBits(newVal);
    items_.SetComparer(ComparerFor(style_));
    return S_OK;
  });
}

HRESULT CMTNVS::get_MTSorted(VARIANT_BOOL* pVal) {
  return Locked(kOwn, L" CMTNVS::get_MTSorted", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = AsVariantBool(items_.Sorted());
    return S_OK;
  });
}

HRESULT CMTNVS::put_MTSorted(VARIANT_BOOL newVal) {
  return Locked(kOwn, L" CMTNVS::put_MTSorted", [&] {
    if (readOnly_) return E_ACCESSDENIED;
    items_.SetSorted(newVal != VARIANT_FALSE);
    return S_OK;
  });
}

HRESULT CMTNVS::InternalRename(BSTR oldName, BSTR newName, bool lockItem) noexcept {
  return ComBoundary(com::kDescribeWhereFound, L" CMTNVS::InternalRename", [&] {
    if (readOnly_) return E_ACCESSDENIED;
    std::int32_t position = 0;
    std::int32_t target = 0;
    const HRESULT hr = FindRename(items_, oldName, newName, &position, &target);
    if (FAILED(hr)) return hr;
    com::UniqueBstr name = com::UniqueBstr::Copy(newName);
    CMTNV* member = items_.NameAt(position);
    if (lockItem) {
      const auto held = member->OwnLock().Lock();
      member->SetName(std::move(name));
    } else {
      member->SetName(std::move(name));
    }
    items_.Move(position, target);
    return S_OK;
  });
}

HRESULT CMTNVS::InternalRemove(BSTR name, bool lockItem) noexcept {
  if (readOnly_) return E_ACCESSDENIED;
  const auto [found, position] = items_.Find(NameOf(name));
  if (!found) return LibraryError(msg::kNameNotFound, name);
  // Out of the store first: the release below may run client code that calls back.
  CMTNV* member = items_.RemoveAtName(position);
  if (lockItem) {
    const auto held = member->OwnLock().Lock();
    member->SetParent(nullptr);
  } else {
    member->SetParent(nullptr);
    lock_.Leave();
  }
  member->Release();
  return S_OK;
}

HRESULT CMTNVS::MTRename(BSTR OldName, BSTR NewName) {
  return Locked(kOwn, L" CMTNVS::MTRename", [&] { return InternalRename(OldName, NewName, true); });
}

HRESULT CMTNVS::MTRemove(BSTR Name) {
  return Locked(kOwn, L" CMTNVS::MTRemove", [&] { return InternalRemove(Name, true); });
}

HRESULT CMTNVS::MTClear() {
  return Locked(kOwn, L" CMTNVS::MTClear", [&] {
    if (readOnly_) return E_ACCESSDENIED;
    ReleaseAll();
    return S_OK;
  });
}

HRESULT CMTNVS::MTInsert(_MTNV* toInsert) {
  return Locked(kOwn, L" CMTNVS::MTInsert", [&] {
    if (!toInsert) return ReportSystemError(E_POINTER);
    const ComPtr<CMTNV> member = com::ImplementationOf<CMTNV>(toInsert);
    if (!member) return ReportSystemError(E_FAIL);
    const auto held = member->OwnLock().Lock();
    return InsertOrphan(items_, style_, member.Get(), this);
  });
}

// ---------------------------------------------------------------------------------------------
// The NamedValues view.

HRESULT CMTNVS::get__NewEnum(IUnknown** pVal) {
  return Locked(kView, L" CMTNVS::get__NewEnum", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    *pVal = NewMemberEnumVariant(items_.PublicOrder());
    return S_OK;
  });
}

HRESULT CMTNVS::get_Item(VARIANT* Index, NamedValue** pVal) {
  return ComBoundary(com::FullConvention(kView), L" CMTNVS::get_Item", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    ComPtr<_MTNV> item;
    return HandOutAs(get_MTItem(Index, item.Put()), item, pVal);
  });
}

HRESULT CMTNVS::Add(BSTR Name, VARIANT* Value, NamedValue** pVal) {
  return Locked(kView, L" CMTNVS::Add", [&] {
    if (pVal) *pVal = nullptr;
    ComPtr<_MTNV> item;
    return HandOutAs(MTAdd(Name, Value, item.Put()), item, pVal);
  });
}

HRESULT CMTNVS::get__MemberEnum(_EnumNamedValue** pVal) {
  return Locked(kView, L" CMTNVS::get__MemberEnum", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    ComPtr<_EnumMTNV> members;
    return HandOutAs(get__MTMemberEnum(members.Put()), members, pVal);
  });
}

HRESULT CMTNVS::Insert(NamedValue* toInsert) {
  return ComBoundary(com::FullConvention(kView), L" CMTNVS::Insert", [&] {
    if (!toInsert) return ReportSystemError(E_POINTER);
    ComPtr<_MTNV> item;
    if (FAILED(toInsert->QueryInterface(__uuidof(_MTNV), item.PutVoid()))) {
      return LibraryError(msg::kNamedValues, L" CMTNVS::Insert> Not a MTNV object");
    }
    return MTInsert(item.Get());
  });
}

}  // namespace qx
