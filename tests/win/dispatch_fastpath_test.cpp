// The dispatch fast paths of NamedValues and NamedValue against the type information's Invoke:
// every call of the table goes through IDispatch::Invoke and through ITypeInfo::Invoke on a twin
// collection, and both must agree on HRESULT, result, EXCEPINFO and what the collection holds
// afterwards. Also the remembered name look-ups.
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// A collection with members "alpha" = 1, "Beta" = "two", "7" = 7.5; frozen when asked.
ComPtr<INamedValues2> Sample(bool frozen) {
  ComPtr<INamedValues2> nv = NewNamedValues();
  const std::pair<const wchar_t*, UniqueVariant> members[] = {
      {L"alpha", VarI4(1)}, {L"Beta", VarText(L"two")}, {L"7", VarR8(7.5)}};
  for (const auto& [name, value] : members) {
    EXPECT_EQ(S_OK, nv->Add(Bstr(name).Get(), const_cast<VARIANT*>(&value.Get()), nullptr));
  }
  if (frozen) {
    EXPECT_EQ(S_OK, nv->Freeze());
  }
  return nv;
}

// A result as text: its type and value; a member by its name, an enumerator by what it yields.
std::wstring Describe(VARIANT& v) {
  std::wstring out = std::to_wstring(V_VT(&v)) + L":";
  if (V_VT(&v) == VT_DISPATCH || V_VT(&v) == VT_UNKNOWN) {
    if (ComPtr<NamedValue> member = ComPtr<IUnknown>(V_UNKNOWN(&v)).TryQuery<NamedValue>()) {
      UniqueBstr name;
      EXPECT_EQ(S_OK, member->get_Name(name.Put()));
      return out + L"member " + Text(name.Get());
    }
    if (ComPtr<IEnumVARIANT> members = ComPtr<IUnknown>(V_UNKNOWN(&v)).TryQuery<IEnumVARIANT>()) {
      UniqueVariant element;
      while (members->Next(1, element.Put(), nullptr) == S_OK) out += Describe(*element.AddressOf()) + L";";
      return out;
    }
  }
  UniqueVariant text;
  if (SUCCEEDED(VariantChangeType(text.AddressOf(), &v, 0, VT_BSTR))) out += Text(V_BSTR(&text.Get()));
  return out;
}

struct Call {
  const char* what;
  bool onMember;  // the call goes to member "alpha" instead of the collection
  bool frozen;
  DISPID id;
  WORD flags;
  std::function<std::vector<UniqueVariant>()> args;  // in the order Invoke takes them (last first)
};

// Everything one path of one call shows: HRESULT, result, EXCEPINFO, the collection after it.
std::wstring Outcome(const Call& call, bool throughTypeInfo) {
  ComPtr<INamedValues2> nv = Sample(call.frozen);
  ComPtr<IDispatch> target = nv.TryQuery<IDispatch>();
  if (call.onMember) {
    ComPtr<NamedValue> member;
    UniqueVariant key = VarText(L"alpha");
    EXPECT_EQ(S_OK, nv->get_Item(key.AddressOf(), member.Put()));
    target = member.TryQuery<IDispatch>();
  }
  std::vector<UniqueVariant> args = call.args();
  std::vector<VARIANT> raw;
  for (auto& arg : args) raw.push_back(arg.Get());
  DISPPARAMS params{raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
  UniqueVariant result;
  EXCEPINFO exception{};
  UINT argError = 12345;
  HRESULT hr;
  if (throughTypeInfo) {
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(S_OK, target->GetTypeInfo(0, 0, info.Put()));
    ComPtr<IUnknown> self;
    EXPECT_EQ(S_OK, target->QueryInterface(call.onMember ? __uuidof(INamedValue2) : __uuidof(INamedValues2),
                                           self.PutVoid()));
    WORD flags = call.flags;
    if (call.id == DISPID_NEWENUM && (flags & DISPATCH_METHOD)) flags |= DISPATCH_PROPERTYGET;
    hr = info->Invoke(self.Get(), call.id, flags, &params, result.AddressOf(), &exception, &argError);
  } else {
    hr = target->Invoke(call.id, IID_NULL, 0, call.flags, &params, result.AddressOf(), &exception, &argError);
  }
  std::wstring out = L"hr " + std::to_wstring(hr) + L" result " + Describe(*result.AddressOf()) + L" scode " +
                     std::to_wstring(exception.scode) + L" [" + Text(exception.bstrDescription) + L"] [" +
                     Text(exception.bstrSource) + L"] [" + Text(exception.bstrHelpFile) + L"] " +
                     std::to_wstring(exception.dwHelpContext) + L" wCode " + std::to_wstring(exception.wCode);
  if (FAILED(hr) && hr != DISP_E_EXCEPTION) out += L" argError " + std::to_wstring(argError);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrHelpFile);
  const ErrorState error = PeekError();
  UniqueBstr dump;
  const HRESULT dumped = nv->DumpToString(dump.Put());
  SetErrorInfo(0, nullptr);
  return out + L" error left " + (error.present ? error.description : L"-") + L" holds " + Text(dump.Get()) +
         L" (" + std::to_wstring(dumped) + L")";
}

std::vector<UniqueVariant> Args() { return {}; }
template <class... More>
std::vector<UniqueVariant> Args(UniqueVariant first, More... more) {
  std::vector<UniqueVariant> out;
  out.push_back(std::move(first));
  (out.push_back(std::move(more)), ...);
  return out;
}
class DispatchFastPathTest : public LeakCheckedTest {};

