// NamedValues and the registry: LoadFromRegistry and DumpToRegistry against keys under
// HKCU\Software\QXSDKCommonTests, written and read back with the raw registry API.
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kInvalidOptions = static_cast<HRESULT>(0x800404A1);
constexpr HRESULT kOpeningKey = static_cast<HRESULT>(0x800404A2);
constexpr HRESULT kKeyExists = static_cast<HRESULT>(0x800404A3);
constexpr HRESULT kUnknownType = static_cast<HRESULT>(0x80040481);
constexpr HRESULT kUnsupportedType = static_cast<HRESULT>(0x80040482);

const std::wstring kInvalidOptionsText = L"Invalid option, or combination of options, for this operation.";
const std::wstring kUnknownTypeText = L"Registry data-type indicator was not recognized.";
const std::wstring kUnsupportedTypeText = L"NamedValues cannot load this type of data from the Registry.";

const wchar_t kTestRoot[] = L"Software\\QXSDKCommonTests\\NamedValuesRegistry";
const std::wstring kBase = kTestRoot;

constexpr auto kHkcu = qxnvHKEY_CURRENT_USER;
constexpr auto kNoOptions = qxnvNoOptions;
constexpr auto kSubkeys = qxnvIncludeSubkeys;

qxnvRegistryOptions Options(int value) { return static_cast<qxnvRegistryOptions>(value); }

// Raw registry helpers (wide API, HKCU).
HKEY CreateKey(const std::wstring& path) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  return key;
}
void SetRaw(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = CreateKey(path);
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
  RegCloseKey(key);
}
void SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  SetRaw(path, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
void SetDword(const std::wstring& path, const wchar_t* name, DWORD value) {
  SetRaw(path, name, REG_DWORD, &value, sizeof value);
}
bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}
struct RawValue {
  LONG status = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  std::wstring Text() const {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
  DWORD Dword() const { return data.size() == 4 ? *reinterpret_cast<const DWORD*>(data.data()) : 0xDEADBEEF; }
};
RawValue ReadRaw(const std::wstring& path, const wchar_t* name) {
  RawValue result;
  HKEY key = nullptr;
  result.status = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
  if (result.status != ERROR_SUCCESS) return result;
  DWORD size = 0;
  result.status = RegQueryValueExW(key, name, nullptr, &result.type, nullptr, &size);
  if (result.status == ERROR_SUCCESS) {
    result.data.resize(size);
    result.status = RegQueryValueExW(key, name, nullptr, &result.type, result.data.data(), &size);
    result.data.resize(size);
  }
  RegCloseKey(key);
  return result;
}
DWORD ValueCountOf(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0xFFFFFFFF;
  DWORD values = 0;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr));
  RegCloseKey(key);
  return values;
}
std::wstring ClassOf(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
  wchar_t keyClass[64] = {};
  DWORD length = 64;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key, keyClass, &length, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);
  return std::wstring(keyClass, length);
}

// The system's text for a Win32 error, line ends removed.
std::wstring SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = buffer ? buffer : L"";
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return text;
}

// A member's value, read through Item.
UniqueVariant ValueOf(INamedValues2* nv, const std::wstring& name) {
  UniqueVariant index = VarText(name);
  ComPtr<NamedValue> member;
  UniqueVariant value;
  if (SUCCEEDED(nv->get_Item(index.AddressOf(), member.Put())) && member) {
    EXPECT_EQ(S_OK, member->get_Value(value.Put()));
  } else {
    SetErrorInfo(0, nullptr);
    V_VT(value.AddressOf()) = VT_ILLEGAL;  // marks a missing member
  }
  return value;
}
std::wstring TextOf(INamedValues2* nv, const std::wstring& name) {
  UniqueVariant value = ValueOf(nv, name);
  return value.Type() == VT_BSTR ? Text(V_BSTR(value.AddressOf())) : L"<not a string>";
}
// The nested collection a member holds, or empty.
ComPtr<INamedValues2> NestedOf(INamedValues2* nv, const std::wstring& name) {
  UniqueVariant value = ValueOf(nv, name);
  ComPtr<INamedValues2> nested;
  if (value.Type() == VT_DISPATCH && V_DISPATCH(value.AddressOf())) {
    V_DISPATCH(value.AddressOf())->QueryInterface(__uuidof(INamedValues2), nested.PutVoid());
  }
  return nested;
}
std::vector<std::wstring> InsertionNames(INamedValues2* nv) {
  EXPECT_EQ(S_OK, nv->put_Sorted(VARIANT_FALSE));
  std::vector<std::wstring> names;
  for (LONG i = 1; i <= CountOf(nv); ++i) {
    UniqueVariant index = VarI4(i);
    ComPtr<NamedValue> member;
    EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), member.Put()));
    UniqueBstr name;
    if (member) {
      EXPECT_EQ(S_OK, member->get_Name(name.Put()));
    }
    names.push_back(Text(name.Get()));
  }
  EXPECT_EQ(S_OK, nv->put_Sorted(VARIANT_TRUE));
  return names;
}
void AddValue(INamedValues2* nv, const wchar_t* name, UniqueVariant value) {
  ComPtr<NamedValue> added;
  EXPECT_EQ(S_OK, nv->Add(Bstr(name).Get(), value.AddressOf(), added.Put()));
}

