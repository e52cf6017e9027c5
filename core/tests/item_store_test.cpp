// The two-order item store: the public order, capacity handling, allocation
// failures, and a randomized run of finds, inserts, removals, moves and
// clears (null names included) against a simple model.
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

using Store = qx::ItemStore<Member, MemberName>;

// Owns the members the store points at.
struct Pool {
  std::vector<std::unique_ptr<Member>> members;
  Member* Make(std::u16string name, bool null = false) {
    members.push_back(std::make_unique<Member>(Member{std::move(name), null}));
    return members.back().get();
  }
};

// Adds through Find + Insert, as the collection does.
Member* Add(Store& store, Pool& pool, std::u16string name) {
  const auto hit = store.Find(NameRef::From(name));
  EXPECT_FALSE(hit.found);
  Member* m = pool.Make(std::move(name));
  store.Insert(hit.position, m);
  return m;
}

template <class Order>
std::u16string Names(const Order& order) {
  std::u16string out;
  for (const Member* m : order) out += (m->null ? u"<null>" : m->name) + u",";
  return out;
}

std::u16string Key(int v) {
  std::u16string s = u"k";
  for (int d = 100; d > 0; d /= 10) s += static_cast<char16_t>(u'0' + v / d % 10);
  return s;
}

TEST(ItemStore, PublicOrderFollowsTheSortedFlag) {
  Pool pool;
  Store store;
  EXPECT_TRUE(store.Empty());
  EXPECT_TRUE(store.Sorted());
  for (const char16_t* name : {u"c", u"A", u"b"}) Add(store, pool, name);
  EXPECT_EQ(Names(store.PublicOrder()), u"A,b,c,");
  EXPECT_EQ(store.PublicAt(0)->name, u"A");
  store.SetSorted(false);
  EXPECT_EQ(Names(store.PublicOrder()), u"c,A,b,");
  EXPECT_EQ(store.PublicAt(0)->name, u"c");
}

TEST(ItemStore, CapacityDoublesFrom16AndSetCapacityIsExact) {
  Pool pool;
  Store store;
  for (int i = 0; i < 16; ++i) Add(store, pool, Key(30 - i));
  EXPECT_EQ(store.Capacity(), 16);
  Add(store, pool, Key(99));
  EXPECT_EQ(store.Capacity(), 32);
  const std::u16string byName = Names(store.ByName()), byInsertion = Names(store.ByInsertion());

  store.SetCapacity(17);
  EXPECT_EQ(store.Capacity(), 17);
  EXPECT_EQ(Names(store.ByName()), byName);
  EXPECT_EQ(Names(store.ByInsertion()), byInsertion);
  Add(store, pool, Key(0));
  EXPECT_EQ(store.Capacity(), 34);
  store.SetCapacity(1000);
  EXPECT_EQ(store.Capacity(), 1000);
  EXPECT_EQ(store.NameAt(0)->name, Key(0));
  EXPECT_EQ(store.InsertionAt(17)->name, Key(0));

  std::vector<Member*> cleared;
  store.Clear([&](Member* m) { cleared.push_back(m); });
  EXPECT_EQ(Names(cleared), byInsertion + Key(0) + u",");
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(store.Capacity(), 1000);

  store.SetCapacity(0);
  Add(store, pool, u"x");
  EXPECT_EQ(store.Capacity(), 16);
}

// An allocator that can be told to fail its next allocation.
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

