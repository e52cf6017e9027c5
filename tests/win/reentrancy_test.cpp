// Client code that runs inside a NamedValues member (a value's release, an object's default
// property) and calls back into the collection: one scenario per row, each on a fresh
// collection that the engine empties afterwards (breaking the cycles some rows build).
#include <functional>

#include "test_support.h"

namespace qx::test {
namespace {

// A scriptable value: its release and its default property run the scenario's code.
class Hostile final : public NoTypeInfoDispatch<IDispatch> {
 public:
  static ComPtr<Hostile> Make() { return ComPtr<Hostile>::Adopt(new Hostile); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--refs_ > 0) return refs_;
    if (auto last = std::move(onRelease)) last();
    delete this;
    return 0;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !onValue || !result) return DISP_E_MEMBERNOTFOUND;
    return onValue(result);
  }

  std::function<void()> onRelease;
  std::function<HRESULT(VARIANT*)> onValue;

 private:
  Hostile() = default;
  ~Hostile() = default;
  ULONG refs_ = 1;
};

UniqueVariant VarObject(IDispatch* object) {
  UniqueVariant v;
  V_VT(v.AddressOf()) = VT_DISPATCH;
  V_DISPATCH(v.AddressOf()) = object;
  object->AddRef();
  return v;
}

HRESULT Add(INamedValues2* nv, const wchar_t* name, UniqueVariant value, NamedValue** item = nullptr) {
  return nv->Add(Bstr(name).Get(), value.AddressOf(), item);
}

// A hostile value whose default property is "tricky" after running `during`.
ComPtr<Hostile> Tricky(std::function<void()> during) {
  auto h = Hostile::Make();
  h->onValue = [during](VARIANT* result) {
    during();
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocString(L"tricky");
    return S_OK;
  };
  return h;
}

std::wstring DumpOrFailure(INamedValues2* nv, HRESULT expected = S_OK) {
  UniqueBstr text;
  const HRESULT hr = nv->DumpToString(text.Put());
  EXPECT_EQ(expected, hr);
  if (FAILED(hr)) {
    EXPECT_TRUE(text.IsNull());
  }
  return Text(text.Get());
}

struct Scenario {
  const char* name;
  std::function<void(INamedValues2* nv)> run;
};

