// The two-order item store, run against a simple model: random finds, inserts, removals, moves,
// capacity changes, clears and order switches, null names included, with allocations failing
// at random (a failed insert or capacity change must leave the store as it was).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qx/core/item_store.h"

namespace {

using qx::NameComparer;
using qx::NameRef;
using qx::NameStyle;

struct Member {
  std::u16string name;
  bool null = false;
};

struct MemberName {
  NameRef operator()(const Member* m) const { return m->null ? NameRef{} : NameRef::From(m->name); }
};

// An allocator that fails its next allocation when told to.
bool g_failNextAllocation = false;

template <class T>
struct FailingAllocator {
  using value_type = T;
  FailingAllocator() = default;
  template <class U>
  FailingAllocator(const FailingAllocator<U>&) {}
  T* allocate(std::size_t n) {
    if (std::exchange(g_failNextAllocation, false)) throw std::bad_alloc();
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) { std::allocator<T>().deallocate(p, n); }
  bool operator==(const FailingAllocator&) const = default;
};

template <std::int32_t ChunkLength>
using Store = qx::ItemStore<Member, MemberName, FailingAllocator<Member*>, ChunkLength>;

template <class View>
bool Same(const View& view, const std::vector<Member*>& model) {
  return std::equal(model.begin(), model.end(), view.begin(), view.end());
}

// Against a model of two vectors; with small chunks every operation also crosses chunk
// boundaries (splits, merges, moves over several chunks).
template <class AnyStore>
void RunAgainstModel(int steps, int nameLength) {
  std::mt19937 rng(12345);
  const std::u16string alphabet = u"aAbB_s\u017F\u0130i";
  auto randomName = [&] {
    std::u16string s(rng() % (nameLength + 1), u' ');
    for (auto& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  // Runs an allocating step, failing it now and then; true when it went through.
  int failures = 0;
  auto mayFail = [&](auto step) {
    g_failNextAllocation = rng() % 8 == 0;
    try {
      step();
    } catch (const std::bad_alloc&) {
      ++failures;
      return false;
    }
    g_failNextAllocation = false;
    return true;
  };
  for (const int styleBits : {0, NameStyle::kCaseSensitive}) {
    std::vector<std::unique_ptr<Member>> pool;
    AnyStore store;
    store.SetComparer(NameComparer(NameStyle::FromBits(styleBits)));
    const NameComparer& cmp = store.Comparer();
    MemberName nameOf;
    std::vector<Member*> inserted, sorted;  // the model's two orders
    auto less = [&](const Member* x, const Member* y) { return cmp.Compare(nameOf(x), nameOf(y)) < 0; };
    for (int step = 0; step < steps; ++step) {
      const bool nullName = rng() % 20 == 0;
      const std::u16string name = randomName();
      const NameRef key = nullName ? NameRef{} : NameRef::From(name);
      const auto hit = store.Find(key);
      const auto bound = std::lower_bound(sorted.begin(), sorted.end(), key,
                                          [&](const Member* m, NameRef k) { return cmp.Compare(nameOf(m), k) < 0; });
      ASSERT_EQ(hit.position, bound - sorted.begin());
      ASSERT_EQ(hit.found, bound != sorted.end() && cmp.Equal(nameOf(*bound), key));
      const unsigned action = rng() % 10;
      if (action < 4) {
        if (hit.found) continue;
        pool.push_back(std::make_unique<Member>(Member{name, nullName}));
        if (mayFail([&] { store.Insert(hit.position, pool.back().get()); })) inserted.push_back(pool.back().get());
      } else if (action < 6) {
        if (!hit.found) continue;
        Member* m = store.RemoveAtName(hit.position);
        ASSERT_EQ(std::count(inserted.begin(), inserted.end(), m), 1);
        std::erase(inserted, m);
      } else if (action < 8) {
        const std::u16string to = randomName();
        const NameRef toKey = NameRef::From(to);
        const auto target = store.Find(toKey);
        if (!hit.found || (!cmp.Equal(key, toKey) && target.found)) continue;
        *store.NameAt(hit.position) = Member{to, false};
        store.Move(hit.position, cmp.Equal(key, toKey) ? hit.position : target.position);
      } else if (action == 8) {
        const std::int32_t capacity = store.Count() + static_cast<std::int32_t>(rng() % 3);
        if (mayFail([&] { store.SetCapacity(capacity); })) {
          ASSERT_EQ(store.Capacity(), capacity);
        }
      } else if (rng() % 50 == 0) {
        store.SetSorted(!store.Sorted());
      } else if (rng() % 200 == 0) {
        std::vector<Member*> cleared;  // released in insertion order
        store.Clear([&](Member* m) { cleared.push_back(m); });
        ASSERT_EQ(cleared, inserted);
        inserted.clear();
      }
      sorted = inserted;
      std::sort(sorted.begin(), sorted.end(), less);
      ASSERT_TRUE(Same(store.ByInsertion(), inserted));
      ASSERT_TRUE(Same(store.ByName(), sorted));
      ASSERT_TRUE(Same(store.PublicOrder(), store.Sorted() ? sorted : inserted));
      ASSERT_TRUE(std::adjacent_find(sorted.begin(), sorted.end(), [&](auto x, auto y) { return !less(x, y); }) ==
                  sorted.end());
      ASSERT_GE(store.Capacity(), store.Count());
      if (!inserted.empty()) {
        const auto i = static_cast<std::int32_t>(rng() % inserted.size());
        ASSERT_EQ(store.InsertionAt(i), inserted[i]);
        ASSERT_EQ(store.NameAt(i), sorted[i]);
        ASSERT_EQ(store.PublicAt(i), store.Sorted() ? sorted[i] : inserted[i]);
      }
    }
  }
  EXPECT_GT(failures, 100);
}

TEST(ItemStore, RandomOperationsMatchAModel) {
  RunAgainstModel<Store<512>>(6000, 3);
  RunAgainstModel<Store<4>>(6000, 3);
  // Longer names: the store grows to about two thousand members over many chunks.
  RunAgainstModel<Store<8>>(6000, 6);
  g_failNextAllocation = true;
  EXPECT_THROW(Store<512>{}, std::bad_alloc);
}

}  // namespace