TEST(ItemStore, AllocationFailureLeavesTheStoreUnchanged) {
  using FailingStore = qx::ItemStore<Member, MemberName, FailingAllocator<Member*>>;
  Pool pool;
  FailingStore store;
  for (int i = 0; i < 16; ++i) store.Insert(0, pool.Make(Key(16 - i)));
  const std::u16string byName = Names(store.ByName()), byInsertion = Names(store.ByInsertion());

  g_failNextAllocation = true;
  EXPECT_THROW(store.Insert(3, pool.Make(u"k0025")), std::bad_alloc);
  g_failNextAllocation = true;
  EXPECT_THROW(store.SetCapacity(40), std::bad_alloc);
  EXPECT_EQ(store.Count(), 16);
  EXPECT_EQ(store.Capacity(), 16);
  EXPECT_EQ(Names(store.ByName()), byName);
  EXPECT_EQ(Names(store.ByInsertion()), byInsertion);

  g_failNextAllocation = true;
  EXPECT_THROW(FailingStore{}, std::bad_alloc);

  // With chunks of 4, inserts in the middle split chunks: a failed split
  // changes nothing either.
  qx::ItemStore<Member, MemberName, FailingAllocator<Member*>, 4> small;
  for (int i = 0; i < 12; ++i) small.Insert(i, pool.Make(Key(2 * i)));
  const std::u16string smallByName = Names(small.ByName());
  for (int at = 0; at <= 12; ++at) {
    g_failNextAllocation = true;
    EXPECT_THROW(small.Insert(at, pool.Make(u"x")), std::bad_alloc) << at;
    EXPECT_EQ(Names(small.ByName()), smallByName);
    EXPECT_EQ(Names(small.ByInsertion()), smallByName);
  }
}

// Against a model of two vectors; with chunks of 4 every operation also crosses
// chunk boundaries (splits, merges, moves over several chunks).
template <class AnyStore>
void RunAgainstModel(int steps, int nameLength) {
  std::mt19937 rng(12345);
  const std::u16string alphabet = u"aAbB_s\u017F\u0130i";
  auto randomName = [&] {
    std::u16string s(rng() % (nameLength + 1), u' ');
    for (auto& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  for (const int styleBits : {0, NameStyle::kCaseSensitive}) {
    Pool pool;
    AnyStore store;
    store.SetComparer(NameComparer(NameStyle::FromBits(styleBits)));
    const NameComparer& cmp = store.Comparer();
    MemberName nameOf;
    std::vector<Member*> inserted;  // the model's insertion order
    std::vector<Member*> sorted;    // and its name order
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
      switch (rng() % 10) {
        case 0:
        case 1:
        case 2:
        case 3:
          if (!hit.found) {
            Member* m = pool.Make(name, nullName);
            store.Insert(hit.position, m);
            inserted.push_back(m);
          }
          break;
        case 4:
        case 5:
          if (hit.found) {
            Member* m = store.RemoveAtName(hit.position);
            ASSERT_EQ(std::count(inserted.begin(), inserted.end(), m), 1);
            std::erase(inserted, m);
          }
          break;
        case 6:
        case 7:
          if (hit.found) {
            Member* m = store.NameAt(hit.position);
            const std::u16string to = randomName();
            const NameRef toKey = NameRef::From(to);
            const auto target = store.Find(toKey);
            if (cmp.Equal(key, toKey) || !target.found) {
              m->name = to;
              m->null = false;
              store.Move(hit.position, cmp.Equal(key, toKey) ? hit.position : target.position);
            }
          }
          break;
        case 8:
          store.SetCapacity(store.Count() + static_cast<std::int32_t>(rng() % 3));
          break;
        default:
          if (rng() % 200 == 0) {
            store.Clear([](Member*) {});
            inserted.clear();
          }
          break;
      }
      sorted = inserted;
      std::sort(sorted.begin(), sorted.end(), less);
      ASSERT_TRUE(std::equal(inserted.begin(), inserted.end(), store.ByInsertion().begin(), store.ByInsertion().end()));
      ASSERT_TRUE(std::equal(sorted.begin(), sorted.end(), store.ByName().begin(), store.ByName().end()));
      ASSERT_TRUE(std::adjacent_find(sorted.begin(), sorted.end(), [&](auto x, auto y) { return !less(x, y); }) ==
                  sorted.end());
      ASSERT_GE(store.Capacity(), store.Count());
      if (!inserted.empty()) {
        const auto i = static_cast<std::int32_t>(rng() % inserted.size());
        ASSERT_EQ(store.InsertionAt(i), inserted[i]);
        ASSERT_EQ(store.NameAt(i), sorted[i]);
      }
    }
  }
}

TEST(ItemStore, RandomOperationsMatchAModel) {
  RunAgainstModel<Store>(6000, 3);
  RunAgainstModel<qx::ItemStore<Member, MemberName, std::allocator<Member*>, 4>>(6000, 3);
  // Longer names: the store grows to about two thousand members over many chunks.
  RunAgainstModel<qx::ItemStore<Member, MemberName, std::allocator<Member*>, 8>>(6000, 6);
}

}  // namespace
