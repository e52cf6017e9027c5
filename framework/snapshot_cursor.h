// The cursor half shared by the snapshot enumerators: a position over an immutable, shared array
// of items, with Skip, Reset and Clone. The enumerator class D adds Next.
//
// Clones share the array and start at the clone's position. Skip past the end stops at the end
// and returns S_FALSE; a Skip of 0 is refused with E_INVALIDARG when D::kZeroCountInvalid says so.
#pragma once

#include <windows.h>

#include <memory>
#include <utility>

#include "framework/com_object.h"

namespace qx::com {

template <class D, class IEnum, class Snapshot, ClassOptions Options = ClassOptions{}>
class SnapshotCursor : public ComObject<D, Options, IEnum> {
 public:
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (count == 0 && D::kZeroCountInvalid) return E_INVALIDARG;
    const ULONG left = items_->Size() - position_;
    if (count > left) {
      position_ = items_->Size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnum** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
      *out = MakeCom<D>(items_, position_).Detach();
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

 protected:
  SnapshotCursor(std::shared_ptr<const Snapshot> items, ULONG position) noexcept
      : items_(std::move(items)), position_(position) {}

  std::shared_ptr<const Snapshot> items_;
  ULONG position_;
};

}  // namespace qx::com
