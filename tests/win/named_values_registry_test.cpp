// NamedValues and the registry: LoadFromRegistry and DumpToRegistry against keys under
// HKCU\Software\QXSDKCommonTests, written and read back with the raw registry API.
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kInvalidOptions = static_cast<HRESULT>(0x800404A1);
constexpr HRESULT kOpeningKey = static_cast<HRESULT>(0x800404A2);
constexpr HRESULT kUnknownType = static_cast<HRESULT>(0x80040481);
constexpr HRESULT kUnsupportedType = static_cast<HRESULT>(0x80040482);
const std::wstring kInvalidOptionsText = L"Invalid option, or combination of options, for this operation.";
const std::wstring kUnsupportedTypeText = L"NamedValues cannot load this type of data from the Registry.";
const std::wstring kBase = L"Software\\QXSDKCommonTests\\NamedValuesRegistry";

void SetRaw(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
  RegCloseKey(key);
}
void SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  SetRaw(path, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
void SetDword(const std::wstring& path, const wchar_t* name, DWORD value) { SetRaw(path, name, REG_DWORD, &value, 4); }
// A registry value as "<type>:<text or number>", or "<missing>".
std::wstring ReadRaw(const std::wstring& path, const wchar_t* name) {
  DWORD type = 0, size = 0;
  std::vector<BYTE> data(1024);
  size = static_cast<DWORD>(data.size());
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  if (type == REG_DWORD) return L"dword:" + std::to_wstring(*reinterpret_cast<const LONG*>(data.data()));
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return (type == REG_SZ ? L"sz:" : L"type " + std::to_wstring(type) + L":") + text;
}
// Facts of a key: its class, and how many values it holds ("<no key>" when missing).
std::wstring KeyFacts(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
  wchar_t keyClass[64] = {};
  DWORD length = 64, values = 0;
  RegQueryInfoKeyW(key, keyClass, &length, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  return std::wstring(keyClass, length) + L"/" + std::to_wstring(values);
}
// Removes the test key with everything under it (the tree call alone may leave the key itself).
void DeleteBase() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kBase.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, kBase.c_str());
}
std::wstring SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = buffer ? buffer : L"";
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return text;
}
// A member's value rendered as "<vartype>:<value>", or "<missing>"; a nested collection as
// "nv:" and its own members in name order.
std::wstring Render(INamedValues2* nv, const std::wstring& name) {
  auto index = VarText(name);
  ComPtr<NamedValue> member;
  if (FAILED(nv->get_Item(index.AddressOf(), member.Put()))) {
    SetErrorInfo(0, nullptr);
    return L"<missing>";
  }
  UniqueVariant value;
  EXPECT_EQ(S_OK, member->get_Value(value.Put()));
  const VARIANT& v = value.Get();
  switch (V_VT(&v)) {
    case VT_BSTR: return L"bstr:" + Text(V_BSTR(&v));
    case VT_I4: return L"i4:" + std::to_wstring(V_I4(&v));
    case VT_ERROR: return L"error:" + std::to_wstring(V_ERROR(&v) == kUnsupportedType ? 1 : V_ERROR(&v) == kUnknownType ? 2 : 0);
    case VT_DISPATCH: {
      auto nested = As<INamedValues2>(V_DISPATCH(&v));
      std::wstring text = L"nv:";
      for (const auto& inner : Names(nested.Get())) text += L"[" + inner + L"=" + Render(nested.Get(), inner) + L"]";
      return text;
    }
    default: return L"vt " + std::to_wstring(V_VT(&v));
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

TEST_F(NamedValuesRegistry, LoadReadsEveryTypeAndSubkeysOnRequest) {
  const BYTE bytes[] = {1, 2, 3};
  const wchar_t multi[] = L"a\0b\0";
  const ULONGLONG big = 0x100000000ull;
  ASSERT_TRUE(SetEnvironmentVariableW(L"QX_REGISTRY_TEST_DIR", L"C:\\qx"));
  SetRaw(kBase, L"a_qword", REG_QWORD, &big, sizeof big);
  SetText(kBase, L"text", L"hello world");
  SetRaw(kBase, L"empty", REG_SZ, nullptr, 0);
  SetDword(kBase, L"number", 0xFFFFFFFB);
  SetRaw(kBase, L"nodword", REG_DWORD, nullptr, 0);
  SetText(kBase, L"", L"default");
  SetText(kBase, L"expand", L"%QX_REGISTRY_TEST_DIR%\\a.ini", REG_EXPAND_SZ);
  SetText(kBase, L"plain", L"%QX_REGISTRY_TEST_DIR%");
  SetRaw(kBase, L"binary", REG_BINARY, bytes, sizeof bytes);
  SetRaw(kBase, L"multi", REG_MULTI_SZ, multi, sizeof multi);
  SetText(kBase, L" Count ", L"x");
  SetDword(kBase + L"\\Child", L"inner", 3);
  SetText(kBase + L"\\Child\\Grand", L"deep", L"bottom");
  const struct {
    const wchar_t* name;
    std::wstring value;  // rendered
  } expected[] = {
      {L"text", L"bstr:hello world"},
      {L"empty", L"bstr:"},
      {L"number", L"i4:-5"},
      {L"nodword", L"i4:0"},
      {L"", L"bstr:default"},  // the key's default value: the empty (not null) name
      {L"expand", L"bstr:C:\\qx\\a.ini"},
      {L"plain", L"bstr:%QX_REGISTRY_TEST_DIR%"},
      {L"binary", L"error:1"},  // unsupported types load as error values
      {L"multi", L"error:1"},
      {L"a_qword", L"error:2"},
      {L"count", L"bstr:x"},  // trimmed; it replaced the member there before
      {L"Child", L"nv:[Grand=nv:[deep=bstr:bottom]][inner=i4:3]"},
  };
  for (const bool subkeys : {false, true}) {
    SCOPED_TRACE(subkeys ? "with subkeys" : "without subkeys");
    auto nv = NewNamedValues();
    ASSERT_EQ(S_OK, nv->Add(Bstr(L"count").Get(), VarI4(1).AddressOf(), nullptr));
    // Values are read from the last index to the first: the QWORD, first by name and by creation,
    // is met last, and its failure is the one returned.
    EXPECT_TRUE(Fails(kUnknownType, Load(nv.Get(), kBase, subkeys ? qxnvIncludeSubkeys : 0),
                      L"Registry data-type indicator was not recognized."));
    EXPECT_EQ(subkeys ? 12 : 11, CountOf(nv.Get()));
    for (const auto& e : expected) {
      const bool nested = std::wstring(e.name) == L"Child";
      EXPECT_EQ(nested && !subkeys ? L"<missing>" : e.value, Render(nv.Get(), e.name)) << testing::PrintToString(
          std::wstring(e.name));
    }
  }
  SetEnvironmentVariableW(L"QX_REGISTRY_TEST_DIR", nullptr);
}

TEST_F(NamedValuesRegistry, DumpWritesNumbersAsDwordsAndTheRestAsStrings) {
  auto nv = NewNamedValues();
  auto add = [&](const wchar_t* name, UniqueVariant value) {
    EXPECT_EQ(S_OK, nv->Add(Bstr(name).Get(), value.AddressOf(), nullptr));
  };
  add(L"text", VarText(L"caf\u00e9"));  // within the ANSI code page
  add(L"empty", VarText(L""));
  add(L"number", VarI4(-2));
  add(L"real", VarR8(2.5));  // rounds to even
  add(L"real3", VarR8(3.5));
  add(L"small", VarOf(VT_I2, [](VARIANT& v) { V_I2(&v) = 300; }));
  add(L"byte", VarOf(VT_UI1, [](VARIANT& v) { V_UI1(&v) = 7; }));
  add(L"nested", VarObject(NewNamedValues().Get()));  // left out
  ASSERT_EQ(S_OK, nv->Freeze());  // a frozen collection dumps
  ASSERT_EQ(S_OK, Dump(nv.Get(), kBase));
  const std::pair<const wchar_t*, std::wstring> written[] = {
      {L"text", L"sz:caf\u00e9"}, {L"empty", L"sz:"},       {L"number", L"dword:-2"}, {L"real", L"dword:2"},
      {L"real3", L"dword:4"},     {L"small", L"dword:300"}, {L"byte", L"sz:7"},       {L"nested", L"<missing>"},
  };
  for (const auto& [name, value] : written) EXPECT_EQ(value, ReadRaw(kBase, name)) << testing::PrintToString(name);
  EXPECT_EQ(L"QXSDK/7", KeyFacts(kBase));
  EXPECT_EQ(L"<no key>", KeyFacts(kBase + L"\\nested"));
  // And back.
  auto back = NewNamedValues();
  ASSERT_EQ(S_OK, Load(back.Get(), kBase));
  EXPECT_EQ(7, CountOf(back.Get()));
  EXPECT_EQ(L"bstr:caf\u00e9", Render(back.Get(), L"text"));
}

// Each refusal: its code and text, and what it left in the registry.
TEST_F(NamedValuesRegistry, Refusals) {
  const std::wstring missing = kBase + L"\\Missing";
  const std::wstring notFound = L"Error opening registry key. " + SystemText(ERROR_FILE_NOT_FOUND) + missing;
  const struct {
    const char* label;
    bool dump;
    std::wstring path;
    int options;
    HRESULT hr;
    std::wstring description;
    std::wstring keyAfter;  // "/<values>" of `path` afterwards, or "<no key>"
  } rows[] = {
      {"load, options 2", false, kBase, 2, kInvalidOptions, kInvalidOptionsText, L"/1"},
      {"load of a missing key", false, missing, 0, kOpeningKey, notFound, L"<no key>"},
      {"dump, options 8", true, missing, 8, kInvalidOptions, kInvalidOptionsText, L"<no key>"},
      {"dump, not creating a missing key", true, missing, qxnvDoNotCreate, kOpeningKey, notFound, L"<no key>"},
      {"dump to an existing key that must not exist", true, kBase, qxnvKeyMustNotExist,
       static_cast<HRESULT>(0x800404A3), L"Registry key already exists. " + kBase, L"/1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    DeleteBase();
    SetDword(kBase, L"x", 1);  // made without a class
    auto nv = NewNamedValues();
    ASSERT_EQ(S_OK, nv->Add(Bstr(L"y").Get(), VarI4(2).AddressOf(), nullptr));
    const HRESULT hr = row.dump ? Dump(nv.Get(), row.path, row.options) : Load(nv.Get(), row.path, row.options);
    EXPECT_TRUE(Fails(row.hr, hr, row.description));
    const std::wstring facts = KeyFacts(row.path);  // the class may differ: only the values count
    EXPECT_EQ(row.keyAfter, facts.find(L'/') == std::wstring::npos ? facts : facts.substr(facts.find(L'/')));
    EXPECT_EQ(1, CountOf(nv.Get()));
  }
  // The same options succeed where they may.
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"y").Get(), VarI4(2).AddressOf(), nullptr));
  EXPECT_EQ(S_OK, Dump(nv.Get(), kBase + L"\\Fresh", qxnvKeyMustNotExist));
  EXPECT_EQ(L"QXSDK/1", KeyFacts(kBase + L"\\Fresh"));
  ASSERT_EQ(S_OK, nv->Freeze());
  EXPECT_TRUE(Fails(E_ACCESSDENIED, Load(nv.Get(), kBase)));
}

}  // namespace
}  // namespace qx::test
