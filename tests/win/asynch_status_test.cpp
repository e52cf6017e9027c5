// The asynch status object through COM: refusals, the course of a call with its events, attached
// results, and a sink failing a change. The status rules themselves
// are checked over every pair of words in the core.
#include <cmath>
#include <tuple>

#include "asynch_sink.h"

namespace qx::test {
namespace {

const std::wstring kCompleteText = L"Asynchronous call is already complete. ";
const std::wstring kNotInProgressText = L"Asynchronous result cannot be set unless the call is in progress. ";

LONG StatusOf(IQXAsynchStatus3* status) {
  CallStatusConstants value = csInitial;
  EXPECT_EQ(S_OK, status->get_Status(&value));
  return value;
}
HRESULT SetStatus(IQXAsynchStatus3* status, LONG value) {
  return status->put_Status(static_cast<CallStatusConstants>(value));
}
ComPtr<IQXAsynchStatus3> StatusAt(LONG value) {
  auto status = NewStatus();
  if (value != 0) { EXPECT_EQ(S_OK, SetStatus(status.Get(), value)); }
  return status;
}
HANDLE EventOf(IQXAsynchStatus3* status) {
  ULONG handle = 0;
  EXPECT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle));
}
bool Signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

using AsynchStatus = LeakCheckedTest;

// Each refusal: its code and text, the status kept, and no event fired.
TEST_F(AsynchStatus, RefusalsReportAndChangeNothing) {
  auto one = VarI4(1);
  auto result = [&](auto s) { return s->put_Result(one.Get()); };
  const Refusal<IQXAsynchStatus3> rows[] = {  // setup: the status to start from
      {"running to initial", 1, [](auto s) { return SetStatus(s, 0); }, E_INVALIDARG, L""},
      {"running to cancelled only", 1, [](auto s) { return SetStatus(s, 8); }, E_INVALIDARG, L""},
      {"errors dropped", 4, [](auto s) { return SetStatus(s, 16); }, E_INVALIDARG, L""},
      {"running and complete", 0, [](auto s) { return SetStatus(s, 3); }, E_INVALIDARG, L""},
      {"change after completion", 2, [](auto s) { return SetStatus(s, 6); }, cmeASYNCHCOMPLETE, kCompleteText},
      {"Cancel after completion", 6, [](auto s) { return s->Cancel(); }, cmeASYNCHCOMPLETE, kCompleteText},
      {"Reset while running", 1, [](auto s) { return s->Reset(); }, cmeASYNCHINPROGRESS,
       L"Asynchronous call is already in progress. "},
      {"Result when complete", 2, result, cmeASYNCHNOTINPROGRESS, kNotInProgressText},
      {"Result when only cancelled", 8, result, cmeASYNCHNOTINPROGRESS, kNotInProgressText},
      {"progress backwards", 1, [](auto s) { return Chain({s->put_ProgressPercent(50), s->put_ProgressPercent(40)}); },
       E_INVALIDARG, L""},
      {"progress above 100", 1, [](auto s) { return s->put_ProgressPercent(100.5); }, E_INVALIDARG, L""},
      {"infinite progress", 1, [](auto s) { return s->put_ProgressPercent(HUGE_VAL); }, E_INVALIDARG, L""},
      {"CallCompleteEvent out", 0,
       [](auto s) { return As<IQXAsynchStatus2>(s)->get_CallCompleteEvent(nullptr); }, E_INVALIDARG, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto status = StatusAt(row.setup);
    auto sink = TestSink::Make();
    Connect(status.Get(), sink.Get());
    EXPECT_TRUE(Fails(row.hr, row.call(status.Get()), row.description));
    EXPECT_EQ(row.setup, StatusOf(status.Get()));
    EXPECT_EQ(0u, sink->Count(kOnStatusChange));
  }
}

TEST_F(AsynchStatus, CourseOfACallWithItsEvents) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  ASSERT_EQ(1u, Connect(status.Get(), sink.Get()));
  const HANDLE event = EventOf(status.Get());
  PutThreadError(L"planted");  // no successful call touches it
  using Step = HRESULT (*)(IQXAsynchStatus3*);
  const struct {
    Step step;
    LONG status;
  } steps[] = {
      {[](IQXAsynchStatus3* s) { return SetStatus(s, 0); }, 0},  // the same status: no event
      {[](IQXAsynchStatus3* s) { return SetStatus(s, csInProgress); }, 1},
      {[](IQXAsynchStatus3* s) { return s->put_ProgressPercent(50); }, 1},
      {[](IQXAsynchStatus3* s) { return s->put_ProgressPercent(50); }, 1},  // the same progress fires again
      {[](IQXAsynchStatus3* s) { return s->put_Timeout(3); }, 1},
      {[](IQXAsynchStatus3* s) { return s->SetErrors(); }, 5},
      {[](IQXAsynchStatus3* s) { return s->SetErrors(); }, 5},  // the error bit is there: no change
      {[](IQXAsynchStatus3* s) { return s->Cancel(); }, 13},
      {[](IQXAsynchStatus3* s) { return s->SetComplete(); }, 14},
      {[](IQXAsynchStatus3* s) { return s->SetComplete(); }, 14},  // complete again: no change
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    EXPECT_EQ(S_OK, steps[i].step(status.Get())) << i;
    EXPECT_EQ(steps[i].status, StatusOf(status.Get())) << i;
    EXPECT_EQ(i == std::size(steps) - 2, Signalled(event)) << "signalled once, on completion; step " << i;
  }
  EXPECT_EQ(L"planted", PeekError().description);
  SetErrorInfo(0, nullptr);
  double progress = 0;
  EXPECT_EQ(S_OK, status->get_ProgressPercent(&progress));
  EXPECT_EQ(50.0, progress) << "a cancelled call keeps its progress";
  const std::vector<std::tuple<DISPID, LONG, double>> expected = {
      {kOnStatusChange, 1, -1}, {kOnProgressChange, -1, 50}, {kOnProgressChange, -1, 50},
      {kOnStatusChange, 5, -1}, {kOnStatusChange, 13, -1},   {kOnStatusChange, 14, -1}};
  std::vector<std::tuple<DISPID, LONG, double>> seen;
  for (const auto& e : sink->Events()) seen.emplace_back(e.id, e.status, e.progress);
  EXPECT_EQ(expected, seen);

  // Reset brings the object back quietly; the connection and timeout stay, and the next call
  // signals again.
  EXPECT_EQ(S_OK, status->Reset());
  LONG timeout = 0;
  EXPECT_EQ(S_OK, status->get_Timeout(&timeout));
  EXPECT_EQ(3, timeout);
  EXPECT_EQ(S_OK, SetStatus(status.Get(), csComplete));
  EXPECT_TRUE(Signalled(event));
  EXPECT_EQ(7u, sink->Events().size());
  EXPECT_FALSE(Signalled(EventOf(StatusAt(csComplete).Get()))) << "an event asked for after completion";
  auto complete = StatusAt(csComplete);  // progress does not look at the status; NaN passes
  EXPECT_EQ(S_OK, complete->put_ProgressPercent(std::nan("")));
  EXPECT_EQ(S_OK, complete->put_ProgressPercent(0));
}

