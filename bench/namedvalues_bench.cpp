// qx_bench: the cost per operation of the property bag.
//
// Times eight workloads (add, Item by name and by position, Remove in random order, enumerate,
// the two string forms, Clone) over N members (names of 8 to 24 characters in random order, VT_I4
// values) on four subjects:
//   baseline    a sorted std::vector of owned UTF-16 names and VARIANT values under the same
//               case-insensitive comparison, no COM; memcpy of the text for the string forms;
//   vtable      NamedValues through INamedValues2;
//   IDispatch   NamedValues through IDispatch::Invoke, DISPIDs looked up once;
//   Dictionary  Scripting.Dictionary through IDispatch::Invoke (TextCompare, so its keys compare
//               case-insensitively like the others); it has no positional access, no text forms
//               and no Clone (Remove is not timed on it).
// Each figure is the median over the repetitions of ns per member. The table goes to stdout and,
// with --out FILE, to FILE as well.
//
// Usage: qx_bench [--smoke] [--reps R] [--big-reps R] [--sizes 16,256,...] [--out FILE]
//   --smoke     N = 16 only, one repetition, nothing written: checks that every path works.
//   --big-reps  repetitions for N above 65,536 (default: as --reps), where a pass takes seconds.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "framework/owners.h"
#include "module/qxsdk_idl.h"
#include "qx/core/name.h"

#ifndef QX_BENCH_BUILD_TYPE
#define QX_BENCH_BUILD_TYPE "unknown"
#endif

namespace qx::bench {

using com::ComPtr;
using com::UniqueBstr;

// ---------------------------------------------------------------------------------------------
// Set-up and failure handling. A failed call ends the program: a figure over failing calls
// would mean nothing.

[[noreturn]] void Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "qx_bench: %s failed (hr 0x%08lx)\n", what, static_cast<unsigned long>(hr));
  std::exit(1);
}

inline void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) Fail(what, hr);
}

volatile std::int64_t g_sink = 0;  // keeps the baseline's reads from being optimised away

double NowNs() {
  static const double nsPerTick = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e9 / static_cast<double>(frequency.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * nsPerTick;
}

VARIANT I4(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

// A VARIANT that borrows a BSTR (never cleared).
VARIANT BorrowedText(BSTR text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = text;
  return v;
}

DISPID DispidOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  auto* names = const_cast<LPOLESTR>(name);
  Check(object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id), "GetIDsOfNames");
  return id;
}

// Invoke with the arguments already in IDispatch's order (last first).
HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, VARIANT* reversedArgs, UINT count, VARIANT* result) {
  DISPPARAMS params{reversedArgs, nullptr, count, 0};
  DISPID named = DISPID_PROPERTYPUT;
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

constexpr WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;  // what script engines pass

ComPtr<INamedValues2> NewNamedValues() {
  ComPtr<INamedValues2> nv;
  Check(CoCreateInstance(CLSID_NamedValues, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INamedValues2), nv.PutVoid()),
        "creating NamedValues (is the DLL registered?)");
  return nv;
}

ComPtr<IDispatch> AsDispatch(IUnknown* object) {
  ComPtr<IDispatch> dispatch;
  Check(object->QueryInterface(IID_IDispatch, dispatch.PutVoid()), "QueryInterface(IDispatch)");
  return dispatch;
}

CLSID DictionaryClsid() {
  static const CLSID clsid = [] {
    CLSID id;
    Check(CLSIDFromProgID(L"Scripting.Dictionary", &id), "CLSIDFromProgID(Scripting.Dictionary)");
    return id;
  }();
  return clsid;
}

struct DictionaryIds {
  DISPID add, item, compareMode;
};

ComPtr<IDispatch> NewDictionary(const DictionaryIds& ids) {
  ComPtr<IDispatch> dictionary;
  Check(CoCreateInstance(DictionaryClsid(), nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dictionary.PutVoid()),
        "creating Scripting.Dictionary");
  VARIANT textCompare = I4(1);
  Check(Invoke(dictionary.Get(), ids.compareMode, DISPATCH_PROPERTYPUT, &textCompare, 1, nullptr), "CompareMode");
  return dictionary;
}

