// The QXErrors collection and its QXError views: records and growth, the Cause rule, the pool
// and heap views, the live enumerator, the frozen state, AddErrorInfo, several threads on one
// pointer, and a view used from another apartment.
#include <atomic>
#include <climits>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kObjectNotAllowed = static_cast<HRESULT>(0x8004079A);
const std::wstring kObjectNotAllowedText = L"An object reference may not be used here. Cause";

ComPtr<_QXErrors> NewErrors() {
  ComPtr<_QXErrors> errors;
  EXPECT_EQ(S_OK,
            CoCreateInstance(CLSID_QXErrors, nullptr, CLSCTX_INPROC_SERVER, __uuidof(_QXErrors), errors.PutVoid()))
      << "is the DLL registered?";
  return errors;
}

// What automation passes for an omitted optional argument.
VARIANT Missing() {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  return v;
}

HRESULT AddEntry(_QXErrors* errors, LONG number, const std::wstring& description, _QXError** view = nullptr,
                 VARIANT cause = Missing()) {
  auto text = Bstr(description);
  return errors->Add(number, text.Get(), nullptr, nullptr, 0, cause, view);
}

LONG CountOf(_QXErrors* errors) {
  LONG count = -1;
  EXPECT_EQ(S_OK, errors->get_Count(&count));
  return count;
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
  UniqueBstr text;
  EXPECT_EQ(S_OK, view->get_Number(&e.number));
  EXPECT_EQ(S_OK, view->get_HelpContext(&e.helpContext));
  EXPECT_EQ(S_OK, view->get_Description(text.Put()));
  EXPECT_FALSE(text.IsNull()) << "texts are returned as strings, never null";
  e.description = Text(text.Get());
  EXPECT_EQ(S_OK, view->get_Source(text.Put()));
  e.source = Text(text.Get());
  EXPECT_EQ(S_OK, view->get_HelpFile(text.Put()));
  e.helpFile = Text(text.Get());
  return e;
}
ComPtr<_QXError> ViewOf(_QXErrors* errors, LONG index) {
  ComPtr<_QXError> view;
  EXPECT_EQ(S_OK, errors->get_Item(index, view.Put())) << "item " << index;
  return view;
}
Entry ReadItem(_QXErrors* errors, LONG index) {
  ComPtr<_QXError> view;
  EXPECT_EQ(S_OK, errors->get_Item(index, view.Put())) << "item " << index;
  return view ? Read(view.Get()) : Entry{};
}

