// The rules both named-value collections (NamedValues and MTNVS) apply to their item stores:
// which member an Item index selects, where a renamed member moves, how a member is added or
// replaced, how an orphan is inserted, and the IEnumVARIANT snapshot of _NewEnum.
//
// Item is the collection's member class. It provides AddRef/Release, Name() (NameRef),
// NameBstr(), SetName(UniqueBstr), Parent() and SetParent(). The caller holds whatever lock
// guards the store; these functions report their own failures and call out only where noted.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "common/error_reporter.h"
#include "common/variant_text.h"
#include "framework/enum_variant.h"
#include "framework/owners.h"
#include "namedvalues/name_rules.h"
#include "qx/core/item_store.h"

namespace qx {

// The member selected by `index`, by name or 1-based position in the public order; no reference
// is added. A string names a member first, then is read as a number; a number selects by position,
// and one out of range is still tried as a name ("5" finds a member named 5).
template <class Item, class Names, class Alloc>
HRESULT LookupMember(const ItemStore<Item, Names, Alloc>& store, const VARIANT& index, Item** member) {
  const auto pick = [&](Item* chosen) {
    *member = chosen;
    return S_OK;
  };
  // The common case, a name that is there, is searched with the caller's string as it is; only
  // the other cases need a copy of the index to convert.
  const BSTR name = V_VT(&index) == VT_BSTR                                     ? V_BSTR(&index)
                    : V_VT(&index) == (VT_BYREF | VT_BSTR) && V_BSTRREF(&index) ? *V_BSTRREF(&index)
                                                                                : nullptr;
  if (name) {
    const auto [found, position] = store.Find(NameOf(name));
    if (found) return pick(store.NameAt(position));
  }

  com::UniqueVariant key;
  HRESULT hr = VariantCopyInd(key.AddressOf(), const_cast<VARIANT*>(&index));
  if (FAILED(hr)) return PropagateHResult(hr);
  const auto inRange = [&](LONG n) { return n >= 1 && n <= store.Count(); };

  // A string names a member first (unless that same string was searched above).
  if (key.Type() == VT_BSTR && !name) {
    const auto [found, position] = store.Find(NameOf(V_BSTR(&key.Get())));
    if (found) return pick(store.NameAt(position));
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
        return pick(store.PublicAt(V_I4(&key.Get()) - 1));
      }
      break;
    default:
      break;
  }
  // Anything else may still be the name of a member in its text form (the number 5 finds "5").
  // An object stands for its default value, read once here with a depth limit (reading it runs
  // the object's code, so nothing of the store is held across it).
  com::UniqueVariant plain;
  if (FAILED(ResolveDefaultValue(key.Get(), plain))) return ReportSystemError(E_INVALIDARG);
  {
    com::UniqueVariant text;
    if (SUCCEEDED(VariantChangeType(text.AddressOf(), plain.AddressOf(), 0, VT_BSTR))) {
      const auto [found, position] = store.Find(NameOf(V_BSTR(&text.Get())));
      if (found) return pick(store.NameAt(position));
    }
  }
  com::UniqueVariant number;
  if (FAILED(VariantChangeType(number.AddressOf(), plain.AddressOf(), 0, VT_I4))) {
    if (key.Type() == VT_BSTR) return LibraryError(msg::kNameNotFound, V_BSTR(&key.Get()));
    return ReportSystemError(E_INVALIDARG);
  }
  if (!inRange(V_I4(&number.Get()))) return LibraryError(msg::kItemNumberRange, L"");
  return pick(store.PublicAt(V_I4(&number.Get()) - 1));
}

// LookupMember handing the member out, with a reference, as `Out` (an interface it implements).
template <class Out, class Item, class Names, class Alloc>
HRESULT LookupMemberAs(const ItemStore<Item, Names, Alloc>& store, const VARIANT& index, Out** out) {
  Item* member = nullptr;
  const HRESULT hr = LookupMember(store, index, &member);
  if (SUCCEEDED(hr)) {
    member->AddRef();
    *out = member;
  }
  return hr;
}

// INameResolver::Resolve: the value of the member that Item with the string index `name` selects,
// read through the member's own Value.
template <class Item, class Names, class Alloc>
HRESULT ResolveMember(const ItemStore<Item, Names, Alloc>& store, BSTR name, VARIANT* value) {
  if (!value) return ReportSystemError(E_POINTER);
  VariantInit(value);
  VARIANT index;  // borrows the string
  V_VT(&index) = VT_BSTR;
  V_BSTR(&index) = name;
  com::ComPtr<Item> member;
  const HRESULT hr = LookupMemberAs(store, index, member.Put());
  return FAILED(hr) ? hr : member->get_Value(value);
}

