// A snapshot IEnumVARIANT: enumerates a fixed array of VARIANTs taken when it was made. Clones
// share the array and start at the clone's position; later changes to the source collection
// do not reach it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <vector>

#include "framework/com_object.h"

namespace qx::com {

// The shared, immutable array of a snapshot; clears its VARIANTs when the last enumerator goes.
class VariantSnapshot {
 public:
  VariantSnapshot() = default;
  VariantSnapshot(const VariantSnapshot&) = delete;
  VariantSnapshot& operator=(const VariantSnapshot&) = delete;
  ~VariantSnapshot() {
    for (VARIANT& v : items_) VariantClear(&v);
  }
  void Reserve(size_t n) { items_.reserve(n); }
  // Adds an interface pointer as VT_DISPATCH (or VT_UNKNOWN), taking a reference.
  void AddObject(IDispatch* object) {
    VARIANT v;
    VariantInit(&v);
    items_.push_back(v);
    V_VT(&items_.back()) = VT_DISPATCH;
    V_DISPATCH(&items_.back()) = object;
    if (object) object->AddRef();
  }
  // Adds a value, adopting its contents (`v` is left VT_EMPTY).
  void Adopt(VARIANT& v) {
    items_.push_back(v);
    VariantInit(&v);
  }
  ULONG Size() const noexcept { return static_cast<ULONG>(items_.size()); }
  const VARIANT& At(ULONG i) const noexcept { return items_[i]; }

 private:
  std::vector<VARIANT> items_;
};

template <ClassOptions Options = ClassOptions{}>
class SnapshotEnumVariant final : public ComObject<SnapshotEnumVariant<Options>, Options, IEnumVARIANT> {
 public:
  SnapshotEnumVariant(std::shared_ptr<const VariantSnapshot> items, ULONG position) noexcept
      : items_(std::move(items)), position_(position) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (count == 0) return S_OK;
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG done = 0;
    for (; done < count && position_ < items_->Size(); ++done) {
      VariantInit(&out[done]);
      const HRESULT hr = VariantCopy(&out[done], const_cast<VARIANT*>(&items_->At(position_)));
      if (FAILED(hr)) {
        for (ULONG i = 0; i < done; ++i) VariantClear(&out[i]);
        return hr;
      }
      ++position_;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
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
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
      *out = MakeCom<SnapshotEnumVariant>(items_, position_).Detach();
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  std::shared_ptr<const VariantSnapshot> items_;
  ULONG position_;
};

}  // namespace qx::com
