// MTNVS: foreign and nested values, orphaned items, and the collection under contention: eight
// threads on one collection, the items' parent-lock protocol, merges in opposite directions. A
// watchdog ends the program after 60 s of deadlock instead of hanging it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <future>
#include <random>
#include <set>

#include "test_support.h"

namespace qx::test {
namespace {

struct ItemResult {
  HRESULT hr;
  ComPtr<_MTNV> item;
};
ItemResult ItemOf(_MTNVS* m, UniqueVariant index) {
  ItemResult r{};
  r.hr = m->get_MTItem(index.AddressOf(), r.item.Put());
  return r;
}
HRESULT AddTo(_MTNVS* m, const std::wstring& name, UniqueVariant value) {
  ComPtr<_MTNV> item;
  return m->MTAdd(Bstr(name).Get(), value.AddressOf(), item.Put());
}

// A new MTNVS through COM holding `names` in that order, with the values 1, 2, ...
ComPtr<_MTNVS> NewMTNVS(std::initializer_list<const wchar_t*> names) {
  ComPtr<_MTNVS> m;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_MTNVS, nullptr, CLSCTX_INPROC_SERVER, __uuidof(_MTNVS), m.PutVoid()));
  LONG value = 0;
  for (const wchar_t* name : names) EXPECT_EQ(S_OK, AddTo(m.Get(), name, VarI4(++value)));
  return m;
}

std::wstring NameOf(_MTNV* item) {
  UniqueBstr name;
  EXPECT_EQ(S_OK, item->get_MTName(name.Put()));
  return Text(name.Get());
}
ComPtr<_MTNVS> ParentOf(_MTNV* item) {
  ComPtr<_MTNVS> parent;
  EXPECT_EQ(S_OK, item->get_MTParent(parent.Put()));
  return parent;
}
bool SameObject(IUnknown* a, IUnknown* b) { return a && b && As<IUnknown>(a).Get() == As<IUnknown>(b).Get(); }
// The names in the public order, read through _MTMemberEnum.
std::vector<std::wstring> MTNames(_MTNVS* m) {
  std::vector<std::wstring> names;
  ComPtr<_EnumMTNV> members;
  EXPECT_EQ(S_OK, m->get__MTMemberEnum(members.Put()));
  for (ComPtr<_MTNV> item; members && members->MTNext(item.Put()) == S_OK && item;) names.push_back(NameOf(item.Get()));
  return names;
}

using MTNVSTest = LeakCheckedTest;
using MTNVSThreadsTest = LeakCheckedTest;

constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80040422);

// The view refuses a foreign item rather than taking it for an MTNV; the dump converts no nested
// collection to text, and fails without a partial text.
TEST_F(MTNVSTest, ForeignItemsAndNestedCollectionsAreRefused) {
  auto m = NewMTNVS({L"a", L"b"});
  ComPtr<NamedValue> foreign;
  ASSERT_EQ(S_OK, NewNamedValues()->Add(Bstr(L"x").Get(), VarI4(1).AddressOf(), foreign.Put()));
  EXPECT_TRUE(Fails(static_cast<HRESULT>(0x800407BF), As<INamedValues2>(m.Get())->Insert(foreign.Get()),
                    L"NAMEDVALUES error CMTNVS::Insert> Not a MTNV object"));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), MTNames(m.Get()));
  ASSERT_EQ(S_OK, AddTo(m.Get(), L"nested", VarObject(NewMTNVS({L"x"}).Get())));
  UniqueBstr text;
  EXPECT_TRUE(Fails(DISP_E_TYPEMISMATCH, m->MTDumpToString(text.Put()), L"MTNVS error.  CMTNVS::MTDumpToString"));
  EXPECT_TRUE(text.IsNull());
}

// Items leave as orphans when the collection is cleared or ends: their parent link goes with them.
TEST_F(MTNVSTest, ItemsOutliveTheirCollectionAsOrphans) {
  auto m = NewMTNVS({L"a", L"b"});
  ComPtr<_EnumMTNV> members;
  ASSERT_EQ(S_OK, m->get__MTMemberEnum(members.Put()));
  auto kept = ItemOf(m.Get(), VarText(L"b")).item;
  ASSERT_EQ(S_OK, m->MTClear());
  int seen = 0;
  for (ComPtr<_MTNV> item; members->MTNext(item.Put()) == S_OK; ++seen) EXPECT_FALSE(ParentOf(item.Get()));
  EXPECT_EQ(2, seen);
  ASSERT_EQ(S_OK, m->MTInsert(kept.Get()));
  EXPECT_TRUE(SameObject(ParentOf(kept.Get()).Get(), m.Get()));
  m.Reset();
  EXPECT_FALSE(ParentOf(kept.Get()));
}

// Starts `call` on a thread of the multithreaded apartment.
std::future<void> Start(std::function<void()> call) {
  return std::async(std::launch::async, [call] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    call();
    CoUninitialize();
  });
}
bool DoneWithin(std::future<void>& f, DWORD ms) {
  return f.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}
