// The dispatch fast paths of NamedValues and NamedValue must agree with the type information's
// Invoke: every call of the table goes through IDispatch::Invoke and through ITypeInfo::Invoke on
// a twin collection, and both must show the same HRESULT, result, EXCEPINFO, error object and
// collection afterwards.
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
enum Target { kCollection, kFrozen, kMember };  // the member is "alpha" of the collection

// A result as text: its type and value; a member by its name, an enumerator by what it yields.
std::wstring Describe(VARIANT& v) {
  std::wstring out = std::to_wstring(V_VT(&v)) + L":";
  if (V_VT(&v) == VT_DISPATCH || V_VT(&v) == VT_UNKNOWN) {
    if (As<NamedValue>(V_UNKNOWN(&v))) return out + L"member " + NameOf(V_UNKNOWN(&v));
    if (auto members = As<IEnumVARIANT>(V_UNKNOWN(&v))) {
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
  Target target;
  DISPID id;
  WORD flags;
  UniqueVariant args[2];  // in the order Invoke takes them (last first); empty ones are left out
};

// Everything one path of one call shows.
std::wstring Outcome(const Call& call, bool throughTypeInfo) {
  auto nv = NewNamedValues();
  EXPECT_EQ(S_OK, nv->LoadFromString(Bstr(L"alpha=1;Beta=two;7=7.5").Get()));
  if (call.target == kFrozen) {
    EXPECT_EQ(S_OK, nv->Freeze());
  }
  ComPtr<NamedValue> member;
  EXPECT_EQ(S_OK, nv->get_Item(VarText(L"alpha").AddressOf(), member.Put()));
  const auto target = As<IUnknown>(call.target == kMember ? static_cast<IUnknown*>(member.Get()) : nv.Get());
  std::vector<VARIANT> args;
  for (const auto& arg : call.args) {
    if (arg.Type() != VT_EMPTY) args.push_back(arg.Get());
  }
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  UniqueVariant result;
  EXCEPINFO exception{};
  UINT argError = 12345;
  HRESULT hr;
  if (throughTypeInfo) {
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(S_OK, As<IDispatch>(target.Get())->GetTypeInfo(0, 0, info.Put()));
    ComPtr<IUnknown> self;
    EXPECT_EQ(S_OK, target->QueryInterface(call.target == kMember ? __uuidof(INamedValue2) : __uuidof(INamedValues2),
                                           self.PutVoid()));
    WORD flags = call.flags;  // _NewEnum called as a method is served as the property, as Invoke does
    if (call.id == DISPID_NEWENUM && (flags & DISPATCH_METHOD)) flags |= DISPATCH_PROPERTYGET;
    hr = info->Invoke(self.Get(), call.id, flags, &params, result.AddressOf(), &exception, &argError);
  } else {
    hr = As<IDispatch>(target.Get())
             ->Invoke(call.id, IID_NULL, 0, call.flags, &params, result.AddressOf(), &exception, &argError);
  }
  std::wstring out = L"hr " + std::to_wstring(hr) + L" result " + Describe(*result.AddressOf()) + L" scode " +
                     std::to_wstring(exception.scode) + L" [" + Text(exception.bstrDescription) + L"] [" +
                     Text(exception.bstrSource) + L"] [" + Text(exception.bstrHelpFile) + L"] " +
                     std::to_wstring(exception.dwHelpContext) + L" wCode " + std::to_wstring(exception.wCode);
  if (FAILED(hr) && hr != DISP_E_EXCEPTION) out += L" argError " + std::to_wstring(argError);
  for (BSTR text : {exception.bstrDescription, exception.bstrSource, exception.bstrHelpFile}) SysFreeString(text);
  const ErrorState error = PeekError();
  UniqueBstr dump;
  const HRESULT dumped = nv->DumpToString(dump.Put());
  SetErrorInfo(0, nullptr);
  return out + L" error left " + (error.present ? error.description : L"-") + L" holds " + Text(dump.Get()) + L" (" +
         std::to_wstring(dumped) + L")";
}

class DispatchFastPathTest : public LeakCheckedTest {};

TEST_F(DispatchFastPathTest, AgreesWithTheTypeInformation) {
  // A variable passed by reference, as VBScript passes one; and an object argument.
  UniqueVariant beta = VarText(L"BETA");
  const auto byRef = [&] {
    return VarOf(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { V_VARIANTREF(&v) = beta.AddressOf(); });
  };
  auto object = NewNamedValues();
  const Call calls[] = {
      {"Item by name", kCollection, DISPID_VALUE, kGet, {VarText(L"alpha")}},
      {"Item, missing name", kCollection, DISPID_VALUE, kGet, {VarText(L"gamma")}},
      {"Item by I4 position", kCollection, DISPID_VALUE, kGet, {VarI4(3)}},
      {"Item by I2 position", kCollection, DISPID_VALUE, kGet, {VarOf(VT_I2, [](VARIANT& v) { V_I2(&v) = 1; })}},
      {"Item by R8 position", kCollection, DISPID_VALUE, kGet, {VarR8(2.4)}},
      {"Item, position out of range", kCollection, DISPID_VALUE, kGet, {VarI4(4)}},
      {"Item, variable by reference", kCollection, DISPID_VALUE, kGet, {byRef()}},
      {"Item, object index", kCollection, DISPID_VALUE, kGet, {VarObject(object.Get())}},
      {"Item put", kCollection, DISPID_VALUE, DISPATCH_PROPERTYPUT, {VarI4(1), VarText(L"alpha")}},
      {"Item with two indexes", kCollection, DISPID_VALUE, kGet, {VarI4(1), VarI4(1)}},
      {"Count", kCollection, 1, kGet, {}},
      {"Add", kCollection, 2, DISPATCH_METHOD, {VarI4(5), VarText(L"gamma")}},
      {"Add, text value by reference", kCollection, 2, DISPATCH_METHOD, {byRef(), VarText(L"g")}},
      {"Add, object value", kCollection, 2, DISPATCH_METHOD, {VarObject(object.Get()), VarText(L"o")}},
      {"Add, duplicate", kCollection, 2, DISPATCH_METHOD, {VarI4(5), VarText(L"ALPHA")}},
      {"Add, name that is a number", kCollection, 2, DISPATCH_METHOD, {VarI4(5), VarI4(9)}},
      {"Add, frozen", kFrozen, 2, DISPATCH_METHOD, {VarI4(5), VarText(L"gamma")}},
      {"_NewEnum", kCollection, DISPID_NEWENUM, DISPATCH_PROPERTYGET, {}},
      {"_NewEnum as a method", kCollection, DISPID_NEWENUM, DISPATCH_METHOD, {}},
      {"Value", kMember, DISPID_VALUE, kGet, {}},
      {"Value with an argument", kMember, DISPID_VALUE, kGet, {VarI4(1)}},
      {"Value put", kMember, DISPID_VALUE, DISPATCH_PROPERTYPUT, {VarI4(3)}},
      {"Name", kMember, 1, kGet, {}},
  };
  for (const Call& call : calls) EXPECT_EQ(Outcome(call, false), Outcome(call, true)) << call.what;
}

}  // namespace
}  // namespace qx::test
