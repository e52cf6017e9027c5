// MTNVS under real contention: eight threads on one collection, the items' parent-lock protocol,
// and merges running in opposite directions. Every wait is bounded by a watchdog: a deadlock
// fails the test (and ends the program) after 60 s instead of hanging it.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "mtnvs_support.h"

namespace qx::test {
namespace {

using MTNVSThreadsTest = LeakCheckedTest;

constexpr DWORD kWatchdogMs = 60000;
constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80040422);

// Starts `call` on a thread of its own; Finish() waits for it, within the watchdog.
class Background {
 public:
  explicit Background(std::function<void()> call)
      : thread_([this, call] {
          CoInitializeEx(nullptr, COINIT_MULTITHREADED);
          call();
          CoUninitialize();
          SetEvent(done_);
        }) {}
  ~Background() { CloseHandle(done_); }
  bool DoneWithin(DWORD ms) { return WaitForSingleObject(done_, ms) == WAIT_OBJECT_0; }
  void Finish() {
    if (!DoneWithin(kWatchdogMs)) {
      ADD_FAILURE() << "watchdog: a call still waits after 60 s";
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 3);
    }
    thread_.join();
  }

 private:
  HANDLE done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread thread_;
};

// Runs body(t) on `count` threads of the multithreaded apartment and waits for them all.
template <class Body>
void RunThreads(int count, Body body) {
  std::vector<std::unique_ptr<Background>> threads;
  for (int t = 0; t < count; ++t) threads.push_back(std::make_unique<Background>([&body, t] { body(t); }));
  for (auto& thread : threads) thread->Finish();
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
      if (sorted && !orders[0].empty()) EXPECT_LT(_wcsicmp(last.c_str(), name.c_str()), 0) << "name order broken";
      orders[sorted ? 0 : 1].emplace(item.TryQuery<IUnknown>().Get(), last = name);
    }
  }
  EXPECT_EQ(orders[0], orders[1]);
  EXPECT_EQ(static_cast<size_t>(CountOf(m)), orders[0].size());
  return orders[0].size();
}

struct Tally {
  std::atomic<long> adds{0}, removes{0}, unexpected{0};
  void Expect(bool ok) { unexpected += ok ? 0 : 1; }
};

