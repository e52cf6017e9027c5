// CQXAsynchStatus: the status object of an asynchronous SDK call (QXAsynchStatus). It holds the
// call's status word, progress and result, records a cancel request, tells connected sinks of
// every status and progress change, and signals a Win32 event when the call completes.
//
// The SDK module running the call drives it through the hidden members (status, progress,
// result, SetComplete, SetErrors, Reset) and IQXAsynchStatusInt; clients read it, cancel it and
// wait on its completion event. Every status change goes through put_Status, so the same rules,
// events and signalling apply to all of them.
//
// Unlike the library's other classes, these methods leave the thread's error object alone on
// entry and set one only on their failure paths; nothing in them throws.
//
// Apartment-threaded: the fields are not locked. Only the event source's connection table has
// a lock, because events may be fired from any thread.
#pragma once

#include "asynch/asynch_events.h"
#include "framework/com_object.h"
#include "module/interfaces.h"

namespace qx {

class CQXAsynchStatus final
    : public com::ComObject<CQXAsynchStatus, com::ClassOptions{}, com::Dual<IQXAsynchStatus3>, IQXAsynchStatus2,
                            IQXAsynchStatusInt, IConnectionPointContainer, ISupportErrorInfo> {
 public:
  CQXAsynchStatus() noexcept;
  ~CQXAsynchStatus();

  // _QXAsynchStatus
  HRESULT STDMETHODCALLTYPE get_ProgressPercent(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ProgressPercent(double newVal) override;
  HRESULT STDMETHODCALLTYPE get_Status(CallStatusConstants* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Status(CallStatusConstants newVal) override;
  HRESULT STDMETHODCALLTYPE Cancel() override;
  HRESULT STDMETHODCALLTYPE SetComplete() override;
  HRESULT STDMETHODCALLTYPE SetErrors() override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE get_Result(VARIANT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Result(VARIANT newVal) override;

  // IQXAsynchStatus3
  HRESULT STDMETHODCALLTYPE put_Timeout(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_Timeout(LONG* pSeconds) override;
  HRESULT STDMETHODCALLTYPE get_CallCompleteEvent2(ULONG* pHandle) override;

  // IQXAsynchStatus2
  HRESULT STDMETHODCALLTYPE get_CallCompleteEvent(LONG* pHandle) override;

  // IQXAsynchStatusInt
  HRESULT STDMETHODCALLTYPE get_NextAsynchItem(VARIANT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_NextAsynchItem(VARIANT newVal) override;
  HRESULT STDMETHODCALLTYPE get_InternalReturnItem(VARIANT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_InternalReturnItem(VARIANT newVal) override;
  HRESULT STDMETHODCALLTYPE AttachInternalResult(VARIANT newVal) override;
  HRESULT STDMETHODCALLTYPE get_CreatorThreadID(LONG* pVal) override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;

  // ISupportErrorInfo: only _QXAsynchStatus reports through error objects.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  // The completion event, created on first request; null when creation fails.
  HANDLE CompletionEvent() noexcept;

  com::UniqueVariant result_;
  LONG status_ = 0;
  double progress_ = 0.0;
  com::UniqueHandle completionEvent_;
  LONG timeout_ = 0;
  LONG creatorThreadId_;
  com::UniqueVariant nextAsynchItem_;
  com::UniqueVariant internalReturnItem_;
  CProxy_QXAsynchStatusEvents events_{ControllingUnknown()};
};

}  // namespace qx
