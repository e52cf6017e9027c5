// QXAsynchStatus under races and re-entrant sinks, and the library's own interfaces called from
// another apartment.
#include <atomic>
#include <thread>

#include "asynch_sink.h"

namespace qx::test {
namespace {

// One thread fires progress events while another disconnects and reconnects the sink in slot 0:
// the sink that stays in slot 1 hears every event.
TEST(AsynchStatusRaces, StableSinkHearsEveryEventWhileAnotherCycles) {
  constexpr int kEvents = 200'000;
  auto status = NewStatus();
  IQXAsynchStatus3* raw = status.Get();
  auto cycling = TestSink::Make();
  auto stable = TestSink::Make();
  std::atomic<bool> firing{true};
  int progressFailures = 0;
  com::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  // Both threads live in the multithreaded apartment, so every sink is called directly.
  std::thread firer([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
      auto point = EventsOf(raw);
      DWORD first = 0, second = 0;
      EXPECT_EQ(S_OK, point->Advise(cycling.Get(), &first));
      EXPECT_EQ(S_OK, point->Advise(stable.Get(), &second));
      EXPECT_EQ(2u, second);
      std::thread cycler([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        DWORD cookie = first;
        while (firing) {
          EXPECT_EQ(S_OK, point->Unadvise(cookie));
          EXPECT_EQ(S_OK, point->Advise(cycling.Get(), &cookie));
        }
        EXPECT_EQ(S_OK, point->Unadvise(cookie));
        CoUninitialize();
      });
      for (int i = 1; i <= kEvents; ++i) progressFailures += FAILED(raw->put_ProgressPercent(i * 100.0 / kEvents));
      firing = false;
      cycler.join();
      EXPECT_EQ(S_OK, point->Unadvise(second));
    }
    CoUninitialize();
    SetEvent(done.Get());
  });
  JoinPumping(firer, done.Get());
  EXPECT_EQ(0, progressFailures);
  EXPECT_EQ(static_cast<size_t>(kEvents), stable->Count(kOnProgressChange));
}

// A sink that changes the status from inside OnStatusChange: the call that completes signals the
// completion event exactly once, whatever the sink did afterwards.
TEST(AsynchStatusRaces, EachCompletingCallSignalsOnce) {
  struct Row {
    const char* what;
    LONG reenterOn;  // the status whose event the sink answers
    bool sinkCompletes;  // SetComplete, else Reset
    LONG request;        // what the test stores
    int signalsInside, signalsAfter;
  };
  const Row rows[] = {
      {"SetComplete inside OnStatusChange(1)", csInProgress, true, csInProgress, 1, 0},
      {"Reset inside OnStatusChange(2)", csComplete, false, csComplete, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto status = NewStatus();
    ULONG handle = 0;
    ASSERT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
    const HANDLE event = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle));
    const auto signalled = [event] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0 ? 1 : 0; };
    if (row.request == csComplete) {
      ASSERT_EQ(S_OK, status->put_Status(csInProgress));
    }
    auto sink = TestSink::Make();
    IQXAsynchStatus3* raw = status.Get();
    int inside = 0;
    sink->onEvent = [&](const TestSink::Event& e) {
      if (e.id != kOnStatusChange || e.status != row.reenterOn) return;
      EXPECT_EQ(S_OK, row.sinkCompletes ? raw->SetComplete() : raw->Reset());
      inside += signalled();
    };
    ASSERT_NE(0u, Connect(raw, sink.Get()));
    EXPECT_EQ(S_OK, status->put_Status(static_cast<CallStatusConstants>(row.request)));
    EXPECT_EQ(row.signalsInside, inside);
    EXPECT_EQ(row.signalsAfter, signalled());
    sink->onEvent = nullptr;
  }
}

// A sink that answers the event interface but not IDispatch.
class EventsOnlySink final : public NoTypeInfoDispatch<IDispatch> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != DIID__QXAsynchStatusEvents) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

TEST(AsynchStatusRaces, SinkWithoutIDispatchIsConnectedAndPassedOver) {
  EventsOnlySink sink;
  {
    auto status = NewStatus();
    auto point = EventsOf(status.Get());
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(S_OK, status->put_Status(csInProgress));
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
  }
  EXPECT_EQ(1u, sink.refs) << "every reference the connection took is given back";
}

// Objects created in this apartment, called through their own interfaces from another
// single-threaded apartment: the type library's registration serves the marshaler.
TEST(CrossApartment, OwnInterfacesWorkFromAnotherApartment) {
  auto nv = NewNamedValues();
  auto status = NewStatus();
  IStream* nvStream = nullptr;
  IStream* statusStream = nullptr;
  ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(IID_INamedValues2, nv.Get(), &nvStream));
  ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(IID__QXAsynchStatus, status.Get(), &statusStream));
  HRESULT added = E_FAIL, progressed = E_FAIL;
  com::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread other([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      ComPtr<INamedValues2> remoteNv;
      ComPtr<_QXAsynchStatus> remoteStatus;
      if (SUCCEEDED(CoGetInterfaceAndReleaseStream(nvStream, IID_INamedValues2, remoteNv.PutVoid()))) {
        ComPtr<NamedValue> item;
        added = remoteNv->Add(Bstr(L"x").Get(), VarI4(7).AddressOf(), item.Put());
      }
      if (SUCCEEDED(CoGetInterfaceAndReleaseStream(statusStream, IID__QXAsynchStatus, remoteStatus.PutVoid()))) {
        progressed = remoteStatus->put_ProgressPercent(40);
      }
    }
    CoUninitialize();
    SetEvent(done.Get());
  });
  JoinPumping(other, done.Get());
  EXPECT_EQ(S_OK, added);
  EXPECT_EQ(S_OK, progressed);
  EXPECT_EQ(1, CountOf(nv.Get()));
  double progress = 0;
  EXPECT_EQ(S_OK, status->get_ProgressPercent(&progress));
  EXPECT_EQ(40.0, progress);
}

}  // namespace
}  // namespace qx::test
