// MTNVS bulk members: what differs from NamedValues (frozen results, report codes, the registry
// load's lenient result), a registry round trip, and a clone.
#include "mtnvs_support.h"

namespace qx::test {
namespace {

using MTNVSBulkTest = LeakCheckedTest;

const wchar_t kKey[] = L"Software\\QXSDKCommonTests\\MTNVS";
constexpr auto kHkcu = qxnvHKEY_CURRENT_USER;

void DeleteTestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

TEST_F(MTNVSBulkTest, FailuresAndLenientResults) {
  DeleteTestKey();
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  const BYTE bytes[] = {1, 2};
  RegSetValueExW(key, L"bin", 0, REG_BINARY, bytes, sizeof bytes);
  RegCloseKey(key);
  const auto nested = [](_MTNVS* m) { return AddTo(m, L"nested", VarObject(NewMTNVS({L"x"}).Get())).hr; };
  CheckRows(
      {
          {"frozen string load", [](_MTNVS*, _MTNVS* f) { return f->MTLoadFromString(Bstr(L"c=3").Get()); },
           E_ACCESSDENIED, L"MTNVS error.  CMTNVS::MTLoadFromString"},
          {"frozen registry load",
           [](_MTNVS*, _MTNVS* f) { return f->MTLoadFromRegistry(kHkcu, Bstr(kKey).Get(), qxnvNoOptions); },
           E_ACCESSDENIED, L"MTNVS error.  CMTNVS::MTLoadFromRegistry"},
          {"dump null out", [](_MTNVS* m, _MTNVS*) { return m->MTDumpToString(nullptr); }, E_POINTER, L""},
          {"dump of a nested collection",
           [&](_MTNVS* m, _MTNVS*) {
             nested(m);
             UniqueBstr text;
             const HRESULT hr = m->MTDumpToString(text.Put());
             return text.IsNull() ? hr : E_UNEXPECTED;
           },
           DISP_E_TYPEMISMATCH, L"MTNVS error.  CMTNVS::MTDumpToString"},
          {"registry load options",
           [](_MTNVS* m, _MTNVS*) {
             return m->MTLoadFromRegistry(kHkcu, Bstr(kKey).Get(), static_cast<qxnvRegistryOptions>(3));
           },
           static_cast<HRESULT>(0x800404A1), L"Invalid option, or combination of options, for this operation."},
          {"registry load of REG_BINARY",
           [](_MTNVS* m, _MTNVS*) { return m->MTLoadFromRegistry(kHkcu, Bstr(kKey).Get(), qxnvNoOptions); }, S_OK,
           L"NamedValues cannot load this type of data from the Registry.3 (0x3)"},
          // A value without a registry form is skipped, and its failure returned.
          {"registry dump of a nested collection",
           [&](_MTNVS* m, _MTNVS*) {
             nested(m);
             return m->MTDumpToRegistry(kHkcu, Bstr(kKey).Get(), qxnvNoOptions);
           },
           DISP_E_TYPEMISMATCH, L"MTNVS error.  CMTNVS::MTDumpToRegistry"},
          {"frozen refresh", [](_MTNVS*, _MTNVS* f) { return ComPtr<_MTNVS>(f).TryQuery<IRefresh>()->Refresh(); },
           E_ACCESSDENIED, L"NAMEDVALUES error CMTNVS::Refresh"},
          {"resolve missing",
           [](_MTNVS* m, _MTNVS*) {
             UniqueVariant value;
             return ComPtr<_MTNVS>(m).TryQuery<INameResolver>()->Resolve(Bstr(L"zz").Get(), value.Put());
           },
           static_cast<HRESULT>(0x80040422), L"Name not found in collection: zz"},
      },
      false);

  DeleteTestKey();
}

TEST_F(MTNVSBulkTest, RegistryRoundTripKeepsNamesAndValues) {
  DeleteTestKey();
  const std::wstring key = kKey;
  auto m = NewMTNVS({L"b", L"a"});
  ASSERT_EQ(S_OK, m->MTLoadFromString(Bstr(L"text=hello; d=2.6").Get()));
  ASSERT_EQ(S_OK, ItemOf(m.Get(), VarText(L"d")).item->put_MTValue(VarR8(2.6).Get()));
  ASSERT_EQ(S_OK, m->MTDumpToRegistry(kHkcu, Bstr(key).Get(), qxnvNoOptions));
  ASSERT_EQ(S_OK, NewMTNVS({L"x"})->MTDumpToRegistry(kHkcu, Bstr(key + L"\\sub").Get(), qxnvNoOptions));

  auto back = NewMTNVS({});
  ASSERT_EQ(S_OK, back->MTLoadFromRegistry(kHkcu, Bstr(key).Get(), qxnvIncludeSubkeys));
  DeleteTestKey();
  const auto sub = ValueOf(ItemOf(back.Get(), VarText(L"sub")).item.Get());
  auto nested = ComPtr<IDispatch>(V_DISPATCH(&sub.Get())).TryQuery<_MTNVS>();
  ASSERT_TRUE(nested);
  UniqueBstr text;
  ASSERT_EQ(S_OK, nested->MTDumpToString(text.Put()));
  EXPECT_EQ(L"x=1", Text(text.Get()));
  ASSERT_EQ(S_OK, back->MTRemove(Bstr(L"sub").Get()));
  ASSERT_EQ(S_OK, back->MTDumpToString(text.Put()));
  EXPECT_EQ(L"a=2;b=1;d=3;text=hello", Text(text.Get()));
}

}  // namespace
}  // namespace qx::test
