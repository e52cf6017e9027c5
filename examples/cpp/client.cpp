// A C++ client of QXSDKCommon.dll through the vtables: objects, error objects, events, completion.
// It shows:
//  1. creating the library's classes with CoCreateInstance and calling their interfaces;
//  2. reading the COM error object that a failing call leaves on the thread, and keeping
//     errors in a QXErrors collection;
//  3. following an asynchronous call: an event sink connected to QXAsynchStatus receives
//     OnStatusChange and OnProgressChange, while a second thread waits on the status object's
//     completion event.
// Register QXSDKCommon.dll of the same bitness first. Exit code 0 when every step worked.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "QXSDKCommon.h"

namespace {

// Stops the program when a call that should work fails.
void Require(HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    std::printf("!! %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    std::exit(1);
  }
}

// Owns one interface reference.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Reset(); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// Owns one BSTR.
struct Text {
  Text() = default;
  explicit Text(const wchar_t* s) : bstr(SysAllocString(s)) {}
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text() { SysFreeString(bstr); }
  const wchar_t* c_str() const { return bstr ? bstr : L""; }
  BSTR bstr = nullptr;
};

// Owns one VARIANT.
struct Value {
  Value() { VariantInit(&v); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value() { VariantClear(&v); }
  VARIANT v;
};

// Shows a call that the library refuses. A failed call leaves an error object on the thread;
// GetErrorInfo takes it (and clears it).
void ShowRefusal(HRESULT hr, Ref<IErrorInfo>& error) {
  if (SUCCEEDED(hr)) {
    std::printf("!! the call was accepted\n");
    std::exit(1);
  }
  Text description, source;
  if (GetErrorInfo(0, error.Put()) == S_OK) {
    error->GetDescription(&description.bstr);
    error->GetSource(&source.bstr);
  }
  std::printf("  failed with 0x%08lX, source \"%ls\", description \"%ls\"\n", static_cast<unsigned long>(hr),
              source.c_str(), description.c_str());
}

// 1 and 2: a NamedValues collection, a refused call and its error object, a QXErrors collection.
void PropertyBagAndErrors() {
  std::printf("-- NamedValues and QXErrors through the vtables\n");
  Ref<_NamedValues> bag;
  Require(CoCreateInstance(CLSID_NamedValues, nullptr, CLSCTX_INPROC_SERVER, IID__NamedValues, bag.PutVoid()),
          "creating NamedValues");
  Value timeout;
  V_VT(&timeout.v) = VT_I4;
  V_I4(&timeout.v) = 30;
  Ref<NamedValue> member;
  Require(bag->Add(Text(L"Timeout").bstr, &timeout.v, member.Put()), "Add");
  Text dump;
  Require(bag->DumpToString(&dump.bstr), "DumpToString");
  std::printf("  added Timeout = 30; the collection as text: %ls\n", dump.c_str());

  // Names are unique regardless of case: the second Add fails and describes why.
  std::printf("  adding TIMEOUT again:\n");
  const HRESULT refused = bag->Add(Text(L"TIMEOUT").bstr, &timeout.v, member.Put());
  Ref<IErrorInfo> error;
  ShowRefusal(refused, error);

  // Keep that error, and one described here, in a QXErrors collection, then read them back.
  Ref<_QXErrors> errors;
  Require(CoCreateInstance(CLSID_QXErrors, nullptr, CLSCTX_INPROC_SERVER, IID__QXErrors, errors.PutVoid()),
          "creating QXErrors");
  Value noCause;  // what automation passes for an omitted optional argument
  V_VT(&noCause.v) = VT_ERROR;
  V_ERROR(&noCause.v) = DISP_E_PARAMNOTFOUND;
  Ref<_QXError> view;
  Require(errors->AddErrorInfo(refused, error.Get(), noCause.v, view.Put()), "AddErrorInfo");
  Value cause;
  V_VT(&cause.v) = VT_BSTR;
  V_BSTR(&cause.v) = SysAllocString(L"settings.ini, line 12");
  Require(errors->Add(static_cast<LONG>(0x80040005), Text(L"Server name is missing").bstr, Text(L"Settings").bstr,
                      nullptr, 0, cause.v, view.Put()),
          "Add");
  LONG count = 0;
  Require(errors->get_Count(&count), "Count");
  std::printf("  QXErrors holds %ld errors:\n", count);
  for (LONG i = 1; i <= count; ++i) {
    Require(errors->get_Item(i, view.Put()), "Item");
    LONG number = 0;
    Text description, source;
    Value itemCause;
    Require(view->get_Number(&number), "Number");
    Require(view->get_Description(&description.bstr), "Description");
    Require(view->get_Source(&source.bstr), "Source");
    Require(view->get_Cause(&itemCause.v), "Cause");
    std::printf("  %ld: 0x%08lX %ls: %ls\n", i, static_cast<unsigned long>(number), source.c_str(),
                description.c_str());
    if (V_VT(&itemCause.v) == VT_BSTR) std::printf("     cause: %ls\n", V_BSTR(&itemCause.v));
  }
}

// 3. An event sink of _QXAsynchStatusEvents: a plain IDispatch that answers the event interface.
// Events arrive through Invoke, on the thread that changed the status.
class StatusSink final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID__QXAsynchStatusEvents) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    const VARIANT& arg = params->rgvarg[0];
    if (id == 1 && V_VT(&arg) == VT_I4) {
      std::printf("  sink: OnStatusChange(%ld)\n", V_I4(&arg));
      ++statusEvents;
    } else if (id == 2 && V_VT(&arg) == VT_R8) {
      std::printf("  sink: OnProgressChange(%g)\n", V_R8(&arg));
      ++progressEvents;
    }
    return S_OK;
  }

  int statusEvents = 0;
  int progressEvents = 0;

 private:
  ~StatusSink() = default;
  LONG refs_ = 1;
};

