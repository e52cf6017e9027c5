#include "errors/qx_errors.h"

#include "common/error_reporter.h"
#include "errors/enum_errors.h"
#include "framework/boundary.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;
using com::kClearOnEntry;
using com::kDescribeWhereFound;

namespace {

// Causes are values: an object reference is refused, also when it comes by reference (a script
// passes its variables so: VT_BYREF | VT_VARIANT pointing at the object). A stored object would
// belong to the caller's apartment while the collection is handed between threads. Arrays are
// not looked into.
bool IsObjectReference(const VARIANT& cause) noexcept {
  const VARIANT* value = &cause;
  if (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value)) value = V_VARIANTREF(value);
  switch (V_VT(value)) {
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_BYREF | VT_DISPATCH:
    case VT_BYREF | VT_UNKNOWN:
      return true;
    default:
      return false;
  }
}

HRESULT RefuseObjectCause() noexcept { return PropagateHResult(LibraryCode(msg::kObjectNotAllowed), L"Cause"); }

}  // namespace

CQXErrors::CQXErrors() noexcept = default;

// No view or enumerator can be alive here: each holds a reference on the collection.
CQXErrors::~CQXErrors() = default;

std::optional<com::CriticalSection::Guard> CQXErrors::LockUnlessFrozen() noexcept {
  if (IsFrozen()) return std::nullopt;
  return lock_.Lock();
}

HRESULT CQXErrors::get_Count(LONG* pVal) {
  return ComBoundary(kClearOnEntry, L" CQXErrors::get_Count", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = records_.Count();
    return S_OK;
  });
}

