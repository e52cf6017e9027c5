// Test doubles around the asynch status object: a status created through COM, and an event sink
// written here that records what reaches it.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <mutex>
#include <vector>

#include "test_support.h"

namespace qx::test {

inline ComPtr<IQXAsynchStatus3> NewStatus() {
  ComPtr<IQXAsynchStatus3> status;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_QXAsynchStatus, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IQXAsynchStatus3),
                                   status.PutVoid()));
  return status;
}

inline ComPtr<IConnectionPoint> EventsOf(IUnknown* status) {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(S_OK, status->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()));
  if (container) {
    EXPECT_EQ(S_OK, container->FindConnectionPoint(DIID__QXAsynchStatusEvents, point.Put()));
  }
  return point;
}

// A sink of _QXAsynchStatusEvents. It records every event with the thread it arrived on.
class TestSink final : public NoTypeInfoDispatch<IDispatch> {
 public:
  enum class Kind {
    kRecords,          // records, returns what `returns` holds
    kFails,            // records, then fails the call
    kLacksEvents,      // answers IDispatch but not the event interface
  };
  struct Event {
    DISPID id;
    VARTYPE type;
    LONG status;
    double progress;
    DWORD thread;
  };

  static ComPtr<TestSink> Make(Kind kind = Kind::kRecords) { return ComPtr<TestSink>::Adopt(new TestSink(kind)); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || (iid == DIID__QXAsynchStatusEvents && kind_ != Kind::kLacksEvents)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    Event event{id, VT_EMPTY, 0, 0.0, GetCurrentThreadId()};
    if (flags == DISPATCH_METHOD && params && params->cArgs == 1 && params->cNamedArgs == 0) {
      const VARIANT& arg = params->rgvarg[0];
      event.type = V_VT(&arg);
      if (V_VT(&arg) == VT_I4) event.status = V_I4(&arg);
      if (V_VT(&arg) == VT_R8) event.progress = V_R8(&arg);
    }
    {
      std::lock_guard<std::mutex> held(lock_);
      events_.push_back(event);
    }
    if (onEvent) onEvent(event);
    if (kind_ == Kind::kFails) return E_FAIL;
    if (result) VariantCopy(result, returns.AddressOf());
    return S_OK;
  }

  std::vector<Event> Events() const {
    std::lock_guard<std::mutex> held(lock_);
    return events_;
  }
  size_t Count(DISPID id) const {
    size_t n = 0;
    for (const Event& e : Events()) n += e.id == id;
    return n;
  }

  UniqueVariant returns;                    // the value handed back from each event
  std::function<void(const Event&)> onEvent;  // runs inside each event, after recording it

 private:
  explicit TestSink(Kind kind) : kind_(kind) {}
  ~TestSink() = default;

  const Kind kind_;
  LONG refs_ = 1;
  mutable std::mutex lock_;
  std::vector<Event> events_;
};

inline constexpr DISPID kOnStatusChange = 1;
inline constexpr DISPID kOnProgressChange = 2;

// Connects `sink` to the status object's events; returns the cookie (0 on failure).
inline DWORD Connect(IUnknown* status, IUnknown* sink) {
  DWORD cookie = 0;
  auto point = EventsOf(status);
  if (point) {
    EXPECT_EQ(S_OK, point->Advise(sink, &cookie));
  }
  return cookie;
}

}  // namespace qx::test
