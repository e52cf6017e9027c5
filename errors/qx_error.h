// CQXError: a view onto one record of a QXErrors collection (QXError / _QXError).
//
// A view owns no data: each property reads the record of its collection when it is called.
// Every reference held on a view holds one reference on the collection, so the records a view
// reads live at least as long as the view.
//
// A view has one of two forms:
//  - a pool view lives inside its collection (two of them), is never freed on its own and is
//    free for reuse while its own count is 0. AddRef/Release count it and the collection and
//    return the collection's count. It is claimed by changing its count from 0 to 1 with one
//    atomic compare-and-exchange, so two threads can never claim the same view.
//  - a heap view is made by the collection when both pool views are in use. It holds one
//    collection reference per reference on itself and frees itself at its last Release.
//
// Views do not aggregate the free-threaded marshaler: IMarshal is refused, and a view handed
// to another apartment travels through the standard proxies.
#pragma once

#include "errors/error_records.h"
#include "framework/com_object.h"
#include "module/interfaces.h"

namespace qx {

class CQXErrors;

class CQXError final
    : public com::ComObject<CQXError, com::ClassOptions{.interlocked = true}, com::Dual<_QXError>, ISupportErrorInfo> {
 public:
  // A pool view inside `parent`, free until claimed.
  explicit CQXError(CQXErrors* parent) noexcept;
  // A heap view of record `index` (0-based), made through MakeCom; its first reference comes
  // with a collection reference, taken here.
  CQXError(CQXErrors* parent, LONG index) noexcept;

  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Pool views only: claims the view for record `index` if it is free, with one reference on
  // the view and one on the collection. False when another holder has it.
  bool TryClaim(LONG index) noexcept;

  // _QXError
  HRESULT STDMETHODCALLTYPE get_Number(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Cause(VARIANT* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Description(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HelpContext(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HelpFile(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Source(BSTR* pVal) override;

 private:
  // Copies one of the record's texts; an absent text reads as an empty string.
  HRESULT ReadText(BSTR ErrorRecord::*field, BSTR* out);

  CQXErrors* const parent_;
  const bool pooled_;
  // The pool view's own count (a heap view counts in its object root).
  volatile LONG poolRefs_ = 0;
  LONG index_;
};

}  // namespace qx
