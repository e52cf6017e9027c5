// NamedValue members and the member enumerator: name, value, parent link, Rename and Detach,
// forwarding of SlimFast and Refresh, and their interfaces, through the vtable and IDispatch.
#include <functional>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);

std::wstring NameOf(NamedValue* item) {
  UniqueBstr name;
  EXPECT_EQ(S_OK, item->get_Name(name.Put()));
  return name.IsNull() ? L"<null>" : Text(name.Get());
}
UniqueVariant ValueOf(NamedValue* item) {
  UniqueVariant value;
  EXPECT_EQ(S_OK, item->get_Value(value.Put()));
  return value;
}
ComPtr<INamedValue2> Add(INamedValues2* nv, const std::wstring& name, const VARIANT& value) {
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, nv->Add(Bstr(name).Get(), const_cast<VARIANT*>(&value), item.Put()));
  return item.TryQuery<INamedValue2>();
}
ComPtr<INamedValue2> Add(INamedValues2* nv, const std::wstring& name, LONG value = 0) {
  return Add(nv, name, VarI4(value).Get());
}
ComPtr<IUnknown> ParentOf(NamedValue* item) {
  ComPtr<_NamedValues> parent;
  EXPECT_EQ(S_OK, item->get_Parent(parent.Put()));
  return parent.TryQuery<IUnknown>();
}
template <class I>
ComPtr<IUnknown> Identity(const ComPtr<I>& p) {
  return p.template TryQuery<IUnknown>();
}

// A value object that records SlimFast and Refresh calls. It lives on the stack; `refs` shows
// whether the library released every reference it took.
class Probe final : public NoTypeInfoDispatch<IDispatch>, public ISlimFast, public IRefresh {
 public:
  LONG refs = 1;
  int slimFastCalls = 0;
  LONG lastReserved = -1;
  int refreshCalls = 0;
  HRESULT answer = S_OK;                 // what SlimFast and Refresh return
  bool slimFast = true, refresh = true;  // which of them it answers

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) *out = static_cast<IDispatch*>(this);
    if (iid == __uuidof(ISlimFast) && slimFast) *out = static_cast<ISlimFast*>(this);
    if (iid == __uuidof(IRefresh) && refresh) *out = static_cast<IRefresh*>(this);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE SlimFast(LONG reserved) override {
    ++slimFastCalls;
    lastReserved = reserved;
    return answer;
  }
  HRESULT STDMETHODCALLTYPE Refresh() override {
    ++refreshCalls;
    return answer;
  }
};

UniqueVariant VarObject(IDispatch* object, VARTYPE type = VT_DISPATCH) {
  UniqueVariant v;
  V_VT(v.AddressOf()) = type;
  V_DISPATCH(v.AddressOf()) = object;  // VT_UNKNOWN shares the slot
  if (object) object->AddRef();
  return v;
}

using NamedValueTest = LeakCheckedTest;

TEST_F(NamedValueTest, NameKeepsEmbeddedNulsAndNull) {
  using namespace std::string_literals;
  auto nv = NewNamedValues();
  const std::wstring withNul = L"a\0b\0"s;
  auto item = Add(nv.Get(), withNul);
  UniqueBstr name;
  ASSERT_EQ(S_OK, item->get_Name(name.Put()));
  EXPECT_EQ(4u, name.Length());
  EXPECT_EQ(withNul, Text(name.Get()));
  // Each call gives a fresh copy.
  UniqueBstr again;
  ASSERT_EQ(S_OK, item->get_Name(again.Put()));
  EXPECT_NE(name.Get(), again.Get());

  ComPtr<NamedValue> unnamed;
  auto value = VarI4(0);
  ASSERT_EQ(S_OK, nv->Add(nullptr, value.AddressOf(), unnamed.Put()));
  BSTR raw = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(S_OK, unnamed->get_Name(&raw));
  EXPECT_EQ(nullptr, raw);
}

