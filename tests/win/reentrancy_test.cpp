// Client code run from inside a NamedValues member (a value's release or default property, a
// Traverse callback) that calls back into the collection: one scenario per row, on a collection
// the engine empties after.
#include <functional>
#include <utility>

#include "test_support.h"

namespace qx::test {
namespace {

// A value whose release and default property run the scenario's code.
struct Hostile final : NoTypeInfoDispatch<IDispatch> {
  std::function<void()> onRelease;
  std::function<void(VARIANT*)> onValue;
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IDispatch ? this : nullptr;
    return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    // The test owns one reference: the library's last release runs the scenario's code once.
    if (--refs == 1 && onRelease) std::exchange(onRelease, nullptr)();
    return refs;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id != DISPID_VALUE || !onValue) return DISP_E_MEMBERNOTFOUND;
    onValue(result);
    return S_OK;
  }
};

void Put(INamedValues2* nv, const wchar_t* name, UniqueVariant v, NamedValue** item = nullptr) {
  ASSERT_EQ(S_OK, nv->Add(Bstr(name).Get(), v.AddressOf(), item));
}
HRESULT __stdcall ClearWhileVisiting(IUnknown* member, void* passThru) {
  NameOf(member);  // the member stays valid although the collection lets it go
  return static_cast<INamedValues2*>(passThru)->Clear();
}
struct Scenario {
  const char* name;
  void (*run)(INamedValues2* nv, Hostile& h);
};

const Scenario kScenarios[] = {
    {"ClearEmptiesTheStoreBeforeReleasing",
     [](INamedValues2* nv, Hostile& h) {
       LONG seen = -1;
       h.onRelease = [&] { seen = CountOf(nv); };
       Put(nv, L"h", VarObject(&h));
       for (int i = 0; i < 15; ++i) Put(nv, std::to_wstring(i).c_str(), VarI4(i));
       EXPECT_EQ(S_OK, nv->Clear());
       EXPECT_EQ(0, seen);
     }},
    {"DestructionClearsParentLinksBeforeReleasing",
     [](INamedValues2* nv, Hostile& h) {
       auto other = NewNamedValues();
       ComPtr<NamedValue> kept;
       Put(other.Get(), L"h", VarObject(&h));
       Put(other.Get(), L"kept", VarI4(1), kept.Put());
       ComPtr<_NamedValues> parent(nv);
       h.onRelease = [&] { kept->get_Parent(parent.Put()); };
       other.Reset();
       EXPECT_FALSE(parent);
     }},
    {"ReleaseOfAReplacedValueRemovesItsMember",
     [](INamedValues2* nv, Hostile& h) {
       h.onRelease = [nv] { nv->Remove(Bstr(L"h").Get()); };
       Put(nv, L"h", VarObject(&h));
       EXPECT_EQ(S_OK, nv->LoadFromString(Bstr(L"h=new").Get()));
       EXPECT_EQ(0, CountOf(nv));
     }},
    {"DumpWhileADefaultPropertyClears",
     [](INamedValues2* nv, Hostile& h) {
       h.onValue = [nv](VARIANT* result) {
         nv->Clear();
         V_VT(result) = VT_BSTR;
         V_BSTR(result) = SysAllocString(L"tricky");
       };
       Put(nv, L"a", VarObject(&h));
       Put(nv, L"b", VarI4(1));
       UniqueBstr text;
       EXPECT_EQ(S_OK, nv->DumpToString(text.Put()));
       EXPECT_EQ(L"a=tricky;b=1", Text(text.Get()));
     }},
    {"TraverseWhileTheCallbackClears",
     [](INamedValues2* nv, Hostile&) {
       for (const wchar_t* name : {L"a", L"b", L"c"}) Put(nv, name, VarI4(1));
       EXPECT_EQ(S_OK, As<ITraverse>(nv)->Traverse(reinterpret_cast<void*>(&ClearWhileVisiting), nv, qxtrNoOptions));
       EXPECT_EQ(0, CountOf(nv));
     }},
    {"ValuesLeadingBackToThemselves",
     [](INamedValues2* nv, Hostile& h) {
       ComPtr<NamedValue> it;
       auto other = NewNamedValues();
       Put(nv, L"it", VarI4(1), it.Put());
       ASSERT_EQ(S_OK, it->put_Value(VarObject(it.Get()).Get()));
       Put(nv, L"self", VarObject(nv));
       Put(nv, L"other", VarObject(other.Get()));
       Put(other.Get(), L"back", VarObject(nv));
       h.onValue = [&h](VARIANT* result) { VarObject(&h).Detach(result); };
       ComPtr<NamedValue> found;
       EXPECT_EQ(E_INVALIDARG, nv->get_Item(VarObject(&h).AddressOf(), found.Put()));
       EXPECT_EQ(DISP_E_TYPEMISMATCH, nv->DumpToString(UniqueBstr().Put()));
       EXPECT_EQ(S_OK, nv->DumpToRegistry(qxnvHKEY_CURRENT_USER, Bstr(L"Software\\QXSDKReentrancy").Get(),
                                          qxnvRegistryOptions(0)));
       RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QXSDKReentrancy");
       for (IUnknown* each : std::initializer_list<IUnknown*>{nv, other.Get(), it.Get()}) {
         EXPECT_EQ(S_OK, As<ISlimFast>(each)->SlimFast(0));
         EXPECT_EQ(S_OK, As<IRefresh>(each)->Refresh());
       }
       EXPECT_EQ(S_OK, it->put_Value(VarI4(0).Get()));
       other->Clear();
     }},
};

class ReentrancyTest : public LeakCheckedTest, public testing::WithParamInterface<Scenario> {};

TEST_P(ReentrancyTest, CollectionSurvives) {
  Hostile h;
  auto nv = NewNamedValues();
  GetParam().run(nv.Get(), h);
  EXPECT_EQ(S_OK, nv->Clear());
  h.onRelease = nullptr;
  EXPECT_EQ(1u, h.refs) << "every reference to the value was given back";
  SetErrorInfo(0, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ReentrancyTest, testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qx::test
