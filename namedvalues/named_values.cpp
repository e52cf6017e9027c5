#include "namedvalues/named_values.h"

#include <new>
#include <utility>
#include <vector>

#include "common/error_reporter.h"
#include "common/variant_text.h"
#include "framework/boundary.h"
#include "namedvalues/enum_named_value.h"
#include "namedvalues/member_walk.h"
#include "namedvalues/store_rules.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;
using com::kDescribeWhereFound;
using com::UniqueBstr;
using com::UniqueVariant;

namespace {

constexpr VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

CNamedValues::CNamedValues() : items_(ComparerFor(style_)) {}

CNamedValues::~CNamedValues() { ReleaseAll(); }

void CNamedValues::ReleaseAll() noexcept {
  ReleaseAllMembers(items_, [](CNamedValue* member) { member->SetParent(nullptr); });
}

std::vector<ComPtr<CNamedValue>> CNamedValues::Members() const { return CountedSnapshot(items_.PublicOrder()); }

template <class Assign, class Make>
HRESULT CNamedValues::Place(NameRef key, bool replaceDuplicates, NamedValue** item, Assign&& assign, Make&& make) {
  CNamedValue* placed = nullptr;
  const HRESULT hr = PlaceMember(items_, key, replaceDuplicates, item ? &placed : nullptr,
                                 std::forward<Assign>(assign), std::forward<Make>(make));
  if (item && SUCCEEDED(hr)) *item = placed;
  return hr;
}

HRESULT CNamedValues::InternalAdd(BSTR name, const VARIANT& value, bool replaceDuplicates, NamedValue** item) noexcept {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::InternalAdd", [&] {
    // The key is the trimmed name; the new member keeps its own copy.
    UniqueBstr holder;
    return Place(
        TrimmedKey(style_, NameOf(name), holder), replaceDuplicates, item,
        [&](CNamedValue* existing) { return existing->AssignValue(value); },
        [&](NameRef newKey) { return CNamedValue::Make(this, newKey, value); });
  });
}

HRESULT CNamedValues::AddLoaded(NameRef name, NameRef valueText) noexcept {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::InternalAdd", [&] {
    // The parts are copied once each, straight into what the member keeps.
    UniqueBstr holder;
    const NameRef key = TrimmedKey(style_, name, holder);
    UniqueVariant value;
    V_VT(value.AddressOf()) = VT_BSTR;
    V_BSTR(value.AddressOf()) = valueText.IsNull() ? nullptr : CopyName(valueText).Detach();
    return Place(
        key, true, nullptr,
        [&](CNamedValue* existing) {
          existing->TakeValue(std::move(value));
          return S_OK;
        },
        [&](NameRef newKey) { return CNamedValue::Make(this, newKey, std::move(value)); });
  });
}

bool CNamedValues::CopyMembersFrom(const CNamedValues& source) noexcept {
  try {
    // A counted snapshot: copying a value may run its object's code.
    for (const auto& member : source.Members()) {
      UniqueBstr holder;
      const HRESULT hr = Place(
          TrimmedKey(style_, member->Name(), holder), false, nullptr, [](CNamedValue*) { return E_FAIL; },
          [&](NameRef newKey) { return CNamedValue::Make(this, newKey, member->Value()); });
      if (FAILED(hr)) return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

HRESULT CNamedValues::get_Item(VARIANT* Index, NamedValue** pVal) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::get_Item", [&] {
    if (!pVal || !Index) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    return LookupMemberAs(items_, *Index, pVal);
  });
}

HRESULT CNamedValues::get_Count(LONG* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = items_.Count();
  return S_OK;
}

HRESULT CNamedValues::Add(BSTR Name, VARIANT* Value, NamedValue** pVal) {
  if (pVal) *pVal = nullptr;
  if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
  if (!Value) return ReportSystemError(E_POINTER);
  return PropagateHResult(InternalAdd(Name, *Value, false, pVal));
}

HRESULT CNamedValues::SetSize(LONG NewSize) {
  if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
  if (NewSize < items_.Count()) return ReportSystemError(E_INVALIDARG);
  try {
    items_.SetCapacity(NewSize);
  } catch (const std::bad_alloc&) {
    return ReportHResult(E_OUTOFMEMORY);
  }
  return S_OK;
}

HRESULT CNamedValues::get_ReadOnly(VARIANT_BOOL* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = AsVariantBool(readOnly_);
  return S_OK;
}

HRESULT CNamedValues::Freeze() {
  readOnly_ = true;
  return S_OK;
}

HRESULT CNamedValues::get_Style(qxnvStyleConstants* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = static_cast<qxnvStyleConstants>(style_.Bits());
  return S_OK;
}

HRESULT CNamedValues::put_Style(qxnvStyleConstants newVal) {
  if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
  if (items_.Count() != 0) return LibraryError(msg::kStyleWithValues, L"");
  style_ = NameStyle::FromBits(newVal);
  items_.SetComparer(ComparerFor(style_));
  return S_OK;
}

HRESULT CNamedValues::get_Sorted(VARIANT_BOOL* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = AsVariantBool(items_.Sorted());
  return S_OK;
}

HRESULT CNamedValues::put_Sorted(VARIANT_BOOL newVal) {
  if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
  items_.SetSorted(newVal != VARIANT_FALSE);
  return S_OK;
}

HRESULT CNamedValues::Rename(BSTR OldName, BSTR NewName) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::Rename", [&] {
    if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
    std::int32_t position = 0;
    std::int32_t target = 0;
    const HRESULT hr = FindRename(items_, OldName, NewName, &position, &target);
    if (FAILED(hr)) return hr;
    items_.NameAt(position)->SetName(UniqueBstr::Copy(NewName));
    items_.Move(position, target);
    return S_OK;
  });
}

HRESULT CNamedValues::Remove(BSTR Name) {
  if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
  const auto [found, position] = items_.Find(NameOf(Name));
  if (!found) return LibraryError(msg::kNameNotFound, Name);
  CNamedValue* member = items_.RemoveAtName(position);
  member->SetParent(nullptr);
  member->Release();
  return S_OK;
}

HRESULT CNamedValues::Clear() {
  if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
  ReleaseAll();
  return S_OK;
}

HRESULT CNamedValues::Insert(NamedValue* toInsert) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::Insert", [&] {
    if (!toInsert) return ReportSystemError(E_POINTER);
    ComPtr<CNamedValue> member = com::ImplementationOf<CNamedValue>(toInsert);
    if (!member) return ReportSystemError(E_FAIL);
    return InsertOrphan(items_, style_, member.Get(), this);
  });
}

HRESULT CNamedValues::get__NewEnum(IUnknown** pVal) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::get__NewEnum", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    *pVal = NewMemberEnumVariant(items_.PublicOrder());
    return S_OK;
  });
}

HRESULT CNamedValues::get__MemberEnum(_EnumNamedValue** pVal) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::get__MemberEnum", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    *pVal = com::MakeCom<C_EnumNamedValue>(items_.PublicOrder()).Detach();
    return S_OK;
  });
}

}  // namespace qx
