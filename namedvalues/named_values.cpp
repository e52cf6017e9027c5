#include "namedvalues/named_values.h"

#include <memory>
#include <new>
#include <vector>

#include "common/error_reporter.h"
#include "common/variant_text.h"
#include "framework/boundary.h"
#include "framework/enum_variant.h"
#include "namedvalues/enum_named_value.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;
using com::kDescribeWhereFound;
using com::UniqueBstr;
using com::UniqueVariant;

namespace {

constexpr VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// A BSTR copy of a name's text (for keys that were trimmed out of a longer string).
UniqueBstr CopyName(NameRef name) { return UniqueBstr::Copy(reinterpret_cast<const OLECHAR*>(name.data), name.length); }

}  // namespace

CNamedValues::CNamedValues() : items_(ComparerFor(style_)) {}

CNamedValues::~CNamedValues() { ReleaseAll(); }

void CNamedValues::ReleaseAll() noexcept {
  std::vector<CNamedValue*> leaving;
  try {
    leaving.assign(items_.ByInsertion().begin(), items_.ByInsertion().end());
  } catch (const std::bad_alloc&) {
    // Without room for the list, the members leave one at a time, each taken out before it
    // is released.
    while (!items_.Empty()) {
      CNamedValue* member = items_.RemoveAtName(items_.Count() - 1);
      member->SetParent(nullptr);
      member->Release();
    }
    return;
  }
  items_.Clear([](CNamedValue* member) { member->SetParent(nullptr); });
  for (CNamedValue* member : leaving) member->Release();
}

std::vector<ComPtr<CNamedValue>> CNamedValues::Members() const {
  std::vector<ComPtr<CNamedValue>> members;
  members.reserve(static_cast<size_t>(items_.Count()));
  for (CNamedValue* member : items_.PublicOrder()) members.emplace_back(member);
  return members;
}

NameRef CNamedValues::SearchKey(NameRef name, UniqueBstr& holder) const {
  if (!style_.localeSensitive || name.IsNull() || name.data[name.length] == u'\0') return name;
  holder = CopyName(name);
  return NameOf(holder.Get());
}

// Finds the key; replaces the value of a member that has it (`assign`), or stores a new member
// made by `make` (which copies the key into the member).
template <class Assign, class Make>
HRESULT CNamedValues::Place(NameRef key, bool replaceDuplicates, NamedValue** item, Assign&& assign, Make&& make) {
  const auto [found, position] = items_.Find(key);
  if (found) {
    if (!replaceDuplicates) return LibraryError(msg::kDuplicateName, CopyName(key).Get());
    // Held here: releasing the old value may run client code that removes the member.
    const ComPtr<CNamedValue> existing(items_.NameAt(position));
    const HRESULT hr = assign(existing.Get());
    if (FAILED(hr)) return PropagateHResult(hr);
    if (item) existing.CopyTo(item);
    return S_OK;
  }

  ComPtr<CNamedValue> member;
  try {
    member = make(key);
  } catch (const com::ComError& e) {
    return PropagateHResult(e.Code());
  }
  try {
    items_.Insert(position, member.Get());
  } catch (const std::bad_alloc&) {
    member->SetParent(nullptr);
    return PropagateHResult(E_OUTOFMEMORY);
  }
  // The store now owns one reference; the caller may get another.
  CNamedValue* stored = member.Detach();
  if (item) {
    stored->AddRef();
    *item = stored;
  }
  return S_OK;
}

HRESULT CNamedValues::InternalAdd(BSTR name, const VARIANT& value, bool replaceDuplicates, NamedValue** item) noexcept {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::InternalAdd", [&] {
    // The key is the trimmed name; the new member keeps its own copy.
    UniqueBstr holder;
    const NameRef key = SearchKey(name ? NormalizeName(style_, NameOf(name)) : NameRef{}, holder);
    return Place(
        key, replaceDuplicates, item, [&](CNamedValue* existing) { return existing->AssignValue(value); },
        [&](NameRef newKey) { return CNamedValue::Make(this, newKey, value); });
  });
}