// Eight threads on one collection. Each thread owns the names "t<thread>.<n>", which only it adds,
// removes, detaches and renames (so that it can count what it did), and reads, writes and
// enumerates every other thread's items while they change.
TEST_F(MTNVSThreadsTest, EightThreadsKeepTheStoreConsistent) {
  constexpr int kThreads = 8, kRounds = 3000, kNames = 6;
  auto m = NewMTNVS({});
  Tally tally;
  std::vector<std::vector<ComPtr<_MTNV>>> orphans(kThreads);
  RunThreads(kThreads, [&](int t) {
    std::mt19937 random(static_cast<unsigned>(t) * 7919u + 1);
    const auto own = [&](int n) { return L"t" + std::to_wstring(t) + L"." + std::to_wstring(n); };
    const auto anyName = [&] {
      return L"t" + std::to_wstring(random() % kThreads) + L"." + std::to_wstring(random() % (2 * kNames));
    };
    for (int round = 0; round < kRounds; ++round) {
      const int n = static_cast<int>(random() % kNames);
      const int renamed = n + kNames;  // each name n has one alternative, n + kNames
      switch (random() % 8) {
        case 0: {
          const HRESULT hr = AddTo(m.Get(), own(n), VarI4(n)).hr;
          tally.Expect(hr == S_OK || hr == kDuplicate);
          if (hr == S_OK) ++tally.adds;
          break;
        }
        case 1: {  // the owner removes, by name or through the item
          auto found = ItemOf(m.Get(), VarText(own(n)));
          tally.Expect(found.hr == S_OK || found.hr == kNotFound);
          if (found.hr != S_OK) break;
          const HRESULT hr = random() % 2 ? m->MTRemove(Bstr(own(n)).Get()) : found.item->MTDetach();
          tally.Expect(hr == S_OK);
          ++tally.removes;
          orphans[t].push_back(found.item);
          break;
        }
        case 2: {  // renames from both sides, between n and its alternative
          const HRESULT hr = random() % 2 ? m->MTRename(Bstr(own(n)).Get(), Bstr(own(renamed)).Get())
                                          : m->MTRename(Bstr(own(renamed)).Get(), Bstr(own(n)).Get());
          tally.Expect(hr == S_OK || hr == kNotFound || hr == kDuplicate);
          break;
        }
        case 3: {
          auto found = ItemOf(m.Get(), VarText(own(renamed)));
          if (found.hr != S_OK) break;
          const HRESULT hr = found.item->MTRename(Bstr(own(n)).Get());
          tally.Expect(hr == S_OK || hr == kDuplicate);
          break;
        }
        case 4:
        case 5: {  // anyone writes and reads anyone's item, while its owner may remove it
          auto found = ItemOf(m.Get(), VarText(anyName()));
          tally.Expect(found.hr == S_OK || found.hr == kNotFound);
          if (found.hr != S_OK) break;
          tally.Expect(found.item->put_MTValue(VarI4(round).Get()) == S_OK);
          tally.Expect(ValueOf(found.item.Get()).Type() == VT_I4);
          ParentOf(found.item.Get());
          break;
        }
        case 6: {
          ComPtr<_EnumMTNV> members;
          tally.Expect(m->get__MTMemberEnum(members.Put()) == S_OK);
          for (ComPtr<_MTNV> item; members->MTNext(item.Put()) == S_OK && item;) NameOf(item.Get());
          break;
        }
        default: {
          const HRESULT hr = ItemOf(m.Get(), VarI4(1 + static_cast<LONG>(random() % 64))).hr;
          tally.Expect(hr == S_OK || hr == static_cast<HRESULT>(0x80040423));
          break;
        }
      }
    }
  });
  EXPECT_EQ(0, tally.unexpected.load());
  EXPECT_EQ(static_cast<size_t>(tally.adds - tally.removes), CheckStore(m.Get()));
  for (const auto& list : orphans) {
    for (const auto& item : list) EXPECT_FALSE(ParentOf(item.Get())) << "a removed item still has a parent";
  }
}

// Item methods against MTClear and MTRemove: writers, detachers and renamers run on items that
// a clearing thread keeps taking away and putting back.
TEST_F(MTNVSThreadsTest, ItemMethodsRaceClear) {
  constexpr int kThreads = 8, kRounds = 2000;
  auto m = NewMTNVS({});
  Tally tally;
  RunThreads(kThreads, [&](int t) {
    std::mt19937 random(static_cast<unsigned>(t) + 17u);
    for (int round = 0; round < kRounds; ++round) {
      const std::wstring name = L"n" + std::to_wstring(random() % 12);
      if (t == 0) {
        tally.Expect(round % 8 ? AddTo(m.Get(), name, VarI4(1)).hr != E_FAIL : m->MTClear() == S_OK);
        continue;
      }
      auto found = ItemOf(m.Get(), VarText(name));
      if (found.hr != S_OK) {
        const HRESULT hr = AddTo(m.Get(), name, VarI4(t)).hr;
        tally.Expect(hr == S_OK || hr == kDuplicate);
        continue;
      }
      const int kind = t % 4;
      const HRESULT hr = kind == 0   ? found.item->MTDetach()
                         : kind == 1 ? found.item->put_MTValue(VarI4(round).Get())
                         : kind == 2 ? m->MTRemove(Bstr(name).Get())
                                     : found.item->MTRename(Bstr(name + L"x").Get());
      tally.Expect(hr == S_OK || hr == kNotFound || hr == kDuplicate);
    }
  });
  EXPECT_EQ(0, tally.unexpected.load());
  CheckStore(m.Get());
}

// Runs `body` inside a Traverse callback of a one-item collection, that is, on this thread while
// it holds the collection's lock.
struct WhileHolding {
  std::function<void()> body;
  static HRESULT __stdcall Callback(IUnknown*, void* self) {
    static_cast<WhileHolding*>(self)->body();
    return S_OK;
  }
  static HRESULT Run(_MTNVS* m, std::function<void()> body) {
    WhileHolding holder{std::move(body)};
    return ComPtr<_MTNVS>(m).TryQuery<ITraverse>()->Traverse(reinterpret_cast<void*>(&Callback), &holder,
                                                             qxtrNoOptions);
  }
};