TEST_F(NamedValueTest, ValueIsCopiedInAndOut) {
  auto nv = NewNamedValues();
  auto item = Add(nv.Get(), L"v", 1);
  // By reference: the referenced value is stored, the reference is not.
  UniqueBstr text = Bstr(L"first");
  UniqueVariant byRef;
  V_VT(byRef.AddressOf()) = VT_BYREF | VT_BSTR;
  V_BSTRREF(byRef.AddressOf()) = text.AddressOf();
  ASSERT_EQ(S_OK, item->put_Value(byRef.Get()));
  text = Bstr(L"second");  // the caller's variable changes (and its old string is freed)
  UniqueVariant read = ValueOf(item.Get());
  ASSERT_EQ(VT_BSTR, read.Type());
  EXPECT_EQ(L"first", Text(V_BSTR(read.AddressOf())));

  // Arrays are copied element by element.
  SAFEARRAYBOUND bound{2, 0};
  UniqueVariant array;
  V_VT(array.AddressOf()) = VT_ARRAY | VT_I4;
  V_ARRAY(array.AddressOf()) = SafeArrayCreate(VT_I4, 1, &bound);
  LONG at = 0, element = 10;
  ASSERT_EQ(S_OK, SafeArrayPutElement(V_ARRAY(array.AddressOf()), &at, &element));
  ASSERT_EQ(S_OK, item->put_Value(array.Get()));
  element = 11;
  ASSERT_EQ(S_OK, SafeArrayPutElement(V_ARRAY(array.AddressOf()), &at, &element));
  read = ValueOf(item.Get());
  ASSERT_EQ(VT_ARRAY | VT_I4, read.Type());
  EXPECT_NE(V_ARRAY(array.AddressOf()), V_ARRAY(read.AddressOf()));
  LONG stored = 0;
  ASSERT_EQ(S_OK, SafeArrayGetElement(V_ARRAY(read.AddressOf()), &at, &stored));
  EXPECT_EQ(10, stored);

  // get_Value frees what the out-variant held before.
  UniqueVariant reused = VarText(L"old");
  EXPECT_EQ(S_OK, item->get_Value(reused.AddressOf()));
  EXPECT_EQ(VT_ARRAY | VT_I4, reused.Type());

  // Objects keep their identity; the member holds a reference until it lets the value go.
  Probe probe;
  {
    auto object = VarObject(&probe);
    ASSERT_EQ(S_OK, item->put_Value(object.Get()));
    read = ValueOf(item.Get());
    ASSERT_EQ(VT_DISPATCH, read.Type());
    EXPECT_EQ(static_cast<IDispatch*>(&probe), V_DISPATCH(read.AddressOf()));
  }
  read.Reset();
  EXPECT_EQ(2, probe.refs);
  ASSERT_EQ(S_OK, item->put_Value(VarI4(3).Get()));
  EXPECT_EQ(1, probe.refs);
  EXPECT_EQ(3, V_I4(ValueOf(item.Get()).AddressOf()));
}

TEST_F(NamedValueTest, ParentLinkFollowsMembership) {
  auto nv = NewNamedValues();
  auto detached = Add(nv.Get(), L"detached");
  auto removed = Add(nv.Get(), L"removed");
  auto cleared = Add(nv.Get(), L"cleared");
  EXPECT_EQ(Identity(nv).Get(), ParentOf(detached.Get()).Get());
  ComPtr<_NamedValues> parent;
  ASSERT_EQ(S_OK, detached->get_Parent(parent.Put()));
  EXPECT_TRUE(parent.TryQuery<INamedValues2>());
  parent.Reset();

  ASSERT_EQ(S_OK, detached->Detach());
  EXPECT_FALSE(ParentOf(detached.Get()));
  EXPECT_EQ(2, CountOf(nv.Get()));
  ASSERT_EQ(S_OK, nv->Remove(Bstr(L"removed").Get()));
  EXPECT_FALSE(ParentOf(removed.Get()));
  ASSERT_EQ(S_OK, nv->Clear());
  EXPECT_FALSE(ParentOf(cleared.Get()));

  // Members outlive their collection as orphans that keep name and value.
  auto survivor = Add(nv.Get(), L"survivor", 42);
  nv.Reset();
  EXPECT_FALSE(ParentOf(survivor.Get()));
  EXPECT_EQ(L"survivor", NameOf(survivor.Get()));
  EXPECT_EQ(42, V_I4(ValueOf(survivor.Get()).AddressOf()));
  EXPECT_EQ(S_OK, survivor->put_Value(VarI4(43).Get()));
  EXPECT_EQ(S_OK, survivor->Detach());
  EXPECT_EQ(S_OK, survivor->Rename(Bstr(L"free").Get()));
  EXPECT_EQ(L"free", NameOf(survivor.Get()));
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());  // the orphans keep the module loaded
}