// Each refusal: its code and text, and the collection left as it was (one entry).
TEST(QXErrors, RefusalsReportAndChangeNothing) {
  VARIANT object;
  VariantInit(&object);
  V_VT(&object) = VT_DISPATCH;
  VARIANT byReference;  // how a script passes a variable holding an object
  VariantInit(&byReference);
  V_VT(&byReference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&byReference) = &object;
  const Refusal<_QXErrors> rows[] = {  // setup 1: frozen first
      {"Item 0", 0, [](auto e) { ComPtr<_QXError> v; return e->get_Item(0, v.Put()); }, E_INVALIDARG, L""},
      {"Item past the end", 0, [](auto e) { ComPtr<_QXError> v; return e->get_Item(2, v.Put()); }, E_INVALIDARG,
       L""},
      {"Item out", 0, [](auto e) { return e->get_Item(1, nullptr); }, E_POINTER, L""},
      {"Count out", 0, [](auto e) { return e->get_Count(nullptr); }, E_POINTER, L""},
      {"ReadOnly out", 0, [](auto e) { return e->get_ReadOnly(nullptr); }, E_POINTER, L""},
      {"_NewEnum out", 0, [](auto e) { return e->get__NewEnum(nullptr); }, E_POINTER, L""},
      {"view Description out", 0, [](auto e) { return ViewOf(e, 1)->get_Description(nullptr); }, E_POINTER, L""},
      {"view Cause out", 0, [](auto e) { return ViewOf(e, 1)->get_Cause(nullptr); }, E_POINTER, L""},
      {"object Cause", 0, [&](auto e) { return AddEntry(e, 2, L"x", nullptr, object); }, kObjectNotAllowed,
       kObjectNotAllowedText},
      {"object Cause by reference", 0, [&](auto e) { return AddEntry(e, 2, L"x", nullptr, byReference); },
       kObjectNotAllowed, kObjectNotAllowedText},
      {"object Cause of AddErrorInfo", 0, [&](auto e) { return e->AddErrorInfo(2, nullptr, object, nullptr); },
       kObjectNotAllowed, kObjectNotAllowedText},
      {"AddErrorInfo of no error object", false,
       [](auto e) { return e->AddErrorInfo(2, NewNamedValues().Get(), Missing(), nullptr); }, E_INVALIDARG, L""},
      {"frozen Add", 1, [](auto e) { return AddEntry(e, 2, L"late"); }, E_ACCESSDENIED, L""},
      {"frozen AddErrorInfo", true,
       [](auto e) {
         PutThreadError(L"to copy");
         return e->AddErrorInfo(2, nullptr, Missing(), nullptr);
       },
       E_ACCESSDENIED, L""},
      {"frozen SetSize", 1, [](auto e) { return e->SetSize(100); }, E_ACCESSDENIED, L""},
      {"frozen SetSize to the count", 1, [](auto e) { return e->SetSize(1); }, E_ACCESSDENIED, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto errors = NewErrors();
    ASSERT_EQ(S_OK, AddEntry(errors.Get(), 1, L"one"));
    if (row.setup == 1) {
      ASSERT_EQ(S_OK, errors->Freeze());
    }
    V_DISPATCH(&object) = errors.Get();  // not AddRef'd: the callee only reads the variant
    EXPECT_TRUE(Fails(row.hr, row.call(errors.Get()), row.description));
    EXPECT_EQ(1, CountOf(errors.Get()));
    EXPECT_EQ(L"one", ReadItem(errors.Get(), 1).description);
  }
  // An object Cause keeps an error object already on the thread.
  auto errors = NewErrors();
  V_DISPATCH(&object) = errors.Get();
  PutThreadError(L"earlier");
  EXPECT_EQ(kObjectNotAllowed, AddEntry(errors.Get(), 1, L"x", nullptr, object));
  EXPECT_EQ(L"earlier", PeekError().description);
  // A read clears an error object left over from an earlier call.
  ASSERT_EQ(S_OK, AddEntry(errors.Get(), 1, L"x"));
  PutThreadError(L"left over");
  LONG number = 0;
  EXPECT_EQ(S_OK, ViewOf(errors.Get(), 1)->get_Number(&number));
  EXPECT_FALSE(PeekError().present);
}

TEST(QXErrors, AddStoresEveryFieldAndKeepsAllEntriesThroughGrowth) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  auto description = Bstr(std::wstring(L"disk\0full", 9));
  auto source = Bstr(L"Disk.Module");
  auto helpFile = Bstr(L"disk.chm");
  auto cause = VarText(L"C:\\data");
  ComPtr<_QXError> view;
  ASSERT_EQ(S_OK,
            errors->Add(-2147024784, description.Get(), source.Get(), helpFile.Get(), 1234, cause.Get(), view.Put()));
  ASSERT_TRUE(view);
  EXPECT_EQ((Entry{-2147024784, 1234, L"disk", L"Disk.Module", L"disk.chm"}), Read(view.Get()));
  UniqueVariant back;
  EXPECT_EQ(S_OK, view->get_Cause(back.Put()));
  ASSERT_EQ(VT_BSTR, back.Type());
  EXPECT_EQ(L"C:\\data", Text(V_BSTR(&back.Get())));

  // A cause by reference is stored as the value it refers to.
  LONG target = 77;
  VARIANT byRef;
  V_VT(&byRef) = VT_I4 | VT_BYREF;
  V_I4REF(&byRef) = &target;
  ASSERT_EQ(S_OK, errors->Add(1, nullptr, nullptr, nullptr, 0, byRef, view.Put()));
  target = 0;
  EXPECT_EQ(S_OK, view->get_Cause(back.Put()));
  EXPECT_EQ(VT_I4, back.Type());
  EXPECT_EQ(77, V_I4(&back.Get()));

  // Absent texts read as empty strings; a null out argument still adds.
  EXPECT_EQ(S_OK, errors->Add(2, nullptr, nullptr, nullptr, 0, Missing(), nullptr));
  EXPECT_EQ((Entry{2, 0, L"", L"", L""}), ReadItem(errors.Get(), 3));

  // Enough entries for several moves of the array; SetSize below the count changes nothing.
  for (LONG n = 4; n <= 30; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"entry " + std::to_wstring(n)));
  EXPECT_EQ(S_OK, errors->SetSize(2));
  EXPECT_EQ(S_OK, errors->SetSize(-1));
  EXPECT_EQ(S_OK, errors->SetSize(100));
  ASSERT_EQ(30, CountOf(errors.Get()));
  EXPECT_EQ(L"disk", ReadItem(errors.Get(), 1).description);
  for (LONG n = 4; n <= 30; ++n) EXPECT_EQ((Entry{n, 0, L"entry " + std::to_wstring(n)}), ReadItem(errors.Get(), n));
}