// ---------------------------------------------------------------------------------------------
// The data: N distinct names (case-insensitively), a shuffled order for the look-ups, and the
// collection's text form.

struct DataSet {
  std::vector<UniqueBstr> names;  // in the order they are added
  std::vector<int> lookupOrder;   // a permutation of 0..N-1
  UniqueBstr text;                // "name=value;..." of all members
  size_t textBytes = 0;           // UTF-16 bytes of `text`
};

DataSet MakeDataSet(int n, std::uint32_t seed) {
  static constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> length(8, 24);
  std::uniform_int_distribution<int> letter(0, static_cast<int>(std::size(kAlphabet)) - 2);
  std::unordered_set<std::wstring> folded;
  DataSet data;
  std::wstring text;
  while (static_cast<int>(data.names.size()) < n) {
    std::wstring name(static_cast<size_t>(length(random)), L' ');
    for (wchar_t& c : name) c = kAlphabet[letter(random)];
    std::wstring key = name;
    for (wchar_t& c : key) c = static_cast<wchar_t>(FoldCase(static_cast<char16_t>(c)));
    if (!folded.insert(key).second) continue;
    if (!text.empty()) text += L';';
    text += name + L'=' + std::to_wstring(data.names.size());
    data.names.push_back(UniqueBstr::Copy(name.data(), static_cast<UINT>(name.size())));
  }
  data.lookupOrder.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) data.lookupOrder[static_cast<size_t>(i)] = i;
  std::shuffle(data.lookupOrder.begin(), data.lookupOrder.end(), random);
  data.text = UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size()));
  data.textBytes = text.size() * sizeof(wchar_t);
  return data;
}

// ---------------------------------------------------------------------------------------------
// The baseline: the same work with no COM.

class Baseline {
 public:
  struct Entry {
    std::u16string name;
    VARIANT value;
    Entry(const char16_t* text, std::uint32_t length, const VARIANT& v) : name(text, length) {
      VariantInit(&value);
      VariantCopy(&value, const_cast<VARIANT*>(&v));
    }
    ~Entry() { VariantClear(&value); }
    Entry(const Entry& other) : Entry(other.name.data(), static_cast<std::uint32_t>(other.name.size()), other.value) {}
    Entry& operator=(const Entry&) = delete;
    NameRef Name() const { return {name.data(), static_cast<std::uint32_t>(name.size())}; }
  };

  // Inserts in name order; false for a duplicate.
  bool Add(BSTR name, const VARIANT& value) {
    const NameRef key = Key(name);
    const auto at = LowerBound(key);
    if (at != entries_.end() && comparer_.Compare((*at)->Name(), key) == 0) return false;
    entries_.insert(at, std::make_unique<Entry>(key.data, key.length, value));
    return true;
  }

  // Adds distinct names with the values 0, 1, ... at once, sorting once (a set-up that stays
  // affordable at sizes where adding one by one into the vector is quadratic).
  void AddAll(const std::vector<UniqueBstr>& names) {
    for (size_t i = 0; i < names.size(); ++i) {
      const NameRef key = Key(names[i].Get());
      entries_.push_back(std::make_unique<Entry>(key.data, key.length, I4(static_cast<LONG>(i))));
    }
    std::sort(entries_.begin(), entries_.end(),
              [this](const auto& a, const auto& b) { return comparer_.Compare(a->Name(), b->Name()) < 0; });
  }

  void Remove(BSTR name) {
    const NameRef key = Key(name);
    entries_.erase(LowerBound(key));
  }

  const Entry* Find(BSTR name) const {
    const NameRef key = Key(name);
    const auto at = LowerBound(key);
    return at != entries_.end() && comparer_.Compare((*at)->Name(), key) == 0 ? at->get() : nullptr;
  }

