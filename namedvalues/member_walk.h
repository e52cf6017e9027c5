// Walking the members of a named-value collection (NamedValues or MTNVS) for other components:
// Traverse with a client callback, and the Refresh and SlimFast passes that reach object values.
// Both call out to client code, so they work on a counted snapshot of the members taken first:
// a callback that changes the collection never makes the walk read a freed member.
#pragma once

#include <windows.h>

#include <new>
#include <type_traits>
#include <vector>

#include "common/error_reporter.h"
#include "framework/owners.h"
#include "module/qxsdk_idl.h"
#include "qx/core/item_store.h"

namespace qx {

// The caller's function of ITraverse: the callee removes its arguments.
using TraverseCallback = HRESULT(__stdcall*)(IUnknown* member, void* passThru);

// The members in one order (a view of the store), each with a reference. Throws std::bad_alloc.
template <class Members, class Item = std::remove_pointer_t<typename Members::value_type>>
std::vector<com::ComPtr<Item>> CountedSnapshot(const Members& members) {
  std::vector<com::ComPtr<Item>> snapshot;
  snapshot.reserve(members.size());
  for (Item* member : members) snapshot.emplace_back(member);
  return snapshot;
}

// ITraverse::Traverse over a store: qxtrSorted walks the name order, qxtrUnsorted the insertion
// order, no style the public order; both styles at once are refused. The first failure (of a
// member's IUnknown or of the callback) stops the walk and is returned, undescribed; otherwise
// the last callback's result (S_FALSE included) is.
template <class Item, class Names, class Alloc>
HRESULT TraverseMembers(const ItemStore<Item, Names, Alloc>& store, void* callback, void* passThru,
                        qxtrStyleFlags style) {
  const bool sorted = (style & qxtrSorted) != 0;
  const bool unsorted = (style & qxtrUnsorted) != 0;
  if (sorted && unsorted) return LibraryError(msg::kInvalidOptions, L"");
  if (store.Empty()) return S_OK;
  if (!callback) return ReportSystemError(E_POINTER);
  const auto members = CountedSnapshot(sorted ? store.ByName() : unsorted ? store.ByInsertion() : store.PublicOrder());
  const auto call = reinterpret_cast<TraverseCallback>(callback);
  HRESULT hr = S_OK;
  for (const auto& member : members) {
    com::ComPtr<IUnknown> unknown;
    hr = member->QueryInterface(IID_IUnknown, unknown.PutVoid());
    if (SUCCEEDED(hr)) hr = call(unknown.Get(), passThru);
    if (FAILED(hr)) break;
  }
  return hr;
}

// What the Refresh and SlimFast passes visit: the store's arrays shrink to its members (the larger
// arrays stay if that fails), then the members of the public order, counted. Throws std::bad_alloc.
template <class Item, class Names, class Alloc>
std::vector<com::ComPtr<Item>> ShrunkSnapshot(ItemStore<Item, Names, Alloc>& store) {
  try {
    store.SetCapacity(store.Count());
  } catch (const std::bad_alloc&) {
  }
  return CountedSnapshot(store.PublicOrder());
}

}  // namespace qx
