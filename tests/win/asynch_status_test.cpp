// The asynch status object through COM: refusals with their codes and texts, the course of a call
// with its events, results, the window-message rule of Result, the completion event, and the
// chained items. The status rules themselves are checked over every pair of words in the core.
#include <cmath>
#include <functional>
#include <thread>

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
// A status object brought to `value` from the initial state (no sink connected).
ComPtr<IQXAsynchStatus3> StatusAt(LONG value) {
  auto status = NewStatus();
  if (value != 0) {
    EXPECT_EQ(S_OK, SetStatus(status.Get(), value));
  }
  return status;
}
HANDLE EventOf(IQXAsynchStatus3* status) {
  ULONG handle = 0;
  EXPECT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle));
}
bool Signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

using AsynchStatus = LeakCheckedTest;

TEST_F(AsynchStatus, OneObjectAnswersItsInterfaces) {
  auto status = NewStatus();
  ASSERT_TRUE(status);
  EXPECT_EQ(static_cast<void*>(status.Get()), static_cast<void*>(status.TryQuery<_QXAsynchStatus>().Get()));
  EXPECT_EQ(static_cast<void*>(status.Get()), static_cast<void*>(status.TryQuery<IDispatch>().Get()));
  EXPECT_TRUE(status.TryQuery<IQXAsynchStatus2>() && status.TryQuery<IQXAsynchStatusInt>());
  EXPECT_TRUE(status.TryQuery<IConnectionPointContainer>());
  EXPECT_FALSE(status.TryQuery<IConnectionPoint>());
  auto errors = status.TryQuery<ISupportErrorInfo>();
  EXPECT_EQ(S_OK, errors->InterfaceSupportsErrorInfo(IID__QXAsynchStatus));
  EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(__uuidof(IQXAsynchStatus3)));
  EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(__uuidof(IQXAsynchStatusInt)));
  // Late binding sees the members of IQXAsynchStatus3.
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"CallCompleteEvent2");
  EXPECT_EQ(S_OK, status.TryQuery<IDispatch>()->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  EXPECT_EQ(102, id);
  ComPtr<IUnknown> aggregated;
  EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_QXAsynchStatus, status.Get(), CLSCTX_INPROC_SERVER,
                                                    IID_IUnknown, aggregated.PutVoid()));
}

