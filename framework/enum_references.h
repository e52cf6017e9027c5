// A snapshot enumerator of counted references (IEnumConnections over CONNECTDATA,
// IEnumConnectionPoints over connection points): the items are taken with their references when
// the enumerator is made, and the references go when the last enumerator (or clone) does.
// A count of 0 is refused by Next and Skip.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <utility>
#include <vector>

#include "framework/com_object.h"
#include "framework/snapshot_cursor.h"

namespace qx::com {

// How an item holds its reference.
template <class Item>
struct ReferenceOf;
template <>
struct ReferenceOf<CONNECTDATA> {
  static IUnknown* Get(const CONNECTDATA& item) noexcept { return item.pUnk; }
};
template <class I>
struct ReferenceOf<I*> {
  static IUnknown* Get(I* item) noexcept { return item; }
};

// The shared items; each holds one reference, released with the snapshot.
template <class Item>
class ReferenceSnapshot {
 public:
  ReferenceSnapshot() = default;
  ReferenceSnapshot(const ReferenceSnapshot&) = delete;
  ReferenceSnapshot& operator=(const ReferenceSnapshot&) = delete;
  ~ReferenceSnapshot() {
    for (const Item& item : items_) {
      if (IUnknown* p = ReferenceOf<Item>::Get(item)) p->Release();
    }
  }
  // Adopts the reference the item holds. Throws std::bad_alloc, then releases it.
  void Adopt(const Item& item) {
    try {
      items_.push_back(item);
    } catch (...) {
      if (IUnknown* p = ReferenceOf<Item>::Get(item)) p->Release();
      throw;
    }
  }
  ULONG Size() const noexcept { return static_cast<ULONG>(items_.size()); }
  // A copy of item `i` with a reference of its own.
  Item CopyOf(ULONG i) const noexcept {
    const Item& item = items_[i];
    if (IUnknown* p = ReferenceOf<Item>::Get(item)) p->AddRef();
    return item;
  }

 private:
  std::vector<Item> items_;
};

template <class IEnum, class Item>
class SnapshotEnum final : public SnapshotCursor<SnapshotEnum<IEnum, Item>, IEnum, ReferenceSnapshot<Item>> {
  using Cursor = SnapshotCursor<SnapshotEnum<IEnum, Item>, IEnum, ReferenceSnapshot<Item>>;
  using Cursor::items_;
  using Cursor::position_;

 public:
  using Snapshot = ReferenceSnapshot<Item>;
  static constexpr bool kZeroCountInvalid = true;

  SnapshotEnum(std::shared_ptr<const Snapshot> items, ULONG position) noexcept : Cursor(std::move(items), position) {}

  // Hands out up to `count` items, each with a reference the caller releases. S_FALSE when
  // fewer were left.
  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (count == 0) return E_INVALIDARG;
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG done = 0;
    for (; done < count && position_ < items_->Size(); ++done, ++position_) out[done] = items_->CopyOf(position_);
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
};

using EnumConnections = SnapshotEnum<IEnumConnections, CONNECTDATA>;
using EnumConnectionPoints = SnapshotEnum<IEnumConnectionPoints, IConnectionPoint*>;

}  // namespace qx::com
