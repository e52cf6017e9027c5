// The asynch status object: its interfaces, the status, progress and result rules with their
// events and error objects, the window-message rule of Result, the completion event, and the
// chained items.
#include <cmath>
#include <limits>
#include <thread>

#include "asynch_sink.h"

namespace qx::test {
namespace {

// The library's codes, from the type library's error constants.
constexpr HRESULT kAsynchComplete = cmeASYNCHCOMPLETE;
constexpr HRESULT kAsynchNotInProgress = cmeASYNCHNOTINPROGRESS;
constexpr HRESULT kAsynchInProgress = cmeASYNCHINPROGRESS;
const std::wstring kCompleteText = L"Asynchronous call is already complete. ";
const std::wstring kNotInProgressText = L"Asynchronous result cannot be set unless the call is in progress. ";
const std::wstring kInProgressText = L"Asynchronous call is already in progress. ";

LONG StatusOf(IQXAsynchStatus3* status) {
  CallStatusConstants value = csInitial;
  EXPECT_EQ(S_OK, status->get_Status(&value));
  return value;
}
double ProgressOf(IQXAsynchStatus3* status) {
  double value = -1;
  EXPECT_EQ(S_OK, status->get_ProgressPercent(&value));
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
// An error object no method of the object should touch on success.
void PlantError() {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Put()));
  create->SetDescription(const_cast<LPOLESTR>(L"planted"));
  create->SetSource(const_cast<LPOLESTR>(L"QXSDK"));
  SetErrorInfo(0, create.TryQuery<IErrorInfo>().Get());
}

using AsynchStatus = LeakCheckedTest;

TEST_F(AsynchStatus, OneObjectAnswersItsInterfaces) {
  auto status = NewStatus();
  ASSERT_TRUE(status);
  auto base = status.TryQuery<_QXAsynchStatus>();
  auto dispatch = status.TryQuery<IDispatch>();
  EXPECT_EQ(static_cast<void*>(status.Get()), static_cast<void*>(base.Get()));
  EXPECT_EQ(static_cast<void*>(status.Get()), static_cast<void*>(dispatch.Get()));
  EXPECT_TRUE(status.TryQuery<IQXAsynchStatus2>());
  EXPECT_TRUE(status.TryQuery<IQXAsynchStatusInt>());
  EXPECT_TRUE(status.TryQuery<IConnectionPointContainer>());
  EXPECT_FALSE(status.TryQuery<IConnectionPoint>());
  auto errors = status.TryQuery<ISupportErrorInfo>();
  ASSERT_TRUE(errors);
  EXPECT_EQ(S_OK, errors->InterfaceSupportsErrorInfo(IID__QXAsynchStatus));
  EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(__uuidof(IQXAsynchStatus3)));
  EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(__uuidof(IQXAsynchStatusInt)));

  // Late binding sees the members of IQXAsynchStatus3.
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"CallCompleteEvent2");
  EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  EXPECT_EQ(102, id);

  ComPtr<IUnknown> aggregated;
  IUnknown* outer = status.Get();
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            CoCreateInstance(CLSID_QXAsynchStatus, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, aggregated.PutVoid()));
}

TEST_F(AsynchStatus, TransitionsAllowedAndRefused) {
  struct Case {
    LONG from, to;
    HRESULT expected;
  };
  const Case cases[] = {
      {0, 16, S_OK}, {1, 4, S_OK},          {1, 17, S_OK},         {4, 6, S_OK},          {0, 13, S_OK},
      {1, 0, E_INVALIDARG},  {1, 8, E_INVALIDARG},  {1, 16, E_INVALIDARG}, {4, 0, E_INVALIDARG},
      {4, 16, E_INVALIDARG}, {0, 3, E_INVALIDARG},  {2, 6, kAsynchComplete}, {6, 0, kAsynchComplete},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
    auto status = StatusAt(c.from);
    auto sink = TestSink::Make();
    Connect(status.Get(), sink.Get());
    const HRESULT hr = SetStatus(status.Get(), c.to);
    if (c.expected == S_OK) {
      EXPECT_EQ(S_OK, hr);
    } else {
      EXPECT_TRUE(Fails(c.expected, hr, c.expected == kAsynchComplete ? kCompleteText : L""));
    }
    EXPECT_EQ(c.expected == S_OK ? c.to : c.from, StatusOf(status.Get())) << "a refused change keeps the status";
    EXPECT_EQ(c.expected == S_OK ? 1u : 0u, sink->Count(kOnStatusChange));
  }
}

