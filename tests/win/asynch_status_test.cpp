// The asynch status object's events and completion signal with sinks that re-enter, race the
// firing thread or live in another apartment. The status rules are checked in the core.
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "asynch_sink.h"

namespace qx::test {
namespace {

HANDLE EventOf(IQXAsynchStatus3* status) {
  ULONG handle = 0;
  EXPECT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle));
}
int Signals(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0 ? 1 : 0; }

using AsynchStatus = LeakCheckedTest;

// Each way a request is refused: its code and text as the status object reports them, the status
// kept and no event fired. Which words are refused is decided in the core; this pins the mapping.
TEST_F(AsynchStatus, RefusalsReportAndChangeNothing) {
  const std::wstring complete = L"Asynchronous call is already complete. ";
  const Refusal<IQXAsynchStatus3> rows[] = {
      // setup: the status to start from
      {"running to initial", csInProgress, [](auto s) { return s->put_Status(csInitial); }, E_INVALIDARG, L""},
      {"change after completion", csComplete, [](auto s) { return s->put_Status(csHasErrors); }, cmeASYNCHCOMPLETE,
       complete},
      {"Cancel after completion", csComplete, [](auto s) { return s->Cancel(); }, cmeASYNCHCOMPLETE, complete},
      {"Reset while running", csInProgress, [](auto s) { return s->Reset(); }, cmeASYNCHINPROGRESS,
       L"Asynchronous call is already in progress. "},
      {"Result when complete", csComplete, [](auto s) { return s->put_Result(*VarI4(1).AddressOf()); },
       cmeASYNCHNOTINPROGRESS, L"Asynchronous result cannot be set unless the call is in progress. "},
      {"progress backwards", csInProgress,
       [](auto s) {
         return Chain({s->put_ProgressPercent(50), s->put_ProgressPercent(40)});
       },
       E_INVALIDARG, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto status = NewStatus();
    EXPECT_EQ(S_OK, status->put_Status(static_cast<CallStatusConstants>(row.setup)));
    auto sink = TestSink::Make();
    Connect(status.Get(), sink.Get());
    EXPECT_TRUE(Fails(row.hr, row.call(status.Get()), row.description));
    CallStatusConstants now = csInitial;
    EXPECT_EQ(S_OK, status->get_Status(&now));
    EXPECT_EQ(row.setup, now);
    for (const auto& event : sink->Events()) EXPECT_NE(kOnStatusChange, event.id);
  }
}

// Exactly one completion signal per completing call, whatever a sink does inside its event:
// completes the call itself, resets it, or fails the change (which then signals nothing).
TEST_F(AsynchStatus, EachCompletingCallSignalsOnce) {
  const struct {
    CallStatusConstants from, request;
    HRESULT (*inside)(IQXAsynchStatus3*);  // what the sink calls on the event of `request`
    HRESULT sinkReturns;
    int signalsInside, signalsAfter;
  } rows[] = {
      {csInitial, csInProgress, [](auto s) { return s->SetComplete(); }, S_OK, 1, 0},
      {csInProgress, csComplete, [](auto s) { return s->Reset(); }, S_OK, 0, 1},
      {csInProgress, csComplete, nullptr, E_ABORT, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);  // the row number
    auto status = NewStatus();
    const HANDLE event = EventOf(status.Get());
    EXPECT_EQ(S_OK, status->put_Status(row.from));
    auto sink = TestSink::Make();
    sink->returns = VarI4(row.sinkReturns);
    int inside = 0;
    sink->onEvent = [&](const TestSink::Event& e) {
      if (e.status != row.request || !row.inside) return;
      EXPECT_EQ(S_OK, row.inside(status.Get()));
      inside += Signals(event);
    };
    Connect(status.Get(), sink.Get());
    EXPECT_EQ(row.sinkReturns, status->put_Status(row.request));
    EXPECT_EQ(row.signalsInside, inside);
    EXPECT_EQ(row.signalsAfter, Signals(event));
  }
}

// A sink without IDispatch is connected and passed over; one that disconnects inside an event
// stops no other; one may drop the last reference to the source from inside an event.
TEST_F(AsynchStatus, AwkwardSinksStopNoOther) {
  auto status = NewStatus();
  auto point = EventsOf(status.Get());
  auto blind = TestSink::Make(), leaving = TestSink::Make(), recording = TestSink::Make();
  blind->lacksDispatch = true;
  EXPECT_EQ(1u, Connect(status.Get(), blind.Get()));
  const DWORD leavingCookie = Connect(status.Get(), leaving.Get());
  Connect(status.Get(), recording.Get());
  HRESULT unadvised = E_FAIL;
  leaving->onEvent = [&](const TestSink::Event&) { unadvised = point->Unadvise(leavingCookie); };
  EXPECT_EQ(S_OK, status->put_Status(csInProgress));
  EXPECT_EQ(S_OK, unadvised);
  EXPECT_EQ(S_OK, status->put_ProgressPercent(10));
  EXPECT_TRUE(blind->Events().empty());
  EXPECT_EQ(1u, leaving->Events().size());
  EXPECT_EQ(2u, recording->Events().size());

  IQXAsynchStatus3* raw = NewStatus().Detach();
  Connect(raw, recording.Get());
  recording->onEvent = [&](const TestSink::Event&) { std::exchange(raw, nullptr)->Release(); };
  EXPECT_EQ(S_OK, raw->put_Status(csInProgress));
  EXPECT_EQ(nullptr, raw);
}

// Events fired on another thread reach a sink of this apartment on this thread.
TEST(AsynchStatusThreads, EventsFromAnotherThreadReachTheSinkInItsApartment) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  Connect(status.Get(), sink.Get());
  InApartment(COINIT_MULTITHREADED, [&] {
    EXPECT_EQ(S_OK, status->put_Status(csInProgress));
    EXPECT_EQ(S_OK, status->put_ProgressPercent(75));
  });
  const auto events = sink->Events();
  ASSERT_EQ(2u, events.size());
  for (const auto& event : events) EXPECT_EQ(GetCurrentThreadId(), event.thread);
  EXPECT_EQ(kOnStatusChange, events[0].id);
  EXPECT_EQ(1, events[0].status);
  EXPECT_EQ(kOnProgressChange, events[1].id);
  EXPECT_EQ(75.0, events[1].progress);
}

// One thread fires progress events while another disconnects slot 0 and connects a new sink there:
// the sink in slot 1 hears every event. Both threads are in the multithreaded apartment, so
// sinks are called directly.
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
      // A new sink each time, kept to the end: Wine's table is not safe when one object's
      // entries are added and revoked on one thread while fetched on another.
      std::vector<ComPtr<TestSink>> sinks;
      while (firing) {
        sinks.push_back(TestSink::Make());
        failures += point->Unadvise(cookie) != S_OK || point->Advise(sinks.back().Get(), &cookie) != S_OK;
      }
      CoUninitialize();
    });
    for (int i = 1; i <= kEvents; ++i) failures += FAILED(status->put_ProgressPercent(i * 100.0 / kEvents));
    firing = false;
    cycler.join();
    EXPECT_EQ(S_OK, point->Unadvise(2));
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
  });
  EXPECT_EQ(0, failures);
  EXPECT_EQ(static_cast<size_t>(kEvents), stable->Events().size());
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
