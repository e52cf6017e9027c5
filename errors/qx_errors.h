// CQXErrors: the error collection (QXErrors / _QXErrors), an append-only, thread-safe list of
// error descriptions that can be frozen.
//
// Entries are plain records (ErrorRecords); QXError objects are views made on demand (CQXError).
// The collection aggregates the free-threaded marshaler, so its pointer is called directly from
// every thread of the process.
//
// Locking: while the collection is open, Add, Item, SetSize and the views' reads run under the
// collection's (re-entrant) lock, since a growing Add moves the array. Once frozen, the array
// never moves again, and Item and the views read without the lock. Count and ReadOnly read one
// value each and never lock.
#pragma once

#include <atomic>
#include <optional>
#include <utility>

#include "errors/error_records.h"
#include "errors/qx_error.h"
#include "framework/com_object.h"
#include "module/interfaces.h"

namespace qx {

class CQXErrors final
    : public com::ComObject<CQXErrors,
                            com::ClassOptions{.interlocked = true, .freeThreadedMarshaler = true, .aggregatable = true},
                            com::Dual<_QXErrors>, ISupportErrorInfo> {
 public:
  CQXErrors() noexcept;
  ~CQXErrors();

  // _QXErrors
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Item(LONG Index, _QXError** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE Add(LONG Number, BSTR bstrDescription, BSTR bstrSource, BSTR bstrHelpFile, LONG HelpContext,
                                VARIANT Cause, _QXError** pVal) override;
  HRESULT STDMETHODCALLTYPE AddErrorInfo(LONG Number, IUnknown* punkErrInfo, VARIANT Cause, _QXError** pVal) override;
  HRESULT STDMETHODCALLTYPE get_ReadOnly(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE Freeze() override;
  HRESULT STDMETHODCALLTYPE SetSize(LONG NewSize) override;

  // Runs `read(record)` on record `index` (0-based, in range) under the rule above.
  template <class Read>
  HRESULT ReadRecord(LONG index, Read&& read) {
    const auto held = LockUnlessFrozen();
    return std::forward<Read>(read)(records_.At(index));
  }

 private:
  bool IsFrozen() const noexcept { return frozen_.load(std::memory_order_acquire); }
  std::optional<com::CriticalSection::Guard> LockUnlessFrozen() noexcept;

  com::CriticalSection lock_;
  ErrorRecords records_;
  std::atomic<bool> frozen_{false};
  CQXError firstView_{this};
  CQXError secondView_{this};
};

}  // namespace qx