TEST_F(AsynchStatus, CourseOfACallWithItsEvents) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  ASSERT_EQ(1u, Connect(status.Get(), sink.Get()));

  EXPECT_EQ(S_OK, SetStatus(status.Get(), 0)) << "the same status again";
  EXPECT_EQ(S_OK, SetStatus(status.Get(), csInProgress));
  EXPECT_EQ(S_OK, status->put_ProgressPercent(50));
  EXPECT_TRUE(Fails(E_INVALIDARG, status->put_ProgressPercent(40)));
  EXPECT_EQ(S_OK, status->put_ProgressPercent(50)) << "the same progress fires again";
  EXPECT_TRUE(Fails(E_INVALIDARG, status->put_ProgressPercent(100.5)));
  EXPECT_EQ(S_OK, status->SetErrors());
  EXPECT_EQ(csInProgressWithErrors, StatusOf(status.Get()));
  EXPECT_EQ(S_OK, status->SetComplete());
  EXPECT_EQ(csCompleteWithErrors, StatusOf(status.Get()));
  EXPECT_EQ(100.0, ProgressOf(status.Get()));
  EXPECT_EQ(S_OK, status->SetComplete()) << "complete again: no change";
  EXPECT_EQ(S_OK, status->SetErrors()) << "the error bit is already there: no change";
  EXPECT_TRUE(Fails(kAsynchComplete, status->Cancel(), kCompleteText));
  EXPECT_EQ(csCompleteWithErrors, StatusOf(status.Get()));
  auto plain = StatusAt(csComplete);
  EXPECT_TRUE(Fails(kAsynchComplete, plain->SetErrors(), kCompleteText));
  EXPECT_EQ(csComplete, StatusOf(plain.Get()));

  const auto events = sink->Events();
  ASSERT_EQ(5u, events.size());
  const struct {
    DISPID id;
    VARTYPE type;
    LONG status;
    double progress;
  } expected[] = {{kOnStatusChange, VT_I4, 1, 0},
                  {kOnProgressChange, VT_R8, 0, 50},
                  {kOnProgressChange, VT_R8, 0, 50},
                  {kOnStatusChange, VT_I4, 5, 0},
                  {kOnStatusChange, VT_I4, 6, 0}};
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(expected[i].id, events[i].id) << i;
    EXPECT_EQ(expected[i].type, events[i].type) << i;
    EXPECT_EQ(expected[i].status, events[i].status) << i;
    EXPECT_EQ(expected[i].progress, events[i].progress) << i;
  }

  // Reset brings the object back quietly; the connection stays.
  EXPECT_TRUE(Fails(kAsynchNotInProgress, status->put_Result(*VarI4(1).AddressOf()), kNotInProgressText));
  EXPECT_EQ(S_OK, status->Reset());
  EXPECT_EQ(0, StatusOf(status.Get()));
  EXPECT_EQ(0.0, ProgressOf(status.Get()));
  EXPECT_EQ(5u, sink->Events().size());
  EXPECT_EQ(S_OK, SetStatus(status.Get(), csInProgress));
  EXPECT_EQ(6u, sink->Events().size());
  EXPECT_TRUE(Fails(kAsynchInProgress, status->Reset(), kInProgressText));
}

TEST_F(AsynchStatus, CancelIsRecordedAndKept) {
  auto fresh = NewStatus();
  EXPECT_EQ(S_OK, fresh->Cancel());
  EXPECT_EQ(csCancelFlag, StatusOf(fresh.Get()));
  EXPECT_TRUE(Fails(kAsynchNotInProgress, fresh->put_Result(*VarI4(1).AddressOf()), kNotInProgressText));

  auto running = StatusAt(csInProgress);
  EXPECT_EQ(S_OK, running->put_ProgressPercent(30));
  EXPECT_EQ(S_OK, running->Cancel());
  EXPECT_EQ(csCancelPending, StatusOf(running.Get()));
  EXPECT_EQ(S_OK, SetStatus(running.Get(), csInProgressWithErrors)) << "the cancel bit is added back";
  EXPECT_EQ(13, StatusOf(running.Get()));
  EXPECT_EQ(S_OK, running->SetComplete());
  EXPECT_EQ(csCancelCompleteWithErrors, StatusOf(running.Get()));
  EXPECT_EQ(30.0, ProgressOf(running.Get())) << "a cancelled call keeps its progress";
}

TEST_F(AsynchStatus, ProgressEdges) {
  auto status = NewStatus();
  EXPECT_EQ(S_OK, status->put_ProgressPercent(100));
  EXPECT_EQ(S_OK, status->put_ProgressPercent(std::nan(""))) << "a NaN passes the comparisons";
  EXPECT_TRUE(std::isnan(ProgressOf(status.Get())));
  EXPECT_EQ(S_OK, status->put_ProgressPercent(0)) << "nothing is below a NaN";
  EXPECT_TRUE(Fails(E_INVALIDARG, status->put_ProgressPercent(std::numeric_limits<double>::infinity())));
  auto complete = StatusAt(csComplete);
  EXPECT_EQ(S_OK, complete->put_ProgressPercent(10)) << "progress does not look at the status";
}