class NamedValuesRegistry : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
    LeakCheckedTest::TearDown();
  }
  HRESULT Load(INamedValues2* nv, const std::wstring& path, qxnvRegistryOptions options = kNoOptions) {
    return nv->LoadFromRegistry(kHkcu, Bstr(path).Get(), options);
  }
  HRESULT Dump(INamedValues2* nv, const std::wstring& path, qxnvRegistryOptions options = kNoOptions) {
    return nv->DumpToRegistry(kHkcu, Bstr(path).Get(), options);
  }
};

// ---------------------------------------------------------------------------------------------
// Load: the type table.

TEST_F(NamedValuesRegistry, LoadsStringsNumbersAndTheDefaultValue) {
  SetText(kBase, L"text", L"hello world");
  SetRaw(kBase, L"empty", REG_SZ, nullptr, 0);
  SetDword(kBase, L"number", 0xFFFFFFFB);
  SetRaw(kBase, L"nodword", REG_DWORD, nullptr, 0);
  SetText(kBase, L"", L"default");
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, Load(nv.Get(), kBase));
  EXPECT_EQ(5, CountOf(nv.Get()));
  EXPECT_EQ(L"hello world", TextOf(nv.Get(), L"text"));
  UniqueVariant empty = ValueOf(nv.Get(), L"empty");
  ASSERT_EQ(VT_BSTR, empty.Type());
  EXPECT_NE(nullptr, V_BSTR(empty.AddressOf()));
  EXPECT_EQ(0u, SysStringLen(V_BSTR(empty.AddressOf())));
  UniqueVariant number = ValueOf(nv.Get(), L"number");
  ASSERT_EQ(VT_I4, number.Type());
  EXPECT_EQ(-5, V_I4(number.AddressOf()));
  UniqueVariant nodword = ValueOf(nv.Get(), L"nodword");
  ASSERT_EQ(VT_I4, nodword.Type());
  EXPECT_EQ(0, V_I4(nodword.AddressOf()));
  // The key's default value is a member with the empty (not null) name.
  EXPECT_EQ(L"default", TextOf(nv.Get(), L""));
}

TEST_F(NamedValuesRegistry, ExpandsEnvironmentReferences) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"QX_REGISTRY_TEST_DIR", L"C:\\qx\\data"));
  SetText(kBase, L"path", L"%QX_REGISTRY_TEST_DIR%\\settings.ini", REG_EXPAND_SZ);
  SetText(kBase, L"plain", L"%QX_REGISTRY_TEST_DIR%", REG_SZ);
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, Load(nv.Get(), kBase));
  EXPECT_EQ(L"C:\\qx\\data\\settings.ini", TextOf(nv.Get(), L"path"));
  EXPECT_EQ(L"%QX_REGISTRY_TEST_DIR%", TextOf(nv.Get(), L"plain"));  // REG_SZ is taken as it is
  SetEnvironmentVariableW(L"QX_REGISTRY_TEST_DIR", nullptr);
}

