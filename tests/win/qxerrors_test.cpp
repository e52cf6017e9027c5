// The QXErrors collection and its QXError views: refusals, records and growth, the pool and heap
// views, AddErrorInfo, several threads on one pointer, and a view used from
// another apartment.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "asynch_sink.h"

namespace qx::test {
namespace {

constexpr HRESULT kObjectNotAllowed = static_cast<HRESULT>(0x8004079A);
const std::wstring kObjectNotAllowedText = L"An object reference may not be used here. Cause";

ComPtr<_QXErrors> NewErrors() { return New<_QXErrors>(CLSID_QXErrors); }

// What automation passes for an omitted optional argument.
VARIANT Missing() {
  VARIANT v;
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  return v;
}

HRESULT AddEntry(_QXErrors* errors, LONG number, const std::wstring& description, VARIANT cause = Missing()) {
  return errors->Add(number, Bstr(description).Get(), nullptr, nullptr, 0, cause, nullptr);
}

struct Entry {
  LONG number = 0;
  LONG helpContext = 0;
  std::wstring description, source, helpFile;
  bool operator==(const Entry&) const = default;
};
void PrintTo(const Entry& e, std::ostream* os) {
  *os << e.number << " " << testing::PrintToString(e.description) << " " << testing::PrintToString(e.source) << " "
      << testing::PrintToString(e.helpFile) << " " << e.helpContext;
}

Entry Read(_QXError* view) {
  Entry e;
  UniqueBstr texts[3];
  EXPECT_EQ(S_OK, view->get_Number(&e.number));
  EXPECT_EQ(S_OK, view->get_HelpContext(&e.helpContext));
  EXPECT_EQ(S_OK, view->get_Description(texts[0].Put()));
  EXPECT_EQ(S_OK, view->get_Source(texts[1].Put()));
  EXPECT_EQ(S_OK, view->get_HelpFile(texts[2].Put()));
  for (auto& text : texts) EXPECT_FALSE(text.IsNull()) << "texts are returned as strings, never null";
  e.description = Text(texts[0].Get()), e.source = Text(texts[1].Get()), e.helpFile = Text(texts[2].Get());
  return e;
}
ComPtr<_QXError> ViewOf(_QXErrors* errors, LONG index) {
  ComPtr<_QXError> view;
  EXPECT_EQ(S_OK, errors->get_Item(index, view.Put())) << "item " << index;
  return view;
}
Entry ReadItem(_QXErrors* errors, LONG index) {
  auto view = ViewOf(errors, index);
  return view ? Read(view.Get()) : Entry{};
}
LONG CountOf(_QXErrors* errors) {
  LONG count = -1;
  EXPECT_EQ(S_OK, errors->get_Count(&count));
  return count;
}

// Each refusal: its code and text, and the collection left as it was (one entry).
TEST(QXErrors, RefusalsReportAndChangeNothing) {
  VARIANT object;
  V_VT(&object) = VT_DISPATCH;
  VARIANT byReference;  // how a script passes a variable holding an object
  V_VT(&byReference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&byReference) = &object;
  const Refusal<_QXErrors> rows[] = {  // setup 1: frozen first
      {"Item 0", 0, [](auto e) { ComPtr<_QXError> v; return e->get_Item(0, v.Put()); }, E_INVALIDARG, L""},
      {"Item past the end", 0, [](auto e) { ComPtr<_QXError> v; return e->get_Item(2, v.Put()); }, E_INVALIDARG,
       L""},
      {"object Cause", 0, [&](auto e) { return AddEntry(e, 2, L"x", object); }, kObjectNotAllowed,
       kObjectNotAllowedText},
      {"object Cause by reference", 0, [&](auto e) { return AddEntry(e, 2, L"x", byReference); }, kObjectNotAllowed,
       kObjectNotAllowedText},
      {"object Cause of AddErrorInfo", 0, [&](auto e) { return e->AddErrorInfo(2, nullptr, object, nullptr); },
       kObjectNotAllowed, kObjectNotAllowedText},
      {"AddErrorInfo of no error object", 0,
       [](auto e) { return e->AddErrorInfo(2, NewNamedValues().Get(), Missing(), nullptr); }, E_INVALIDARG, L""},
      {"frozen Add", 1, [](auto e) { return AddEntry(e, 2, L"late"); }, E_ACCESSDENIED, L""},
      {"frozen AddErrorInfo", 1,
       [](auto e) { return PutThreadError(L"to copy"), e->AddErrorInfo(2, nullptr, Missing(), nullptr); },
       E_ACCESSDENIED, L""},
      {"frozen SetSize", 1, [](auto e) { return e->SetSize(100); }, E_ACCESSDENIED, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto errors = NewErrors();
    ASSERT_EQ(S_OK, AddEntry(errors.Get(), 1, L"one"));
    if (row.setup == 1) { ASSERT_EQ(S_OK, errors->Freeze()); }
    V_DISPATCH(&object) = errors.Get();  // not AddRef'd: the callee only reads the variant
    EXPECT_TRUE(Fails(row.hr, row.call(errors.Get()), row.description));
    EXPECT_EQ(1, CountOf(errors.Get()));
    EXPECT_EQ(L"one", ReadItem(errors.Get(), 1).description);
  }
}

TEST(QXErrors, AddStoresEveryFieldAndKeepsAllEntriesThroughGrowth) {
  auto errors = NewErrors();
  auto cause = VarText(L"C:\\data");
  ComPtr<_QXError> view;
  ASSERT_EQ(S_OK, errors->Add(-2147024784, Bstr(std::wstring(L"disk\0full", 9)).Get(), Bstr(L"Disk.Module").Get(),
                              Bstr(L"disk.chm").Get(), 1234, cause.Get(), view.Put()));
  EXPECT_EQ((Entry{-2147024784, 1234, L"disk", L"Disk.Module", L"disk.chm"}), Read(view.Get()));
  UniqueVariant back;
  EXPECT_EQ(S_OK, view->get_Cause(back.Put()));
  ASSERT_EQ(VT_BSTR, back.Type());
  EXPECT_EQ(L"C:\\data", Text(V_BSTR(&back.Get())));

  // Enough entries for several moves of the array; SetSize below the count changes nothing.
  for (LONG n = 2; n <= 30; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"entry " + std::to_wstring(n)));
  EXPECT_EQ(S_OK, errors->SetSize(2));
  EXPECT_EQ(S_OK, errors->SetSize(100));
  ASSERT_EQ(30, CountOf(errors.Get()));
  EXPECT_EQ(L"disk", ReadItem(errors.Get(), 1).description);
  for (LONG n = 2; n <= 30; ++n) EXPECT_EQ((Entry{n, 0, L"entry " + std::to_wstring(n)}), ReadItem(errors.Get(), n));
}

// Two views come from the collection's pool; a third held at the same time is a heap view. A
// pool view's AddRef answers the collection's count, a heap view's its own.
TEST(QXErrors, PoolViewsAreReusedAndAThirdHeldViewIsAllocated) {
  auto errors = NewErrors();
  for (LONG n = 1; n <= 3; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"e" + std::to_wstring(n)));
  ComPtr<_QXError> first = ViewOf(errors.Get(), 1), second = ViewOf(errors.Get(), 2), third = ViewOf(errors.Get(), 3);
  EXPECT_TRUE(first.Get() != second.Get() && third.Get() != first.Get() && third.Get() != second.Get());
  EXPECT_EQ(5u, first->AddRef()) << "collection: ours + one per view reference";
  EXPECT_EQ(4u, first->Release());
  EXPECT_EQ(2u, third->AddRef()) << "a heap view answers its own count";
  EXPECT_EQ(1u, third->Release());
  EXPECT_EQ(5u, errors->AddRef()) << "the heap view holds a collection reference too";
  errors->Release();
  EXPECT_EQ(L"e1", Read(first.Get()).description);