  const Entry& At(size_t i) const { return *entries_[i]; }
  size_t Count() const { return entries_.size(); }

  std::unique_ptr<Baseline> Clone() const {
    auto copy = std::make_unique<Baseline>();
    copy->entries_.reserve(entries_.size());
    for (const auto& entry : entries_) copy->entries_.push_back(std::make_unique<Entry>(*entry));
    return copy;
  }

 private:
  static NameRef Key(BSTR name) { return {reinterpret_cast<const char16_t*>(name), SysStringLen(name)}; }

  std::vector<std::unique_ptr<Entry>>::const_iterator LowerBound(NameRef key) const {
    return std::lower_bound(entries_.begin(), entries_.end(), key,
                            [this](const auto& entry, NameRef k) { return comparer_.Compare(entry->Name(), k) < 0; });
  }

  NameComparer comparer_;  // the default style: case-insensitive, ordinal
  std::vector<std::unique_ptr<Entry>> entries_;
};

// ---------------------------------------------------------------------------------------------
// Workloads, subjects and the table.

enum class Workload { kAdd, kLookup, kPosition, kRemove, kEnumerate, kDump, kLoad, kClone, kCount };
enum class Subject { kBaseline, kVtable, kDispatch, kDictionary, kCount };

constexpr const char* kWorkloadNames[] = {
    "add", "Item by name", "Item by position", "Remove", "enumerate", "DumpToString", "LoadFromString", "Clone"};

constexpr bool IsTextForm(Workload w) { return w == Workload::kDump || w == Workload::kLoad; }

struct Options {
  std::vector<int> sizes{16, 256, 4096, 65536};
  int reps = 5;
  int bigReps = 0;  // 0: as reps
  bool smoke = false;
  std::string out;
};

// Runs `sample(batch)` (which returns the ns spent on `batch` passes over n members) `reps`
// times and gives the median ns per member. Small collections run in batches so that every
// sample covers enough work for the clock.
double MedianNsPerMember(int n, int reps, const std::function<double(int batch)>& sample) {
  constexpr int kMembersPerSample = 32768;
  const int batch = std::max(1, kMembersPerSample / n);
  std::vector<double> figures;
  for (int r = 0; r < reps; ++r) figures.push_back(sample(batch) / (static_cast<double>(batch) * n));
  std::sort(figures.begin(), figures.end());
  const size_t mid = figures.size() / 2;
  return figures.size() % 2 ? figures[mid] : (figures[mid - 1] + figures[mid]) / 2;
}

using Table = std::vector<std::vector<std::vector<double>>>;  // [size][workload][subject] ns per member

// Above this size what grows too fast to finish in bounded time is left out: the baseline's add
// and Remove (a sorted vector: quadratic) and Scripting.Dictionary (its look-ups).
constexpr int kQuadraticLimit = 65536;

class Runner {
 public:
  Runner(int n, int reps) : n_(n), reps_(reps), data_(MakeDataSet(n, 20240611u + static_cast<std::uint32_t>(n))) {}