// An attached value's reference passes to the object in any state; Reset releases it.
TEST_F(AsynchStatus, AttachedValuesAreReleasedByReset) {
  auto done = StatusAt(csCompleteWithErrors);
  auto held = TestSink::Make();
  held->AddRef();
  VARIANT value;
  V_VT(&value) = VT_UNKNOWN;
  V_UNKNOWN(&value) = static_cast<IDispatch*>(held.Get());
  EXPECT_EQ(S_OK, As<IQXAsynchStatusInt>(done.Get())->AttachInternalResult(value));
  held->AddRef();
  EXPECT_EQ(2u, held->Release()) << "ours and the object's";
  EXPECT_EQ(S_OK, done->Reset());
  held->AddRef();
  EXPECT_EQ(1u, held->Release()) << "Reset released the attached value";
}

// A sink's negative value becomes the result of the status change, and the event stays
// unsignalled; a positive one is passed back as it is; a progress change ignores both.
TEST_F(AsynchStatus, SinkCanFailAStatusChange) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  V_VT(sink->returns.AddressOf()) = VT_I4;
  V_I4(sink->returns.AddressOf()) = E_ABORT;
  Connect(status.Get(), sink.Get());
  const HANDLE event = EventOf(status.Get());
  EXPECT_EQ(E_ABORT, status->SetComplete());
  EXPECT_EQ(csComplete, StatusOf(status.Get())) << "the new status stays";
  EXPECT_FALSE(Signalled(event));
  EXPECT_EQ(S_OK, status->put_ProgressPercent(100));
  auto other = NewStatus();
  V_I4(sink->returns.AddressOf()) = 7;
  Connect(other.Get(), sink.Get());
  EXPECT_EQ(7, SetStatus(other.Get(), csInProgress));
}

}  // namespace
}  // namespace qx::test
