// mtnvs_bench: what the collection lock costs. Prints two Markdown tables:
//  1. ns per member for adding N names and looking each up by name once, through the vtable of
//     MTNVS (MTAdd, MTItem) and of NamedValues (Add, Item), and their ratio;
//  2. lookups by name per second on one MTNVS from 1, 2, 4 and 8 threads at once.
// Each figure is the median over the repetitions.
//
// Usage: mtnvs_bench [--smoke] [--reps R] [--size N]
//   --smoke   N = 64, one repetition: checks that every path works.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/owners.h"
#include "module/qxsdk_idl.h"

namespace qx::bench {

using com::ComPtr;
using com::UniqueBstr;

void Check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return;
  std::fprintf(stderr, "mtnvs_bench: %s failed (hr 0x%08lx)\n", what, static_cast<unsigned long>(hr));
  std::exit(1);
}

double NowNs() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1e9 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// N distinct names in random order, each also as a VT_BSTR index (borrowing the name).
struct Names {
  std::vector<UniqueBstr> text;
  std::vector<VARIANT> index;
  explicit Names(int n) {
    std::mt19937 random(42);
    for (int i = 0; i < n; ++i) {
      text.push_back(
          UniqueBstr::FromText((L"member" + std::to_wstring(random() % 1000000) + L"_" + std::to_wstring(i)).c_str()));
    }
    for (const auto& name : text) {
      VARIANT v;
      V_VT(&v) = VT_BSTR;
      V_BSTR(&v) = name.Get();
      index.push_back(v);
    }
  }
};

template <class I>
ComPtr<I> Create(const CLSID& clsid) {
  ComPtr<I> object;
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), object.PutVoid()), "CoCreateInstance");
  return object;
}

// ns per member of adding all names, then of looking each one up.
template <class I, class Add, class Lookup>
std::pair<double, double> AddAndLookup(const CLSID& clsid, const Names& names, Add add, Lookup lookup) {
  auto collection = Create<I>(clsid);
  VARIANT value;
  V_VT(&value) = VT_I4;
  V_I4(&value) = 1;
  const double n = static_cast<double>(names.text.size());
  double start = NowNs();
  for (const auto& name : names.text) add(collection.Get(), name.Get(), &value);
  const double added = (NowNs() - start) / n;
  start = NowNs();
  for (const VARIANT& index : names.index) lookup(collection.Get(), const_cast<VARIANT*>(&index));
  return {added, (NowNs() - start) / n};
}

void CompareWithNamedValues(const Names& names, int reps) {
  std::vector<double> mtAdd, mtItem, nvAdd, nvItem;
  for (int rep = 0; rep < reps; ++rep) {
    auto [a, l] = AddAndLookup<_MTNVS>(
        CLSID_MTNVS, names,
        [](_MTNVS* m, BSTR name, VARIANT* value) {
          ComPtr<_MTNV> item;
          Check(m->MTAdd(name, value, item.Put()), "MTAdd");
        },
        [](_MTNVS* m, VARIANT* index) {
          ComPtr<_MTNV> item;
          Check(m->get_MTItem(index, item.Put()), "MTItem");
        });
    mtAdd.push_back(a);
    mtItem.push_back(l);
    std::tie(a, l) = AddAndLookup<INamedValues2>(
        CLSID_NamedValues, names,
        [](INamedValues2* nv, BSTR name, VARIANT* value) {
          ComPtr<NamedValue> item;
          Check(nv->Add(name, value, item.Put()), "Add");
        },
        [](INamedValues2* nv, VARIANT* index) {
          ComPtr<NamedValue> item;
          Check(nv->get_Item(index, item.Put()), "Item");
        });
    nvAdd.push_back(a);
    nvItem.push_back(l);
  }
  std::printf("| N = %zu | MTNVS ns | NamedValues ns | ratio |\n|---|---|---|---|\n", names.text.size());
  std::printf("| add | %.0f | %.0f | %.2f |\n", Median(mtAdd), Median(nvAdd), Median(mtAdd) / Median(nvAdd));
  std::printf("| item by name | %.0f | %.0f | %.2f |\n\n", Median(mtItem), Median(nvItem),
              Median(mtItem) / Median(nvItem));
}

// Lookups per second with `threads` threads on one collection, each looking up every name.
double LookupThroughput(_MTNVS* m, const Names& names, int threads, int passes) {
  std::vector<std::thread> workers;
  const double start = NowNs();
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      for (int pass = 0; pass < passes; ++pass) {
        for (size_t i = 0; i < names.index.size(); ++i) {
          ComPtr<_MTNV> item;
          const VARIANT& index = names.index[(i * 7 + static_cast<size_t>(t)) % names.index.size()];
          Check(m->get_MTItem(const_cast<VARIANT*>(&index), item.Put()), "MTItem");
        }
      }
      CoUninitialize();
    });
  }
  for (auto& worker : workers) worker.join();
  const double lookups = static_cast<double>(threads) * passes * static_cast<double>(names.index.size());
  return lookups / ((NowNs() - start) / 1e9);
}

void Threads(const Names& names, int reps, int passes) {
  auto m = Create<_MTNVS>(CLSID_MTNVS);
  VARIANT value;
  V_VT(&value) = VT_I4;
  V_I4(&value) = 1;
  for (const auto& name : names.text) {
    ComPtr<_MTNV> item;
    Check(m->MTAdd(name.Get(), &value, item.Put()), "MTAdd");
  }
  std::printf("| threads | lookups per second | against 1 thread |\n|---|---|---|\n");
  double single = 0;
  for (int threads : {1, 2, 4, 8}) {
    std::vector<double> rates;
    for (int rep = 0; rep < reps; ++rep) rates.push_back(LookupThroughput(m.Get(), names, threads, passes));
    const double rate = Median(rates);
    if (threads == 1) single = rate;
    std::printf("| %d | %.0f | %.2f |\n", threads, rate, rate / single);
  }
}

}  // namespace qx::bench

int main(int argc, char** argv) {
  int reps = 5, size = 4096;
  bool smoke = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--smoke")) smoke = true;
    if (!std::strcmp(argv[i], "--reps") && i + 1 < argc) reps = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--size") && i + 1 < argc) size = std::atoi(argv[++i]);
  }
  if (smoke) reps = 1, size = 64;
  // An apartment thread, so that NamedValues is created here and called directly, like MTNVS.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    const qx::bench::Names names(size);
    qx::bench::CompareWithNamedValues(names, reps);
    qx::bench::Threads(names, reps, smoke ? 1 : 20);
  }
  CoUninitialize();
  return 0;
}