// Two views come from the collection's pool; a third held at the same time is a heap view. A
// pool view's AddRef answers the collection's count, a heap view's its own.
TEST(QXErrors, PoolViewsAreReusedAndAThirdHeldViewIsAllocated) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  for (LONG n = 1; n <= 3; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"e" + std::to_wstring(n)));

  ComPtr<_QXError> first, second, third;
  ASSERT_EQ(S_OK, errors->get_Item(1, first.Put()));
  ASSERT_EQ(S_OK, errors->get_Item(2, second.Put()));
  ASSERT_EQ(S_OK, errors->get_Item(3, third.Put()));
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_NE(third.Get(), first.Get());
  EXPECT_NE(third.Get(), second.Get());
  // Collection: ours + one per view reference = 4.
  EXPECT_EQ(5u, first->AddRef());
  EXPECT_EQ(4u, first->Release());
  EXPECT_EQ(2u, third->AddRef()) << "a heap view answers its own count";
  EXPECT_EQ(1u, third->Release());
  EXPECT_EQ(5u, errors->AddRef()) << "the heap view holds a collection reference too";
  errors->Release();

  // Each view shows its own record.
  EXPECT_EQ(L"e1", Read(first.Get()).description);
  EXPECT_EQ(L"e2", Read(second.Get()).description);
  EXPECT_EQ(L"e3", Read(third.Get()).description);

  // A released pool view is the next one handed out, re-pointed; the others are unaffected.
  _QXError* const firstAddress = first.Get();
  first.Reset();
  ComPtr<_QXError> again;
  ASSERT_EQ(S_OK, errors->get_Item(3, again.Put()));
  EXPECT_EQ(firstAddress, again.Get());
  EXPECT_EQ(3, Read(again.Get()).number);
  EXPECT_EQ(2, Read(second.Get()).number);
  EXPECT_EQ(3, Read(third.Get()).number);

  // A view reached through QueryInterface is counted the same way.
  ComPtr<IDispatch> asDispatch = again.TryQuery<IDispatch>();
  ASSERT_TRUE(asDispatch);
  again.Reset();
  ComPtr<_QXError> busy;
  ASSERT_EQ(S_OK, errors->get_Item(1, busy.Put()));
  EXPECT_NE(firstAddress, busy.Get()) << "the pool view is still held through IDispatch";
  busy.Reset();
  asDispatch.Reset();

  // (Views are not free-threaded and the collection is: the threading tests below show both.)
  auto support = second.TryQuery<ISupportErrorInfo>();
  ASSERT_TRUE(support);
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(__uuidof(_QXError)));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(__uuidof(_QXErrors)));
  support = errors.TryQuery<ISupportErrorInfo>();
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(__uuidof(_QXErrors)));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));

  // The collection outlives our own reference while a view is held.
  support.Reset();
  errors.Reset();
  EXPECT_EQ(L"e2", Read(second.Get()).description);
  EXPECT_EQ(L"e3", Read(third.Get()).description);
}

std::vector<LONG> Numbers(const VARIANT* items, ULONG count) {
  std::vector<LONG> numbers;
  for (ULONG i = 0; i < count; ++i) {
    ComPtr<_QXError> view;
    if (V_VT(&items[i]) != VT_DISPATCH ||
        FAILED(V_DISPATCH(&items[i])->QueryInterface(__uuidof(_QXError), view.PutVoid()))) {
      numbers.push_back(-1);
      continue;
    }
    numbers.push_back(Read(view.Get()).number);
  }
  return numbers;
}

