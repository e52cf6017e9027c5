// The member store of the named-value collections: the members in two orders,
// the order in which they were stored and the order of their names, with
// binary search by name.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "qx/core/chunked_sequence.h"
#include "qx/core/name.h"

namespace qx {

// ItemStore<Item, NameOf> keeps raw Item pointers in two orders of equal
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
// Each order is a chunked sequence (chunked_sequence.h), so inserting,
// removing and reading by position cost O(log N + 512 + N / 512) however the
// names arrive, where sorted arrays made adding N names in random order
// quadratic. Every member carries a stamp, increasing in insertion order,
// by which a member taken out of the name order is found in the insertion
// order with a binary search.
//
// The capacity is the number of members the store takes before it grows: it
// starts at 16, doubles when an insert finds the store full, and changes
// otherwise only through SetCapacity, which also resizes the directories of
// both orders. Allocation failure throws std::bad_alloc and leaves the store
// as it was.
//
// Positions and counts are 32-bit signed, as the collections report them.
// Index arguments out of range are caller errors (asserted in debug builds).
// ChunkLength is the chunk size of both orders (the tests make it small).
template <class Item, class NameOf, class Allocator = std::allocator<Item*>, std::int32_t ChunkLength = 512>
class ItemStore {
  struct Entry {
    Item* item;
    std::uint64_t stamp;
  };
  using Sequence = detail::ChunkedSequence<Entry, Allocator, ChunkLength>;

 public:
  static constexpr std::int32_t kInitialCapacity = 16;

  struct FindResult {
    bool found;
    // The position of the match in the name order, or on a miss the
    // insertion position: the first member sorting after the key (Count()
    // when none does, 0 when the store is empty).
    std::int32_t position;
  };

  // Walks one order front to back.
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Item*;
    using difference_type = std::ptrdiff_t;
    using pointer = Item* const*;
    using reference = Item* const&;

    Iterator() = default;
    reference operator*() const { return at_->item; }
    Iterator& operator++() {
      if (++at_ == chunkEnd_) Enter(chunk_ + 1);
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.at_ == b.at_; }

   private:
    friend class ItemStore;
    Iterator(const Sequence* sequence, std::int32_t chunk) : sequence_(sequence) { Enter(chunk); }
    void Enter(std::int32_t chunk) {
      chunk_ = chunk;
      if (chunk < sequence_->ChunkCount()) {
        at_ = sequence_->ChunkData(chunk);
        chunkEnd_ = at_ + sequence_->ChunkSize(chunk);
      } else {
        at_ = chunkEnd_ = nullptr;
      }
    }
    const Sequence* sequence_ = nullptr;
    const Entry* at_ = nullptr;
    const Entry* chunkEnd_ = nullptr;
    std::int32_t chunk_ = 0;
  };

  // One order as a range, valid until the store next changes.
  class View {
   public:
    using value_type = Item*;
    Iterator begin() const { return Iterator(sequence_, 0); }
    Iterator end() const { return Iterator(sequence_, sequence_->ChunkCount()); }
    std::size_t size() const { return static_cast<std::size_t>(sequence_->Count()); }
    bool empty() const { return sequence_->Count() == 0; }
    Item* operator[](std::size_t i) const { return sequence_->At(static_cast<std::int32_t>(i)).item; }

   private:
    friend class ItemStore;
    explicit View(const Sequence& sequence) : sequence_(&sequence) {}
    const Sequence* sequence_;
  };

  // Allocates the initial capacity of 16; throws std::bad_alloc.
  explicit ItemStore(const NameComparer& comparer = NameComparer{}, NameOf nameOf = NameOf{},
                     const Allocator& allocator = Allocator{})
      : comparer_(comparer), nameOf_(std::move(nameOf)), byName_(allocator), byInsertion_(allocator) {
    SetCapacity(kInitialCapacity);
  }

  ItemStore(const ItemStore&) = delete;
  ItemStore& operator=(const ItemStore&) = delete;

  const NameComparer& Comparer() const { return comparer_; }

  // Changing the comparison would break the name order of existing members,
  // so it is only allowed while the store is empty.
  void SetComparer(const NameComparer& comparer) {
    assert(Count() == 0 && "the comparer may change only while the store is empty");
    comparer_ = comparer;
  }