  std::vector<std::vector<double>> Run() {
    std::vector<std::vector<double>> figures(static_cast<size_t>(Workload::kCount),
                                             std::vector<double>(static_cast<size_t>(Subject::kCount), NAN));
    const bool bounded = n_ <= kQuadraticLimit;
    const auto set = [&](Workload w, Subject s, const std::function<double(int)>& sample) {
      const bool quadratic = s == Subject::kBaseline && (w == Workload::kAdd || w == Workload::kRemove);
      if (!bounded && (s == Subject::kDictionary || quadratic)) return;
      figures[static_cast<size_t>(w)][static_cast<size_t>(s)] = MedianNsPerMember(n_, reps_, sample);
    };
    // The filled collections the read-only workloads share.
    Baseline baseline;
    baseline.AddAll(data_.names);
    ComPtr<INamedValues2> nv = FilledNamedValues();
    ComPtr<IDispatch> nvDispatch = AsDispatch(nv.Get());
    ComPtr<IDispatch> dictionary = bounded ? FilledDictionary() : nullptr;
    nvIds_ = {DispidOf(nvDispatch.Get(), L"Add"), DispidOf(nvDispatch.Get(), L"Item"),
              DispidOf(nvDispatch.Get(), L"DumpToString"), DispidOf(nvDispatch.Get(), L"LoadFromString"),
              DispidOf(nvDispatch.Get(), L"Clone"), DispidOf(nvDispatch.Get(), L"Remove")};

    set(Workload::kAdd, Subject::kBaseline, [&](int batch) { return AddBaseline(batch); });
    set(Workload::kAdd, Subject::kVtable, [&](int batch) { return AddNamedValues(batch, false); });
    set(Workload::kAdd, Subject::kDispatch, [&](int batch) { return AddNamedValues(batch, true); });
    set(Workload::kAdd, Subject::kDictionary, [&](int batch) { return AddDictionary(batch); });

    set(Workload::kLookup, Subject::kBaseline, [&](int batch) {
      return Timed(batch, [&] {
        for (int i : data_.lookupOrder) g_sink = g_sink + V_I4(&baseline.Find(Name(i))->value);
      });
    });
    set(Workload::kLookup, Subject::kVtable, [&](int batch) {
      return Timed(batch, [&] {
        for (int i : data_.lookupOrder) {
          VARIANT key = BorrowedText(Name(i));
          NamedValue* member = nullptr;
          Check(nv->get_Item(&key, &member), "Item");
          member->Release();
        }
      });
    });
    set(Workload::kLookup, Subject::kDispatch,
        [&](int batch) { return LookupDispatch(batch, nvDispatch.Get(), nvIds_.item); });
    set(Workload::kLookup, Subject::kDictionary,
        [&](int batch) { return LookupDispatch(batch, dictionary.Get(), dictIds_.item); });

    set(Workload::kPosition, Subject::kBaseline, [&](int batch) {
      return Timed(batch, [&] {
        for (size_t i = 0; i < baseline.Count(); ++i) g_sink = g_sink + V_I4(&baseline.At(i).value);
      });
    });
    set(Workload::kPosition, Subject::kVtable, [&](int batch) {
      return Timed(batch, [&] {
        for (int i = 1; i <= n_; ++i) {
          VARIANT index = I4(i);
          NamedValue* member = nullptr;
          Check(nv->get_Item(&index, &member), "Item(index)");
          member->Release();
        }
      });
    });
    set(Workload::kPosition, Subject::kDispatch, [&](int batch) {
      return Timed(batch, [&] {
        for (int i = 1; i <= n_; ++i) {
          VARIANT index = I4(i);
          VARIANT result;
          VariantInit(&result);
          Check(Invoke(nvDispatch.Get(), nvIds_.item, kGet, &index, 1, &result), "Invoke Item(index)");
          VariantClear(&result);
        }
      });
    });

    set(Workload::kEnumerate, Subject::kBaseline, [&](int batch) {
      return Timed(batch, [&] {
        for (size_t i = 0; i < baseline.Count(); ++i) {
          const Baseline::Entry& entry = baseline.At(i);
          g_sink = g_sink + static_cast<std::int64_t>(entry.name.size()) + V_I4(&entry.value);
        }
      });
    });
    set(Workload::kEnumerate, Subject::kVtable, [&](int batch) {
      return Timed(batch, [&] {
        ComPtr<IUnknown> unknown;
        Check(nv->get__NewEnum(unknown.Put()), "_NewEnum");
        Drain(unknown.Get());
      });
    });
    set(Workload::kEnumerate, Subject::kDispatch,
        [&](int batch) { return EnumerateDispatch(batch, nvDispatch.Get()); });
    set(Workload::kEnumerate, Subject::kDictionary,
        [&](int batch) { return EnumerateDispatch(batch, dictionary.Get()); });

    // The string forms: memcpy of the text is the baseline; the collection dumped is one loaded
    // from the text, so its values are strings and nothing is converted.
    std::vector<wchar_t> copy(data_.textBytes / sizeof(wchar_t));
    const auto memcpyText = [&](int batch) {
      return Timed(batch, [&] {
        std::memcpy(copy.data(), data_.text.Get(), data_.textBytes);
        g_sink = g_sink + copy[copy.size() / 2];
      });
    };
    set(Workload::kDump, Subject::kBaseline, memcpyText);
    set(Workload::kLoad, Subject::kBaseline, memcpyText);
    ComPtr<INamedValues2> loaded = NewNamedValues();
    Check(loaded->LoadFromString(data_.text.Get()), "LoadFromString");
    ComPtr<IDispatch> loadedDispatch = AsDispatch(loaded.Get());
    set(Workload::kDump, Subject::kVtable, [&](int batch) {
      return Timed(batch, [&] {
        BSTR text = nullptr;
        Check(loaded->DumpToString(&text), "DumpToString");
        SysFreeString(text);
      });
    });
    set(Workload::kDump, Subject::kDispatch, [&](int batch) {
      return Timed(batch, [&] {
        VARIANT result;
        VariantInit(&result);
        Check(Invoke(loadedDispatch.Get(), nvIds_.dump, DISPATCH_METHOD, nullptr, 0, &result), "Invoke DumpToString");
        VariantClear(&result);
      });
    });
    set(Workload::kLoad, Subject::kVtable, [&](int batch) { return LoadNamedValues(batch, false); });
    set(Workload::kLoad, Subject::kDispatch, [&](int batch) { return LoadNamedValues(batch, true); });

    // Remove: every member by name in random order, from full collections made before the clock
    // starts (the baseline erases from its vector: quadratic, like its add).
    set(Workload::kRemove, Subject::kBaseline, [&](int batch) {
      std::vector<Baseline> bags(static_cast<size_t>(batch));
      for (auto& bag : bags) bag.AddAll(data_.names);
      const double start = NowNs();
      for (auto& bag : bags) {
        for (int i : data_.lookupOrder) bag.Remove(Name(i));
      }
      return NowNs() - start;
    });
    set(Workload::kRemove, Subject::kVtable, [&](int batch) { return RemoveNamedValues(batch, false); });
    set(Workload::kRemove, Subject::kDispatch, [&](int batch) { return RemoveNamedValues(batch, true); });

    set(Workload::kClone, Subject::kBaseline, [&](int batch) {
      std::vector<std::unique_ptr<Baseline>> clones(static_cast<size_t>(batch));
      const double start = NowNs();
      for (auto& clone : clones) clone = baseline.Clone();
      return NowNs() - start;
    });
    set(Workload::kClone, Subject::kVtable, [&](int batch) {
      std::vector<ComPtr<INamedValues2>> clones(static_cast<size_t>(batch));
      const double start = NowNs();
      for (auto& clone : clones) Check(nv->Clone(clone.Put()), "Clone");
      return NowNs() - start;
    });
    set(Workload::kClone, Subject::kDispatch, [&](int batch) {
      std::vector<VARIANT> clones(static_cast<size_t>(batch));
      for (auto& clone : clones) VariantInit(&clone);
      const double start = NowNs();
      for (auto& clone : clones)
        Check(Invoke(nvDispatch.Get(), nvIds_.clone, DISPATCH_METHOD, nullptr, 0, &clone), "Invoke Clone");
      const double elapsed = NowNs() - start;
      for (auto& clone : clones) VariantClear(&clone);
      return elapsed;
    });
    return figures;
  }