// An item never waits for its parent's lock: while another thread holds the collection, the item
// method backs off, and completes once the lock is free, or as an orphan if the collection let
// the item go meanwhile.
TEST_F(MTNVSThreadsTest, ItemMethodsBackOffWhileTheCollectionIsHeld) {
  for (const bool detach : {false, true}) {
    SCOPED_TRACE(detach ? "item detached meanwhile" : "lock released");
    auto m = NewMTNVS({L"a"});
    auto item = ItemOf(m.Get(), VarText(L"a")).item;
    HRESULT renamed = E_FAIL;
    std::unique_ptr<Background> rename;
    EXPECT_EQ(S_OK, WhileHolding::Run(m.Get(), [&] {
                rename = std::make_unique<Background>([&] { renamed = item->MTRename(Bstr(L"z").Get()); });
                EXPECT_FALSE(rename->DoneWithin(150)) << "the item method did not back off";
                if (detach) {
                  EXPECT_EQ(S_OK, m->MTRemove(Bstr(L"a").Get()));
                }
              }));
    EXPECT_TRUE(rename->DoneWithin(5000));
    rename->Finish();
    EXPECT_EQ(S_OK, renamed);
    EXPECT_EQ(L"z", NameOf(item.Get()));
    EXPECT_EQ(detach ? 0 : 1, CountOf(m.Get()));
    EXPECT_EQ(!detach, static_cast<bool>(ParentOf(item.Get())));
  }
}

// Merges in opposite directions at once, through both interfaces: neither merge holds its own
// collection's lock while it reads the other collection, so they cannot deadlock.
TEST_F(MTNVSThreadsTest, OppositeMergesDoNotDeadlock) {
  constexpr int kRounds = 100, kNames = 40;
  auto a = NewMTNVS({L"both"});
  auto b = NewMTNVS({L"both"});
  std::vector<std::wstring> all{L"both"};
  for (int i = 0; i < kNames; ++i) {
    for (auto [m, prefix] : {std::pair{a.Get(), L"a"}, std::pair{b.Get(), L"b"}}) {
      all.push_back(prefix + std::to_wstring(100 + i));
      EXPECT_EQ(S_OK, AddTo(m, all.back(), VarI4(i)).hr);
    }
  }
  std::sort(all.begin(), all.end());
  std::atomic<int> arrived{0};
  RunThreads(2, [&](int t) {
    _MTNVS* to = t == 0 ? a.Get() : b.Get();
    _MTNVS* from = t == 0 ? b.Get() : a.Get();
    const auto view = ViewOf(to);
    const auto source = ViewOf(from);
    for (int round = 0; round < kRounds; ++round) {
      // Both threads start each round together, so that the merges overlap.
      for (++arrived; arrived.load() < 2 * (round + 1);) Sleep(0);
      EXPECT_EQ(S_OK, to->MTMerge(from, VARIANT_TRUE));
      EXPECT_EQ(S_OK, view->Merge(source.Get(), VARIANT_TRUE));
    }
  });
  EXPECT_EQ(all, MTNames(a.Get()));
  EXPECT_EQ(all, MTNames(b.Get()));
}

// A Traverse callback may call back into the collection on its own thread; another thread's
// MTAdd waits until the traversal ends.
TEST_F(MTNVSThreadsTest, TraverseCallbackReentersWhileOthersWait) {
  auto m = NewMTNVS({L"a"});
  std::unique_ptr<Background> add;
  EXPECT_EQ(S_OK, WhileHolding::Run(m.Get(), [&] {
              EXPECT_EQ(S_OK, ItemOf(m.Get(), VarText(L"a")).item->put_MTValue(VarI4(9).Get()));
              EXPECT_EQ(S_OK, AddTo(m.Get(), L"inner", VarI4(2)).hr);
              add = std::make_unique<Background>([&] { EXPECT_EQ(S_OK, AddTo(m.Get(), L"outer", VarI4(3)).hr); });
              EXPECT_FALSE(add->DoneWithin(150)) << "MTAdd did not wait";
            }));
  add->Finish();
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"inner", L"outer"}), MTNames(m.Get()));
}

}  // namespace
}  // namespace qx::test
