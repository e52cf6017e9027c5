// qxcore_bench: the portable core on its own, natively: name comparison, the binary search of
// the item store, and the reader and writer of the structured-string form (MB/s of UTF-16 text).
// Usage: qxcore_bench [Google Benchmark flags], e.g. --benchmark_format=console.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "qx/core/item_store.h"
#include "qx/core/name.h"
#include "qx/core/structured_string.h"

namespace qx {
namespace {

// N distinct names (case-insensitively) of 8 to 24 characters, in random order.
std::vector<std::u16string> MakeNames(std::int64_t n) {
  static constexpr char16_t kAlphabet[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
  std::mt19937 random(20240611u + static_cast<std::uint32_t>(n));
  std::uniform_int_distribution<int> length(8, 24);
  std::uniform_int_distribution<int> letter(0, static_cast<int>(std::size(kAlphabet)) - 2);
  std::unordered_set<std::u16string> folded;
  std::vector<std::u16string> names;
  while (static_cast<std::int64_t>(names.size()) < n) {
    std::u16string name(static_cast<size_t>(length(random)), u' ');
    for (char16_t& c : name) c = kAlphabet[letter(random)];
    std::u16string key = name;
    for (char16_t& c : key) c = FoldCase(c);
    if (folded.insert(key).second) names.push_back(std::move(name));
  }
  return names;
}

std::u16string MakeText(const std::vector<std::u16string>& names) {
  std::u16string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += u';';
    const std::string value = std::to_string(i);
    text += names[i] + u'=' + std::u16string(value.begin(), value.end());
  }
  return text;
}

// Two names that agree up to their last character, which differs in case only (equal) or in
// letter (unequal): the comparison has to walk the whole name.
void BM_CompareFolded(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  std::u16string a(length, u'a');
  std::u16string b(length, u'a');
  for (size_t i = 0; i < length; i += 2) b[i] = u'A';  // differs in case every other character
  b.back() = u'b';
  const NameComparer comparer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(comparer.Compare(NameRef::From(a), NameRef::From(b)));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompareFolded)->Arg(8)->Arg(16)->Arg(24);

void BM_CompareOrdinal(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  std::u16string a(length, u'a');
  std::u16string b = a;
  b.back() = u'b';
  const NameComparer comparer(NameStyle::FromBits(NameStyle::kCaseSensitive));
  for (auto _ : state) {
    benchmark::DoNotOptimize(comparer.Compare(NameRef::From(a), NameRef::From(b)));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompareOrdinal)->Arg(8)->Arg(16)->Arg(24);

struct Member {
  std::u16string name;
};
struct MemberName {
  NameRef operator()(const Member* member) const { return NameRef::From(member->name); }
};

using Store = ItemStore<Member, MemberName>;

// Stores the members in their order (random names) as the collection does: search, then insert.
void Fill(Store& store, std::vector<Member>& members) {
  for (Member& member : members) {
    const auto found = store.Find(NameRef::From(member.name));
    store.Insert(found.position, &member);
  }
}

std::vector<Member> MakeMembers(std::int64_t n) {
  std::vector<Member> members;
  for (auto& name : MakeNames(n)) members.push_back({std::move(name)});
  return members;
}

// Looks up every name of an N-member store once, in another random order.
void BM_StoreFind(benchmark::State& state) {
  const std::vector<std::u16string> names = MakeNames(state.range(0));
  std::vector<Member> members;
  for (const auto& name : names) members.push_back({name});
  Store store;
  Fill(store, members);
  std::vector<std::u16string> keys = names;
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  for (auto _ : state) {
    for (const auto& key : keys) benchmark::DoNotOptimize(store.Find(NameRef::From(key)));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StoreFind)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536)->Arg(1048576);

// Stores N names in random order: binary search plus the shift of the name order.
void BM_StoreInsert(benchmark::State& state) {
  const std::vector<std::u16string> names = MakeNames(state.range(0));
  std::vector<Member> members;
  for (const auto& name : names) members.push_back({name});
  for (auto _ : state) {
    Store store;
    Fill(store, members);
    benchmark::DoNotOptimize(store.Count());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StoreInsert)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536)->Arg(1048576);

// Removes every member of an N-member store by name, in random order (the fill is not timed).
void BM_StoreRemove(benchmark::State& state) {
  std::vector<Member> members = MakeMembers(state.range(0));
  std::vector<const Member*> order;
  for (const Member& member : members) order.push_back(&member);
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  for (auto _ : state) {
    state.PauseTiming();
    Store store;
    Fill(store, members);
    state.ResumeTiming();
    for (const Member* member : order) store.RemoveAtName(store.Find(NameRef::From(member->name)).position);
    benchmark::DoNotOptimize(store.Count());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StoreRemove)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536)->Arg(1048576);

// Reads every position of both orders once, in random order.
void BM_StorePosition(benchmark::State& state) {
  std::vector<Member> members = MakeMembers(state.range(0));
  Store store;
  Fill(store, members);
  std::vector<std::int32_t> positions(members.size());
  for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<std::int32_t>(i);
  std::shuffle(positions.begin(), positions.end(), std::mt19937(13));
  for (auto _ : state) {
    for (std::int32_t i : positions) {
      benchmark::DoNotOptimize(store.NameAt(i));
      benchmark::DoNotOptimize(store.InsertionAt(i));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StorePosition)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536)->Arg(1048576);

void BM_ReadStructuredString(benchmark::State& state) {
  const std::u16string text = MakeText(MakeNames(state.range(0)));
  for (auto _ : state) {
    std::uint32_t total = 0;
    ReadStructuredString(text, &IsAsciiSpace,
                         [&](NameRef name, NameRef value) { total += name.length + value.length; });
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * sizeof(char16_t)));
}
BENCHMARK(BM_ReadStructuredString)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);

void BM_WriteStructuredString(benchmark::State& state) {
  const std::vector<std::u16string> names = MakeNames(state.range(0));
  std::vector<std::u16string> values;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string value = std::to_string(i);
    values.emplace_back(value.begin(), value.end());
  }
  size_t bytes = 0;
  for (auto _ : state) {
    StructuredStringWriter writer;
    for (size_t i = 0; i < names.size(); ++i) writer.Add(NameRef::From(names[i]), NameRef::From(values[i]));
    bytes = writer.Text().size() * sizeof(char16_t);
    benchmark::DoNotOptimize(writer.Text().data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_WriteStructuredString)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);

}  // namespace
}  // namespace qx

BENCHMARK_MAIN();
