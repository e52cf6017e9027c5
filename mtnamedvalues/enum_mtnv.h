// C_EnumMTNV: the member enumerator of an MTNVS (_EnumMTNV, and _EnumNamedValue for the
// NamedValues view): a snapshot of the items in the collection's public order when it was made,
// callable from any thread.
#pragma once

#include <vector>

#include "framework/com_object.h"
#include "framework/owners.h"
#include "module/interfaces.h"
#include "mtnamedvalues/mtnv.h"

namespace qx {

class C_EnumMTNV final
    : public com::ComObject<C_EnumMTNV, com::ClassOptions{.interlocked = true, .freeThreadedMarshaler = true},
                            _EnumMTNV, _EnumNamedValue, ISupportErrorInfo> {
 public:
  // Takes a reference on every item (the caller holds the collection's lock).
  template <class Items>
  explicit C_EnumMTNV(const Items& items) {
    items_.reserve(items.size());
    for (CMTNV* item : items) items_.emplace_back(item);
  }

  HRESULT STDMETHODCALLTYPE MTNext(_MTNV** hVal) override;
  HRESULT STDMETHODCALLTYPE Next(NamedValue** pVal) override;

 private:
  com::CriticalSection lock_;  // serialises the cursor
  std::vector<com::ComPtr<CMTNV>> items_;
  size_t position_ = 0;
};

}  // namespace qx