TEST_F(NamedValueTest, DetachLeavesAnOrphanWithNameAndValue) {
  auto nv = NewNamedValues();
  Add(nv.Get(), L"a");
  auto item = Add(nv.Get(), L"b", 7);
  Add(nv.Get(), L"c");
  ASSERT_EQ(S_OK, item->Detach());
  EXPECT_EQ(2, CountOf(nv.Get()));
  EXPECT_EQ(L"b", NameOf(item.Get()));
  EXPECT_EQ(7, V_I4(ValueOf(item.Get()).AddressOf()));
  EXPECT_EQ(S_OK, item->Detach());  // an orphan has nothing to leave
  EXPECT_EQ(2, CountOf(nv.Get()));
  auto index = VarText(L"b");
  ComPtr<NamedValue> found;
  EXPECT_EQ(static_cast<HRESULT>(0x80040422), nv->get_Item(index.AddressOf(), found.Put()));
}

TEST_F(NamedValueTest, Rename) {
  auto nv = NewNamedValues();
  auto a = Add(nv.Get(), L"a");
  auto b = Add(nv.Get(), L"b");
  // Attached: the collection's rules apply, the name stays on refusal.
  EXPECT_TRUE(Fails(kDuplicate, a->Rename(Bstr(L"B").Get()), L"Cannot add duplicate name to the collection: B"));
  EXPECT_EQ(L"a", NameOf(a.Get()));
  EXPECT_EQ(S_OK, a->Rename(Bstr(L"c").Get()));
  auto index = VarI4(2);
  ComPtr<NamedValue> second;
  ASSERT_EQ(S_OK, nv->get_Item(index.AddressOf(), second.Put()));
  EXPECT_EQ(L"c", NameOf(second.Get()));
  EXPECT_EQ(S_OK, b->Rename(Bstr(L"B").Get()));
  EXPECT_EQ(L"B", NameOf(b.Get()));
  // An orphan takes any name as given: no trimming, no checks.
  ASSERT_EQ(S_OK, a->Detach());
  for (const wchar_t* name : {L"  spaced  ", L"B", L""}) {
    EXPECT_EQ(S_OK, a->Rename(Bstr(name).Get()));
    EXPECT_EQ(name, NameOf(a.Get()));
  }
  EXPECT_EQ(S_OK, a->Rename(nullptr));
  EXPECT_EQ(L"<null>", NameOf(a.Get()));
}

TEST_F(NamedValueTest, SlimFastAndRefreshForwardToTheValue) {
  auto nv = NewNamedValues();
  Probe probe;
  {
    for (VARTYPE type : {VARTYPE{VT_DISPATCH}, VARTYPE{VT_UNKNOWN}}) {
      SCOPED_TRACE(type);
      auto item = Add(nv.Get(), L"p" + std::to_wstring(type), VarObject(&probe, type).Get());
      auto slim = item.TryQuery<ISlimFast>();
      auto refresh = item.TryQuery<IRefresh>();
      ASSERT_TRUE(slim && refresh);
      const int slimBefore = probe.slimFastCalls, refreshBefore = probe.refreshCalls;
      EXPECT_EQ(S_OK, slim->SlimFast(17));
      EXPECT_EQ(S_OK, refresh->Refresh());
      EXPECT_EQ(slimBefore + 1, probe.slimFastCalls);
      EXPECT_EQ(17, probe.lastReserved);
      EXPECT_EQ(refreshBefore + 1, probe.refreshCalls);
    }
    // The value's failure does not become the member's.
    auto item = Add(nv.Get(), L"failing", VarObject(&probe).Get());
    probe.answer = E_FAIL;
    EXPECT_EQ(S_OK, item.TryQuery<ISlimFast>()->SlimFast(0));
    EXPECT_EQ(S_OK, item.TryQuery<IRefresh>()->Refresh());
    EXPECT_EQ(3, probe.slimFastCalls);
    // An object that answers neither is left alone.
    probe.slimFast = probe.refresh = false;
    EXPECT_EQ(S_OK, item.TryQuery<ISlimFast>()->SlimFast(0));
    EXPECT_EQ(S_OK, item.TryQuery<IRefresh>()->Refresh());
    EXPECT_EQ(3, probe.slimFastCalls);
    EXPECT_EQ(3, probe.refreshCalls);
  }
  // Values that are not objects.
  for (const auto& value : {VarI4(5), VarText(L"x"), UniqueVariant(), VarObject(nullptr)}) {
    auto item = Add(nv.Get(), L"plain" + std::to_wstring(CountOf(nv.Get())), value.Get());
    EXPECT_EQ(S_OK, item.TryQuery<ISlimFast>()->SlimFast(0));
    EXPECT_EQ(S_OK, item.TryQuery<IRefresh>()->Refresh());
  }
  nv.Reset();
  EXPECT_EQ(1, probe.refs);
}

