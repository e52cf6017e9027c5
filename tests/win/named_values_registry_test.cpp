// NamedValues and the registry: LoadFromRegistry and DumpToRegistry against keys under
// HKCU\Software\QXSDKCommonTests, written and read back with the raw registry API.
#include <string>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kOpeningKey = static_cast<HRESULT>(0x800404A2);
constexpr HRESULT kUnknownType = static_cast<HRESULT>(0x80040481);
constexpr HRESULT kUnsupportedType = static_cast<HRESULT>(0x80040482);
const std::wstring kBase = L"Software\\QXSDKCommonTests\\NamedValuesRegistry";

void SetRaw(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data, size));
}
// How many values a key holds, or -1 when it is missing.
int ValueCount(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
  DWORD values = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  return static_cast<int>(values);
}
// Removes the test key with everything under it (the tree call alone may leave the key itself).
void DeleteBase() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kBase.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, kBase.c_str());
}
std::wstring SystemText(DWORD code) {
  wchar_t text[512] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 512, nullptr);
  const std::wstring result = text;
  return result.substr(0, result.find_last_not_of(L"\r\n") + 1);
}
// A member's value as "<vartype>:<value>"; a nested collection as "nv:" and its members in order.
std::wstring Render(INamedValues2* nv, const std::wstring& name) {
  ComPtr<NamedValue> member;
  EXPECT_EQ(S_OK, nv->get_Item(VarText(name).AddressOf(), member.Put()));
  if (!member) return L"<missing>";
  UniqueVariant value;
  EXPECT_EQ(S_OK, member->get_Value(value.Put()));
  const VARIANT& v = value.Get();
  switch (V_VT(&v)) {
    case VT_BSTR:
      return L"bstr:" + Text(V_BSTR(&v));
    case VT_I4:
      return L"i4:" + std::to_wstring(V_I4(&v));
    case VT_ERROR:
      return V_ERROR(&v) == kUnknownType       ? L"error:unknown type"
             : V_ERROR(&v) == kUnsupportedType ? L"error:unsupported type"
                                               : L"error:other";
    case VT_DISPATCH: {
      auto nested = As<INamedValues2>(V_DISPATCH(&v));
      std::wstring text = L"nv:";
      for (const auto& inner : Names(nested.Get())) text += L"[" + inner + L"=" + Render(nested.Get(), inner) + L"]";
      return text;
    }
    default:
      return L"vt " + std::to_wstring(V_VT(&v));
  }
}

class NamedValuesRegistry : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    DeleteBase();
  }
  void TearDown() override {
    DeleteBase();
    LeakCheckedTest::TearDown();
  }
  HRESULT Load(INamedValues2* nv, const std::wstring& path, int options = 0) {
    return nv->LoadFromRegistry(qxnvHKEY_CURRENT_USER, Bstr(path).Get(), static_cast<qxnvRegistryOptions>(options));
  }
  HRESULT Dump(INamedValues2* nv, const std::wstring& path, int options = 0) {
    return nv->DumpToRegistry(qxnvHKEY_CURRENT_USER, Bstr(path).Get(), static_cast<qxnvRegistryOptions>(options));
  }
};