  size_t TextBytes() const { return data_.textBytes; }

 private:
  struct NamedValuesIds {
    DISPID add, item, dump, load, clone, remove;
  };

  BSTR Name(int i) const { return data_.names[static_cast<size_t>(i)].Get(); }

  // Times `batch` runs of `pass`.
  template <class Pass>
  static double Timed(int batch, Pass&& pass) {
    const double start = NowNs();
    for (int b = 0; b < batch; ++b) pass();
    return NowNs() - start;
  }

  ComPtr<INamedValues2> FilledNamedValues() {
    ComPtr<INamedValues2> nv = NewNamedValues();
    for (int i = 0; i < n_; ++i) {
      VARIANT value = I4(i);
      Check(nv->Add(Name(i), &value, nullptr), "Add");
    }
    return nv;
  }

  ComPtr<IDispatch> FilledDictionary() {
    ComPtr<IDispatch> probe;
    Check(CoCreateInstance(DictionaryClsid(), nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, probe.PutVoid()),
          "creating Scripting.Dictionary");
    dictIds_ = {DispidOf(probe.Get(), L"Add"), DispidOf(probe.Get(), L"Item"), DispidOf(probe.Get(), L"CompareMode")};
    ComPtr<IDispatch> dictionary = NewDictionary(dictIds_);
    for (int i = 0; i < n_; ++i) AddToDictionary(dictionary.Get(), i);
    return dictionary;
  }

