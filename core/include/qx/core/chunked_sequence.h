// A sequence of trivially copyable entries kept in chunks, for the orders of
// the item store: positional access, insert and removal anywhere without
// moving more than one chunk.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

namespace qx::detail {

// The entries live in chunks of at most kChunk (ChunkLength) entries, none of them empty.
// A directory holds each chunk's address and the position of its first entry
// (starts_[c]; starts_[ChunkCount()] is the count), so a position is found by
// a binary search of starts_. An insert or a removal moves the entries of one
// chunk and adjusts the starts of the chunks after it: O(kChunk + N / kChunk)
// plain word operations, where one sorted array moved N / 2 entries.
//
// Chunks are full-sized except a lone chunk, which starts small and doubles up
// to kChunk, so a small sequence takes little memory. A full chunk splits in
// two halves, except at the end, where a fresh chunk is started (appending
// keeps chunks full). A removal that leaves a chunk a quarter full merges it
// with a neighbour when the two fit in half a chunk.
//
// Every operation that allocates does so before it changes anything, so on
// std::bad_alloc the sequence is as it was. Removal and MoveEntry never
// allocate.
template <class Entry, class Allocator, std::int32_t ChunkLength = 512>
class ChunkedSequence {
  static_assert(std::is_trivially_copyable_v<Entry>);
  static_assert(ChunkLength >= 4);

 public:
  static constexpr std::int32_t kChunk = ChunkLength;
  static constexpr std::int32_t kFirstChunk = kChunk < 16 ? kChunk : 16;

  explicit ChunkedSequence(const Allocator& allocator) : allocator_(allocator) {}
  ~ChunkedSequence() {
    Clear();
    FreeDirectory(chunks_, starts_, directoryCapacity_);
  }
  ChunkedSequence(const ChunkedSequence&) = delete;
  ChunkedSequence& operator=(const ChunkedSequence&) = delete;

  std::int32_t Count() const { return starts_ ? starts_[chunkCount_] : 0; }
  std::int32_t ChunkCount() const { return chunkCount_; }
  const Entry* ChunkData(std::int32_t c) const { return chunks_[c]; }
  std::int32_t ChunkStart(std::int32_t c) const { return starts_[c]; }
  std::int32_t ChunkSize(std::int32_t c) const { return starts_[c + 1] - starts_[c]; }

  // The chunk holding position pos, searched among chunks first..last (which
  // the caller knows to include it): a guess by proportion, since chunk sizes
  // stay within a factor of four of each other, then a walk to the right one.
  std::int32_t ChunkOf(std::int32_t pos, std::int32_t first, std::int32_t last) const {
    assert(first <= last && starts_[first] <= pos && pos < starts_[last + 1]);
    const std::int64_t span = starts_[last + 1] - starts_[first];
    std::int32_t c = first + static_cast<std::int32_t>((pos - starts_[first]) * std::int64_t{last - first + 1} / span);
    while (starts_[c] > pos) --c;
    while (starts_[c + 1] <= pos) ++c;
    return c;
  }

  const Entry& At(std::int32_t pos) const {
    const std::int32_t c = ChunkOf(pos, 0, chunkCount_ - 1);
    return chunks_[c][pos - starts_[c]];
  }

