// A recording sink of the asynch status events, and a thread of its own apartment.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <mutex>

#include "test_support.h"

namespace qx::test {

inline ComPtr<IQXAsynchStatus3> NewStatus() { return New<IQXAsynchStatus3>(CLSID_QXAsynchStatus); }

inline ComPtr<IConnectionPoint> EventsOf(IUnknown* status) {
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(S_OK, As<IConnectionPointContainer>(status)->FindConnectionPoint(DIID__QXAsynchStatusEvents, point.Put()));
  return point;
}

inline constexpr DISPID kOnStatusChange = 1;
inline constexpr DISPID kOnProgressChange = 2;

// A sink of _QXAsynchStatusEvents that records every event with the thread it arrived on.
class TestSink final : public NoTypeInfoDispatch<IDispatch> {
 public:
  struct Event {
    DISPID id;
    LONG status;
    double progress;
    DWORD thread;
  };
  static ComPtr<TestSink> Make() { return ComPtr<TestSink>::Adopt(new TestSink); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool answers =
        iid == IID_IUnknown || iid == DIID__QXAsynchStatusEvents || (iid == IID_IDispatch && !lacksDispatch);
    *out = answers ? static_cast<IDispatch*>(this) : nullptr;
    if (answers) AddRef();
    return answers ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    Event event{id, -1, -1.0, GetCurrentThreadId()};
    if (flags == DISPATCH_METHOD && params && params->cArgs == 1 && params->cNamedArgs == 0) {
      const VARIANT& arg = params->rgvarg[0];
      if (V_VT(&arg) == VT_I4) event.status = V_I4(&arg);
      if (V_VT(&arg) == VT_R8) event.progress = V_R8(&arg);
    }
    {
      std::lock_guard<std::mutex> held(lock_);
      events_.push_back(event);
    }
    if (onEvent) onEvent(event);
    if (result) VariantCopy(result, returns.AddressOf());
    return S_OK;
  }

  std::vector<Event> Events() const {
    std::lock_guard<std::mutex> held(lock_);
    return events_;
  }

  UniqueVariant returns;                      // the value handed back from each event
  std::function<void(const Event&)> onEvent;  // runs inside each event, after recording it
  bool lacksDispatch = false;

 private:
  LONG refs_ = 1;
  mutable std::mutex lock_;
  std::vector<Event> events_;
};

// Connects `sink` to the status object's events; returns the cookie (0 on failure).
inline DWORD Connect(IUnknown* status, IUnknown* sink) {
  DWORD cookie = 0;
  EXPECT_EQ(S_OK, EventsOf(status)->Advise(sink, &cookie));
  return cookie;
}

// Runs `body` on a thread of its own apartment while this one serves calls into its own.
inline void InApartment(DWORD model, const std::function<void()>& body) {
  com::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread thread([&] {
    CoInitializeEx(nullptr, model);
    body();
    CoUninitialize();
    SetEvent(done.Get());
  });
  HANDLE handles[] = {done.Get()};
  DWORD index = 0;
  while (CoWaitForMultipleHandles(0, INFINITE, 1, handles, &index) != S_OK) {
  }
  thread.join();
}

}  // namespace qx::test
