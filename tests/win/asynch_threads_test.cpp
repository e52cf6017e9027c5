// QXAsynchStatus under racing and re-entrant sinks, and the library's own interfaces called from
// another apartment.
#include <atomic>
#include <functional>
#include <thread>

#include "asynch_sink.h"

namespace qx::test {
namespace {

// Runs `body` on a thread of its own apartment while this one serves calls into its own.
void InApartment(DWORD model, const std::function<void()>& body) {
  com::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread thread([&] {
    CoInitializeEx(nullptr, model);
    body();
    CoUninitialize();
    SetEvent(done.Get());
  });
  JoinPumping(thread, done.Get());
}

// One thread fires progress events while another disconnects and reconnects the sink in slot 0;
// both in the multithreaded apartment, so sinks are called directly.
TEST(AsynchStatusRaces, StableSinkHearsEveryEventWhileAnotherCycles) {
  constexpr int kEvents = 200'000;
  auto status = NewStatus();
  auto cycling = TestSink::Make(), stable = TestSink::Make();
  std::atomic<int> failures{0};
  InApartment(COINIT_MULTITHREADED, [&] {
    auto point = EventsOf(status.Get());
    DWORD cookie = Connect(status.Get(), cycling.Get());
    ASSERT_EQ(2u, Connect(status.Get(), stable.Get()));
    std::atomic<bool> firing{true};
    std::thread cycler([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      while (firing) failures += point->Unadvise(cookie) != S_OK || point->Advise(cycling.Get(), &cookie) != S_OK;
      CoUninitialize();
    });
    for (int i = 1; i <= kEvents; ++i) failures += FAILED(status->put_ProgressPercent(i * 100.0 / kEvents));
    firing = false;
    cycler.join();
    EXPECT_EQ(S_OK, point->Unadvise(2));
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
  });
  EXPECT_EQ(0, failures);
  EXPECT_EQ(static_cast<size_t>(kEvents), stable->Count(kOnProgressChange));
}

// A sink that changes the status inside OnStatusChange: the call that completes signals the
// completion event exactly once, whatever the sink did after.
TEST(AsynchStatusRaces, EachCompletingCallSignalsOnce) {
  const struct {
    CallStatusConstants request;  // stored by the test; the sink re-enters on its event
    bool sinkCompletes;           // SetComplete, else Reset
    int signalsInside, signalsAfter;
  } rows[] = {{csInProgress, true, 1, 0}, {csComplete, false, 0, 1}};
  for (const auto& row : rows) {
    auto status = NewStatus();
    ULONG handle = 0;
    ASSERT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
    const auto signalled = [event = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle))] {
      return WaitForSingleObject(event, 0) == WAIT_OBJECT_0 ? 1 : 0;
    };
    if (row.request == csComplete) {
      EXPECT_EQ(S_OK, status->put_Status(csInProgress));
    }
    auto sink = TestSink::Make();
    int inside = 0;
    sink->onEvent = [&](const TestSink::Event& e) {
      if (e.status != row.request) return;
      EXPECT_EQ(S_OK, row.sinkCompletes ? status->SetComplete() : status->Reset());
      inside += signalled();
    };
    Connect(status.Get(), sink.Get());
    EXPECT_EQ(S_OK, status->put_Status(row.request));
    EXPECT_EQ(row.signalsInside, inside) << row.request;
    EXPECT_EQ(row.signalsAfter, signalled()) << row.request;
    sink->onEvent = nullptr;
  }
}

// A sink that answers the event interface but not IDispatch is connected, and passed over.
TEST(AsynchStatusRaces, SinkWithoutIDispatchIsConnected) {
  struct EventsOnly final : NoTypeInfoDispatch<IDispatch> {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      *out = iid == IID_IUnknown || iid == DIID__QXAsynchStatusEvents ? this : nullptr;
      return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
  } sink;
  auto status = NewStatus();
  EXPECT_EQ(1u, Connect(status.Get(), &sink));
  EXPECT_EQ(S_OK, status->put_Status(csInProgress));
}

// Objects of this apartment called through their own interfaces from another one.
TEST(CrossApartment, OwnInterfacesWorkFromAnotherApartment) {
  auto nv = NewNamedValues();
  auto status = NewStatus();
  IStream *nvStream = nullptr, *statusStream = nullptr;
  ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(IID_INamedValues2, nv.Get(), &nvStream));
  ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(IID__QXAsynchStatus, status.Get(), &statusStream));
  HRESULT added = E_FAIL, progressed = E_FAIL;
  InApartment(COINIT_APARTMENTTHREADED, [&] {
    ComPtr<INamedValues2> remoteNv;
    ComPtr<_QXAsynchStatus> remoteStatus;
    ComPtr<NamedValue> item;
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(nvStream, IID_INamedValues2, remoteNv.PutVoid()))) {
      added = remoteNv->Add(Bstr(L"x").Get(), VarI4(7).AddressOf(), item.Put());
    }
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(statusStream, IID__QXAsynchStatus, remoteStatus.PutVoid()))) {
      progressed = remoteStatus->put_ProgressPercent(40);
    }
  });
  EXPECT_EQ(S_OK, added);
  EXPECT_EQ(S_OK, progressed);
  EXPECT_EQ(1, CountOf(nv.Get()));
}

}  // namespace
}  // namespace qx::test