  void AddToDictionary(IDispatch* dictionary, int i) {
    VARIANT args[2] = {I4(i), BorrowedText(Name(i))};
    Check(Invoke(dictionary, dictIds_.add, DISPATCH_METHOD, args, 2, nullptr), "Invoke Dictionary.Add");
  }

  double AddBaseline(int batch) {
    std::vector<Baseline> bags(static_cast<size_t>(batch));
    const double start = NowNs();
    for (auto& bag : bags) {
      for (int i = 0; i < n_; ++i) {
        if (!bag.Add(Name(i), I4(i))) Fail("baseline add", E_FAIL);
      }
    }
    return NowNs() - start;
  }

  // `batch` new, empty collections with their IDispatch, made before the clock starts.
  struct FreshBags {
    std::vector<ComPtr<INamedValues2>> bags;
    std::vector<ComPtr<IDispatch>> dispatches;
  };
  FreshBags MakeFreshBags(int batch) {
    FreshBags fresh;
    for (int b = 0; b < batch; ++b) {
      fresh.bags.push_back(NewNamedValues());
      fresh.dispatches.push_back(AsDispatch(fresh.bags.back().Get()));
    }
    return fresh;
  }

  double AddNamedValues(int batch, bool throughDispatch) {
    auto [bags, dispatches] = MakeFreshBags(batch);
    const double start = NowNs();
    for (int b = 0; b < batch; ++b) {
      for (int i = 0; i < n_; ++i) {
        if (throughDispatch) {
          VARIANT args[2] = {I4(i), BorrowedText(Name(i))};
          VARIANT result;
          VariantInit(&result);
          Check(Invoke(dispatches[static_cast<size_t>(b)].Get(), nvIds_.add, DISPATCH_METHOD, args, 2, &result),
                "Invoke Add");
          VariantClear(&result);
        } else {
          VARIANT value = I4(i);
          Check(bags[static_cast<size_t>(b)]->Add(Name(i), &value, nullptr), "Add");
        }
      }
    }
    return NowNs() - start;
  }

  double RemoveNamedValues(int batch, bool throughDispatch) {
    std::vector<ComPtr<INamedValues2>> bags;
    std::vector<ComPtr<IDispatch>> dispatches;
    for (int b = 0; b < batch; ++b) {
      bags.push_back(FilledNamedValues());
      dispatches.push_back(AsDispatch(bags.back().Get()));
    }
    const double start = NowNs();
    for (int b = 0; b < batch; ++b) {
      for (int i : data_.lookupOrder) {
        if (throughDispatch) {
          VARIANT name = BorrowedText(Name(i));
          Check(Invoke(dispatches[static_cast<size_t>(b)].Get(), nvIds_.remove, DISPATCH_METHOD, &name, 1, nullptr),
                "Invoke Remove");
        } else {
          Check(bags[static_cast<size_t>(b)]->Remove(Name(i)), "Remove");
        }
      }
    }
    return NowNs() - start;
  }