  // A released pool view is the next one handed out, re-pointed; the others are unaffected.
  _QXError* const firstAddress = first.Get();
  first.Reset();
  ComPtr<_QXError> again = ViewOf(errors.Get(), 3);
  EXPECT_EQ(firstAddress, again.Get());
  EXPECT_EQ(3, Read(again.Get()).number);
  EXPECT_EQ(2, Read(second.Get()).number);
  EXPECT_EQ(3, Read(third.Get()).number);

  errors.Reset();  // the collection outlives our own reference while a view is held
  EXPECT_EQ(L"e2", Read(second.Get()).description);
  EXPECT_EQ(L"e3", Read(third.Get()).description);
}

// The texts of a failed call of another object land in the entry; the thread's error object is
// handed back, and only a call that grows the array or returns a view clears it.
TEST(QXErrors, AddErrorInfoCopiesTheThreadsOrAGivenErrorObject) {
  auto errors = NewErrors();
  ASSERT_EQ(S_OK, AddEntry(errors.Get(), 1, L"first"));  // capacity 4 from here on
  auto bag = NewNamedValues();
  auto name = Bstr(L"Timeout");
  auto value = VarI4(30);
  ASSERT_EQ(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  const std::wstring duplicate = L"Cannot add duplicate name to the collection: Timeout";

  ASSERT_NE(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  EXPECT_EQ(S_OK, errors->AddErrorInfo(static_cast<LONG>(0x80040421), nullptr, Missing(), nullptr));
  EXPECT_EQ(duplicate, PeekError().description) << "no growth, no view: the thread keeps its error object";
  EXPECT_EQ((Entry{static_cast<LONG>(0x80040421), 0, duplicate, L"QXSDK", L"qxsdk.chm"}), ReadItem(errors.Get(), 2));
  ASSERT_NE(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  ComPtr<_QXError> view;
  EXPECT_EQ(S_OK, errors->AddErrorInfo(4, nullptr, Missing(), view.Put()));
  EXPECT_EQ(duplicate, Read(view.Get()).description);
  EXPECT_FALSE(PeekError().present) << "returning a view clears the thread";

  // A given error object: copied, help context included; the thread's own is not touched (room
  // is made first, since growing clears the thread).
  ASSERT_EQ(S_OK, errors->SetSize(10));
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Put()));
  create->SetDescription(const_cast<LPOLESTR>(L"given"));
  create->SetHelpFile(const_cast<LPOLESTR>(L"given.chm"));
  create->SetHelpContext(42);
  PutThreadError(L"on the thread");
  EXPECT_EQ(S_OK, errors->AddErrorInfo(5, create.Get(), VarI4(8).Get(), nullptr));
  EXPECT_EQ(L"on the thread", PeekError().description);
  EXPECT_EQ((Entry{5, 42, L"given", L"", L"given.chm"}), ReadItem(errors.Get(), 4));
}

std::wstring TextFor(LONG number) { return L"thread " + std::to_wstring(number); }

// Several threads add and read through the one pointer the free-threaded marshaler hands them;
// afterwards every entry is there once and whole. Then, frozen, they read without the lock and
// race for the pool views.
TEST(QXErrors, ManyThreadsAddAndReadThroughOnePointer) {
  constexpr int kThreads = 4;
  constexpr LONG kPerThread = 150;
  auto errors = NewErrors();
  std::atomic<int> faults{0};
  // A view must show a whole record: its description matches its number.
  auto readRandom = [&](_QXErrors* shared, unsigned& seed) {
    LONG count = 0;
    faults += shared->get_Count(&count) != S_OK;
    if (count == 0) return;
    seed = seed * 1103515245u + 12345u;
    ComPtr<_QXError> view;
    LONG number = 0;
    UniqueBstr text;
    faults += shared->get_Item(static_cast<LONG>(seed % count) + 1, view.Put()) != S_OK || !view ||
              view->get_Number(&number) != S_OK || view->get_Description(text.Put()) != S_OK ||
              Text(text.Get()) != TextFor(number);
  };
  auto onThreads = [&](const std::function<void(int, _QXErrors*)>& body) {
    std::vector<IStream*> streams(kThreads);
    for (auto& stream : streams)
      ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(__uuidof(_QXErrors), errors.Get(), &stream));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
          ComPtr<_QXErrors> shared;
          faults += CoGetInterfaceAndReleaseStream(streams[t], __uuidof(_QXErrors), shared.PutVoid()) != S_OK;
          faults += shared.Get() != errors.Get();  // free-threaded: no proxy
          if (shared) body(t, shared.Get());
        }
        CoUninitialize();
      });
    }
    for (auto& thread : threads) thread.join();
  };
  onThreads([&](int t, _QXErrors* shared) {
    unsigned seed = static_cast<unsigned>(t) + 1;
    for (LONG i = 0; i < kPerThread; ++i) {
      const LONG number = t * kPerThread + i;
      ComPtr<_QXError> view;
      LONG back = -1;
      faults += shared->Add(number, Bstr(TextFor(number)).Get(), nullptr, nullptr, 0, VarI4(number).Get(),
                            view.Put()) != S_OK ||
                !view || view->get_Number(&back) != S_OK || back != number;
      readRandom(shared, seed);
    }
  });
  EXPECT_EQ(0, faults.load());
  ASSERT_EQ(kThreads * kPerThread, CountOf(errors.Get()));
  std::vector<int> seen(kThreads * kPerThread, 0);
  for (LONG n = 1; n <= kThreads * kPerThread; ++n) {
    const Entry e = ReadItem(errors.Get(), n);
    ASSERT_TRUE(e.number >= 0 && e.number < kThreads * kPerThread) << e.number;
    ++seen[e.number];
    EXPECT_EQ(TextFor(e.number), e.description);
  }
  EXPECT_EQ(std::vector<int>(kThreads * kPerThread, 1), seen) << "every entry exactly once";

  ASSERT_EQ(S_OK, errors->Freeze());  // frozen: unlocked readers racing for the two pool views
  onThreads([&](int t, _QXErrors* shared) {
    unsigned seed = static_cast<unsigned>(t) * 7 + 3;
    for (int i = 0; i < 400; ++i) readRandom(shared, seed);
  });
  EXPECT_EQ(0, faults.load());
  errors.Reset();
  EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "every collection and view is gone";
}