TEST(QXErrors, EnumeratorWalksTheLiveCollection) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, errors->get__NewEnum(unknown.Put()));
  auto items = unknown.TryQuery<IEnumVARIANT>();
  ASSERT_TRUE(items);

  VARIANT out[5];
  for (auto& v : out) VariantInit(&v);
  ULONG fetched = 99;
  EXPECT_EQ(S_FALSE, items->Next(1, out, &fetched));
  EXPECT_EQ(0u, fetched);

  // Entries added after the enumerator was made are enumerated.
  for (LONG n = 1; n <= 3; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"e"));
  EXPECT_EQ(S_FALSE, items->Next(5, out, &fetched));
  ASSERT_EQ(3u, fetched);
  EXPECT_EQ((std::vector<LONG>{1, 2, 3}), Numbers(out, 3)) << "three views held at once: pool, pool, heap";
  for (auto& v : out) VariantClear(&v);

  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_OK, items->Next(1, out, nullptr));
  EXPECT_EQ((std::vector<LONG>{1}), Numbers(out, 1));
  VariantClear(&out[0]);
  EXPECT_EQ(S_OK, items->Next(2, out, &fetched));
  EXPECT_EQ((std::vector<LONG>{2, 3}), Numbers(out, 2));
  for (auto& v : out) VariantClear(&v);

  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_FALSE, items->Skip(4));
  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_OK, items->Skip(2));
  EXPECT_EQ(S_OK, items->Next(1, out, &fetched));
  EXPECT_EQ((std::vector<LONG>{3}), Numbers(out, 1));
  VariantClear(&out[0]);

  EXPECT_EQ(E_POINTER, items->Next(2, out, nullptr));
  EXPECT_EQ(E_POINTER, items->Next(1, nullptr, &fetched));
  ComPtr<IEnumVARIANT> clone;
  EXPECT_EQ(E_NOTIMPL, items->Clone(clone.Put()));
  EXPECT_FALSE(PeekError().present) << "the enumerator sets no error objects";

  // The enumerator keeps the collection alive.
  errors.Reset();
  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_FALSE, items->Next(5, out, &fetched));
  EXPECT_EQ(3u, fetched);
  for (auto& v : out) VariantClear(&v);
}

// The texts of a failed call of another object land in the entry; the thread's error object is
// handed back, and only a call that grows the array or returns a view clears it.
TEST(QXErrors, AddErrorInfoCopiesTheThreadsOrAGivenErrorObject) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  ASSERT_EQ(S_OK, AddEntry(errors.Get(), 1, L"first"));  // capacity 4 from here on
  auto bag = NewNamedValues();
  ASSERT_TRUE(bag);
  auto name = Bstr(L"Timeout");
  auto value = VarI4(30);
  ASSERT_EQ(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  ASSERT_NE(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  const std::wstring duplicate = L"Cannot add duplicate name to the collection: Timeout";

  EXPECT_EQ(S_OK, errors->AddErrorInfo(static_cast<LONG>(0x80040421), nullptr, Missing(), nullptr));
  EXPECT_EQ((Entry{static_cast<LONG>(0x80040421), 0, duplicate, L"QXSDK", L"qxsdk.chm"}), ReadItem(errors.Get(), 2));
  // ReadItem cleared the thread: put the failure back and add once more, now without a view.
  ASSERT_NE(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  EXPECT_EQ(S_OK, errors->AddErrorInfo(3, nullptr, Missing(), nullptr));
  const ErrorState kept = PeekError();
  EXPECT_TRUE(kept.present) << "no growth, no view: the thread keeps its error object";
  EXPECT_EQ(duplicate, kept.description);

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
  EXPECT_EQ((Entry{5, 42, L"given", L"", L"given.chm"}), ReadItem(errors.Get(), 5));

}

// ---------------------------------------------------------------------------------------------
// Threads and apartments.

std::wstring TextFor(LONG number) {
  return L"thread " + std::to_wstring(number / 1000) + L" entry " + std::to_wstring(number % 1000);
}

// Several threads add and read through the one pointer the free-threaded marshaler hands them;
// afterwards every entry is there once and whole. Then, frozen, they read without the lock and
// race for the pool views.
TEST(QXErrors, ManyThreadsAddAndReadThroughOnePointer) {
  constexpr int kThreads = 4;
  constexpr LONG kPerThread = 150;
  auto errors = NewErrors();
  ASSERT_TRUE(errors);

  std::atomic<int> faults{0};
  auto check = [&](bool ok) {
    if (!ok) ++faults;
  };
  // A view must show a whole record: its description matches its number.
  auto readRandom = [&](_QXErrors* shared, unsigned& seed) {
    LONG count = 0;
    check(shared->get_Count(&count) == S_OK);
    if (count == 0) return;
    seed = seed * 1103515245u + 12345u;
    ComPtr<_QXError> view;
    check(shared->get_Item(static_cast<LONG>(seed % count) + 1, view.Put()) == S_OK);
    if (!view) return;
    LONG number = 0;
    UniqueBstr text;
    check(view->get_Number(&number) == S_OK);
    check(view->get_Description(text.Put()) == S_OK);
    check(Text(text.Get()) == TextFor(number));
  };

  std::vector<std::thread> threads;
  std::vector<com::UniqueHandle> done;
  for (int t = 0; t < kThreads; ++t) {
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(__uuidof(_QXErrors), errors.Get(), &stream));
    done.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    threads.emplace_back([&, t, stream, event = done.back().Get()] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      {
        ComPtr<_QXErrors> shared;
        check(CoGetInterfaceAndReleaseStream(stream, __uuidof(_QXErrors), shared.PutVoid()) == S_OK);
        check(shared.Get() == errors.Get());  // free-threaded: no proxy
        unsigned seed = static_cast<unsigned>(t) + 1;
        for (LONG i = 0; i < kPerThread && shared; ++i) {
          const LONG number = (t + 1) * 1000 + i;
          auto text = Bstr(TextFor(number));
          ComPtr<_QXError> view;
          check(shared->Add(number, text.Get(), nullptr, nullptr, 0, VarI4(number).Get(), view.Put()) == S_OK);
          LONG back = 0;
          check(view && view->get_Number(&back) == S_OK && back == number);
          readRandom(shared.Get(), seed);
        }
      }
      CoUninitialize();
      SetEvent(event);
    });
  }
  for (int t = 0; t < kThreads; ++t) JoinPumping(threads[t], done[t].Get());
  threads.clear();
  EXPECT_EQ(0, faults.load());

  ASSERT_EQ(kThreads * kPerThread, CountOf(errors.Get()));
  std::vector<int> seen(kThreads * kPerThread, 0);
  for (LONG n = 1; n <= kThreads * kPerThread; ++n) {
    const Entry e = ReadItem(errors.Get(), n);
    const LONG t = e.number / 1000 - 1, i = e.number % 1000;
    ASSERT_TRUE(t >= 0 && t < kThreads && i < kPerThread) << e.number;
    ++seen[t * kPerThread + i];
    EXPECT_EQ(TextFor(e.number), e.description);
  }
  EXPECT_EQ(std::vector<int>(kThreads * kPerThread, 1), seen) << "every entry exactly once";

  // Frozen: unlocked readers racing for the two pool views.
  ASSERT_EQ(S_OK, errors->Freeze());
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      unsigned seed = static_cast<unsigned>(t) * 7 + 3;
      for (int i = 0; i < 400; ++i) readRandom(errors.Get(), seed);
      CoUninitialize();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, faults.load());

  errors.Reset();
  EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "every collection and view is gone";
}