TEST_F(NamedValuesRegistry, UnsupportedTypesLoadAsErrorValuesAndTheCallFails) {
  const BYTE bytes[] = {1, 2, 3};
  const wchar_t multi[] = L"a\0b\0";
  SetRaw(kBase, L"binary", REG_BINARY, bytes, sizeof bytes);
  SetRaw(kBase, L"multi", REG_MULTI_SZ, multi, sizeof multi);
  SetText(kBase, L"ok", L"fine");
  auto nv = NewNamedValues();
  EXPECT_TRUE(Fails(kUnsupportedType, Load(nv.Get(), kBase), kUnsupportedTypeText));
  EXPECT_EQ(3, CountOf(nv.Get()));
  EXPECT_EQ(L"fine", TextOf(nv.Get(), L"ok"));
  for (const wchar_t* name : {L"binary", L"multi"}) {
    UniqueVariant value = ValueOf(nv.Get(), name);
    ASSERT_EQ(VT_ERROR, value.Type()) << name;
    EXPECT_EQ(kUnsupportedType, V_ERROR(value.AddressOf())) << name;
  }
}

TEST_F(NamedValuesRegistry, UnknownTypeIsTheLastRememberedFailure) {
  const ULONGLONG big = 0x100000000ull;
  const BYTE bytes[] = {7};
  // Values are read from the last index to the first, so with the registry's name order the
  // QWORD ("a...") is met after the binary value ("b...") and its failure is the one returned.
  SetRaw(kBase, L"a_qword", REG_QWORD, &big, sizeof big);
  SetRaw(kBase, L"b_binary", REG_BINARY, bytes, sizeof bytes);
  auto nv = NewNamedValues();
  EXPECT_TRUE(Fails(kUnknownType, Load(nv.Get(), kBase), kUnknownTypeText));
  UniqueVariant qword = ValueOf(nv.Get(), L"a_qword");
  ASSERT_EQ(VT_ERROR, qword.Type());
  EXPECT_EQ(kUnknownType, V_ERROR(qword.AddressOf()));
  UniqueVariant binary = ValueOf(nv.Get(), L"b_binary");
  ASSERT_EQ(VT_ERROR, binary.Type());
  EXPECT_EQ(kUnsupportedType, V_ERROR(binary.AddressOf()));
}

// ---------------------------------------------------------------------------------------------
// Load: replacing, order, subkeys.

TEST_F(NamedValuesRegistry, ReplacesExistingMembersAndTrimsNames) {
  SetDword(kBase, L"Count", 9);
  SetText(kBase, L" padded ", L"x");
  auto nv = NewNamedValues();
  AddValue(nv.Get(), L"count", VarI4(1));
  ASSERT_EQ(S_OK, Load(nv.Get(), kBase));
  EXPECT_EQ(2, CountOf(nv.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"count", L"padded"}), InsertionNames(nv.Get()));
  UniqueVariant count = ValueOf(nv.Get(), L"count");
  ASSERT_EQ(VT_I4, count.Type());
  EXPECT_EQ(9, V_I4(count.AddressOf()));
}

TEST_F(NamedValuesRegistry, SubkeysAreIgnoredWithoutTheOption) {
  SetDword(kBase, L"top", 1);
  SetDword(kBase + L"\\Child", L"inner", 2);
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, Load(nv.Get(), kBase));
  EXPECT_EQ(1, CountOf(nv.Get()));
  EXPECT_EQ(VT_ILLEGAL, ValueOf(nv.Get(), L"Child").Type());
}

TEST_F(NamedValuesRegistry, SubkeysLoadAsNestedCollectionsToAnyDepth) {
  SetDword(kBase, L"a", 1);
  SetDword(kBase, L"b", 2);
  SetDword(kBase + L"\\Child", L"inner", 3);
  SetText(kBase + L"\\Child\\Grand", L"deep", L"bottom");
  SetRaw(kBase + L"\\Other", L"bin", REG_BINARY, "\x01", 1);
  auto nv = NewNamedValues();
  // A failure inside a nested load comes back, and the nested collection is still added.
  EXPECT_TRUE(Fails(kUnsupportedType, Load(nv.Get(), kBase, kSubkeys), kUnsupportedTypeText));
  EXPECT_EQ(4, CountOf(nv.Get()));
  // Values in reverse enumeration order, then subkeys in reverse enumeration order.
  EXPECT_EQ((std::vector<std::wstring>{L"b", L"a", L"Other", L"Child"}), InsertionNames(nv.Get()));

  auto child = NestedOf(nv.Get(), L"Child");
  ASSERT_TRUE(child);
  EXPECT_EQ(2, CountOf(child.Get()));
  UniqueVariant inner = ValueOf(child.Get(), L"inner");
  ASSERT_EQ(VT_I4, inner.Type());
  EXPECT_EQ(3, V_I4(inner.AddressOf()));
  auto grand = NestedOf(child.Get(), L"Grand");
  ASSERT_TRUE(grand);
  EXPECT_EQ(1, CountOf(grand.Get()));
  EXPECT_EQ(L"bottom", TextOf(grand.Get(), L"deep"));

  auto other = NestedOf(nv.Get(), L"Other");
  ASSERT_TRUE(other);
  EXPECT_EQ(VT_ERROR, ValueOf(other.Get(), L"bin").Type());
}

