// ErrorRecords: the entries of a QXErrors collection as plain records in one array.
//
// The array grows by half its size (4, 7, 11, 17, 26, 40, 61, ...), and records move to a new
// array by plain copy: ownership of their strings and values goes with the bytes, nothing is
// duplicated. A record's strings are copies cut at the first NUL; an absent string stays absent.
//
// The class does no locking of its own; its owner decides who may touch it when.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qx {

// One entry. A zeroed record is a fresh slot: Cause VT_EMPTY, the three strings absent.
struct ErrorRecord {
  VARIANT cause;
  BSTR source;
  BSTR helpFile;
  BSTR description;
  LONG helpContext;
  LONG number;
};

class ErrorRecords {
 public:
  ErrorRecords() noexcept = default;
  ErrorRecords(const ErrorRecords&) = delete;
  ErrorRecords& operator=(const ErrorRecords&) = delete;
  ~ErrorRecords() {
    const LONG count = Count();
    for (LONG i = 0; i < count; ++i) FreeSlot(records_[i]);
    std::free(records_);
  }

  // May be read without the owner's lock: one aligned 32-bit value.
  LONG Count() const noexcept { return count_.load(std::memory_order_acquire); }
  LONG Capacity() const noexcept { return capacity_; }
  bool Full() const noexcept { return Count() == capacity_; }
  const ErrorRecord& At(LONG index) const noexcept { return records_[index]; }

  // The capacity to grow to when the array is full: 4 at first, then half as much again plus
  // one. 0 when that would leave the range of a LONG.
  static LONG GrownCapacity(LONG capacity) noexcept {
    if (capacity == 0) return 4;
    const long long grown = static_cast<long long>(capacity) * 3 / 2 + 1;
    return grown > LONG_MAX ? 0 : static_cast<LONG>(grown);
  }

  // Makes the array hold max(requested, count) slots; a negative request means the count.
  // E_OUTOFMEMORY (and no change) when the array cannot be allocated.
  [[nodiscard]] HRESULT SetCapacity(LONG requested) noexcept {
    const LONG count = Count();
    const LONG capacity = requested > count ? requested : count;
    if (capacity == capacity_) return S_OK;
    ErrorRecord* fresh = nullptr;
    if (capacity > 0) {
      if (static_cast<unsigned long long>(capacity) > SIZE_MAX / sizeof(ErrorRecord)) return E_OUTOFMEMORY;
      fresh = static_cast<ErrorRecord*>(std::calloc(static_cast<size_t>(capacity), sizeof(ErrorRecord)));
      if (!fresh) return E_OUTOFMEMORY;
      if (count > 0) std::memcpy(fresh, records_, static_cast<size_t>(count) * sizeof(ErrorRecord));
    }
    std::free(records_);
    records_ = fresh;
    capacity_ = capacity;
    return S_OK;
  }

  // Fills the next free slot (the array must not be full). On failure the slot is left fresh
  // and the count unchanged: E_OUTOFMEMORY for a string, or what VariantCopyInd returned.
  [[nodiscard]] HRESULT Append(LONG number, BSTR description, BSTR source, BSTR helpFile, LONG helpContext,
                               const VARIANT& cause) noexcept {
    const LONG count = Count();
    ErrorRecord& slot = records_[count];
    slot.number = number;
    slot.helpContext = helpContext;
    bool copied = CopyText(description, &slot.description);
    copied = CopyText(helpFile, &slot.helpFile) && copied;
    copied = CopyText(source, &slot.source) && copied;
    HRESULT hr = copied ? VariantCopyInd(&slot.cause, const_cast<VARIANT*>(&cause)) : E_OUTOFMEMORY;
    if (FAILED(hr)) {
      FreeSlot(slot);
      return hr;
    }
    count_.store(count + 1, std::memory_order_release);
    return S_OK;
  }

  // A new copy of `text` cut at its first NUL into `*out`; an absent text gives null. False only
  // when a present text could not be copied.
  static bool CopyText(BSTR text, BSTR* out) noexcept {
    *out = text ? SysAllocString(text) : nullptr;
    return !text || *out;
  }

 private:
  static void FreeSlot(ErrorRecord& slot) noexcept {
    VariantClear(&slot.cause);
    SysFreeString(slot.source);
    SysFreeString(slot.helpFile);
    SysFreeString(slot.description);
    std::memset(&slot, 0, sizeof slot);
  }

  ErrorRecord* records_ = nullptr;
  LONG capacity_ = 0;
  std::atomic<LONG> count_{0};
};

}  // namespace qx
