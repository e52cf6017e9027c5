// The member store of the named-value collections: the members in two orders,
// the order in which they were stored and the order of their names, with
// binary search by name.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <utility>

#include "qx/core/name.h"

namespace qx {

// ItemStore<Item, NameOf> keeps raw Item pointers in two arrays of equal
// length:
//  - by insertion: the order in which members were stored;
//  - by name: ascending under the store's NameComparer, with no two names
//    comparing equal (the callers keep it so by searching before inserting).
// The public order, the one indexed and enumerated by clients, is the name
// order while Sorted() is true (the initial state) and the insertion order
// otherwise; both orders are maintained at all times.
//
// The store does no reference counting: the owner (the COM collection) holds
// one reference per member and releases it when a member leaves (through the
// pointer RemoveAtName returns, or in the Clear callback).
//
// NameOf is a callable type, default-constructible or passed in, with
// NameRef operator()(const Item*) const giving the member's current name.
//
// Both arrays live in one allocation of 2 * Capacity() pointers. The capacity
// starts at 16, doubles when an insert finds the store full, and changes
// otherwise only through SetCapacity. Allocation failure throws std::bad_alloc
// and leaves the store as it was. Shifts are memmoves; nothing else allocates.
//
// Positions and counts are 32-bit signed, as the collections report them.
// Index arguments out of range are caller errors (asserted in debug builds).
template <class Item, class NameOf, class Allocator = std::allocator<Item*>>
class ItemStore {
 public:
  static constexpr std::int32_t kInitialCapacity = 16;

  struct FindResult {
    bool found;
    // The position of the match in the name order, or on a miss the
    // insertion position: the first member sorting after the key (Count()
    // when none does, 0 when the store is empty).
    std::int32_t position;
  };

  // Allocates the initial capacity of 16; throws std::bad_alloc.
  explicit ItemStore(const NameComparer& comparer = NameComparer{}, NameOf nameOf = NameOf{},
                     const Allocator& allocator = Allocator{})
      : comparer_(comparer), nameOf_(std::move(nameOf)), allocator_(allocator) {
    SetCapacity(kInitialCapacity);
  }

  ~ItemStore() { Deallocate(byName_, capacity_); }

  ItemStore(const ItemStore&) = delete;
  ItemStore& operator=(const ItemStore&) = delete;

  const NameComparer& Comparer() const { return comparer_; }