  // The first position whose entry is not before(entry), for a sequence
  // ordered so that before holds for a prefix.
  template <class Before>
  std::int32_t PartitionPoint(Before before) const {
    // The first chunk whose last entry is not before, then the entry in it.
    std::int32_t lo = 0, hi = chunkCount_;
    while (lo < hi) {
      const std::int32_t mid = lo + (hi - lo) / 2;
      if (before(chunks_[mid][ChunkSize(mid) - 1])) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (lo == chunkCount_) return Count();
    const Entry* data = chunks_[lo];
    return starts_[lo] + static_cast<std::int32_t>(std::partition_point(data, data + ChunkSize(lo), before) - data);
  }

  // Reallocates the directory for at least `chunks` chunks (never fewer than
  // in use, nor than one). The entries do not move.
  void ResizeDirectory(std::int32_t chunks) {
    const std::int32_t capacity = std::max({chunks, chunkCount_, std::int32_t{1}});
    Entry** newChunks = ChunkPointerAllocator(allocator_).allocate(Size(capacity));
    std::int32_t* newStarts;
    try {
      newStarts = IndexAllocator(allocator_).allocate(Size(capacity) + 1);
    } catch (...) {
      ChunkPointerAllocator(allocator_).deallocate(newChunks, Size(capacity));
      throw;
    }
    if (starts_) {
      std::copy_n(chunks_, chunkCount_, newChunks);
      std::copy_n(starts_, chunkCount_ + 1, newStarts);
    } else {
      newStarts[0] = 0;
    }
    FreeDirectory(chunks_, starts_, directoryCapacity_);
    chunks_ = newChunks;
    starts_ = newStarts;
    directoryCapacity_ = capacity;
  }

  void Insert(std::int32_t pos, const Entry& entry) {
    assert(pos >= 0 && pos <= Count());
    if (chunkCount_ == 0) {
      if (!starts_) ResizeDirectory(1);
      chunks_[0] = NewChunk(kFirstChunk);
      firstCapacity_ = kFirstChunk;
      starts_[1] = starts_[0];
      chunkCount_ = 1;
    }
    const bool atEnd = pos == Count();
    std::int32_t c = atEnd ? chunkCount_ - 1 : ChunkOf(pos, 0, chunkCount_ - 1);
    if (ChunkSize(c) == CapacityOf(c)) {
      if (CapacityOf(c) < kChunk) {
        GrowLoneChunk();
      } else {
        if (chunkCount_ == directoryCapacity_) ResizeDirectory(2 * directoryCapacity_);
        Entry* fresh = NewChunk(kChunk);
        // Nothing below allocates.
        if (atEnd) {
          AddChunk(c + 1, fresh, pos);
        } else {
          constexpr std::int32_t kHalf = kChunk / 2;
          std::memcpy(fresh, chunks_[c] + kHalf, Bytes(kChunk - kHalf));
          AddChunk(c + 1, fresh, starts_[c] + kHalf);
        }
        if (pos > starts_[c + 1] || (atEnd && pos == starts_[c + 1])) ++c;
      }
    }
    Entry* data = chunks_[c];
    const std::int32_t offset = pos - starts_[c];
    std::memmove(data + offset + 1, data + offset, Bytes(ChunkSize(c) - offset));
    data[offset] = entry;
    for (std::int32_t k = c + 1; k <= chunkCount_; ++k) ++starts_[k];
  }

  Entry Erase(std::int32_t pos) {
    assert(pos >= 0 && pos < Count());
    const std::int32_t c = ChunkOf(pos, 0, chunkCount_ - 1);
    Entry* data = chunks_[c];
    const std::int32_t offset = pos - starts_[c];
    const Entry entry = data[offset];
    std::memmove(data + offset, data + offset + 1, Bytes(ChunkSize(c) - offset - 1));
    for (std::int32_t k = c + 1; k <= chunkCount_; ++k) --starts_[k];

    const std::int32_t size = ChunkSize(c);
    if (size == 0) {
      DropChunk(c);
    } else if (size <= kChunk / 4) {
      if (c + 1 < chunkCount_ && size + ChunkSize(c + 1) <= kChunk / 2) {
        MergeIntoPrevious(c + 1);
      } else if (c > 0 && ChunkSize(c - 1) + size <= kChunk / 2) {
        MergeIntoPrevious(c);
      }
    }
    return entry;
  }

  // Moves the entry at `from` to `to`; the entries in between shift by one
  // toward `from`. Chunk sizes stay as they are, so nothing allocates; the
  // cost is that of moving |to - from| entries.
  void MoveEntry(std::int32_t from, std::int32_t to) {
    assert(from >= 0 && from < Count() && to >= 0 && to < Count());
    if (from == to) return;
    std::int32_t c = ChunkOf(from, 0, chunkCount_ - 1);
    const Entry carried = chunks_[c][from - starts_[c]];
    std::int32_t hole = from;
    for (;;) {
      Entry* data = chunks_[c];
      const std::int32_t start = starts_[c];
      if (to < from) {
        const std::int32_t low = std::max(to, start);
        std::memmove(data + (low - start) + 1, data + (low - start), Bytes(hole - low));
        if (low == to) break;
        --c;
        data[0] = chunks_[c][ChunkSize(c) - 1];
        hole = start - 1;
      } else {
        const std::int32_t last = starts_[c + 1] - 1;
        const std::int32_t high = std::min(to, last);
        std::memmove(data + (hole - start), data + (hole - start) + 1, Bytes(high - hole));
        if (high == to) break;
        data[last - start] = chunks_[c + 1][0];
        ++c;
        hole = last + 1;
      }
    }
    chunks_[c][to - starts_[c]] = carried;
  }

  // Frees every chunk; the directory stays.
  void Clear() {
    for (std::int32_t c = 0; c < chunkCount_; ++c) FreeChunk(chunks_[c], CapacityOf(c));
    chunkCount_ = 0;
    if (starts_) starts_[0] = 0;
  }

 private:
  using Traits = std::allocator_traits<Allocator>;
  using EntryAllocator = typename Traits::template rebind_alloc<Entry>;
  using ChunkPointerAllocator = typename Traits::template rebind_alloc<Entry*>;
  using IndexAllocator = typename Traits::template rebind_alloc<std::int32_t>;

  static std::size_t Size(std::int32_t n) { return static_cast<std::size_t>(n); }
  static std::size_t Bytes(std::int32_t n) { return Size(n) * sizeof(Entry); }

  std::int32_t CapacityOf(std::int32_t) const { return chunkCount_ == 1 ? firstCapacity_ : kChunk; }

  Entry* NewChunk(std::int32_t capacity) { return EntryAllocator(allocator_).allocate(Size(capacity)); }
  void FreeChunk(Entry* chunk, std::int32_t capacity) { EntryAllocator(allocator_).deallocate(chunk, Size(capacity)); }

  void FreeDirectory(Entry** chunks, std::int32_t* starts, std::int32_t capacity) {
    if (!starts) return;
    ChunkPointerAllocator(allocator_).deallocate(chunks, Size(capacity));
    IndexAllocator(allocator_).deallocate(starts, Size(capacity) + 1);
  }

  // Doubles the capacity of the only chunk.
  void GrowLoneChunk() {
    const std::int32_t capacity = std::min(2 * firstCapacity_, kChunk);
    Entry* grown = NewChunk(capacity);
    std::memcpy(grown, chunks_[0], Bytes(ChunkSize(0)));
    FreeChunk(chunks_[0], firstCapacity_);
    chunks_[0] = grown;
    firstCapacity_ = capacity;
  }

  // Enters a full-sized chunk into the directory at index c, starting at
  // position start (entries from start on that were in chunk c - 1 must have
  // been copied into it). The directory has room.
  void AddChunk(std::int32_t c, Entry* chunk, std::int32_t start) {
    assert(chunkCount_ < directoryCapacity_);
    std::copy_backward(chunks_ + c, chunks_ + chunkCount_, chunks_ + chunkCount_ + 1);
    std::copy_backward(starts_ + c, starts_ + chunkCount_ + 1, starts_ + chunkCount_ + 2);
    chunks_[c] = chunk;
    starts_[c] = start;
    ++chunkCount_;
  }

  // Removes chunk c from the directory and frees it; its entries, if any,
  // must have been moved into chunk c - 1, which then extends to where c
  // ended.
  void DropChunk(std::int32_t c) {
    FreeChunk(chunks_[c], CapacityOf(c));
    std::copy(chunks_ + c + 1, chunks_ + chunkCount_, chunks_ + c);
    std::copy(starts_ + c + 1, starts_ + chunkCount_ + 1, starts_ + c);
    --chunkCount_;
    // A lone chunk left over from several is full-sized.
    if (chunkCount_ == 1) firstCapacity_ = kChunk;
  }

  void MergeIntoPrevious(std::int32_t c) {
    std::memcpy(chunks_[c - 1] + ChunkSize(c - 1), chunks_[c], Bytes(ChunkSize(c)));
    DropChunk(c);
  }

  [[no_unique_address]] Allocator allocator_;
  Entry** chunks_ = nullptr;
  std::int32_t* starts_ = nullptr;  // chunkCount_ + 1 used of directoryCapacity_ + 1
  std::int32_t chunkCount_ = 0;
  std::int32_t directoryCapacity_ = 0;
  std::int32_t firstCapacity_ = 0;  // the capacity of chunk 0 while it is the only one
};

}  // namespace qx::detail