// A view handed to another apartment is reached through a proxy of the standard marshaler and
// reads its record; the collection itself crosses without one.
TEST(QXErrors, ViewCrossesApartmentsThroughTheStandardMarshaler) {
  const NeutralLocaleTypeLib registration;
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  ComPtr<_QXError> view;
  auto source = Bstr(L"Remote.Source");
  auto text = Bstr(L"far away");
  ASSERT_EQ(S_OK, errors->Add(77, text.Get(), source.Get(), nullptr, 5, VarText(L"cause").Get(), view.Put()));

  for (DWORD model : {COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED}) {
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(__uuidof(_QXError), view.Get(), &stream));
    Entry seen;
    std::wstring cause;
    HRESULT unmarshalled = E_FAIL;
    bool proxy = false;
    com::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread other([&] {
      CoInitializeEx(nullptr, model);
      {
        ComPtr<_QXError> remote;
        unmarshalled = CoGetInterfaceAndReleaseStream(stream, __uuidof(_QXError), remote.PutVoid());
        if (SUCCEEDED(unmarshalled)) {
          proxy = remote.Get() != view.Get();
          seen = Read(remote.Get());
          UniqueVariant value;
          if (SUCCEEDED(remote->get_Cause(value.Put())) && value.Type() == VT_BSTR) cause = Text(V_BSTR(&value.Get()));
        }
      }
      CoUninitialize();
      SetEvent(done.Get());
    });
    JoinPumping(other, done.Get());
    ASSERT_EQ(S_OK, unmarshalled) << "is the type library registered?";
    EXPECT_TRUE(proxy);
    EXPECT_EQ((Entry{77, 5, L"far away", L"Remote.Source", L""}), seen);
    EXPECT_EQ(L"cause", cause);
  }
}

}  // namespace
}  // namespace qx::test