  std::int32_t Count() const { return byName_.Count(); }
  std::int32_t Capacity() const { return capacity_; }
  bool Empty() const { return Count() == 0; }

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted) { sorted_ = sorted; }

  Item* NameAt(std::int32_t i) const {
    assert(i >= 0 && i < Count());
    return byName_.At(i).item;
  }
  Item* InsertionAt(std::int32_t i) const {
    assert(i >= 0 && i < Count());
    return byInsertion_.At(i).item;
  }
  Item* PublicAt(std::int32_t i) const { return sorted_ ? NameAt(i) : InsertionAt(i); }

  View ByName() const { return View(byName_); }
  View ByInsertion() const { return View(byInsertion_); }
  View PublicOrder() const { return sorted_ ? ByName() : ByInsertion(); }

  // Binary search of the name order. While more than three candidates are
  // left it halves the range at mid = (lo + hi) / 2; the last three (at
  // most) are compared in ascending order. The chunks that can hold lo and
  // hi narrow with them, so locating each probe costs little.
  FindResult Find(NameRef key) const {
    const std::int32_t count = Count();
    if (count == 0) return {false, 0};
    std::int32_t lo = 0;
    std::int32_t hi = count - 1;
    std::int32_t chunkLo = 0;
    std::int32_t chunkHi = byName_.ChunkCount() - 1;
    std::int32_t chunk = 0;
    const auto compareAt = [&](std::int32_t i) {
      chunk = chunkLo == chunkHi ? chunkLo : byName_.ChunkOf(i, chunkLo, chunkHi);
      return comparer_.Compare(nameOf_(byName_.ChunkData(chunk)[i - byName_.ChunkStart(chunk)].item), key);
    };
    while (hi - lo > 2) {
      const std::int32_t mid = (lo + hi) / 2;
      const int c = compareAt(mid);
      if (c == 0) return {true, mid};
      if (c < 0) {
        lo = mid + 1;
        chunkLo = chunk;
      } else {
        hi = mid - 1;
        chunkHi = chunk;
      }
    }
    for (std::int32_t i = lo; i <= hi; ++i) {
      const int c = compareAt(i);
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
    assert(namePosition >= 0 && namePosition <= Count());
    if (Count() == capacity_) Grow();
    const Entry entry{item, nextStamp_};
    byName_.Insert(namePosition, entry);
    try {
      byInsertion_.Insert(byInsertion_.Count(), entry);
    } catch (...) {
      byName_.Erase(namePosition);
      throw;
    }
    ++nextStamp_;
  }

  // Takes the member at namePosition out of both orders (later entries move
  // down) and returns it; the caller releases it.
  Item* RemoveAtName(std::int32_t namePosition) {
    assert(namePosition >= 0 && namePosition < Count());
    const Entry entry = byName_.Erase(namePosition);
    const std::int32_t i = byInsertion_.PartitionPoint([&](const Entry& e) { return e.stamp < entry.stamp; });
    assert(i < byInsertion_.Count() && byInsertion_.At(i).item == entry.item);
    byInsertion_.Erase(i);
    return entry.item;
  }

  // Repositions a member in the name order after its name has changed.
  // target is the insertion position Find gave for the new name (or
  // oldPosition when the new name compares equal to the old). Moving down
  // (target <= oldPosition) the member lands at target and the entries in
  // between move up one; moving up it lands at target - 1 and the entries
  // in between move down one. The insertion order is unchanged. Never
  // allocates.
  void Move(std::int32_t oldPosition, std::int32_t target) {
    assert(oldPosition >= 0 && oldPosition < Count());
    assert(target >= 0 && target <= Count());
    byName_.MoveEntry(oldPosition, target <= oldPosition ? target : target - 1);
  }

  // Sets the capacity to exactly newCapacity (newCapacity >= Count(), which
  // the caller checks; shrinking down to Count() is allowed), keeping both
  // orders. On std::bad_alloc nothing has changed.
  void SetCapacity(std::int32_t newCapacity) {
    assert(newCapacity >= Count());
    if (newCapacity == capacity_) return;
    if (newCapacity > MaxCapacity()) throw std::bad_alloc();
    // Room in the directories for full chunks, and for the first split.
    const std::int32_t chunks = newCapacity / Sequence::kChunk + 2;
    byName_.ResizeDirectory(chunks);
    byInsertion_.ResizeDirectory(chunks);
    capacity_ = newCapacity;
  }

  // Empties the store, first calling onEach(Item*) for every member in
  // insertion order (the owner clears the member's parent link and releases
  // it there; onEach must not throw). The capacity is unchanged.
  template <class F>
  void Clear(F&& onEach) {
    for (Item* item : ByInsertion()) onEach(item);
    byName_.Clear();
    byInsertion_.Clear();
  }

  // The largest capacity the store can address: 32-bit signed counts, and
  // the entries of both orders must fit the allocator.
  static constexpr std::int32_t MaxCapacity() {
    constexpr std::size_t byAllocator = std::numeric_limits<std::ptrdiff_t>::max() / (2 * sizeof(Entry));
    constexpr std::size_t byCount = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(byAllocator < byCount ? byAllocator : byCount);
  }

 private:
  void Grow() {
    std::int32_t next = kInitialCapacity;
    if (capacity_ > 0) {
      next = capacity_ <= MaxCapacity() / 2 ? capacity_ * 2 : MaxCapacity();
      if (next <= capacity_) throw std::bad_alloc();
    }
    SetCapacity(next);
  }

  NameComparer comparer_;
  NameOf nameOf_;
  Sequence byName_;
  Sequence byInsertion_;
  std::uint64_t nextStamp_ = 0;
  std::int32_t capacity_ = 0;
  bool sorted_ = true;
};

}  // namespace qx