const Scenario kScenarios[] = {
    {"ClearEmptiesTheStoreBeforeAnyRelease",
     [](INamedValues2* nv) {
       LONG seen = -1;
       auto h = Hostile::Make();
       h->onRelease = [nv, &seen] {
         seen = CountOf(nv);
         for (LONG i = 1; i <= seen; ++i) {
           ComPtr<NamedValue> item;
           if (nv->get_Item(VarI4(i).AddressOf(), item.Put()) == S_OK) NameOf(item.Get());
         }
       };
       ASSERT_EQ(S_OK, Add(nv, L"h", VarObject(h.Get())));
       for (int i = 0; i < 15; ++i) ASSERT_EQ(S_OK, Add(nv, std::to_wstring(i).c_str(), VarI4(i)));
       h.Reset();
       EXPECT_EQ(S_OK, nv->Clear());
       EXPECT_EQ(0, seen);
     }},
    {"DestructionClearsParentLinksBeforeAnyRelease",
     [](INamedValues2*) {
       auto other = NewNamedValues();
       ComPtr<NamedValue> kept;
       ASSERT_EQ(S_OK, Add(other.Get(), L"kept", VarI4(1), kept.Put()));
       bool orphan = false;
       auto h = Hostile::Make();
       h->onRelease = [&] {
         ComPtr<_NamedValues> parent;
         orphan = kept->get_Parent(parent.Put()) == S_OK && !parent;
       };
       ASSERT_EQ(S_OK, Add(other.Get(), L"h", VarObject(h.Get())));
       h.Reset();
       other.Reset();
       EXPECT_TRUE(orphan);
     }},
    {"RemoveTakesTheMemberOutBeforeItsRelease",
     [](INamedValues2* nv) {
       LONG seen = -1;
       auto h = Hostile::Make();
       h->onRelease = [nv, &seen] { seen = CountOf(nv); };
       ASSERT_EQ(S_OK, Add(nv, L"h", VarObject(h.Get())));
       ASSERT_EQ(S_OK, Add(nv, L"x", VarI4(1)));
       h.Reset();
       EXPECT_EQ(S_OK, nv->Remove(Bstr(L"h").Get()));
       EXPECT_EQ(1, seen);
     }},
    {"ReplacedValueWhoseReleaseRemovesItsMember",
     [](INamedValues2* nv) {
       auto h = Hostile::Make();
       h->onRelease = [nv] { EXPECT_EQ(S_OK, nv->Remove(Bstr(L"h").Get())); };
       ASSERT_EQ(S_OK, Add(nv, L"h", VarObject(h.Get())));
       h.Reset();
       EXPECT_EQ(S_OK, nv->LoadFromString(Bstr(L"h=new").Get()));
       EXPECT_EQ(0, CountOf(nv));
     }},
    {"DumpWhileADefaultPropertyClears",
     [](INamedValues2* nv) {
       ASSERT_EQ(S_OK, Add(nv, L"a", VarObject(Tricky([nv] { nv->Clear(); }).Get())));
       ASSERT_EQ(S_OK, Add(nv, L"b", VarI4(1)));
       ASSERT_EQ(S_OK, Add(nv, L"c", VarI4(2)));
       EXPECT_EQ(L"a=tricky;b=1;c=2", DumpOrFailure(nv));
       EXPECT_EQ(0, CountOf(nv));
     }},
    {"DumpWhileADefaultPropertyAddsAndRemoves",
     [](INamedValues2* nv) {
       ASSERT_EQ(S_OK, Add(nv, L"a", VarObject(Tricky([nv] {
                             nv->Remove(Bstr(L"b").Get());
                             Add(nv, L"z", VarI4(9));
                           }).Get())));
       ASSERT_EQ(S_OK, Add(nv, L"b", VarI4(1)));
       EXPECT_EQ(L"a=tricky;b=1", DumpOrFailure(nv));
       EXPECT_EQ((std::vector<std::wstring>{L"a", L"z"}), Names(nv));
     }},
    {"MemberWhoseValueIsItself",
     [](INamedValues2* nv) {
       ComPtr<NamedValue> it;
       ASSERT_EQ(S_OK, Add(nv, L"a", VarI4(1), it.Put()));
       ASSERT_EQ(S_OK, it->put_Value(VarObject(it.Get()).Get()));
       DumpOrFailure(nv, DISP_E_TYPEMISMATCH);
       const std::wstring key = L"Software\\QXSDKReentrancyTest";
       EXPECT_EQ(S_OK, nv->DumpToRegistry(qxnvHKEY_CURRENT_USER, Bstr(key).Get(), qxnvRegistryOptions(0)));
       RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
       RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
       EXPECT_EQ(S_OK, it.TryQuery<ISlimFast>()->SlimFast(0));
       EXPECT_EQ(S_OK, ComPtr<INamedValues2>(nv).TryQuery<IRefresh>()->Refresh());
       EXPECT_EQ(S_OK, it->put_Value(VarI4(0).Get()));  // breaks the cycle
     }},
    {"ItemByAnObjectWhoseDefaultIsItself",
     [](INamedValues2* nv) {
       auto h = Hostile::Make();
       IDispatch* self = h.Get();
       h->onValue = [self](VARIANT* result) {
         V_VT(result) = VT_DISPATCH;
         V_DISPATCH(result) = self;
         self->AddRef();
         return S_OK;
       };
       ComPtr<NamedValue> item;
       EXPECT_EQ(E_INVALIDARG, nv->get_Item(VarObject(h.Get()).AddressOf(), item.Put()));
       SetErrorInfo(0, nullptr);
     }},
    {"CollectionsHoldingThemselvesAndEachOther",
     [](INamedValues2* nv) {
       auto other = NewNamedValues();
       ASSERT_EQ(S_OK, Add(nv, L"self", VarObject(nv)));
       ASSERT_EQ(S_OK, Add(nv, L"other", VarObject(other.Get())));
       ASSERT_EQ(S_OK, Add(other.Get(), L"back", VarObject(nv)));
       for (INamedValues2* each : {nv, other.Get()}) {
         EXPECT_EQ(S_OK, ComPtr<INamedValues2>(each).TryQuery<ISlimFast>()->SlimFast(0));
         EXPECT_EQ(S_OK, ComPtr<INamedValues2>(each).TryQuery<IRefresh>()->Refresh());
       }
       DumpOrFailure(nv, DISP_E_TYPEMISMATCH);
       other->Clear();
     }},
};

class ReentrancyTest : public LeakCheckedTest, public testing::WithParamInterface<Scenario> {};

TEST_P(ReentrancyTest, CollectionSurvives) {
  auto nv = NewNamedValues();
  GetParam().run(nv.Get());
  EXPECT_EQ(S_OK, nv->Clear());
  SetErrorInfo(0, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ReentrancyTest, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qx::test