// Runs on a thread of its own: waits until the call completes. The wait needs no COM, only
// the handle, which stays owned by the status object.
DWORD WINAPI WaitForCompletion(void* handle) {
  if (WaitForSingleObject(static_cast<HANDLE>(handle), 10000) != WAIT_OBJECT_0) {
    std::printf("  waiting thread: no completion within 10 s\n");
    return 1;
  }
  std::printf("  waiting thread %lu: completion event signalled\n", GetCurrentThreadId());
  return 0;
}

bool AsynchronousCall() {
  std::printf("-- QXAsynchStatus: events and the completion event\n");
  Ref<IQXAsynchStatus3> status;
  Require(CoCreateInstance(CLSID_QXAsynchStatus, nullptr, CLSCTX_INPROC_SERVER, IID_IQXAsynchStatus3,
                           status.PutVoid()),
          "creating QXAsynchStatus");

  // Connect the sink through the object's connection point.
  Ref<IConnectionPointContainer> container;
  Ref<IConnectionPoint> point;
  Require(status->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()), "IConnectionPointContainer");
  Require(container->FindConnectionPoint(DIID__QXAsynchStatusEvents, point.Put()), "FindConnectionPoint");
  StatusSink* sink = new StatusSink;
  DWORD cookie = 0;
  Require(point->Advise(sink, &cookie), "Advise");

  // Ask for the completion event before the call starts, and wait for it on another thread.
  ULONG handle = 0;
  Require(status->get_CallCompleteEvent2(&handle), "CallCompleteEvent2");
  HANDLE waiter = CreateThread(nullptr, 0, WaitForCompletion,
                               reinterpret_cast<void*>(static_cast<ULONG_PTR>(handle)), 0, nullptr);
  if (!waiter) Require(HRESULT_FROM_WIN32(GetLastError()), "CreateThread");
  std::printf("  main thread %lu drives the call; a second thread waits for its completion\n",
              GetCurrentThreadId());

  // What the SDK does while its call runs: status, progress, result, completion.
  Require(status->put_Status(csInProgress), "Status = csInProgress");
  for (double progress : {25.0, 50.0, 75.0}) Require(status->put_ProgressPercent(progress), "ProgressPercent");
  Value result;
  V_VT(&result.v) = VT_BSTR;
  V_BSTR(&result.v) = SysAllocString(L"42 rows copied");
  Require(status->put_Result(result.v), "Result");
  Require(status->SetComplete(), "SetComplete");

  DWORD waited = 1;
  if (WaitForSingleObject(waiter, 10000) == WAIT_OBJECT_0) GetExitCodeThread(waiter, &waited);
  CloseHandle(waiter);

  // What the client reads afterwards.
  CallStatusConstants finalStatus = csInitial;
  double progress = 0;
  Value read;
  Require(status->get_Status(&finalStatus), "Status");
  Require(status->get_ProgressPercent(&progress), "ProgressPercent");
  Require(status->get_Result(&read.v), "Result");
  std::printf("  Status = %d, ProgressPercent = %g, Result = \"%ls\"\n", static_cast<int>(finalStatus), progress,
              V_VT(&read.v) == VT_BSTR ? V_BSTR(&read.v) : L"?");

  // A completed call refuses further changes until Reset.
  std::printf("  Cancel after completion:\n");
  Ref<IErrorInfo> error;
  ShowRefusal(status->Cancel(), error);

  Require(point->Unadvise(cookie), "Unadvise");
  const bool ok = waited == 0 && finalStatus == csComplete && sink->statusEvents == 2 && sink->progressEvents == 3;
  sink->Release();
  return ok;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the two threads' lines appear in the order written
  Require(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx");
  PropertyBagAndErrors();
  const bool ok = AsynchronousCall();
  CoUninitialize();
  std::printf(ok ? "Done.\n" : "!! the asynchronous call did not go as shown\n");
  return ok ? 0 : 1;
}
