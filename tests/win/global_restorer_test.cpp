// QXGlobalRestorer with the restorer classes A and B of qx_test_restorer.dll (registered beside
// the library; its opening comment lists the payload commands that steer them).
#include <cstdint>
#include <string>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kRestoreObjectError = static_cast<HRESULT>(0x800405E7);
const std::wstring kA = L"{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A41}";
const std::wstring kB = L"{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A42}";
const std::wstring kOurs = L"Error restoring object from persistence string. CQXGlobalRestorer";
const std::wstring kParseText = kOurs + L"::GetNextRestorer> Error parsing persistence string: ";
const std::wstring kNotFound = L"Name not found in collection: ";

// One item: its length (counting its own digits), the class id and the payload.
std::wstring Item(const std::wstring& classId, const std::wstring& payload) {
  const std::wstring rest = L" " + classId + L" " + payload;
  size_t n = rest.size() + 1;
  while (std::to_wstring(n).size() + rest.size() != n) n = std::to_wstring(n).size() + rest.size();
  return std::to_wstring(n) + rest;
}

ComPtr<_QXGlobalRestorer> NewRestorer() {
  ComPtr<_QXGlobalRestorer> restorer;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_QXGlobalRestorer, nullptr, CLSCTX_INPROC_SERVER, __uuidof(_QXGlobalRestorer),
                                   restorer.PutVoid()));
  return restorer;
}

HRESULT Restore(_QXGlobalRestorer* restorer, const std::wstring& data, ComPtr<IUnknown>* object,
                _NamedValues* context = nullptr) {
  return restorer->RestoreObject(Bstr(data).Get(), context, object->Put());
}

// A text member of a record (or of any collection), or "<none>".
std::wstring Member(IUnknown* collection, const wchar_t* name) {
  UniqueVariant value;
  const auto resolver = As<INameResolver>(collection);
  const bool found = resolver && SUCCEEDED(resolver->Resolve(Bstr(name).Get(), value.Put()));
  return found && value.Type() == VT_BSTR ? Text(V_BSTR(value.AddressOf())) : L"<none>";
}

// A restorer holds a library object: the leak check after each test also sees a leaked restorer.
using GlobalRestorerTest = LeakCheckedTest;