TEST_F(NamedValueTest, NullOutPointers) {
  auto nv = NewNamedValues();
  auto item = Add(nv.Get(), L"a");
  const std::pair<const char*, std::function<HRESULT()>> calls[] = {
      {"Name", [&] { return item->get_Name(nullptr); }},
      {"Value", [&] { return item->get_Value(nullptr); }},
      {"Parent", [&] { return item->get_Parent(nullptr); }},
  };
  for (const auto& [label, call] : calls) {
    SCOPED_TRACE(label);
    EXPECT_TRUE(Fails(E_POINTER, call()));
  }
}

TEST_F(NamedValueTest, InterfacesAndErrorInfoSupport) {
  auto nv = NewNamedValues();
  auto item = Add(nv.Get(), L"a");
  auto identity = Identity(item);
  const IID answered[] = {__uuidof(NamedValue), __uuidof(INamedValue2), __uuidof(ISlimFast),
                          __uuidof(IRefresh),   IID_IDispatch,          IID_ISupportErrorInfo};
  for (const IID& iid : answered) {
    ComPtr<IUnknown> asked;
    ASSERT_EQ(S_OK, item->QueryInterface(iid, asked.PutVoid()));
    EXPECT_EQ(identity.Get(), asked.TryQuery<IUnknown>().Get());
    EXPECT_TRUE(asked.TryQuery<INamedValue2>());
  }
  for (const IID& iid : {__uuidof(_NamedValues), __uuidof(INamedValues2), __uuidof(ITraverse), __uuidof(INameResolver),
                         __uuidof(_EnumNamedValue)}) {
    ComPtr<IUnknown> asked;
    EXPECT_EQ(E_NOINTERFACE, item->QueryInterface(iid, asked.PutVoid()));
  }
  auto support = item.TryQuery<ISupportErrorInfo>();
  ASSERT_TRUE(support);
  for (const IID& iid : answered) {
    const bool described = iid != IID_IDispatch && iid != IID_ISupportErrorInfo;
    EXPECT_EQ(described ? S_OK : S_FALSE, support->InterfaceSupportsErrorInfo(iid));
  }
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(__uuidof(_NamedValues)));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IUnknown));

  // The member enumerator answers only its own interface and ISupportErrorInfo.
  ComPtr<_EnumNamedValue> members;
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  auto enumIdentity = Identity(members);
  for (const IID& iid : {__uuidof(_EnumNamedValue), IID_ISupportErrorInfo}) {
    ComPtr<IUnknown> asked;
    ASSERT_EQ(S_OK, members->QueryInterface(iid, asked.PutVoid()));
    EXPECT_EQ(enumIdentity.Get(), asked.TryQuery<IUnknown>().Get());
  }
  for (const IID& iid : {IID_IDispatch, IID_IEnumVARIANT, __uuidof(NamedValue)}) {
    ComPtr<IUnknown> asked;
    EXPECT_EQ(E_NOINTERFACE, members->QueryInterface(iid, asked.PutVoid()));
  }
  auto enumSupport = members.TryQuery<ISupportErrorInfo>();
  ASSERT_TRUE(enumSupport);
  EXPECT_EQ(S_OK, enumSupport->InterfaceSupportsErrorInfo(__uuidof(_EnumNamedValue)));
  for (const IID& iid : {IID_IUnknown, IID_ISupportErrorInfo, __uuidof(NamedValue), IID_IEnumVARIANT}) {
    EXPECT_EQ(S_FALSE, enumSupport->InterfaceSupportsErrorInfo(iid));
  }
}

