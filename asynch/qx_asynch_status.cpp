#include "asynch/qx_asynch_status.h"

#include <memory>

#include "common/error_reporter.h"
#include "framework/enum_references.h"
#include "qx/core/asynch_status.h"

namespace qx {

namespace {

// Copies a stored value out to a caller's VARIANT, which may hold anything on entry.
HRESULT CopyOut(const com::UniqueVariant& stored, VARIANT* out) noexcept {
  VariantInit(out);
  return stored.CopyTo(out);
}

// Stores a copy of a caller's value. A by-reference value is stored as the value it points to,
// never as the caller's pointer, which would not outlive the call.
// The copy is made before the old value goes, and the old value's release (which may run client
// code) comes after the new one is in place; a failed copy leaves nothing stored.
HRESULT CopyIn(com::UniqueVariant& stored, const VARIANT& value) noexcept {
  com::UniqueVariant copy;
  const HRESULT hr = VariantCopyInd(copy.AddressOf(), const_cast<VARIANT*>(&value));
  if (FAILED(hr)) copy.Reset();
  stored = std::move(copy);
  return hr;
}

}  // namespace

CQXAsynchStatus::CQXAsynchStatus() noexcept
    : creatorThreadId_(asynch::CreatorThreadIdValue(GetCurrentThreadId())) {}

// The owners close the event and clear the values; the event source revokes its sinks.
CQXAsynchStatus::~CQXAsynchStatus() = default;

// ---------------------------------------------------------------------------------------------
// Status

HRESULT CQXAsynchStatus::get_Status(CallStatusConstants* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = static_cast<CallStatusConstants>(status_);
  return S_OK;
}

HRESULT CQXAsynchStatus::put_Status(CallStatusConstants newVal) {
  const asynch::StatusDecision decision = asynch::DecideStatusChange(status_, newVal);
  switch (decision.outcome) {
    case asynch::StatusOutcome::kUnchanged:
      return S_OK;
    case asynch::StatusOutcome::kAlreadyComplete:
      return LibraryError(msg::kAsynchComplete);
    case asynch::StatusOutcome::kInvalid:
      return ReportSystemError(E_INVALIDARG);
    case asynch::StatusOutcome::kStore:
      break;
  }
  // A sink may drop the last reference to this object from inside the event.
  const com::ComPtr<IUnknown> keepAlive(ControllingUnknown());
  status_ = decision.stored;
  // Whether this call completes follows the status it stored, not the status after the sinks
  // ran: a sink may change it again (complete it, reset it), and that change signals for
  // itself. So each completing call signals exactly once.
  const bool completes = asynch::SignalsCompletion(decision.stored);
  const LONG notified = events_.Fire_OnStatusChange(decision.stored);
  if (notified < 0) return notified;
  if (completes && completionEvent_ && !SetEvent(completionEvent_.Get())) {
    SetLibraryErrorWithSystemText(msg::kAsynchComplete, GetLastError(), L"");
    return LibraryCode(msg::kAsynchComplete);
  }
  return notified;
}

// The three requests are status changes made through the object's own vtable.
HRESULT CQXAsynchStatus::Cancel() {
  return static_cast<_QXAsynchStatus*>(this)->put_Status(
      static_cast<CallStatusConstants>(asynch::CancelRequest(status_)));
}

HRESULT CQXAsynchStatus::SetErrors() {
  return static_cast<_QXAsynchStatus*>(this)->put_Status(
      static_cast<CallStatusConstants>(asynch::ErrorsRequest(status_)));
}

HRESULT CQXAsynchStatus::SetComplete() {
  if (asynch::CompletionFillsProgress(status_)) progress_ = asynch::kFullProgress;
  return static_cast<_QXAsynchStatus*>(this)->put_Status(
      static_cast<CallStatusConstants>(asynch::CompleteRequest(status_)));
}

HRESULT CQXAsynchStatus::Reset() {
  if (!asynch::ResetAccepted(status_)) return LibraryError(msg::kAsynchInProgress);
  status_ = asynch::kInitial;
  progress_ = 0.0;
  // A value that cannot be freed (an array someone keeps locked) is abandoned, not kept.
  result_.Reset();
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Progress and result

HRESULT CQXAsynchStatus::get_ProgressPercent(double* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = progress_;
  return S_OK;
}

HRESULT CQXAsynchStatus::put_ProgressPercent(double newVal) {
  if (!asynch::ProgressAccepted(progress_, newVal)) return ReportSystemError(E_INVALIDARG);
  const com::ComPtr<IUnknown> keepAlive(ControllingUnknown());
  progress_ = newVal;
  events_.Fire_OnProgressChange(newVal);
  return S_OK;
}

HRESULT CQXAsynchStatus::put_Result(VARIANT newVal) {
  if (!asynch::ResultAccepted(status_)) return LibraryError(msg::kAsynchNotInProgress);
  return CopyIn(result_, newVal);
}

// Each read also handles one pending window message of the calling thread, so that a client
// polling the result keeps its windows alive.
HRESULT CQXAsynchStatus::get_Result(VARIANT* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  const HRESULT hr = CopyOut(result_, pVal);
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    // A quit request is not for a window: it goes back to the queue for the thread's own loop.
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
    } else {
      DispatchMessageA(&message);
    }
  }
  return ReportSystemError(hr);
}