TEST_F(NamedValuesRegistry, AnOpenKeyHandleServesAsTheRoot) {
  SetText(kBase + L"\\Child", L"name", L"value");
  HKEY base = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_READ, &base));
  const auto root = static_cast<qxnvRegistryKeyConstants>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(base)));
  auto nv = NewNamedValues();
  EXPECT_EQ(S_OK, nv->LoadFromRegistry(root, Bstr(L"Child").Get(), kNoOptions));
  RegCloseKey(base);
  EXPECT_EQ(L"value", TextOf(nv.Get(), L"name"));
}

// ---------------------------------------------------------------------------------------------
// Load: refusals.

TEST_F(NamedValuesRegistry, LoadRefusesOptionsOtherThanIncludeSubkeys) {
  SetDword(kBase, L"x", 1);
  auto nv = NewNamedValues();
  for (int options : {2, 3, 4, 8, -1}) {
    EXPECT_TRUE(Fails(kInvalidOptions, Load(nv.Get(), kBase, Options(options)), kInvalidOptionsText)) << options;
  }
  EXPECT_EQ(0, CountOf(nv.Get()));
}

TEST_F(NamedValuesRegistry, LoadOfAMissingKeyNamesTheKeyAndTheSystemError) {
  auto nv = NewNamedValues();
  const std::wstring missing = kBase + L"\\Missing";
  EXPECT_TRUE(Fails(kOpeningKey, Load(nv.Get(), missing),
                    L"Error opening registry key. " + SystemText(ERROR_FILE_NOT_FOUND) + missing));
  EXPECT_FALSE(KeyExists(missing));
}

TEST_F(NamedValuesRegistry, FrozenCollectionRefusesLoadButDumps) {
  SetDword(kBase, L"x", 1);
  auto nv = NewNamedValues();
  AddValue(nv.Get(), L"kept", VarI4(4));
  ASSERT_EQ(S_OK, nv->Freeze());
  EXPECT_TRUE(Fails(E_ACCESSDENIED, Load(nv.Get(), kBase)));
  EXPECT_EQ(1, CountOf(nv.Get()));
  EXPECT_EQ(S_OK, Dump(nv.Get(), kBase + L"\\Out"));
  EXPECT_EQ(4u, ReadRaw(kBase + L"\\Out", L"kept").Dword());
}

// ---------------------------------------------------------------------------------------------
// Dump.

TEST_F(NamedValuesRegistry, DumpWritesNumbersAsDwordsAndTheRestAsStrings) {
  auto nv = NewNamedValues();
  AddValue(nv.Get(), L"text", VarText(L"hello"));
  AddValue(nv.Get(), L"empty", VarText(L""));
  AddValue(nv.Get(), L"number", VarI4(-2));
  AddValue(nv.Get(), L"real", VarR8(2.5));
  AddValue(nv.Get(), L"real3", VarR8(3.5));
  UniqueVariant small;
  V_VT(small.AddressOf()) = VT_I2;
  V_I2(small.AddressOf()) = 300;
  AddValue(nv.Get(), L"small", std::move(small));
  UniqueVariant byte;
  V_VT(byte.AddressOf()) = VT_UI1;
  V_UI1(byte.AddressOf()) = 7;
  AddValue(nv.Get(), L"byte", std::move(byte));
  UniqueVariant nested;
  V_VT(nested.AddressOf()) = VT_DISPATCH;
  V_DISPATCH(nested.AddressOf()) = NewNamedValues().Detach();
  AddValue(nv.Get(), L"nested", std::move(nested));
  ASSERT_EQ(S_OK, Dump(nv.Get(), kBase));

  EXPECT_EQ(7u, ValueCountOf(kBase));  // the nested collection is left out
  const RawValue text = ReadRaw(kBase, L"text");
  EXPECT_EQ(REG_SZ, text.type);
  EXPECT_EQ(L"hello", text.Text());
  const RawValue empty = ReadRaw(kBase, L"empty");
  EXPECT_EQ(ERROR_SUCCESS, empty.status);
  EXPECT_EQ(REG_SZ, empty.type);
  EXPECT_EQ(L"", empty.Text());
  const RawValue number = ReadRaw(kBase, L"number");
  EXPECT_EQ(REG_DWORD, number.type);
  EXPECT_EQ(0xFFFFFFFEu, number.Dword());
  EXPECT_EQ(2u, ReadRaw(kBase, L"real").Dword());   // rounds to even
  EXPECT_EQ(4u, ReadRaw(kBase, L"real3").Dword());
  EXPECT_EQ(REG_DWORD, ReadRaw(kBase, L"small").type);
  EXPECT_EQ(300u, ReadRaw(kBase, L"small").Dword());
  const RawValue asText = ReadRaw(kBase, L"byte");
  EXPECT_EQ(REG_SZ, asText.type);
  EXPECT_EQ(L"7", asText.Text());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRaw(kBase, L"nested").status);
  EXPECT_FALSE(KeyExists(kBase + L"\\nested"));
  EXPECT_EQ(L"QXSDK", ClassOf(kBase));
}