  double AddDictionary(int batch) {
    std::vector<ComPtr<IDispatch>> bags;
    for (int b = 0; b < batch; ++b) bags.push_back(NewDictionary(dictIds_));
    const double start = NowNs();
    for (auto& bag : bags) {
      for (int i = 0; i < n_; ++i) AddToDictionary(bag.Get(), i);
    }
    return NowNs() - start;
  }

  double LookupDispatch(int batch, IDispatch* object, DISPID item) {
    return Timed(batch, [&] {
      for (int i : data_.lookupOrder) {
        VARIANT key = BorrowedText(Name(i));
        VARIANT result;
        VariantInit(&result);
        Check(Invoke(object, item, kGet, &key, 1, &result), "Invoke Item");
        VariantClear(&result);
      }
    });
  }

  // Reads an IEnumVARIANT one element at a time, as a For Each loop does.
  void Drain(IUnknown* unknown) {
    ComPtr<IEnumVARIANT> members;
    Check(unknown->QueryInterface(IID_IEnumVARIANT, members.PutVoid()), "QueryInterface(IEnumVARIANT)");
    VARIANT element;
    VariantInit(&element);
    int count = 0;
    while (members->Next(1, &element, nullptr) == S_OK) {
      VariantClear(&element);
      ++count;
    }
    if (count != n_) Fail("enumeration (wrong count)", E_FAIL);
  }

  double EnumerateDispatch(int batch, IDispatch* object) {
    return Timed(batch, [&] {
      VARIANT result;
      VariantInit(&result);
      Check(Invoke(object, DISPID_NEWENUM, kGet, nullptr, 0, &result), "Invoke _NewEnum");
      if (V_VT(&result) != VT_UNKNOWN && V_VT(&result) != VT_DISPATCH) Fail("_NewEnum (not an object)", E_FAIL);
      Drain(V_UNKNOWN(&result));
      VariantClear(&result);
    });
  }

  double LoadNamedValues(int batch, bool throughDispatch) {
    auto [bags, dispatches] = MakeFreshBags(batch);
    const double start = NowNs();
    for (int b = 0; b < batch; ++b) {
      if (throughDispatch) {
        VARIANT text = BorrowedText(data_.text.Get());
        Check(Invoke(dispatches[static_cast<size_t>(b)].Get(), nvIds_.load, DISPATCH_METHOD, &text, 1, nullptr),
              "Invoke LoadFromString");
      } else {
        Check(bags[static_cast<size_t>(b)]->LoadFromString(data_.text.Get()), "LoadFromString");
      }
    }
    return NowNs() - start;
  }

  int n_;
  int reps_;
  DataSet data_;
  NamedValuesIds nvIds_{};
  DictionaryIds dictIds_{};
};

// ---------------------------------------------------------------------------------------------
// Output.

std::string Figure(double value, const char* format = "%.1f") {
  if (std::isnan(value)) return "-";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Ratio(double a, double b) { return std::isnan(a) || std::isnan(b) || b <= 0 ? "-" : Figure(a / b, "%.2f"); }

std::string BuildDescription(const Options& options) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "%s, mingw-w64 g++ %s, %s, median of %d repetitions%s",
                sizeof(void*) == 8 ? "win64" : "win32", __VERSION__, QX_BENCH_BUILD_TYPE, options.reps,
                options.bigReps > 0 ? (" (" + std::to_string(options.bigReps) + " above N = 65,536)").c_str() : "");
  return buffer;
}

