// The asynch status object as an event source: cookies, enumeration, the container, sinks that
// fail, disconnect themselves or lack the event interface, and events fired from another
// thread reaching a sink in this apartment through the global interface table.
#include <string>
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
  if (point->EnumConnections(connections.Put()) != S_OK) return cookies;
  CONNECTDATA data{};
  while (connections->Next(1, &data, nullptr) == S_OK) {
    cookies.push_back(data.dwCookie);
    if (data.pUnk) data.pUnk->Release();
  }
  return cookies;
}

TEST_F(AsynchEvents, CookiesStartAtOneAndFreedSlotsAreReused) {
  auto status = NewStatus();
  auto point = EventsOf(status.Get());
  ASSERT_TRUE(point);
  auto sink = TestSink::Make();
  DWORD cookie = 99;
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(1)) << "no connection ever made";
  ComPtr<IEnumConnections> none;
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->EnumConnections(none.Put()));
  EXPECT_FALSE(none);

  for (DWORD expected : {1u, 2u, 3u}) {
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    EXPECT_EQ(expected, cookie);
  }
  EXPECT_EQ(S_OK, point->Unadvise(2));
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(2)) << "released twice";
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0));
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(4));
  EXPECT_EQ((std::vector<DWORD>{1, 3}), CookiesOf(point.Get()));
  ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
  EXPECT_EQ(2u, cookie) << "the lowest free slot";

  // Each connection is called once per event.
  ASSERT_EQ(S_OK, status->put_Status(csInProgress));
  EXPECT_EQ(3u, sink->Count(kOnStatusChange));
  for (DWORD c : {1u, 2u, 3u}) EXPECT_EQ(S_OK, point->Unadvise(c));
}

TEST_F(AsynchEvents, AdviseRefusals) {
  auto status = NewStatus();
  auto point = EventsOf(status.Get());
  DWORD cookie = 5;
  auto stranger = TestSink::Make(TestSink::Kind::kLacksEvents);
  EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(stranger.Get(), &cookie));
  EXPECT_EQ(0u, cookie);
  cookie = 5;
  EXPECT_EQ(E_POINTER, point->Advise(nullptr, &cookie));
  EXPECT_EQ(0u, cookie);
  EXPECT_EQ(E_POINTER, point->Advise(stranger.Get(), nullptr));
}

TEST_F(AsynchEvents, EnumeratorsFollowTheUsualRules) {
  auto status = NewStatus();
  auto point = EventsOf(status.Get());
  auto sink = TestSink::Make();
  for (int i = 0; i < 3; ++i) Connect(status.Get(), sink.Get());
  ComPtr<IEnumConnections> connections, clone;
  ASSERT_EQ(S_OK, point->EnumConnections(connections.Put()));
  CONNECTDATA data[4] = {};
  ULONG fetched = 9;
  EXPECT_EQ(E_INVALIDARG, connections->Next(0, data, &fetched));
  EXPECT_EQ(E_POINTER, connections->Next(2, data, nullptr));
  EXPECT_EQ(E_POINTER, connections->Next(1, nullptr, &fetched));
  EXPECT_EQ(E_INVALIDARG, connections->Skip(0));
  EXPECT_EQ(S_OK, connections->Skip(1));
  ASSERT_EQ(S_OK, connections->Clone(clone.Put()));
  // Each step: the enumerator, how many asked, the result and the cookies it gave.
  const struct {
    IEnumConnections* from;
    ULONG asked;
    HRESULT hr;
    std::vector<DWORD> cookies;
  } steps[] = {{connections.Get(), 4, S_FALSE, {2, 3}}, {clone.Get(), 1, S_OK, {2}}, {connections.Get(), 1, S_FALSE, {}}};
  for (const auto& step : steps) {
    EXPECT_EQ(step.hr, step.from->Next(step.asked, data, &fetched));
    std::vector<DWORD> cookies;
    for (ULONG i = 0; i < fetched; ++i) {
      cookies.push_back(data[i].dwCookie);
      EXPECT_EQ(static_cast<IUnknown*>(static_cast<IDispatch*>(sink.Get())), data[i].pUnk);
      data[i].pUnk->Release();
    }
    EXPECT_EQ(step.cookies, cookies);
  }
  EXPECT_EQ(S_FALSE, connections->Skip(1));
  EXPECT_EQ(S_OK, connections->Reset());
  EXPECT_EQ(S_OK, connections->Next(1, data, nullptr));
  EXPECT_EQ(1u, data[0].dwCookie);
  data[0].pUnk->Release();
}