// Waits for `f` within the watchdog.
void Finish(std::future<void>& f) {
  if (!DoneWithin(f, 60000)) {
    ADD_FAILURE() << "watchdog: a call still waits after 60 s";
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
  }
}

// Runs body(t) on `count` threads and waits for them all.
template <class Body>
void RunThreads(int count, Body body) {
  std::vector<std::future<void>> threads;
  for (int t = 0; t < count; ++t) threads.push_back(Start([&body, t] { body(t); }));
  for (auto& thread : threads) Finish(thread);
}

// Runs `body` inside a Traverse callback of `m`: on this thread, while it holds the collection's lock.
HRESULT __stdcall RunBody(IUnknown*, void* body) {
  (*static_cast<std::function<void()>*>(body))();
  return S_OK;
}
HRESULT WhileHolding(_MTNVS* m, std::function<void()> body) {
  return As<ITraverse>(m)->Traverse(reinterpret_cast<void*>(&RunBody), &body, qxtrNoOptions);
}

// Both orders hold the same items, the name order is sorted, every member's parent is the
// collection; returns the count.
size_t CheckStore(_MTNVS* m) {
  std::set<std::pair<IUnknown*, std::wstring>> orders[2];
  for (const bool sorted : {true, false}) {
    EXPECT_EQ(S_OK, m->put_MTSorted(sorted ? VARIANT_TRUE : VARIANT_FALSE));
    ComPtr<_EnumMTNV> members;
    EXPECT_EQ(S_OK, m->get__MTMemberEnum(members.Put()));
    std::wstring last;
    for (ComPtr<_MTNV> item; members->MTNext(item.Put()) == S_OK && item;) {
      EXPECT_TRUE(SameObject(ParentOf(item.Get()).Get(), m)) << "a member whose parent is not its collection";
      const std::wstring name = NameOf(item.Get());
      EXPECT_TRUE(!sorted || orders[0].empty() || _wcsicmp(last.c_str(), name.c_str()) < 0) << "name order broken";
      orders[sorted ? 0 : 1].emplace(item.TryQuery<IUnknown>().Get(), last = name);
    }
  }
  EXPECT_EQ(orders[0], orders[1]);
  LONG count = -1;
  EXPECT_EQ(S_OK, m->get_MTCount(&count));
  EXPECT_EQ(static_cast<size_t>(count), orders[0].size());
  return orders[0].size();
}

// Each thread owns the names "t<thread>.<n>" and their alternatives n + kNames: only it adds,
// removes and renames them (so that it can count what it did), while every thread reads, writes
// and enumerates every other thread's items. In the second run thread 0 also clears the collection
// every 8th round, taking items away under the other threads' item methods.
TEST_F(MTNVSThreadsTest, EightThreadsKeepTheStoreConsistent) {
  constexpr int kThreads = 8, kRounds = 3000, kNames = 6;
  for (const bool clearing : {false, true}) {
    SCOPED_TRACE(clearing ? "with MTClear" : "without MTClear");
    auto m = NewMTNVS({});
    std::atomic<long> adds{0}, removes{0}, unexpected{0};
    // Counts a result outside what the call may return under contention.
    const auto expect = [&](HRESULT hr, std::initializer_list<HRESULT> allowed) {
      unexpected += std::find(allowed.begin(), allowed.end(), hr) == allowed.end() ? 1 : 0;
    };
    std::vector<std::vector<ComPtr<_MTNV>>> orphans(kThreads);
    RunThreads(kThreads, [&](int t) {
      std::mt19937 random(static_cast<unsigned>(t) * 7919u + 1);
      const auto name = [](int thread, int n) { return L"t" + std::to_wstring(thread) + L"." + std::to_wstring(n); };
      for (int round = 0; round < kRounds; ++round) {
        const int n = static_cast<int>(random() % kNames);
        const std::wstring own = name(t, n), renamed = name(t, n + kNames);
        switch (clearing && t == 0 && round % 8 == 0 ? 8 : random() % 8) {
          case 0: {
            const HRESULT hr = AddTo(m.Get(), own, VarI4(n));
            expect(hr, {S_OK, kDuplicate});
            adds += hr == S_OK ? 1 : 0;
            break;
          }
          case 1: {  // the owner removes, by name or through the item
            auto found = ItemOf(m.Get(), VarText(own));
            expect(found.hr, {S_OK, kNotFound});
            if (found.hr != S_OK) break;
            expect(random() % 2 ? m->MTRemove(Bstr(own).Get()) : found.item->MTDetach(),
                   {S_OK, clearing ? kNotFound : S_OK});
            ++removes;
            orphans[t].push_back(found.item);
            break;
          }
          case 2:  // renames between n and its alternative, through the collection and the item
            expect(m->MTRename(Bstr(own).Get(), Bstr(renamed).Get()), {S_OK, kNotFound, kDuplicate});
            break;
          case 3: {
            auto found = ItemOf(m.Get(), VarText(renamed));
            if (found.hr == S_OK) expect(found.item->MTRename(Bstr(own).Get()), {S_OK, kDuplicate});
            break;
          }
          case 4:
          case 5: {  // anyone writes and reads anyone's item, while its owner may remove it
            auto found = ItemOf(m.Get(), VarText(name(random() % kThreads, random() % (2 * kNames))));
            expect(found.hr, {S_OK, kNotFound});
            if (found.hr != S_OK) break;
            expect(found.item->put_MTValue(VarI4(round).Get()), {S_OK});
            UniqueVariant value;
            expect(found.item->get_MTValue(value.Put()), {S_OK});
            unexpected += value.Type() == VT_I4 ? 0 : 1;
            ParentOf(found.item.Get());
            break;
          }
          case 6: {
            ComPtr<_EnumMTNV> members;
            expect(m->get__MTMemberEnum(members.Put()), {S_OK});
            for (ComPtr<_MTNV> item; members->MTNext(item.Put()) == S_OK && item;) NameOf(item.Get());
            break;
          }
          case 7:
            expect(ItemOf(m.Get(), VarI4(1 + static_cast<LONG>(random() % 64))).hr,
                   {S_OK, static_cast<HRESULT>(0x80040423)});
            break;
          default:
            expect(m->MTClear(), {S_OK});
        }
      }
    });
    EXPECT_EQ(0, unexpected.load());
    const size_t count = CheckStore(m.Get());
    EXPECT_TRUE(clearing || count == static_cast<size_t>(adds - removes)) << count << " in the store";
    for (const auto& list : orphans) {
      for (const auto& item : list) EXPECT_FALSE(ParentOf(item.Get())) << "a removed item still has a parent";
    }
  }
}