HRESULT CQXErrors::get_ReadOnly(VARIANT_BOOL* pVal) {
  return ComBoundary(kClearOnEntry, L" CQXErrors::get_ReadOnly", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = IsFrozen() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

// The flag is set under the lock, so an Add or SetSize that is moving the array has finished
// before any reader can see the collection frozen and stop locking.
HRESULT CQXErrors::Freeze() {
  return ComBoundary(kClearOnEntry, L" CQXErrors::Freeze", [&] {
    if (IsFrozen()) return S_OK;
    const auto held = lock_.Lock();
    frozen_.store(true, std::memory_order_release);
    return S_OK;
  });
}

// On a frozen collection SetSize is refused with E_ACCESSDENIED, as Add is: readers of a frozen
// collection take no lock, so its array must never move again. The flag is tested under the
// lock, so a Freeze on another thread cannot slip in between the test and the move.
HRESULT CQXErrors::SetSize(LONG NewSize) {
  return ComBoundary(kClearOnEntry, L" CQXErrors::SetSize", [&] {
    const auto held = lock_.Lock();
    if (IsFrozen()) return ReportSystemError(E_ACCESSDENIED);
    const HRESULT hr = records_.SetCapacity(NewSize);
    return FAILED(hr) ? ReportSystemError(hr) : S_OK;
  });
}

HRESULT CQXErrors::get_Item(LONG Index, _QXError** pVal) {
  return ComBoundary(kClearOnEntry, L" CQXErrors::get_Item", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    const auto held = LockUnlessFrozen();
    if (Index < 1 || Index > records_.Count()) return ReportSystemError(E_INVALIDARG);
    const LONG index = Index - 1;
    // The pool views serve any pattern that holds at most two views at a time; the claim is
    // atomic, since on a frozen collection other Item calls run at the same time.
    for (CQXError* view : {&firstView_, &secondView_}) {
      if (view->TryClaim(index)) {
        *pVal = view;
        return S_OK;
      }
    }
    ComPtr<CQXError> view;
    try {
      view = com::MakeCom<CQXError>(this, index);
    } catch (const com::ComError& e) {
      return ReportSystemError(e.Code());
    }
    *pVal = view.Detach();
    return S_OK;
  });
}

// Add does not clear the thread's error object on entry: AddErrorInfo hands it back before
// calling Add. Growing the array (SetSize) and returning a view (Item) each clear it.
HRESULT CQXErrors::Add(LONG Number, BSTR bstrDescription, BSTR bstrSource, BSTR bstrHelpFile, LONG HelpContext,
                       VARIANT Cause, _QXError** pVal) {
  return ComBoundary(kDescribeWhereFound, L" CQXErrors::Add", [&] {
    if (pVal) *pVal = nullptr;
    if (IsFrozen()) return ReportSystemError(E_ACCESSDENIED);
    if (IsObjectReference(Cause)) return RefuseObjectCause();

    const auto held = lock_.Lock();
    // Frozen by another thread since the test above: readers may already be reading unlocked.
    if (IsFrozen()) return ReportSystemError(E_ACCESSDENIED);
    if (records_.Full()) {
      const LONG grown = ErrorRecords::GrownCapacity(records_.Capacity());
      const HRESULT hr = grown > 0 ? SetSize(grown) : ReportSystemError(E_OUTOFMEMORY);
      if (FAILED(hr)) return PropagateHResult(hr);
    }
    HRESULT hr = records_.Append(Number, bstrDescription, bstrSource, bstrHelpFile, HelpContext, Cause);
    if (hr == E_OUTOFMEMORY) {
      ReportSystemError(hr);
    } else if (SUCCEEDED(hr) && pVal) {
      hr = get_Item(records_.Count(), pVal);
    }
    return PropagateHResult(hr);
  });
}

// AddErrorInfo does not clear on entry either: without an error object of its own it reads
// the thread's.
HRESULT CQXErrors::AddErrorInfo(LONG Number, IUnknown* punkErrInfo, VARIANT Cause, _QXError** pVal) {
  return ComBoundary(kDescribeWhereFound, L" CQXErrors::AddErrorInfo", [&] {
    if (pVal) *pVal = nullptr;
    if (IsObjectReference(Cause)) return RefuseObjectCause();

    ComPtr<IErrorInfo> info;
    const bool fromThread = !punkErrInfo;
    if (fromThread) {
      if (GetErrorInfo(0, info.Put()) != S_OK || !info) {
        return Add(Number, nullptr, nullptr, nullptr, 0, Cause, pVal);
      }
    } else {
      const HRESULT hr = punkErrInfo->QueryInterface(__uuidof(IErrorInfo), info.PutVoid());
      if (hr == E_NOINTERFACE) return ReportSystemError(E_INVALIDARG);
      if (FAILED(hr)) return hr;
      if (!info) return ReportSystemError(E_INVALIDARG);
    }

    // A read that fails leaves its text absent (or the help context 0).
    com::UniqueBstr description, helpFile, source;
    DWORD helpContext = 0;
    if (FAILED(info->GetDescription(description.Put()))) description.Reset();
    if (FAILED(info->GetHelpContext(&helpContext))) helpContext = 0;
    if (FAILED(info->GetHelpFile(helpFile.Put()))) helpFile.Reset();
    if (FAILED(info->GetSource(source.Put()))) source.Reset();
    if (fromThread) SetErrorInfo(0, info.Get());

    return Add(Number, description.Get(), source.Get(), helpFile.Get(), static_cast<LONG>(helpContext), Cause, pVal);
  });
}

HRESULT CQXErrors::get__NewEnum(IUnknown** pVal) {
  return ComBoundary(kClearOnEntry, L" CQXErrors::get__NewEnum", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    ComPtr<CEnumErrors> enumerator;
    try {
      enumerator = com::MakeCom<CEnumErrors>(ComPtr<_QXErrors>(this));
    } catch (const com::ComError& e) {
      return ReportSystemError(e.Code());
    }
    return PropagateHResult(enumerator.QueryTo(__uuidof(IUnknown), reinterpret_cast<void**>(pVal)));
  });
}

}  // namespace qx