// ---------------------------------------------------------------------------------------------
// Completion event and timeout

HANDLE CQXAsynchStatus::CompletionEvent() noexcept {
  if (!completionEvent_) completionEvent_.Attach(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  return completionEvent_.Get();
}

HRESULT CQXAsynchStatus::get_CallCompleteEvent(LONG* pHandle) {
  if (!pHandle) return ReportSystemError(E_INVALIDARG);
  *pHandle = 0;
  const HANDLE event = CompletionEvent();
  if (!event) return LibraryError(msg::kEventCreate);
  *pHandle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(event));
  return S_OK;
}

HRESULT CQXAsynchStatus::get_CallCompleteEvent2(ULONG* pHandle) {
  if (!pHandle) return ReportSystemError(E_POINTER);
  *pHandle = 0;
  const HANDLE event = CompletionEvent();
  if (!event) return LibraryError(msg::kEventCreate);
  *pHandle = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(event));
  return S_OK;
}

HRESULT CQXAsynchStatus::put_Timeout(LONG newVal) {
  timeout_ = newVal;
  return S_OK;
}

HRESULT CQXAsynchStatus::get_Timeout(LONG* pSeconds) {
  if (!pSeconds) return ReportSystemError(E_POINTER);
  *pSeconds = timeout_;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Chained items

HRESULT CQXAsynchStatus::get_NextAsynchItem(VARIANT* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  return CopyOut(nextAsynchItem_, pVal);
}

HRESULT CQXAsynchStatus::put_NextAsynchItem(VARIANT newVal) { return CopyIn(nextAsynchItem_, newVal); }

HRESULT CQXAsynchStatus::get_InternalReturnItem(VARIANT* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  return CopyOut(internalReturnItem_, pVal);
}

HRESULT CQXAsynchStatus::put_InternalReturnItem(VARIANT newVal) { return CopyIn(internalReturnItem_, newVal); }

// Takes the caller's value over as it is: whatever it owns now belongs to this object.
HRESULT CQXAsynchStatus::AttachInternalResult(VARIANT newVal) {
  result_.Attach(newVal);
  return S_OK;
}

HRESULT CQXAsynchStatus::get_CreatorThreadID(LONG* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = creatorThreadId_;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Connection points

HRESULT CQXAsynchStatus::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != events_.EventIid()) return CONNECT_E_NOCONNECTION;
  events_.AddRef();
  *out = &events_;
  return S_OK;
}

HRESULT CQXAsynchStatus::EnumConnectionPoints(IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto points = std::make_shared<com::EnumConnectionPoints::Snapshot>();
    events_.AddRef();
    points->Adopt(&events_);
    *out = com::MakeCom<com::EnumConnectionPoints>(std::move(points), 0).Detach();
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CQXAsynchStatus::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID__QXAsynchStatus ? S_OK : S_FALSE;
}

}  // namespace qx