// Each row restores `data` with a new global restorer (that has made restorer A already when
// `cached`). Parse errors quote the item as far as its length was read, never beyond the string;
// a failure without an error object of its own is reported with the "not found" object that the
// cache lookup left pending, or else with the method's own description.
TEST_F(GlobalRestorerTest, FailuresShowTheItemOrThePendingDescription) {
  const std::wstring tail = L" " + kA + L" x", above = L"10000001" + tail, below = L"40" + tail;
  const std::wstring noBlank = L"45 " + kA + L"abcd", shortId = L"45 " + kA.substr(0, 36) + L"} abcd";
  const std::wstring badId = L"{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9AZZ}";
  const std::wstring unregistered = L"{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A4F}";
  const std::wstring servers = L"Error restoring servers from persistence string. CQXGlobalRestorer";
  const struct {
    const char* what;
    bool servers;  // RestoreServers instead of RestoreObject
    bool cached;
    std::wstring data;
    HRESULT hr;
    std::wstring description;
  } cases[] = {
      {"length 0", false, false, L"0" + tail, kRestoreObjectError, kParseText},
      {"length above the maximum", false, false, above, kRestoreObjectError, kParseText + above},
      {"two blanks", false, false, L"45 " + tail, kRestoreObjectError, kParseText + L"45 " + tail},
      {"no blank before the payload", false, false, noBlank, kRestoreObjectError, kParseText + noBlank},
      {"class id of 37", false, false, shortId, kRestoreObjectError, kParseText + shortId},
      {"length below the header", false, false, below, kRestoreObjectError, kParseText + below.substr(0, 40)},
      {"second item", false, false, Item(kA, L"") + L"7 junk", kRestoreObjectError, kParseText + L"7 junk"},
      {"empty string to RestoreServers", true, false, L"", kRestoreObjectError, kParseText},
      {"string above the maximum", false, false, std::wstring(10000001, L'1'), E_INVALIDARG, kOurs},
      {"class id that does not convert", false, false, Item(badId, L""), CO_E_CLASSSTRING, kNotFound + badId},
      {"class not registered", true, false, Item(unregistered, L""), REGDB_E_CLASSNOTREG, kNotFound + unregistered},
      {"cached restorer fails", false, true, Item(kA, L"fail:80040123"), HRESULT(0x80040123), kOurs},
      {"cached restorer fails in RestoreServers", true, true, Item(kA, L"fail:80040123"), HRESULT(0x80040123), servers},
  };
  for (const auto& c : cases) {
    auto restorer = NewRestorer();
    ComPtr<IUnknown> object;
    if (c.cached) {
      ASSERT_EQ(S_OK, Restore(restorer.Get(), Item(kA, L""), &object));
    }
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
}

// The first restorer's member of the working context reaches the second; the caller's context
// stays as it was, and the second restorer's text is cut at the string's first NUL. Class ids that
// differ only in the case of their letters share one cached restorer.
TEST_F(GlobalRestorerTest, TwoItemsShareTheContextAndTheCachedRestorers) {
  auto restorer = NewRestorer();
  auto context = NewNamedValues();
  ASSERT_EQ(S_OK, context->Add(Bstr(L"Caller").Get(), VarI4(1).AddressOf(), nullptr));
  const std::wstring second = Item(kB, std::wstring(L"x\0cut", 5));
  ComPtr<IUnknown> object, again;
  ASSERT_EQ(S_OK, Restore(restorer.Get(), Item(kA, L"set:Seen=yes") + second, &object, context.Get()));
  EXPECT_EQ(L"B", Member(object.Get(), L"Class"));
  EXPECT_EQ(second.substr(0, second.find(L'\0')), Member(object.Get(), L"Item"));
  EXPECT_EQ(L"Caller=1;Seen=yes", Member(object.Get(), L"Context"));
  EXPECT_EQ(std::vector<std::wstring>{L"Caller"}, Names(context.Get()));
  std::wstring lower = kA;
  for (wchar_t& c : lower) c = towlower(c);
  ASSERT_EQ(S_OK, Restore(restorer.Get(), Item(lower, L"") + Item(kB, L""), &again));
  EXPECT_EQ(Member(object.Get(), L"Created"), Member(again.Get(), L"Created")) << "a restorer was made again";
}

// A restorer may drop the last reference to the global restorer that calls it (here by emptying
// the self-holding context that held it): the call goes on to the later items and ends normally.
TEST_F(GlobalRestorerTest, RestorerDropsTheLastReferenceToItsCaller) {
  auto context = NewNamedValues();
  auto restorer = NewRestorer();
  _QXGlobalRestorer* const caller = restorer.Get();
  ASSERT_EQ(S_OK, context->Add(Bstr(L"Owner").Get(), VarObject(caller).AddressOf(), nullptr));
  ASSERT_EQ(S_OK, context->Add(Bstr(L"Self").Get(), VarObject(context.Get()).AddressOf(), nullptr));
  restorer.Reset();
  ComPtr<IUnknown> object;
  ASSERT_EQ(S_OK, Restore(caller, Item(kA, L"drop:Self") + Item(kB, L""), &object, context.Get()));
  EXPECT_EQ(L"B", Member(object.Get(), L"Class"));
  EXPECT_EQ(0, CountOf(context.Get()));
}

// A collection passed in is used as it is; null or the fill of an uninitialised pointer asks for a
// new one.
TEST_F(GlobalRestorerTest, ServersGoToPassedInCollectionsOrNewOnes) {
  auto restorer = NewRestorer();
  auto text = Bstr(Item(kA, L"server:S1") + Item(kB, L"server:S2"));
  for (const std::uintptr_t pattern :
       {std::uintptr_t{0}, std::uintptr_t{0xCCCCCCCCu}, static_cast<std::uintptr_t>(0xCCCCCCCCCCCCCCCCull)}) {
    auto servers = NewNamedValues();
    _NamedValues* passed = servers.Get();
    auto* errors = reinterpret_cast<_QXErrors*>(pattern);
    ASSERT_EQ(S_OK, restorer->RestoreServers(text.Get(), &errors, nullptr, &passed)) << std::hex << pattern;
    EXPECT_TRUE(ComPtr<_QXErrors>::Adopt(errors)) << std::hex << pattern;
    EXPECT_EQ(static_cast<_NamedValues*>(servers.Get()), passed);
    EXPECT_EQ((std::vector<std::wstring>{L"S1", L"S2"}), Names(servers.Get()));
  }
}

}  // namespace
}  // namespace qx::test
