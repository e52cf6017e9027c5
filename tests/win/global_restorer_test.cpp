// QXGlobalRestorer with the restorer classes of qx_test_restorer.dll (registered beside the
// library): parse errors and failure paths with the error object the client sees, a string of
// two items, servers into passed-in collections, and the restorer cache.
#include <cstdint>
#include <string>

#include "asynch_sink.h"
#include "restorer_dll/test_restorer.h"

namespace qx::test {
namespace {

constexpr HRESULT kRestoreObjectError = static_cast<HRESULT>(0x800405E7);
const std::wstring kObjectText = L"Error restoring object from persistence string.";
const std::wstring kParseText = kObjectText + L" CQXGlobalRestorer::GetNextRestorer> Error parsing persistence string: ";
const std::wstring kA = GuidText(CLSID_TestRestorerA);
const std::wstring kB = GuidText(CLSID_TestRestorerB);

// One item: its length (counting its own digits), the class id and the payload.
std::wstring Item(const std::wstring& classId, const std::wstring& payload) {
  const std::wstring rest = L" " + classId + L" " + payload;
  size_t n = rest.size() + 1;
  while (std::to_wstring(n).size() + rest.size() != n) n = std::to_wstring(n).size() + rest.size();
  return std::to_wstring(n) + rest;
}

ComPtr<_QXGlobalRestorer> NewRestorer() { return New<_QXGlobalRestorer>(CLSID_QXGlobalRestorer); }

template <class Fn>
Fn RestorerExport(const char* name) {
  HMODULE module = GetModuleHandleW(kTestRestorerModule);
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
struct Counts {
  LONG created = 0, liveRestorers = 0, liveRecords = 0;
};
Counts TestRestorerCounts() {
  Counts c;
  if (auto read = RestorerExport<TestRestorerCountsFn>("TestRestorerCounts")) {
    read(&c.created, &c.liveRestorers, &c.liveRecords);
  }
  return c;
}

// A member of a record (or any collection) as text.
std::wstring Member(IUnknown* collection, const wchar_t* name) {
  ComPtr<_NamedValues> nv;
  ComPtr<NamedValue> member;
  UniqueVariant value;
  if (!collection || FAILED(collection->QueryInterface(__uuidof(_NamedValues), nv.PutVoid())) ||
      FAILED(nv->get_Item(VarText(name).AddressOf(), member.Put())) || FAILED(member->get_Value(value.Put())) ||
      FAILED(VariantChangeType(value.AddressOf(), value.AddressOf(), 0, VT_BSTR))) {
    SetErrorInfo(0, nullptr);
    return L"<none>";
  }
  return Text(V_BSTR(value.AddressOf()));
}

HRESULT Restore(_QXGlobalRestorer* restorer, const std::wstring& data, ComPtr<IUnknown>* object,
                _NamedValues* context = nullptr) {
  return restorer->RestoreObject(Bstr(data).Get(), context, object->Put());
}

class GlobalRestorerTest : public LeakCheckedTest {
 protected:
  void TearDown() override {
    LeakCheckedTest::TearDown();
    if (auto canUnload = RestorerExport<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow")) {
      EXPECT_EQ(S_OK, canUnload()) << "objects of the test restorer are still alive";
    }
  }
};

TEST_F(GlobalRestorerTest, ParseErrorsShowTheItemAsFarAsItsLengthWasRead) {
  const std::wstring tail = L" " + kA + L" x";
  const struct {
    const char* what;
    std::wstring data;
    std::wstring shown;  // what the description quotes of the failing item
  } cases[] = {
      {"length 0", L"0" + tail, L""},
      {"no digits", tail, L""},
      {"length above the maximum", L"10000001" + tail, L"10000001" + tail},
      {"two blanks", L"45 " + tail, L"45 " + tail},
      {"no blank before the payload", L"45 " + kA + L"abcd", L"45 " + kA + L"abcd"},
      {"class id of 37", L"45 " + kA.substr(0, 36) + L"} abcd", L"45 " + kA.substr(0, 36) + L"} abcd"},
      {"length below the header", L"40" + tail, (L"40" + tail).substr(0, 40)},
      {"second item", Item(kA, L"") + L"7 junk", L"7 junk"},
  };
  auto restorer = NewRestorer();
  for (const auto& c : cases) {
    ComPtr<IUnknown> object;
    EXPECT_TRUE(Fails(kRestoreObjectError, Restore(restorer.Get(), c.data, &object), kParseText + c.shown)) << c.what;
    EXPECT_FALSE(object) << c.what;
  }
  ComPtr<_QXErrors> errors;  // an empty string that is not null has an item that does not parse
  ComPtr<_NamedValues> servers;
  EXPECT_TRUE(Fails(kRestoreObjectError, restorer->RestoreServers(Bstr(L"").Get(), errors.Put(), nullptr,
                                                                  servers.Put()), kParseText));
}

TEST_F(GlobalRestorerTest, FailuresKeepTheCalleesDescriptionOrNameTheClass) {
  const std::wstring notFound = L"Name not found in collection: ", ours = kObjectText + L" CQXGlobalRestorer";
  const std::wstring servers = L"Error restoring servers from persistence string. CQXGlobalRestorer";
  const std::wstring badId = L"{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9AZZ}";
  const std::wstring unregistered = L"{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A4F}";
  const struct {
    const char* what;
    bool servers;  // RestoreServers instead of RestoreObject
    bool cached;   // the restorer was created by an earlier call
    std::wstring data;
    HRESULT hr;
    std::wstring description;
  } cases[] = {
      {"empty string", false, false, L"", E_INVALIDARG, ours},
      {"string above the maximum", false, false, std::wstring(10000001, L'1'), E_INVALIDARG, ours},
      {"class id that does not convert", false, false, Item(badId, L""), CO_E_CLASSSTRING, notFound + badId},
      {"class not registered", true, false, Item(unregistered, L""), REGDB_E_CLASSNOTREG, notFound + unregistered},
      {"new restorer fails silently", false, false, Item(kA, L"fail:80040123"), HRESULT(0x80040123), notFound + kA},
      {"cached restorer fails silently", false, true, Item(kA, L"fail:80040123"), HRESULT(0x80040123), ours},
      {"cached restorer fails silently in RestoreServers", true, true, Item(kA, L"fail:80040123"), HRESULT(0x80040123),
       servers},
      {"restorer raises", false, true, Item(kA, L"raise:80040124"), HRESULT(0x80040124), L"Restorer raised 80040124"},
      {"later item stops the call", false, false, Item(kA, L"") + Item(kB, L"fail:80040125") + Item(kA, L"x"),
       HRESULT(0x80040125), notFound + kB},
  };
  for (const auto& c : cases) {
    auto restorer = NewRestorer();
    ComPtr<IUnknown> object;
    if (c.cached) { ASSERT_EQ(S_OK, Restore(restorer.Get(), Item(kA, L""), &object)); }
    SetErrorInfo(0, nullptr);
    HRESULT hr;
    if (c.servers) {
      ComPtr<_QXErrors> errors;
      ComPtr<_NamedValues> servers;
      hr = restorer->RestoreServers(Bstr(c.data).Get(), errors.Put(), nullptr, servers.Put());
      EXPECT_TRUE(errors && servers) << c.what << ": created collections belong to the caller";
    } else {
      hr = Restore(restorer.Get(), c.data, &object);
      EXPECT_FALSE(object) << c.what;
    }
    EXPECT_TRUE(Fails(c.hr, hr, c.description)) << c.what;
  }
  auto restorer = NewRestorer();
  EXPECT_TRUE(Fails(E_POINTER, restorer->RestoreObject(nullptr, nullptr, nullptr), ours));
}

TEST_F(GlobalRestorerTest, TwoItemsShareTheContextAndReturnTheLastObject) {
  auto context = NewNamedValues();
  ASSERT_EQ(S_OK, context->Add(Bstr(L"Caller").Get(), VarI4(1).AddressOf(), nullptr));
  const std::wstring second = Item(kB, std::wstring(L"x\0cut", 5));
  const Counts before = TestRestorerCounts();
  ComPtr<IUnknown> object;
  ASSERT_EQ(S_OK, Restore(NewRestorer().Get(), Item(kA, L"set:Seen=yes") + second, &object, context.Get()));
  EXPECT_EQ(L"B", Member(object.Get(), L"Class"));
  EXPECT_EQ(second.substr(0, second.find(L'\0')), Member(object.Get(), L"Item"));
  EXPECT_EQ(L"Caller=1;Seen=yes", Member(object.Get(), L"Context"));
  EXPECT_EQ(before.liveRecords + 1, TestRestorerCounts().liveRecords) << "the first item's object is released";
  UniqueBstr dump;
  ASSERT_EQ(S_OK, context->DumpToString(dump.Put()));
  EXPECT_EQ(L"Caller=1", Text(dump.Get())) << "the caller's context is left as it was";
}

TEST_F(GlobalRestorerTest, ServersGoToPassedInCollectionsOrNewOnes) {
  auto restorer = NewRestorer();
  auto text = Bstr(Item(kA, L"server:S1;error:E1") + Item(kB, L"server:S2;set:K=v"));
  // Passed in: used as they are.
  auto errors = New<_QXErrors>(CLSID_QXErrors);
  auto servers = NewNamedValues();
  _QXErrors* errorsArg = errors.Get();
  _NamedValues* serversArg = servers.Get();
  ASSERT_EQ(S_OK, restorer->RestoreServers(text.Get(), &errorsArg, nullptr, &serversArg));
  EXPECT_EQ(errors.Get(), errorsArg);
  EXPECT_EQ(static_cast<_NamedValues*>(servers.Get()), serversArg);
  EXPECT_EQ((std::vector<std::wstring>{L"S1", L"S2"}), Names(servers.Get()));
  LONG count = 0;
  EXPECT_EQ(S_OK, errors->get_Count(&count));
  EXPECT_EQ(1, count);

  // Absent: null, or the fill of an uninitialised pointer.
  for (std::uintptr_t pattern : {std::uintptr_t{0}, std::uintptr_t{0xCCCCCCCCu},
                                 static_cast<std::uintptr_t>(0xCCCCCCCCCCCCCCCCull)}) {
    auto* newErrors = reinterpret_cast<_QXErrors*>(pattern);
    auto* newServers = reinterpret_cast<_NamedValues*>(pattern);
    ASSERT_EQ(S_OK, restorer->RestoreServers(text.Get(), &newErrors, nullptr, &newServers)) << std::hex << pattern;
    auto ownedErrors = ComPtr<_QXErrors>::Adopt(newErrors);
    auto ownedServers = ComPtr<_NamedValues>::Adopt(newServers);
    EXPECT_EQ(L"A", Member(ownedServers.Get(), L"S1")) << std::hex << pattern;
    EXPECT_EQ(S_OK, ownedErrors->get_Count(&count));
    EXPECT_EQ(1, count);
  }
}

TEST_F(GlobalRestorerTest, EachRestorerClassIsCreatedOncePerGlobalRestorer) {
  const Counts before = TestRestorerCounts();
  std::wstring lower = kA;
  for (wchar_t& c : lower) c = towlower(c);
  {
    auto restorer = NewRestorer();
    ComPtr<IUnknown> object;
    for (const std::wstring& data : {Item(kA, L""), Item(kA, L"") + Item(lower, L""), Item(lower, L"")}) {
      ASSERT_EQ(S_OK, Restore(restorer.Get(), data, &object));
    }
    EXPECT_EQ(before.created + 1, TestRestorerCounts().created);
    ASSERT_EQ(S_OK, Restore(restorer.Get(), Item(kB, L""), &object));
    EXPECT_EQ(before.created + 2, TestRestorerCounts().created);
    EXPECT_EQ(before.liveRestorers + 2, TestRestorerCounts().liveRestorers);
  }
  EXPECT_EQ(before.liveRestorers, TestRestorerCounts().liveRestorers) << "the cache goes with the global restorer";
}

}  // namespace
}  // namespace qx::test
