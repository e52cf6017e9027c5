// The asynch status object as an event source: cookies, sinks that fail, disconnect or release
// the source from inside an event, sinks racing the firing thread or re-entering it, events
// fired from another thread, and the library's own interfaces called from another apartment.
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "asynch_sink.h"

namespace qx::test {
namespace {

using AsynchEvents = LeakCheckedTest;

std::vector<DWORD> CookiesOf(IConnectionPoint* point) {
  std::vector<DWORD> cookies;
  ComPtr<IEnumConnections> connections;
  CONNECTDATA data{};
  if (point->EnumConnections(connections.Put()) != S_OK) return cookies;
  while (connections->Next(1, &data, nullptr) == S_OK) {
    cookies.push_back(data.dwCookie);
    data.pUnk->Release();
  }
  return cookies;
}

TEST_F(AsynchEvents, CookiesStartAtOneAndFreedSlotsAreReused) {
  auto status = NewStatus();
  auto point = EventsOf(status.Get());
  auto sink = TestSink::Make();
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(1)) << "no connection ever made";
  EXPECT_TRUE(CookiesOf(point.Get()).empty());
  for (DWORD expected : {1u, 2u, 3u}) EXPECT_EQ(expected, Connect(status.Get(), sink.Get()));
  EXPECT_EQ(S_OK, point->Unadvise(2));
  for (DWORD stale : {2u, 0u, 4u}) EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(stale)) << stale;
  EXPECT_EQ((std::vector<DWORD>{1, 3}), CookiesOf(point.Get()));
  EXPECT_EQ(2u, Connect(status.Get(), sink.Get())) << "the lowest free slot";
  ASSERT_EQ(S_OK, status->put_Status(csInProgress));
  EXPECT_EQ(3u, sink->Count(kOnStatusChange)) << "each connection is called once per event";

  auto stranger = TestSink::Make();
  stranger->lacksEvents = true;
  DWORD cookie = 5;
  EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(stranger.Get(), &cookie));
  EXPECT_EQ(0u, cookie);
  for (DWORD c : {1u, 2u, 3u}) EXPECT_EQ(S_OK, point->Unadvise(c));
}

TEST_F(AsynchEvents, FailingAndLeavingSinksDoNotStopTheOthers) {
  auto status = NewStatus();
  auto point = EventsOf(status.Get());
  auto failing = TestSink::Make(), leaving = TestSink::Make(), recording = TestSink::Make();
  failing->fails = true;
  Connect(status.Get(), failing.Get());
  const DWORD leavingCookie = Connect(status.Get(), leaving.Get());
  Connect(status.Get(), recording.Get());
  HRESULT unadvised = E_FAIL;
  leaving->onEvent = [&](const TestSink::Event&) { unadvised = point->Unadvise(leavingCookie); };
  EXPECT_EQ(S_OK, status->put_Status(csInProgress));
  EXPECT_EQ(S_OK, unadvised) << "a sink may disconnect from inside an event";
  EXPECT_EQ(S_OK, status->put_ProgressPercent(10));
  EXPECT_EQ(2u, failing->Events().size());
  EXPECT_EQ(1u, leaving->Events().size());
  EXPECT_EQ(2u, recording->Events().size());

  // A sink that drops the last reference to the status object from inside the event.
  IQXAsynchStatus3* raw = NewStatus().Detach();
  Connect(raw, recording.Get());
  recording->onEvent = [&](const TestSink::Event&) { std::exchange(raw, nullptr)->Release(); };
  EXPECT_EQ(S_OK, raw->put_Status(csInProgress));
  EXPECT_EQ(nullptr, raw);
}

// A sink that answers the event interface but not IDispatch is connected, and passed over.
TEST_F(AsynchEvents, SinkWithoutIDispatchIsConnected) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  sink->lacksDispatch = true;
  EXPECT_EQ(1u, Connect(status.Get(), sink.Get()));
  EXPECT_EQ(S_OK, status->put_Status(csInProgress));
  EXPECT_EQ(S_OK, EventsOf(status.Get())->Unadvise(1));
}

// Events fired on another thread reach a sink of this apartment on this thread, through the
// global interface table and the standard marshaler; the completion event wakes one waiter once.
TEST(AsynchStatusThreads, EventsFromAnotherThreadReachTheSinkInItsApartment) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  ASSERT_EQ(1u, Connect(status.Get(), sink.Get()));
  HRESULT changed = E_FAIL, progressed = E_FAIL;
  InApartment(COINIT_MULTITHREADED, [&] {
    changed = status->put_Status(csInProgress);
    progressed = status->put_ProgressPercent(75);
  });
  EXPECT_EQ(S_OK, changed);
  EXPECT_EQ(S_OK, progressed);
  const auto events = sink->Events();
  ASSERT_EQ(2u, events.size());
  for (const auto& event : events) EXPECT_EQ(GetCurrentThreadId(), event.thread);
  EXPECT_EQ(1, events[0].status);
  EXPECT_EQ(75.0, events[1].progress);

  ULONG handle = 0;
  ASSERT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
  DWORD first = 0, second = 0;
  std::thread waiter([&, event = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle))] {
    first = WaitForSingleObject(event, 10000);
    second = WaitForSingleObject(event, 200);
  });
  Sleep(50);
  EXPECT_EQ(S_OK, status->SetComplete());
  waiter.join();
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), first);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), second);
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
    if (row.request == csComplete) { EXPECT_EQ(S_OK, status->put_Status(csInProgress)); }
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