std::string FormatTable(const Options& options, const std::vector<int>& sizes, const Table& table,
                        const std::vector<size_t>& textBytes) {
  std::string out;
  out += "Build: " + BuildDescription(options) + ".\n\n";
  out +=
      "| Workload | N | baseline | vtable | IDispatch | Dictionary | vtable/base | IDispatch/base | "
      "IDispatch/Dict | vtable x16N | base x16N | Dict x16N | MB/s vtable | MB/s IDispatch | MB/s base |\n";
  out += "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n";
  for (size_t w = 0; w < static_cast<size_t>(Workload::kCount); ++w) {
    for (size_t s = 0; s < sizes.size(); ++s) {
      const auto& f = table[s][w];
      const auto at = [&](Subject subject) { return f[static_cast<size_t>(subject)]; };
      // Growth of the cost per member when the collection is 16 times larger: 1 is linear.
      const auto growth = [&](Subject subject) {
        for (size_t t = 0; t < sizes.size(); ++t) {
          if (sizes[t] == sizes[s] * 16) return Ratio(table[t][w][static_cast<size_t>(subject)], at(subject));
        }
        return std::string("-");
      };
      const auto megabytesPerSecond = [&](Subject subject) {
        if (!IsTextForm(static_cast<Workload>(w)) || std::isnan(at(subject))) return std::string("-");
        const double seconds = at(subject) * sizes[s] * 1e-9;
        return Figure(static_cast<double>(textBytes[s]) / seconds / 1e6, "%.0f");
      };
      out += "| " + std::string(kWorkloadNames[w]) + " | " + std::to_string(sizes[s]) + " | " +
             Figure(at(Subject::kBaseline)) + " | " + Figure(at(Subject::kVtable)) + " | " +
             Figure(at(Subject::kDispatch)) + " | " + Figure(at(Subject::kDictionary)) + " | " +
             Ratio(at(Subject::kVtable), at(Subject::kBaseline)) + " | " +
             Ratio(at(Subject::kDispatch), at(Subject::kBaseline)) + " | " +
             Ratio(at(Subject::kDispatch), at(Subject::kDictionary)) + " | " + growth(Subject::kVtable) + " | " +
             growth(Subject::kBaseline) + " | " + growth(Subject::kDictionary) + " | " +
             megabytesPerSecond(Subject::kVtable) + " | " + megabytesPerSecond(Subject::kDispatch) + " | " +
             megabytesPerSecond(Subject::kBaseline) + " |\n";
    }
  }
  return out;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--smoke") {
      options.smoke = true;
    } else if (arg == "--reps" && hasValue) {
      options.reps = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--big-reps" && hasValue) {
      options.bigReps = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--out" && hasValue) {
      options.out = argv[++i];
    } else if (arg == "--sizes" && hasValue) {
      options.sizes.clear();
      for (const char* p = argv[++i]; *p;) {
        options.sizes.push_back(std::max(1, std::atoi(p)));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
      }
    } else {
      std::fprintf(stderr, "usage: qx_bench [--smoke] [--reps R] [--big-reps R] [--sizes 16,256,...] [--out FILE]\n");
      return false;
    }
  }
  if (options.smoke) {
    options.sizes = {16};
    options.reps = 1;
    options.out.clear();
  }
  return true;
}

int Main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  Check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx");
  Table table;
  std::vector<size_t> textBytes;
  for (int n : options.sizes) {
    std::fprintf(stderr, "qx_bench: N = %d\n", n);
    Runner runner(n, n > kQuadraticLimit && options.bigReps > 0 ? options.bigReps : options.reps);
    table.push_back(runner.Run());
    textBytes.push_back(runner.TextBytes());
  }
  const std::string text = FormatTable(options, options.sizes, table, textBytes);
  std::fputs(text.c_str(), stdout);
  if (!options.out.empty()) {
    FILE* file = std::fopen(options.out.c_str(), "wb");
    if (!file) {
      std::fprintf(stderr, "qx_bench: cannot write %s\n", options.out.c_str());
      return 1;
    }
    std::fputs(text.c_str(), file);
    std::fclose(file);
  }
  CoUninitialize();
  return 0;
}

}  // namespace qx::bench

int main(int argc, char** argv) { return qx::bench::Main(argc, argv); }