TEST_F(NamedValueTest, MemberEnumerator) {
  auto nv = NewNamedValues();
  for (const wchar_t* name : {L"c", L"a", L"b"}) Add(nv.Get(), name);
  ComPtr<_EnumNamedValue> members;
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  // A snapshot: later changes do not reach it, and its members stay usable.
  ASSERT_EQ(S_OK, nv->Remove(Bstr(L"a").Get()));
  Add(nv.Get(), L"0");
  ComPtr<NamedValue> member;
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(L"a", NameOf(member.Get()));
  EXPECT_EQ(S_OK, members->Next(nullptr));  // skips "b"
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(L"c", NameOf(member.Get()));
  for (int i = 0; i < 3; ++i) {
    NamedValue* past = reinterpret_cast<NamedValue*>(1);
    EXPECT_EQ(S_FALSE, members->Next(&past));
    EXPECT_EQ(nullptr, past);
    EXPECT_EQ(S_FALSE, members->Next(nullptr));
  }
  // Unsorted, it follows insertion order; an empty collection gives an exhausted one.
  ASSERT_EQ(S_OK, nv->put_Sorted(VARIANT_FALSE));
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  std::vector<std::wstring> names;
  while (members->Next(member.Put()) == S_OK) names.push_back(NameOf(member.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"c", L"b", L"0"}), names);
  auto empty = NewNamedValues();
  ASSERT_EQ(S_OK, empty->get__MemberEnum(members.Put()));
  EXPECT_EQ(S_FALSE, members->Next(member.Put()));
  EXPECT_FALSE(member);
}

TEST_F(NamedValueTest, CallsThroughDispatch) {
  auto nv = NewNamedValues();
  auto item = Add(nv.Get(), L"n", 1);
  Add(nv.Get(), L"taken");
  ComPtr<IDispatch> dispatch = item.TryQuery<IDispatch>();
  ASSERT_TRUE(dispatch);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()));
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
  EXPECT_EQ(__uuidof(INamedValue2), attributes->guid);
  info->ReleaseTypeAttr(attributes);

  UniqueVariant result;
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Name", DISPATCH_PROPERTYGET, {}, result.Put()));
  EXPECT_EQ(L"n", Text(V_BSTR(result.AddressOf())));
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Value", DISPATCH_PROPERTYGET, {}, result.Put()));
  EXPECT_EQ(1, V_I4(result.AddressOf()));
  auto text = VarText(L"two");
  ASSERT_EQ(S_OK, InvokeId(dispatch.Get(), DISPID_VALUE, DISPATCH_PROPERTYPUT, {text.Get()}, nullptr));
  EXPECT_EQ(L"two", Text(V_BSTR(ValueOf(item.Get()).AddressOf())));
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Parent", DISPATCH_PROPERTYGET, {}, result.Put()));
  ASSERT_EQ(VT_DISPATCH, result.Type());
  ComPtr<IUnknown> parent;
  ASSERT_EQ(S_OK, V_DISPATCH(result.AddressOf())->QueryInterface(IID_IUnknown, parent.PutVoid()));
  EXPECT_EQ(Identity(nv).Get(), parent.Get());

  auto taken = VarText(L"TAKEN");
  std::wstring description;
  EXPECT_EQ(DISP_E_EXCEPTION,
            InvokeByName(dispatch.Get(), L"Rename", DISPATCH_METHOD, {taken.Get()}, result.Put(), &description));
  EXPECT_EQ(L"Cannot add duplicate name to the collection: TAKEN", description);
  auto fresh = VarText(L"m");
  EXPECT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Rename", DISPATCH_METHOD, {fresh.Get()}, result.Put()));
  EXPECT_EQ(L"m", NameOf(item.Get()));
  EXPECT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Detach", DISPATCH_METHOD, {}, result.Put()));
  EXPECT_EQ(1, CountOf(nv.Get()));
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Parent", DISPATCH_PROPERTYGET, {}, result.Put()));
  EXPECT_TRUE(result.Type() == VT_DISPATCH && !V_DISPATCH(result.AddressOf()));

  // Frozen parent: the value put fails with the access code.
  auto other = Add(nv.Get(), L"o");
  ASSERT_EQ(S_OK, nv->Freeze());
  ComPtr<IDispatch> otherDispatch = other.TryQuery<IDispatch>();
  EXPECT_EQ(DISP_E_EXCEPTION, InvokeId(otherDispatch.Get(), DISPID_VALUE, DISPATCH_PROPERTYPUT, {text.Get()}, nullptr));
}

}  // namespace
}  // namespace qx::test
