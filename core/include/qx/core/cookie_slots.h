// The slot table of a connection point: one non-zero value per connection. A connection takes
// the lowest free slot; disconnecting zeroes its slot, and slots are never removed, so a
// connection's slot index stays valid until it is disconnected. Not synchronised: the owner
// holds its lock around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qx {

class CookieSlots {
 public:
  static constexpr std::size_t kInitialCapacity = 10;

  CookieSlots() { slots_.reserve(kInitialCapacity); }

  // Puts `value` (non-zero) in the lowest free slot, appending one when none is free, and
  // returns the slot's index. The capacity grows by half when an append finds no room. Throws
  // std::bad_alloc and leaves the table as it was when growing fails.
  std::size_t Add(std::uint32_t value) {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] == 0) {
        slots_[i] = value;
        ++active_;
        return i;
      }
    }
    if (slots_.size() == slots_.capacity()) {
      const std::size_t grown = slots_.capacity() + slots_.capacity() / 2;
      slots_.reserve(grown > slots_.size() ? grown : slots_.size() + 1);
    }
    slots_.push_back(value);
    ++active_;
    return slots_.size() - 1;
  }

  // Frees slot `index`; false when there is no such slot or it is already free.
  bool Remove(std::size_t index) noexcept {
    if (index >= slots_.size() || slots_[index] == 0) return false;
    slots_[index] = 0;
    if (active_ > 0) --active_;
    return true;
  }

  // The value of slot `index` (0 for a free slot); `index` must be below Size().
  std::uint32_t At(std::size_t index) const noexcept { return slots_[index]; }
  std::size_t Size() const noexcept { return slots_.size(); }
  std::size_t Capacity() const noexcept { return slots_.capacity(); }
  std::int32_t Active() const noexcept { return active_; }

 private:
  std::vector<std::uint32_t> slots_;
  std::int32_t active_ = 0;
};

}  // namespace qx