TEST_F(DispatchFastPathTest, AgreesWithTheTypeInformation) {
  // A variable passed by reference, as VBScript passes one; and an object argument.
  UniqueVariant beta = VarText(L"BETA");
  const auto byRef = [&](VARIANT& v) { V_VARIANTREF(&v) = beta.AddressOf(); };
  ComPtr<IDispatch> object = NewNamedValues().TryQuery<IDispatch>();
  const auto counted = [&](VARIANT& v) { object.CopyTo(&V_DISPATCH(&v)); };
  const Call calls[] = {
      {"Item by name", false, false, DISPID_VALUE, kGet, [] { return Args(VarText(L"alpha")); }},
      {"Item by name, other case", false, false, DISPID_VALUE, DISPATCH_PROPERTYGET, [] { return Args(VarText(L"ALPHA")); }},
      {"Item, missing name", false, false, DISPID_VALUE, kGet, [] { return Args(VarText(L"gamma")); }},
      {"Item, name that reads as a position", false, false, DISPID_VALUE, kGet, [] { return Args(VarText(L"2")); }},
      {"Item, name that is a number", false, false, DISPID_VALUE, kGet, [] { return Args(VarText(L"7")); }},
      {"Item by I4 position", false, false, DISPID_VALUE, kGet, [] { return Args(VarI4(3)); }},
      {"Item by I2 position", false, false, DISPID_VALUE, kGet, [] { return Args(VarOf(VT_I2, [](VARIANT& v) { V_I2(&v) = 1; })); }},
      {"Item by R8 position", false, false, DISPID_VALUE, kGet, [] { return Args(VarR8(2.4)); }},
      {"Item, position out of range", false, false, DISPID_VALUE, kGet, [] { return Args(VarI4(4)); }},
      {"Item, variable by reference", false, false, DISPID_VALUE, kGet, [&] { return Args(VarOf(VT_BYREF | VT_VARIANT, byRef)); }},
      {"Item, object index", false, false, DISPID_VALUE, kGet, [&] { return Args(VarOf(VT_DISPATCH, counted)); }},
      {"Item as a method only", false, false, DISPID_VALUE, DISPATCH_METHOD, [] { return Args(VarText(L"alpha")); }},
      {"Item put", false, false, DISPID_VALUE, DISPATCH_PROPERTYPUT, [] { return Args(VarI4(1), VarText(L"alpha")); }},
      {"Item without index", false, false, DISPID_VALUE, kGet, [] { return Args(); }},
      {"Item with two indexes", false, false, DISPID_VALUE, kGet, [] { return Args(VarI4(1), VarI4(1)); }},
      {"Count", false, false, 1, kGet, [] { return Args(); }},
      {"Count with an argument", false, false, 1, kGet, [] { return Args(VarI4(1)); }},
      {"Add", false, false, 2, DISPATCH_METHOD, [] { return Args(VarI4(5), VarText(L"gamma")); }},
      {"Add, text value by reference", false, false, 2, DISPATCH_METHOD, [&] { return Args(VarOf(VT_BYREF | VT_VARIANT, byRef), VarText(L"g")); }},
      {"Add, object value", false, false, 2, DISPATCH_METHOD, [&] { return Args(VarOf(VT_DISPATCH, counted), VarText(L"o")); }},
      {"Add, duplicate", false, false, 2, DISPATCH_METHOD, [] { return Args(VarI4(5), VarText(L"ALPHA")); }},
      {"Add, name that is a number", false, false, 2, DISPATCH_METHOD, [] { return Args(VarI4(5), VarI4(9)); }},
      {"Add, frozen", false, true, 2, DISPATCH_METHOD, [] { return Args(VarI4(5), VarText(L"gamma")); }},
      {"Add without value", false, false, 2, DISPATCH_METHOD, [] { return Args(VarText(L"gamma")); }},
      {"_NewEnum", false, false, DISPID_NEWENUM, DISPATCH_PROPERTYGET, [] { return Args(); }},
      {"_NewEnum as a method", false, false, DISPID_NEWENUM, DISPATCH_METHOD, [] { return Args(); }},
      {"Value", true, false, DISPID_VALUE, kGet, [] { return Args(); }},
      {"Value as a property only", true, false, DISPID_VALUE, DISPATCH_PROPERTYGET, [] { return Args(); }},
      {"Value with an argument", true, false, DISPID_VALUE, kGet, [] { return Args(VarI4(1)); }},
      {"Value put", true, false, DISPID_VALUE, DISPATCH_PROPERTYPUT, [] { return Args(VarI4(3)); }},
      {"Name", true, false, 1, kGet, [] { return Args(); }},
  };
  for (const Call& call : calls) {
    const std::wstring fast = Outcome(call, false);
    EXPECT_EQ(fast, Outcome(call, true)) << call.what;
  }
}

TEST_F(DispatchFastPathTest, NamesLookedUpOnceAnswerAsTheTypeInformation) {
  ComPtr<IDispatch> nv = NewNamedValues().TryQuery<IDispatch>();
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, nv->GetTypeInfo(0, 0, info.Put()));
  for (const wchar_t* name : {L"Item", L"item", L"ITEM", L"Count", L"Add", L"_NewEnum", L"Nothing", L""}) {
    for (int round = 0; round < 2; ++round) {
      LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
      DISPID cached = 12345, direct = 12345;
      const HRESULT hr = nv->GetIDsOfNames(IID_NULL, names, 1, 0, &cached);
      EXPECT_EQ(info->GetIDsOfNames(names, 1, &direct), hr) << name;
      EXPECT_EQ(direct, cached) << name;
    }
  }
}

}  // namespace
}  // namespace qx::test