TEST_F(AsynchStatus, ResultIsStoredOnlyBeforeAndDuringTheCall) {
  for (LONG value : {0, 1, 5, 9}) {
    auto status = StatusAt(value);
    EXPECT_EQ(S_OK, status->put_Result(*VarText(L"answer").AddressOf())) << value;
    UniqueVariant result;
    EXPECT_EQ(S_OK, status->get_Result(result.Put()));
    ASSERT_EQ(VT_BSTR, result.Type());
    EXPECT_EQ(L"answer", Text(V_BSTR(&result.Get())));
  }
  for (LONG value : {2, 4, 6, 8, 16}) {
    auto status = StatusAt(value);
    EXPECT_TRUE(Fails(kAsynchNotInProgress, status->put_Result(*VarI4(1).AddressOf()), kNotInProgressText)) << value;
  }

  // A by-reference value is stored as what it points to.
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
  EXPECT_EQ(41, V_I4(&result.Get()));

  // Objects are held with a reference.
  auto other = NewStatus();
  VARIANT object;
  V_VT(&object) = VT_DISPATCH;
  V_DISPATCH(&object) = other.Get();
  EXPECT_EQ(S_OK, status->put_Result(object));
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  EXPECT_EQ(static_cast<IDispatch*>(other.Get()), V_DISPATCH(&result.Get()));
}

TEST_F(AsynchStatus, SuccessLeavesAnEarlierErrorObject) {
  auto status = NewStatus();
  PlantError();
  EXPECT_EQ(S_OK, SetStatus(status.Get(), csInProgress));
  EXPECT_EQ(S_OK, status->put_ProgressPercent(5));
  EXPECT_EQ(S_OK, status->put_Timeout(3));
  EXPECT_TRUE(TakeError(L"planted"));
}

TEST_F(AsynchStatus, NullOutPointers) {
  auto status = NewStatus();
  auto second = status.TryQuery<IQXAsynchStatus2>();
  auto internal = status.TryQuery<IQXAsynchStatusInt>();
  EXPECT_TRUE(Fails(E_POINTER, status->get_Status(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, status->get_ProgressPercent(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, status->get_Result(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, status->get_Timeout(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, status->get_CallCompleteEvent2(nullptr)));
  EXPECT_TRUE(Fails(E_INVALIDARG, second->get_CallCompleteEvent(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, internal->get_NextAsynchItem(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, internal->get_InternalReturnItem(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, internal->get_CreatorThreadID(nullptr)));
}

// A window of this thread that counts the messages it is sent.
class CountingWindow {
 public:
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
    if (message == kMessage) {
      ++handled_;
      return 0;
    }
    return DefWindowProcW(window, message, w, l);
  }
  static inline int handled_ = 0;
  HWND window_;

 public:
  static constexpr UINT kMessage = WM_APP + 7;
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
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  EXPECT_EQ(1, CountingWindow::Handled());
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  EXPECT_EQ(2, CountingWindow::Handled());
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  EXPECT_EQ(2, CountingWindow::Handled());

  // A quit request is left for the thread's own loop.
  PostQuitMessage(3);
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  MSG quit{};
  ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(3u, quit.wParam);
}

TEST_F(AsynchStatus, CompletionEventIsOneAutoResetEvent) {
  auto status = NewStatus();
  auto second = status.TryQuery<IQXAsynchStatus2>();
  LONG handle = 0;
  ULONG handle2 = 0, again = 0;
  ASSERT_EQ(S_OK, second->get_CallCompleteEvent(&handle));
  ASSERT_EQ(S_OK, status->get_CallCompleteEvent2(&handle2));
  ASSERT_EQ(S_OK, status->get_CallCompleteEvent2(&again));
  EXPECT_NE(0, handle);
  EXPECT_EQ(static_cast<ULONG>(handle), handle2);
  EXPECT_EQ(handle2, again);
  const HANDLE event = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle2));

  ASSERT_EQ(S_OK, SetStatus(status.Get(), csInProgress));
  EXPECT_EQ(S_OK, status->put_ProgressPercent(20));
  EXPECT_EQ(S_OK, status->SetErrors());
  EXPECT_EQ(S_OK, status->Cancel());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0)) << "only completion signals";
  EXPECT_EQ(S_OK, status->SetComplete());
  EXPECT_EQ(S_OK, status->SetComplete());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0)) << "once per completed call";

  // Another call on the same object signals again.
  EXPECT_EQ(S_OK, status->Reset());
  EXPECT_EQ(S_OK, SetStatus(status.Get(), csComplete));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 0));
}