  // Changing the comparison would break the name order of existing members,
  // so it is only allowed while the store is empty.
  void SetComparer(const NameComparer& comparer) {
    assert(count_ == 0 && "the comparer may change only while the store is empty");
    comparer_ = comparer;
  }

  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return capacity_; }
  bool Empty() const { return count_ == 0; }

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted) { sorted_ = sorted; }

  Item* NameAt(std::int32_t i) const {
    assert(i >= 0 && i < count_);
    return byName_[i];
  }
  Item* InsertionAt(std::int32_t i) const {
    assert(i >= 0 && i < count_);
    return byInsertion_[i];
  }
  Item* PublicAt(std::int32_t i) const { return sorted_ ? NameAt(i) : InsertionAt(i); }

  std::span<Item* const> ByName() const { return {byName_, Size(count_)}; }
  std::span<Item* const> ByInsertion() const { return {byInsertion_, Size(count_)}; }
  std::span<Item* const> PublicOrder() const { return sorted_ ? ByName() : ByInsertion(); }

  // Binary search of the name order. While more than three candidates are
  // left it halves the range at mid = (lo + hi) / 2; the last three (at
  // most) are compared in ascending order.
  FindResult Find(NameRef key) const {
    if (count_ == 0) return {false, 0};
    std::int32_t lo = 0;
    std::int32_t hi = count_ - 1;
    while (hi - lo > 2) {
      const std::int32_t mid = (lo + hi) / 2;
      const int c = comparer_.Compare(nameOf_(byName_[mid]), key);
      if (c == 0) return {true, mid};
      if (c < 0) {
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
    for (std::int32_t i = lo; i <= hi; ++i) {
      const int c = comparer_.Compare(nameOf_(byName_[i]), key);
      if (c == 0) return {true, i};
      if (c > 0) return {false, i};
    }
    return {false, hi + 1};
  }

  // Stores item at namePosition of the name order (normally the insertion
  // position Find gave for its name; later entries move up) and at the end
  // of the insertion order. Grows first when full; on std::bad_alloc
  // nothing has changed.
  void Insert(std::int32_t namePosition, Item* item) {
    assert(namePosition >= 0 && namePosition <= count_);
    if (count_ == capacity_) Grow();
    Item** at = byName_ + namePosition;
    std::memmove(at + 1, at, Bytes(count_ - namePosition));
    *at = item;
    byInsertion_[count_] = item;
    ++count_;
  }

  // Takes the member at namePosition out of both orders (later entries move
  // down) and returns it; the caller releases it.
  Item* RemoveAtName(std::int32_t namePosition) {
    assert(namePosition >= 0 && namePosition < count_);
    Item* const item = byName_[namePosition];
    Item** at = byName_ + namePosition;
    std::memmove(at, at + 1, Bytes(count_ - namePosition - 1));

    std::int32_t i = 0;
    while (byInsertion_[i] != item) ++i;
    assert(i < count_);
    at = byInsertion_ + i;
    std::memmove(at, at + 1, Bytes(count_ - i - 1));
    --count_;
    return item;
  }

  // Repositions a member in the name order after its name has changed.
  // target is the insertion position Find gave for the new name (or
  // oldPosition when the new name compares equal to the old). Moving down
  // (target <= oldPosition) the member lands at target and the entries in
  // between move up one; moving up it lands at target - 1 and the entries
  // in between move down one. The insertion order is unchanged.
  void Move(std::int32_t oldPosition, std::int32_t target) {
    assert(oldPosition >= 0 && oldPosition < count_);
    assert(target >= 0 && target <= count_);
    Item* const item = byName_[oldPosition];
    if (target <= oldPosition) {
      std::memmove(byName_ + target + 1, byName_ + target, Bytes(oldPosition - target));
      byName_[target] = item;
    } else {
      std::memmove(byName_ + oldPosition, byName_ + oldPosition + 1, Bytes(target - 1 - oldPosition));
      byName_[target - 1] = item;
    }
  }

  // Reallocates both arrays to exactly newCapacity entries (newCapacity >=
  // Count(), which the caller checks), keeping both orders. Shrinking down
  // to Count() is allowed. On std::bad_alloc nothing has changed.
  void SetCapacity(std::int32_t newCapacity) {
    assert(newCapacity >= count_);
    if (newCapacity == capacity_) return;
    if (newCapacity > MaxCapacity()) throw std::bad_alloc();
    Item** const block = Allocate(newCapacity);
    if (count_ > 0) {
      std::memcpy(block, byName_, Bytes(count_));
      std::memcpy(block + newCapacity, byInsertion_, Bytes(count_));
    }
    Deallocate(byName_, capacity_);
    byName_ = block;
    byInsertion_ = block ? block + newCapacity : nullptr;
    capacity_ = newCapacity;
  }

  // Empties the store, first calling onEach(Item*) for every member in
  // insertion order (the owner clears the member's parent link and releases
  // it there; onEach must not throw). The capacity is unchanged.
  template <class F>
  void Clear(F&& onEach) {
    for (std::int32_t i = 0; i < count_; ++i) onEach(byInsertion_[i]);
    count_ = 0;
  }

  // The largest capacity the store can address: 32-bit signed counts, and
  // the 2 * capacity pointers of the block must fit the allocator.
  static constexpr std::int32_t MaxCapacity() {
    constexpr std::size_t byAllocator = std::numeric_limits<std::ptrdiff_t>::max() / (2 * sizeof(Item*));
    constexpr std::size_t byCount = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(byAllocator < byCount ? byAllocator : byCount);
  }

 private:
  using Traits = std::allocator_traits<Allocator>;

  static std::size_t Size(std::int32_t n) { return static_cast<std::size_t>(n); }
  static std::size_t Bytes(std::int32_t n) { return Size(n) * sizeof(Item*); }

  void Grow() {
    std::int32_t next = kInitialCapacity;
    if (capacity_ > 0) {
      next = capacity_ <= MaxCapacity() / 2 ? capacity_ * 2 : MaxCapacity();
      if (next <= capacity_) throw std::bad_alloc();
    }
    SetCapacity(next);
  }

  Item** Allocate(std::int32_t capacity) {
    if (capacity == 0) return nullptr;
    return Traits::allocate(allocator_, 2 * Size(capacity));
  }

  void Deallocate(Item** block, std::int32_t capacity) {
    if (block) Traits::deallocate(allocator_, block, 2 * Size(capacity));
  }

  NameComparer comparer_;
  NameOf nameOf_;
  Allocator allocator_;
  Item** byName_ = nullptr;
  Item** byInsertion_ = nullptr;  // byName_ + capacity_
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
  bool sorted_ = true;
};

}  // namespace qx