TEST_F(NamedValuesRegistry, DumpAndLoadRoundTrip) {
  auto nv = NewNamedValues();
  AddValue(nv.Get(), L"name", VarText(L"caf\u00e9"));  // within the ANSI code page
  AddValue(nv.Get(), L"n", VarI4(12));
  ASSERT_EQ(S_OK, Dump(nv.Get(), kBase));
  EXPECT_EQ(L"caf\u00e9", ReadRaw(kBase, L"name").Text());
  auto back = NewNamedValues();
  ASSERT_EQ(S_OK, Load(back.Get(), kBase));
  EXPECT_EQ(2, CountOf(back.Get()));
  EXPECT_EQ(L"caf\u00e9", TextOf(back.Get(), L"name"));
}

TEST_F(NamedValuesRegistry, DumpRefusesInvalidOptions) {
  auto nv = NewNamedValues();
  AddValue(nv.Get(), L"x", VarI4(1));
  for (int options : {1, 3, 6, 7, 8}) {
    EXPECT_TRUE(Fails(kInvalidOptions, Dump(nv.Get(), kBase, Options(options)), kInvalidOptionsText)) << options;
  }
  EXPECT_FALSE(KeyExists(kBase));
}

TEST_F(NamedValuesRegistry, DoNotCreateNeedsAnExistingKey) {
  auto nv = NewNamedValues();
  AddValue(nv.Get(), L"x", VarI4(1));
  const std::wstring missing = kBase + L"\\Missing";
  EXPECT_TRUE(Fails(kOpeningKey, Dump(nv.Get(), missing, qxnvDoNotCreate),
                    L"Error opening registry key. " + SystemText(ERROR_FILE_NOT_FOUND) + missing));
  EXPECT_FALSE(KeyExists(missing));

  HKEY existing = CreateKey(kBase);  // created without a class
  RegCloseKey(existing);
  EXPECT_EQ(S_OK, Dump(nv.Get(), kBase, qxnvDoNotCreate));
  EXPECT_EQ(1u, ReadRaw(kBase, L"x").Dword());
}

TEST_F(NamedValuesRegistry, KeyMustNotExistRefusesAnExistingKeyAndWritesNothing) {
  auto nv = NewNamedValues();
  AddValue(nv.Get(), L"x", VarI4(1));
  HKEY existing = CreateKey(kBase);
  RegCloseKey(existing);
  EXPECT_TRUE(Fails(kKeyExists, Dump(nv.Get(), kBase, qxnvKeyMustNotExist), L"Registry key already exists. " + kBase));
  EXPECT_EQ(0u, ValueCountOf(kBase));

  const std::wstring fresh = kBase + L"\\Fresh";
  EXPECT_EQ(S_OK, Dump(nv.Get(), fresh, qxnvKeyMustNotExist));
  EXPECT_EQ(1u, ReadRaw(fresh, L"x").Dword());
  EXPECT_EQ(L"QXSDK", ClassOf(fresh));
}

}  // namespace
}  // namespace qx::test