TEST_F(AsynchEvents, ContainerHoldsTheOneConnectionPoint) {
  auto status = NewStatus();
  auto container = status.TryQuery<IConnectionPointContainer>();
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, point.Put()));
  EXPECT_FALSE(point);
  EXPECT_EQ(E_POINTER, container->FindConnectionPoint(DIID__QXAsynchStatusEvents, nullptr));

  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.Put()));
  IConnectionPoint* found[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, points->Next(2, found, &fetched));
  ASSERT_EQ(1u, fetched);
  point.Attach(found[0]);
  IID iid{};
  EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
  EXPECT_EQ(DIID__QXAsynchStatusEvents, iid);
  ComPtr<IConnectionPointContainer> owner;
  EXPECT_EQ(S_OK, point->GetConnectionPointContainer(owner.Put()));
  EXPECT_EQ(container.Get(), owner.Get());
  EXPECT_TRUE(point.TryQuery<IUnknown>());
  EXPECT_FALSE(point.TryQuery<IDispatch>()) << "the connection point answers only for itself";
}

TEST_F(AsynchEvents, FailingAndStrangeSinksDoNotStopTheOthers) {
  auto status = NewStatus();
  auto point = EventsOf(status.Get());
  auto failing = TestSink::Make(TestSink::Kind::kFails);
  auto leaving = TestSink::Make();
  auto recording = TestSink::Make();
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
}

// A sink that drops the last reference to the status object from inside the event.
TEST_F(AsynchEvents, SinkMayReleaseTheSourceFromInsideAnEvent) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  Connect(status.Get(), sink.Get());
  IQXAsynchStatus3* raw = status.Detach();  // the only reference
  bool released = false;
  sink->onEvent = [&](const TestSink::Event&) {
    if (!released) raw->Release();
    released = true;
  };
  EXPECT_EQ(S_OK, raw->put_Status(csInProgress));
  EXPECT_TRUE(released);
}

// Events fired on another thread reach a sink of this apartment on this thread, through the
// global interface table and the standard marshaler.
TEST(AsynchStatusThreads, EventsFromAnotherThreadReachTheSinkInItsApartment) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  ASSERT_EQ(1u, Connect(status.Get(), sink.Get()));
  HRESULT changed = E_FAIL, progressed = E_FAIL;
  com::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  IQXAsynchStatus3* raw = status.Get();
  std::thread firing([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    changed = raw->put_Status(csInProgress);
    progressed = raw->put_ProgressPercent(75);
    CoUninitialize();
    SetEvent(done.Get());
  });
  JoinPumping(firing, done.Get());
  EXPECT_EQ(S_OK, changed);
  EXPECT_EQ(S_OK, progressed);
  const auto events = sink->Events();
  ASSERT_EQ(2u, events.size());
  for (const auto& event : events) EXPECT_EQ(GetCurrentThreadId(), event.thread);
  EXPECT_EQ(1, events[0].status);
  EXPECT_EQ(75.0, events[1].progress);
}

// The completion event is waited on from another thread: one wait returns, a second times out.
TEST(AsynchStatusThreads, CompletionEventWakesOneWaiter) {
  auto status = NewStatus();
  ULONG handle = 0;
  ASSERT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
  const HANDLE event = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle));
  ASSERT_EQ(S_OK, status->put_Status(csInProgress));
  DWORD first = 0, second = 0;
  std::thread waiter([&] {
    first = WaitForSingleObject(event, 10000);
    second = WaitForSingleObject(event, 200);
  });
  Sleep(50);
  EXPECT_EQ(S_OK, status->SetComplete());
  waiter.join();
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), first);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), second);
}

// The event source announces its construction and destruction to the tracing library. Run in a
// child process, whose DLL loads zelog.dll with the settings given here.
TEST(AsynchTrace, EventSourceScopesReachTheTracingLibrary) {
  const std::wstring log = TempPath(L"qx_asynch_trace_", L".log");
  DeleteFileW(log.c_str());
  const std::pair<const wchar_t*, std::wstring> settings[] = {
      {L"ZELOG_ENABLED", L"1"}, {L"ZELOG_DEPTH", L"4"}, {L"ZELOG_LEVEL", L"200"}, {L"ZELOG_FILE", log}};
  for (const auto& [name, value] : settings) SetEnvironmentVariableW(name, value.c_str());
  const DWORD code = RunChildTest(L"AsynchTraceChild.DISABLED_CreateAndRelease");
  for (const auto& [name, value] : settings) SetEnvironmentVariableW(name, nullptr);
  EXPECT_EQ(kChildPassed, code);

  const auto lines = ReadLines(log);
  DeleteFileW(log.c_str());
  ASSERT_EQ(4u, lines.size());
  const char* expected[] = {" enter QXSDKIConnectionPointImpl.Construct", " exit  QXSDKIConnectionPointImpl.Construct",
                            " enter QXSDKIConnectionPointImpl.Destruct", " exit  QXSDKIConnectionPointImpl.Destruct"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_NE(std::string::npos, lines[i].find(expected[i])) << lines[i];
    EXPECT_NE(std::string::npos, lines[i].find(" depth=4 level=200 ")) << lines[i];
  }
}

// Run only in a child process by the test above.
TEST(AsynchTraceChild, DISABLED_CreateAndRelease) {
  NewStatus().Reset();
  ChildDone();
}

}  // namespace
}  // namespace qx::test