// Each refusal: its code and text, the status kept, and no event fired.
TEST_F(AsynchStatus, RefusalsReportAndChangeNothing) {
  auto one = VarI4(1);
  const Refusal<IQXAsynchStatus3> rows[] = {  // setup: the status to start from
      {"running to initial", 1, [](auto s) { return SetStatus(s, 0); }, E_INVALIDARG, L""},
      {"running to cancelled only", 1, [](auto s) { return SetStatus(s, 8); }, E_INVALIDARG, L""},
      {"errors dropped", 4, [](auto s) { return SetStatus(s, 16); }, E_INVALIDARG, L""},
      {"running and complete", 0, [](auto s) { return SetStatus(s, 3); }, E_INVALIDARG, L""},
      {"change after completion", 2, [](auto s) { return SetStatus(s, 6); }, cmeASYNCHCOMPLETE, kCompleteText},
      {"Cancel after completion", 6, [](auto s) { return s->Cancel(); }, cmeASYNCHCOMPLETE, kCompleteText},
      {"SetErrors after completion", 2, [](auto s) { return s->SetErrors(); }, cmeASYNCHCOMPLETE, kCompleteText},
      {"Reset while running", 1, [](auto s) { return s->Reset(); }, cmeASYNCHINPROGRESS,
       L"Asynchronous call is already in progress. "},
      {"Result when complete", 2, [&](auto s) { return s->put_Result(one.Get()); }, cmeASYNCHNOTINPROGRESS,
       kNotInProgressText},
      {"Result with errors only", 4, [&](auto s) { return s->put_Result(one.Get()); }, cmeASYNCHNOTINPROGRESS,
       kNotInProgressText},
      {"Result when only cancelled", 8, [&](auto s) { return s->put_Result(one.Get()); }, cmeASYNCHNOTINPROGRESS,
       kNotInProgressText},
      {"Result after failing to complete", 16, [&](auto s) { return s->put_Result(one.Get()); },
       cmeASYNCHNOTINPROGRESS, kNotInProgressText},
      {"progress backwards", 1, [](auto s) { return Chain({s->put_ProgressPercent(50), s->put_ProgressPercent(40)}); },
       E_INVALIDARG, L""},
      {"progress above 100", 1, [](auto s) { return s->put_ProgressPercent(100.5); }, E_INVALIDARG, L""},
      {"infinite progress", 1, [](auto s) { return s->put_ProgressPercent(HUGE_VAL); }, E_INVALIDARG, L""},
      {"Status out", 0, [](auto s) { return s->get_Status(nullptr); }, E_POINTER, L""},
      {"ProgressPercent out", 0, [](auto s) { return s->get_ProgressPercent(nullptr); }, E_POINTER, L""},
      {"Result out", 0, [](auto s) { return s->get_Result(nullptr); }, E_POINTER, L""},
      {"Timeout out", 0, [](auto s) { return s->get_Timeout(nullptr); }, E_POINTER, L""},
      {"CallCompleteEvent2 out", 0, [](auto s) { return s->get_CallCompleteEvent2(nullptr); }, E_POINTER, L""},
      {"CallCompleteEvent out", 0,
       [](auto s) { return As<IQXAsynchStatus2>(s)->get_CallCompleteEvent(nullptr); }, E_INVALIDARG, L""},
      {"NextAsynchItem out", 0, [](auto s) { return As<IQXAsynchStatusInt>(s)->get_NextAsynchItem(nullptr); },
       E_POINTER, L""},
      {"InternalReturnItem out", 0,
       [](auto s) { return As<IQXAsynchStatusInt>(s)->get_InternalReturnItem(nullptr); }, E_POINTER, L""},
      {"CreatorThreadID out", 0, [](auto s) { return As<IQXAsynchStatusInt>(s)->get_CreatorThreadID(nullptr); },
       E_POINTER, L""},
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
  const struct {
    HRESULT (*step)(IQXAsynchStatus3*);
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

  const struct {
    DISPID id;
    VARTYPE type;
    LONG status;
    double progress;
  } expected[] = {{kOnStatusChange, VT_I4, 1, 0},    {kOnProgressChange, VT_R8, 0, 50},
                  {kOnProgressChange, VT_R8, 0, 50}, {kOnStatusChange, VT_I4, 5, 0},
                  {kOnStatusChange, VT_I4, 13, 0},   {kOnStatusChange, VT_I4, 14, 0}};
  const auto events = sink->Events();
  ASSERT_EQ(std::size(expected), events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(expected[i].id, events[i].id) << i;
    EXPECT_EQ(expected[i].type, events[i].type) << i;
    EXPECT_EQ(expected[i].status, events[i].status) << i;
    EXPECT_EQ(expected[i].progress, events[i].progress) << i;
  }

  // Reset brings the object back quietly; the connection, timeout and event stay, and the next
  // call signals again.
  EXPECT_EQ(S_OK, status->Reset());
  EXPECT_EQ(0, StatusOf(status.Get()));
  LONG timeout = 0;
  EXPECT_EQ(S_OK, status->get_Timeout(&timeout));
  EXPECT_EQ(3, timeout);
  EXPECT_EQ(S_OK, SetStatus(status.Get(), csComplete));
  EXPECT_TRUE(Signalled(event));
  EXPECT_EQ(7u, sink->Events().size());
  // An event asked for after completion is not signalled.
  EXPECT_FALSE(Signalled(EventOf(StatusAt(csComplete).Get())));
  // Progress does not look at the status; a NaN passes the comparisons.
  auto complete = StatusAt(csComplete);
  EXPECT_EQ(S_OK, complete->put_ProgressPercent(std::nan("")));
  EXPECT_EQ(S_OK, complete->put_ProgressPercent(0));
}

TEST_F(AsynchStatus, ResultsAreCopiesOrReferences) {
  auto status = StatusAt(csInProgress);
  LONG target = 41;
  VARIANT byRef;
  V_VT(&byRef) = VT_BYREF | VT_I4;
  V_I4REF(&byRef) = &target;
  EXPECT_EQ(S_OK, status->put_Result(byRef));
  target = 0;
  UniqueVariant result;
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  EXPECT_EQ(VT_I4, result.Type());
  EXPECT_EQ(41, V_I4(&result.Get())) << "a by-reference value is stored as what it points to";
  auto other = NewStatus();
  EXPECT_EQ(S_OK, status->put_Result(VarObject(other.Get()).Get()));
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  EXPECT_EQ(static_cast<IDispatch*>(other.Get()), V_DISPATCH(&result.Get()));

  // An attached value's reference passes to the object in any state; Reset releases it.
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

  LONG thread = 0;
  EXPECT_EQ(S_OK, As<IQXAsynchStatusInt>(status.Get())->get_CreatorThreadID(&thread));
  EXPECT_EQ(static_cast<LONG>(GetCurrentThreadId()), thread);
}

// A window of this thread that counts the messages it is sent.
class CountingWindow {
 public:
  static constexpr UINT kMessage = WM_APP + 7;
  CountingWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QXAsynchStatusTestWindow";
    RegisterClassW(&windowClass);
    window_ = CreateWindowW(L"QXAsynchStatusTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    handled_ = 0;
  }
  ~CountingWindow() { DestroyWindow(window_); }
  HWND Get() const { return window_; }
  static int Handled() { return handled_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message != kMessage) return DefWindowProcW(window, message, w, l);
    ++handled_;
    return 0;
  }
  static inline int handled_ = 0;
  HWND window_;
};

TEST_F(AsynchStatus, EachResultReadHandlesOnePendingMessage) {
  auto status = NewStatus();
  CountingWindow window;
  ASSERT_TRUE(window.Get());
  MSG drained;
  while (PeekMessageW(&drained, nullptr, 0, 0, PM_REMOVE)) {
  }
  ASSERT_TRUE(PostMessageW(window.Get(), CountingWindow::kMessage, 0, 0));
  ASSERT_TRUE(PostMessageW(window.Get(), CountingWindow::kMessage, 0, 0));
  UniqueVariant result;
  for (int expected : {1, 2, 2}) {
    EXPECT_EQ(S_OK, status->get_Result(result.Put()));
    EXPECT_EQ(expected, CountingWindow::Handled());
  }
  // A quit request is left for the thread's own loop.
  PostQuitMessage(3);
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  MSG quit{};
  ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(3u, quit.wParam);
}

TEST_F(AsynchStatus, CompletionEventIsOneHandle) {
  auto status = NewStatus();
  LONG handle = 0;
  ASSERT_EQ(S_OK, status.TryQuery<IQXAsynchStatus2>()->get_CallCompleteEvent(&handle));
  EXPECT_NE(0, handle);
  EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(static_cast<ULONG>(handle))), EventOf(status.Get()));
  EXPECT_EQ(EventOf(status.Get()), EventOf(status.Get()));
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
