#include "errors/qx_error.h"

#include "common/error_reporter.h"
#include "errors/qx_errors.h"
#include "framework/boundary.h"

namespace qx {

using com::ComBoundary;
using com::kClearOnEntry;

CQXError::CQXError(CQXErrors* parent) noexcept : parent_(parent), pooled_(true), index_(0) {}

CQXError::CQXError(CQXErrors* parent, LONG index) noexcept : parent_(parent), pooled_(false), index_(index) {
  parent_->AddRef();
}

// A pool view answers with the collection's count, a heap view with its own. The collection is
// counted after a pool view (the view is in use before the collection can see it) and before a
// heap view.
ULONG CQXError::AddRef() {
  if (pooled_) {
    InterlockedIncrement(&poolRefs_);
    return parent_->AddRef();
  }
  parent_->AddRef();
  return NonDelegatingAddRef();
}

// The pool view is free again as soon as its count is 0; the collection reference it still
// holds keeps the collection (and so the view itself) alive until the Release below. Nothing of
// the view is touched after that.
ULONG CQXError::Release() {
  if (pooled_) {
    CQXErrors* parent = parent_;
    InterlockedDecrement(&poolRefs_);
    return parent->Release();
  }
  parent_->Release();
  return NonDelegatingRelease();
}

bool CQXError::TryClaim(LONG index) noexcept {
  if (InterlockedCompareExchange(&poolRefs_, 1, 0) != 0) return false;
  index_ = index;
  parent_->AddRef();
  return true;
}

HRESULT CQXError::get_Number(LONG* pVal) {
  return ComBoundary(kClearOnEntry, L" CQXError::get_Number", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    return parent_->ReadRecord(index_, [&](const ErrorRecord& record) {
      *pVal = record.number;
      return S_OK;
    });
  });
}

HRESULT CQXError::get_HelpContext(LONG* pVal) {
  return ComBoundary(kClearOnEntry, L" CQXError::get_HelpContext", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    return parent_->ReadRecord(index_, [&](const ErrorRecord& record) {
      *pVal = record.helpContext;
      return S_OK;
    });
  });
}

// The stored value as VariantCopy gives it; its result is the method's, unreported.
HRESULT CQXError::get_Cause(VARIANT* pVal) {
  return ComBoundary(kClearOnEntry, L" CQXError::get_Cause", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    VariantInit(pVal);
    return parent_->ReadRecord(
        index_, [&](const ErrorRecord& record) { return VariantCopy(pVal, const_cast<VARIANT*>(&record.cause)); });
  });
}

HRESULT CQXError::ReadText(BSTR ErrorRecord::*field, BSTR* out) {
  if (!out) return ReportSystemError(E_POINTER);
  *out = nullptr;
  return parent_->ReadRecord(index_, [&](const ErrorRecord& record) {
    const BSTR text = record.*field;
    *out = SysAllocString(text ? text : L"");
    return *out ? S_OK : ReportSystemError(E_OUTOFMEMORY);
  });
}

HRESULT CQXError::get_Description(BSTR* pVal) {
  return ComBoundary(kClearOnEntry, L" CQXError::get_Description",
                     [&] { return ReadText(&ErrorRecord::description, pVal); });
}

HRESULT CQXError::get_HelpFile(BSTR* pVal) {
  return ComBoundary(kClearOnEntry, L" CQXError::get_HelpFile", [&] { return ReadText(&ErrorRecord::helpFile, pVal); });
}

HRESULT CQXError::get_Source(BSTR* pVal) {
  return ComBoundary(kClearOnEntry, L" CQXError::get_Source", [&] { return ReadText(&ErrorRecord::source, pVal); });
}

}  // namespace qx