// A view handed to another apartment is reached through a proxy of the standard marshaler and
// reads its record.
TEST(QXErrors, ViewCrossesApartmentsThroughTheStandardMarshaler) {
  const NeutralLocaleTypeLib registration;
  auto errors = NewErrors();
  ComPtr<_QXError> view;
  ASSERT_EQ(S_OK, errors->Add(77, Bstr(L"far away").Get(), Bstr(L"Remote.Source").Get(), nullptr, 5,
                              VarText(L"cause").Get(), view.Put()));
  for (DWORD model : {COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED}) {
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(__uuidof(_QXError), view.Get(), &stream));
    Entry seen;
    std::wstring cause;
    HRESULT unmarshalled = E_FAIL;
    bool proxy = false;
    InApartment(model, [&] {
      ComPtr<_QXError> remote;
      unmarshalled = CoGetInterfaceAndReleaseStream(stream, __uuidof(_QXError), remote.PutVoid());
      if (FAILED(unmarshalled)) return;
      proxy = remote.Get() != view.Get();
      seen = Read(remote.Get());
      UniqueVariant value;
      if (SUCCEEDED(remote->get_Cause(value.Put())) && value.Type() == VT_BSTR) cause = Text(V_BSTR(&value.Get()));
    });
    ASSERT_EQ(S_OK, unmarshalled) << "is the type library registered?";
    EXPECT_TRUE(proxy);
    EXPECT_EQ((Entry{77, 5, L"far away", L"Remote.Source", L""}), seen);
    EXPECT_EQ(L"cause", cause);
  }
}

}  // namespace
}  // namespace qx::test