// Guards the type mapping (DWORD sign, expanded strings, empty data, types without a value form),
// the default value's empty name, trimming that replaces a member, subkeys only on request, and
// which failing value the load reports.
TEST_F(NamedValuesRegistry, LoadReadsEveryTypeAndSubkeysOnRequest) {
  const ULONGLONG big = 0x100000000ull;
  const DWORD minusFive = 0xFFFFFFFB, three = 3;
  const BYTE bytes[] = {1, 2, 3};
  const wchar_t multi[] = L"a\0b\0";
  ASSERT_TRUE(SetEnvironmentVariableW(L"QX_REGISTRY_TEST_DIR", L"C:\\qx"));
  SetRaw(kBase, L"a_qword", REG_QWORD, &big, sizeof big);
  SetRaw(kBase, L"empty", REG_SZ, nullptr, 0);
  SetRaw(kBase, L"number", REG_DWORD, &minusFive, 4);
  SetRaw(kBase, L"nodword", REG_DWORD, nullptr, 0);
  SetRaw(kBase, L"", REG_SZ, L"default", sizeof L"default");
  SetRaw(kBase, L"expand", REG_EXPAND_SZ, L"%QX_REGISTRY_TEST_DIR%\\a", sizeof L"%QX_REGISTRY_TEST_DIR%\\a");
  SetRaw(kBase, L"binary", REG_BINARY, bytes, sizeof bytes);
  SetRaw(kBase, L"multi", REG_MULTI_SZ, multi, sizeof multi);
  SetRaw(kBase, L" Count ", REG_SZ, L"x", sizeof L"x");
  SetRaw(kBase + L"\\Child", L"inner", REG_DWORD, &three, 4);
  SetRaw(kBase + L"\\Child\\Grand", L"deep", REG_SZ, L"end", sizeof L"end");
  const std::pair<const wchar_t*, std::wstring> expected[] = {
      {L"empty", L"bstr:"},
      {L"number", L"i4:-5"},
      {L"nodword", L"i4:0"},
      {L"", L"bstr:default"},  // the key's default value: the empty (not null) name
      {L"expand", L"bstr:C:\\qx\\a"},
      {L"binary", L"error:unsupported type"},
      {L"multi", L"error:unsupported type"},
      {L"a_qword", L"error:unknown type"},
      {L"count", L"bstr:x"},  // trimmed; it replaced the member there before
  };
  for (const bool subkeys : {false, true}) {
    SCOPED_TRACE(subkeys ? "with subkeys" : "without subkeys");
    auto nv = NewNamedValues();
    ASSERT_EQ(S_OK, nv->Add(Bstr(L"count").Get(), VarI4(1).AddressOf(), nullptr));
    // Values are read from the last index to the first: the QWORD, first by name and by creation,
    // is met last, and its failure is the one returned.
    EXPECT_TRUE(Fails(kUnknownType, Load(nv.Get(), kBase, subkeys ? qxnvIncludeSubkeys : 0),
                      L"Registry data-type indicator was not recognized."));
    for (const auto& [name, value] : expected) EXPECT_EQ(value, Render(nv.Get(), name)) << testing::PrintToString(name);
    EXPECT_EQ(subkeys ? 10 : 9, CountOf(nv.Get()));
    if (subkeys) EXPECT_EQ(L"nv:[Grand=nv:[deep=bstr:end]][inner=i4:3]", Render(nv.Get(), L"Child"));
  }
  SetEnvironmentVariableW(L"QX_REGISTRY_TEST_DIR", nullptr);
}

// Guards text through the ANSI code page and back, and an object value left out without a subkey.
TEST_F(NamedValuesRegistry, DumpLeavesObjectsOutAndLoadsBack) {
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(L"text=caf\u00e9").Get()));
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"number").Get(), VarI4(-2).AddressOf(), nullptr));
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"nested").Get(), VarObject(NewNamedValues().Get()).AddressOf(), nullptr));
  ASSERT_EQ(S_OK, Dump(nv.Get(), kBase));
  EXPECT_EQ(-1, ValueCount(kBase + L"\\nested"));
  auto back = NewNamedValues();
  ASSERT_EQ(S_OK, Load(back.Get(), kBase));
  EXPECT_EQ(2, CountOf(back.Get()));
  EXPECT_EQ(L"bstr:caf\u00e9", Render(back.Get(), L"text"));
  EXPECT_EQ(L"i4:-2", Render(back.Get(), L"number"));
}

// Guards the dump's refusals leaving the registry as it was: no key made, no value written.
TEST_F(NamedValuesRegistry, DumpRefusalsWriteNothing) {
  const std::wstring missing = kBase + L"\\Missing";
  const DWORD one = 1;
  SetRaw(kBase, L"x", REG_DWORD, &one, 4);
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"y").Get(), VarI4(2).AddressOf(), nullptr));
  EXPECT_TRUE(Fails(kOpeningKey, Dump(nv.Get(), missing, qxnvDoNotCreate),
                    L"Error opening registry key. " + SystemText(ERROR_FILE_NOT_FOUND) + missing));
  EXPECT_EQ(-1, ValueCount(missing));
  EXPECT_TRUE(Fails(static_cast<HRESULT>(0x800404A3), Dump(nv.Get(), kBase, qxnvKeyMustNotExist),
                    L"Registry key already exists. " + kBase));
  EXPECT_EQ(1, ValueCount(kBase));
}

}  // namespace
}  // namespace qx::test
