// The QXErrors collection and its QXError views: refusals, several threads on one pointer (pool and
// heap views among them), and a view used from another apartment.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "asynch_sink.h"

namespace qx::test {
namespace {

using QXErrors = LeakCheckedTest;

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
Entry Read(_QXError* view) {
  Entry e;
  UniqueBstr texts[3];
  EXPECT_EQ(S_OK, view->get_Number(&e.number));
  EXPECT_EQ(S_OK, view->get_HelpContext(&e.helpContext));
  EXPECT_EQ(S_OK, view->get_Description(texts[0].Put()));
  EXPECT_EQ(S_OK, view->get_Source(texts[1].Put()));
  EXPECT_EQ(S_OK, view->get_HelpFile(texts[2].Put()));
  e.description = Text(texts[0].Get()), e.source = Text(texts[1].Get()), e.helpFile = Text(texts[2].Get());
  return e;
}
Entry ReadItem(_QXErrors* errors, LONG index) {
  ComPtr<_QXError> view;
  EXPECT_EQ(S_OK, errors->get_Item(index, view.Put())) << "item " << index;
  return view ? Read(view.Get()) : Entry{};
}
LONG CountOf(_QXErrors* errors) {
  LONG count = -1;
  EXPECT_EQ(S_OK, errors->get_Count(&count));
  return count;
}

// Each refusal: its code and text, and the collection left as it was (one entry).
TEST_F(QXErrors, RefusalsReportAndChangeNothing) {
  constexpr HRESULT kObjectNotAllowed = static_cast<HRESULT>(0x8004079A);
  const std::wstring kObjectNotAllowedText = L"An object reference may not be used here. Cause";
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

std::wstring TextFor(LONG number) { return L"thread " + std::to_wstring(number); }

// Threads add and read through one pointer: every entry there once and whole, each view showing a
// whole record (heap views come and go); then, frozen, unlocked readers race for the pool views.
TEST_F(QXErrors, ManyThreadsAddAndReadThroughOnePointer) {
  constexpr int kThreads = 4;
  constexpr LONG kPerThread = 150;
  auto errors = NewErrors();
  std::atomic<int> faults{0};
  // A view must show a whole record: its description matches its number.
  auto readRandom = [&](unsigned& seed) {
    LONG count = 0;
    faults += errors->get_Count(&count) != S_OK;
    if (count == 0) return;
    seed = seed * 1103515245u + 12345u;
    ComPtr<_QXError> view;
    LONG number = 0;
    UniqueBstr text;
    faults += errors->get_Item(static_cast<LONG>(seed % count) + 1, view.Put()) != S_OK || !view ||
              view->get_Number(&number) != S_OK || view->get_Description(text.Put()) != S_OK ||
              Text(text.Get()) != TextFor(number);
  };
  auto onThreads = [&](const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        body(t);
        CoUninitialize();
      });
    }
    for (auto& thread : threads) thread.join();
  };
  onThreads([&](int t) {
    unsigned seed = static_cast<unsigned>(t) + 1;
    for (LONG i = 0; i < kPerThread; ++i) {
      const LONG number = t * kPerThread + i;
      ComPtr<_QXError> view;
      LONG back = -1;
      faults += errors->Add(number, Bstr(TextFor(number)).Get(), nullptr, nullptr, 0, VarI4(number).Get(),
                            view.Put()) != S_OK ||
                !view || view->get_Number(&back) != S_OK || back != number;
      readRandom(seed);
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

  ASSERT_EQ(S_OK, errors->Freeze());
  onThreads([&](int t) {
    unsigned seed = static_cast<unsigned>(t) * 7 + 3;
    for (int i = 0; i < 400; ++i) readRandom(seed);
  });
  EXPECT_EQ(0, faults.load());
}

// In another apartment the collection is the same pointer (free-threaded); a view is a proxy that
// reads its record.
TEST_F(QXErrors, ViewCrossesApartmentsByProxyAndTheCollectionDirectly) {
  const NeutralLocaleTypeLib registration;
  auto errors = NewErrors();
  ComPtr<_QXError> view;
  ASSERT_EQ(S_OK, errors->Add(77, Bstr(L"far away").Get(), Bstr(L"Remote.Source").Get(), nullptr, 5,
                              VarText(L"cause").Get(), view.Put()));
  for (DWORD model : {COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED}) {
    IStream *errorsStream = nullptr, *viewStream = nullptr;
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(__uuidof(_QXErrors), errors.Get(), &errorsStream));
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(__uuidof(_QXError), view.Get(), &viewStream));
    Entry seen;
    HRESULT unmarshalled = E_FAIL;
    bool sameCollection = false, viewProxy = false;
    InApartment(model, [&] {
      ComPtr<_QXErrors> shared;
      ComPtr<_QXError> remote;
      unmarshalled = Chain({CoGetInterfaceAndReleaseStream(errorsStream, __uuidof(_QXErrors), shared.PutVoid()),
                            CoGetInterfaceAndReleaseStream(viewStream, __uuidof(_QXError), remote.PutVoid())});
      if (FAILED(unmarshalled)) return;
      sameCollection = shared.Get() == errors.Get();
      viewProxy = remote.Get() != view.Get();
      seen = Read(remote.Get());
    });
    ASSERT_EQ(S_OK, unmarshalled) << "is the type library registered?";
    EXPECT_TRUE(sameCollection && viewProxy);
    EXPECT_EQ((Entry{77, 5, L"far away", L"Remote.Source", L""}), seen);
  }
}

}  // namespace
}  // namespace qx::test