TEST_F(AsynchStatus, EventAskedForAfterCompletionIsNotSignalled) {
  auto status = StatusAt(csComplete);
  ULONG handle = 0;
  ASSERT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
            WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle)), 0));
}

// A sink's negative value becomes the result of the status change, and the event stays unsignalled.
TEST_F(AsynchStatus, SinkCanFailAStatusChange) {
  auto status = NewStatus();
  auto sink = TestSink::Make();
  V_VT(sink->returns.AddressOf()) = VT_I4;
  V_I4(sink->returns.AddressOf()) = E_ABORT;
  Connect(status.Get(), sink.Get());
  ULONG handle = 0;
  ASSERT_EQ(S_OK, status->get_CallCompleteEvent2(&handle));
  EXPECT_EQ(E_ABORT, status->SetComplete());
  EXPECT_EQ(csComplete, StatusOf(status.Get())) << "the new status stays";
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
            WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle)), 0));
  // A progress change ignores it.
  EXPECT_EQ(S_OK, status->put_ProgressPercent(100));
  // A positive value is passed back as it is.
  auto other = NewStatus();
  V_I4(sink->returns.AddressOf()) = 7;
  Connect(other.Get(), sink.Get());
  EXPECT_EQ(7, SetStatus(other.Get(), csInProgress));
}

TEST_F(AsynchStatus, TimeoutAndChainedItems) {
  auto status = NewStatus();
  auto internal = status.TryQuery<IQXAsynchStatusInt>();
  ASSERT_TRUE(internal);
  LONG timeout = 1;
  EXPECT_EQ(S_OK, status->get_Timeout(&timeout));
  EXPECT_EQ(0, timeout);
  EXPECT_EQ(S_OK, status->put_Timeout(-5));
  EXPECT_EQ(S_OK, status->get_Timeout(&timeout));
  EXPECT_EQ(-5, timeout);

  LONG thread = 0;
  EXPECT_EQ(S_OK, internal->get_CreatorThreadID(&thread));
  EXPECT_EQ(static_cast<LONG>(GetCurrentThreadId()), thread);

  // The next item holds a further status object by reference.
  auto next = NewStatus();
  VARIANT object;
  V_VT(&object) = VT_DISPATCH;
  V_DISPATCH(&object) = next.Get();
  EXPECT_EQ(S_OK, internal->put_NextAsynchItem(object));
  EXPECT_EQ(S_OK, internal->put_InternalReturnItem(*VarText(L"inner").AddressOf()));
  EXPECT_EQ(S_OK, SetStatus(status.Get(), csComplete));
  EXPECT_EQ(S_OK, status->Reset());
  EXPECT_EQ(S_OK, status->get_Timeout(&timeout));
  EXPECT_EQ(-5, timeout) << "Reset keeps the timeout and the items";
  UniqueVariant item;
  EXPECT_EQ(S_OK, internal->get_NextAsynchItem(item.Put()));
  ASSERT_EQ(VT_DISPATCH, item.Type());
  EXPECT_EQ(static_cast<IDispatch*>(next.Get()), V_DISPATCH(&item.Get()));
  EXPECT_EQ(S_OK, internal->get_InternalReturnItem(item.Put()));
  ASSERT_EQ(VT_BSTR, item.Type());
  EXPECT_EQ(L"inner", Text(V_BSTR(&item.Get())));
}

TEST_F(AsynchStatus, AttachedResultIsTakenOverInAnyState) {
  auto status = StatusAt(csCompleteWithErrors);
  auto internal = status.TryQuery<IQXAsynchStatusInt>();
  // The attached value's reference passes to the object: no reference is added, and Reset
  // releases it.
  auto held = TestSink::Make();
  held->AddRef();
  VARIANT value;
  V_VT(&value) = VT_UNKNOWN;
  V_UNKNOWN(&value) = static_cast<IDispatch*>(held.Get());
  EXPECT_EQ(S_OK, internal->AttachInternalResult(value));
  held->AddRef();
  EXPECT_EQ(2u, held->Release()) << "ours and the object's";
  UniqueVariant result;
  EXPECT_EQ(S_OK, status->get_Result(result.Put()));
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IDispatch*>(held.Get())), V_UNKNOWN(&result.Get()));
  result.Reset();
  EXPECT_EQ(S_OK, status->Reset());
  held->AddRef();
  EXPECT_EQ(1u, held->Release()) << "Reset released the attached value";
}

}  // namespace
}  // namespace qx::test