// The collection's lock is re-entrant on its own thread (for the collection and its items), and
// another thread's MTAdd waits for it. An item method of another thread never waits for it: it
// backs off, and completes once the lock is free, or as an orphan if the collection let the item
// go meanwhile.
TEST_F(MTNVSThreadsTest, ItemMethodsBackOffWhileTheCollectionIsHeld) {
  for (const bool detach : {false, true}) {
    SCOPED_TRACE(detach ? "item detached meanwhile" : "lock released");
    auto m = NewMTNVS({L"a"});
    auto item = ItemOf(m.Get(), VarText(L"a")).item;
    HRESULT renamed = E_FAIL;
    std::future<void> rename, add;
    EXPECT_EQ(S_OK, WhileHolding(m.Get(), [&] {
                EXPECT_EQ(S_OK, item->put_MTValue(VarI4(9).Get()));
                EXPECT_EQ(S_OK, AddTo(m.Get(), L"inner", VarI4(2)));
                rename = Start([&] { renamed = item->MTRename(Bstr(L"b").Get()); });
                add = Start([&] { EXPECT_EQ(S_OK, AddTo(m.Get(), L"outer", VarI4(3))); });
                EXPECT_FALSE(DoneWithin(rename, 150)) << "the item method did not back off";
                EXPECT_FALSE(DoneWithin(add, 0)) << "MTAdd did not wait";
                if (detach) {
                  EXPECT_EQ(S_OK, m->MTRemove(Bstr(L"a").Get()));
                }
              }));
    EXPECT_TRUE(DoneWithin(rename, 5000));
    Finish(rename);
    Finish(add);
    EXPECT_EQ(S_OK, renamed);
    EXPECT_EQ(L"b", NameOf(item.Get()));
    const std::vector<std::wstring> names{L"b", L"inner", L"outer"};
    EXPECT_EQ(std::vector<std::wstring>(names.begin() + (detach ? 1 : 0), names.end()), MTNames(m.Get()));
    EXPECT_EQ(!detach, static_cast<bool>(ParentOf(item.Get())));
  }
}

// Merges in opposite directions at once, through both interfaces: neither merge holds its own
// collection's lock while it reads the other collection, so they cannot deadlock.
TEST_F(MTNVSThreadsTest, OppositeMergesDoNotDeadlock) {
  auto a = NewMTNVS({L"both"});
  auto b = NewMTNVS({L"both"});
  std::vector<std::wstring> all{L"both"};
  for (int i = 0; i < 40; ++i) {
    for (auto [m, prefix] : {std::pair{a.Get(), L"a"}, std::pair{b.Get(), L"b"}}) {
      all.push_back(prefix + std::to_wstring(100 + i));
      EXPECT_EQ(S_OK, AddTo(m, all.back(), VarI4(i)));
    }
  }
  std::sort(all.begin(), all.end());
  std::atomic<int> arrived{0};
  RunThreads(2, [&](int t) {
    _MTNVS* to = t == 0 ? a.Get() : b.Get();
    _MTNVS* from = t == 0 ? b.Get() : a.Get();
    for (int round = 0; round < 100; ++round) {
      // Both threads start each round together, so that the merges overlap.
      for (++arrived; arrived.load() < 2 * (round + 1);) Sleep(0);
      EXPECT_EQ(S_OK, to->MTMerge(from, VARIANT_TRUE));
      EXPECT_EQ(S_OK, As<INamedValues2>(to)->Merge(As<INamedValues2>(from).Get(), VARIANT_TRUE));
    }
  });
  EXPECT_EQ(all, MTNames(a.Get()));
  EXPECT_EQ(all, MTNames(b.Get()));
}

}  // namespace
}  // namespace qx::test