// Where renaming oldName to newName takes its member: `position` is the member's place in the
// name order, `target` the insertion position for Move. A new name that compares equal to the old
// one (a change of case only, say) keeps the place and needs no duplicate check.
template <class Item, class Names, class Alloc>
HRESULT FindRename(const ItemStore<Item, Names, Alloc>& store, BSTR oldName, BSTR newName, std::int32_t* position,
                   std::int32_t* target) {
  const auto [found, at] = store.Find(NameOf(oldName));
  if (!found) return LibraryError(msg::kNameNotFound, oldName);
  *position = *target = at;
  if (store.Comparer().Compare(NameOf(newName), NameOf(oldName)) != 0) {
    const auto [taken, insertAt] = store.Find(NameOf(newName));
    if (taken) return LibraryError(msg::kDuplicateName, newName);
    *target = insertAt;
  }
  return S_OK;
}

// The add-or-replace step of InternalAdd for a key already trimmed by the collection's style:
// a member with that name gets assign(Item*) (unless duplicates are refused); otherwise make(key)
// builds a new member (a ComPtr<Item>, the store's reference) with a copy of the key, and it is
// stored. `placed` (optional) receives the member with a reference of its own.
template <class Item, class Names, class Alloc, class Assign, class Make>
HRESULT PlaceMember(ItemStore<Item, Names, Alloc>& store, NameRef key, bool replaceDuplicates, Item** placed,
                    Assign&& assign, Make&& make) {
  const auto [found, position] = store.Find(key);
  if (found) {
    if (!replaceDuplicates) return LibraryError(msg::kDuplicateName, CopyName(key).Get());
    // Held here: releasing the old value may run client code that removes the member.
    const com::ComPtr<Item> existing(store.NameAt(position));
    const HRESULT hr = assign(existing.Get());
    if (FAILED(hr)) return PropagateHResult(hr);
    if (placed) existing.CopyTo(placed);
    return S_OK;
  }
  com::ComPtr<Item> member;
  try {
    member = make(key);
  } catch (const com::ComError& e) {
    return PropagateHResult(e.Code());
  }
  try {
    store.Insert(position, member.Get());
  } catch (const std::bad_alloc&) {
    member->SetParent(nullptr);
    return PropagateHResult(E_OUTOFMEMORY);
  }
  Item* const stored = member.Detach();  // the store's reference
  if (placed) {
    stored->AddRef();
    *placed = stored;
  }
  return S_OK;
}

// Inserts an orphan member, trimming its name by the collection's style first; `parent` becomes
// its parent. The caller has checked that `member` is one of its own kind and holds the member's
// own lock where it has one.
template <class Item, class Names, class Alloc, class Parent>
HRESULT InsertOrphan(ItemStore<Item, Names, Alloc>& store, const NameStyle& style, Item* member, Parent* parent) {
  if (member->Parent()) return LibraryError(msg::kNotOrphan, L"");
  // An orphan may carry any name; here it takes this collection's trimming.
  if (member->Name().length > 0) {
    const NameRef trimmed = NormalizeName(style, member->Name());
    if (trimmed.length != member->Name().length) member->SetName(CopyName(trimmed));
  }
  const auto [found, position] = store.Find(member->Name());
  if (found) return LibraryError(msg::kDuplicateName, member->NameBstr());
  try {
    store.Insert(position, member);
  } catch (const std::bad_alloc&) {
    return ReportHResult(E_OUTOFMEMORY);
  }
  member->AddRef();  // the store's reference
  member->SetParent(parent);
  return S_OK;
}

// Empties the store, then releases its members: orphan(Item*) clears each member's parent link as
// it leaves, and the releases, which may run client code that calls back into the collection,
// come only once the store is empty. Without room for the list of members they leave one at a
// time, the store consistent at each release.
template <class Item, class Names, class Alloc, class Orphan>
void ReleaseAllMembers(ItemStore<Item, Names, Alloc>& store, Orphan&& orphan) noexcept {
  std::vector<Item*> leaving;
  try {
    leaving.reserve(static_cast<size_t>(store.Count()));
  } catch (const std::bad_alloc&) {
    while (!store.Empty()) {
      Item* member = store.RemoveAtName(store.Count() - 1);
      orphan(member);
      member->Release();
    }
    return;
  }
  store.Clear([&](Item* member) {
    orphan(member);
    leaving.push_back(member);  // within the reserved room: cannot throw
  });
  for (Item* member : leaving) member->Release();
}

// The _NewEnum of a collection: a standard IEnumVARIANT over a snapshot of the members as
// VT_DISPATCH values (their INamedValue2 duals). Throws std::bad_alloc.
template <class Members>
IUnknown* NewMemberEnumVariant(const Members& members) {
  auto snapshot = std::make_shared<com::VariantSnapshot>();
  snapshot->Reserve(members.size());
  for (auto* member : members) snapshot->AddObject(static_cast<INamedValue2*>(member));
  auto enumerator = com::MakeCom<com::SnapshotEnumVariant<>>(std::move(snapshot), 0);
  return static_cast<IEnumVARIANT*>(enumerator.Detach());
}

}  // namespace qx
