// A snapshot IEnumVARIANT: enumerates a fixed array of VARIANTs taken when it was made. Clones
// share the array and start at the clone's position; later changes to the source collection
// do not reach it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <vector>

#include "framework/com_object.h"
#include "framework/snapshot_cursor.h"

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
class SnapshotEnumVariant final
    : public SnapshotCursor<SnapshotEnumVariant<Options>, IEnumVARIANT, VariantSnapshot, Options> {
  using Cursor = SnapshotCursor<SnapshotEnumVariant<Options>, IEnumVARIANT, VariantSnapshot, Options>;
  using Cursor::items_;
  using Cursor::position_;

 public:
  static constexpr bool kZeroCountInvalid = false;

  SnapshotEnumVariant(std::shared_ptr<const VariantSnapshot> items, ULONG position) noexcept
      : Cursor(std::move(items), position) {}

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
};

}  // namespace qx::com