HRESULT CNamedValues::AddLoaded(NameRef name, NameRef valueText) noexcept {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::InternalAdd", [&] {
    // The parts are copied once each, straight into what the member keeps.
    UniqueBstr holder;
    const NameRef key = SearchKey(name.IsNull() ? NameRef{} : NormalizeName(style_, name), holder);
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
      const NameRef key = SearchKey(NormalizeName(style_, member->Name()), holder);
      const HRESULT hr = Place(
          key, false, nullptr, [](CNamedValue*) { return E_FAIL; },
          [&](NameRef newKey) { return CNamedValue::Make(this, newKey, member->Value()); });
      if (FAILED(hr)) return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

HRESULT CNamedValues::Lookup(const VARIANT& index, CNamedValue** member) {
  const auto pick = [&](CNamedValue* chosen) {
    chosen->AddRef();
    *member = chosen;
    return S_OK;
  };
  // The common case, a name that is there, is searched with the caller's string as it is; only
  // the other cases need a copy of the index to convert.
  const BSTR name = V_VT(&index) == VT_BSTR                 ? V_BSTR(&index)
                    : V_VT(&index) == (VT_BYREF | VT_BSTR) && V_BSTRREF(&index) ? *V_BSTRREF(&index)
                                                                                 : nullptr;
  if (name) {
    const auto [found, position] = items_.Find(NameOf(name));
    if (found) return pick(items_.NameAt(position));
  }

  UniqueVariant key;
  HRESULT hr = VariantCopyInd(key.AddressOf(), const_cast<VARIANT*>(&index));
  if (FAILED(hr)) return PropagateHResult(hr);
  const auto inRange = [&](LONG n) { return n >= 1 && n <= items_.Count(); };

  // A string names a member first (unless that same string was searched above).
  if (key.Type() == VT_BSTR && !name) {
    const auto [found, position] = items_.Find(NameOf(V_BSTR(&key.Get())));
    if (found) return pick(items_.NameAt(position));
  }
  // Numbers, and strings that read as numbers, select by 1-based position in the public order.
  switch (key.Type()) {
    case VT_BSTR:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_INT:
      if (SUCCEEDED(VariantChangeType(key.AddressOf(), key.AddressOf(), 0, VT_I4)) && inRange(V_I4(&key.Get()))) {
        return pick(items_.PublicAt(V_I4(&key.Get()) - 1));
      }
      break;
    default:
      break;
  }
  // Anything else may still be the name of a member in its text form (the number 5 finds "5").
  // An object stands for its default value, read once here with a depth limit (reading it runs
  // the object's code, so nothing of the store is held across it).
  UniqueVariant plain;
  if (FAILED(ResolveDefaultValue(key.Get(), plain))) return ReportSystemError(E_INVALIDARG);
  {
    UniqueVariant text;
    if (SUCCEEDED(VariantChangeType(text.AddressOf(), plain.AddressOf(), 0, VT_BSTR))) {
      const auto [found, position] = items_.Find(NameOf(V_BSTR(&text.Get())));
      if (found) return pick(items_.NameAt(position));
    }
  }
  UniqueVariant number;
  if (FAILED(VariantChangeType(number.AddressOf(), plain.AddressOf(), 0, VT_I4))) {
    if (key.Type() == VT_BSTR) return LibraryError(msg::kNameNotFound, V_BSTR(&key.Get()));
    return ReportSystemError(E_INVALIDARG);
  }
  if (!inRange(V_I4(&number.Get()))) return LibraryError(msg::kItemNumberRange, L"");
  return pick(items_.PublicAt(V_I4(&number.Get()) - 1));
}

HRESULT CNamedValues::get_Item(VARIANT* Index, NamedValue** pVal) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::get_Item", [&] {
    if (!pVal || !Index) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    CNamedValue* member = nullptr;
    const HRESULT hr = Lookup(*Index, &member);
    if (SUCCEEDED(hr)) *pVal = member;
    return hr;
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
    const auto [found, position] = items_.Find(NameOf(OldName));
    if (!found) return LibraryError(msg::kNameNotFound, OldName);
    std::int32_t target = position;
    if (items_.Comparer().Compare(NameOf(NewName), NameOf(OldName)) != 0) {
      const auto [taken, insertAt] = items_.Find(NameOf(NewName));
      if (taken) return LibraryError(msg::kDuplicateName, NewName);
      target = insertAt;
    }
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
    if (member->Parent()) return LibraryError(msg::kNotOrphan, L"");
    // An orphan may carry any name; here it takes this collection's trimming.
    if (member->Name().length > 0) {
      const NameRef trimmed = NormalizeName(style_, member->Name());
      if (trimmed.length != member->Name().length) member->SetName(CopyName(trimmed));
    }
    const auto [found, position] = items_.Find(member->Name());
    if (found) return LibraryError(msg::kDuplicateName, member->NameBstr());
    try {
      items_.Insert(position, member.Get());
    } catch (const std::bad_alloc&) {
      return ReportHResult(E_OUTOFMEMORY);
    }
    member->SetParent(this);
    [[maybe_unused]] CNamedValue* stored = member.Detach();  // the store's reference
    return S_OK;
  });
}

HRESULT CNamedValues::get__NewEnum(IUnknown** pVal) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::get__NewEnum", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    auto snapshot = std::make_shared<com::VariantSnapshot>();
    snapshot->Reserve(static_cast<size_t>(items_.Count()));
    for (CNamedValue* member : items_.PublicOrder()) snapshot->AddObject(static_cast<INamedValue2*>(member));
    auto enumerator = com::MakeCom<com::SnapshotEnumVariant<>>(std::move(snapshot), 0);
    *pVal = static_cast<IEnumVARIANT*>(enumerator.Detach());
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
