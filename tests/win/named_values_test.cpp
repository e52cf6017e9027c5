// The NamedValues collection through its vtable and through IDispatch: name rules, the two
// orders, lookup, the mutators, the frozen state, enumeration and error objects.
#include <algorithm>
#include <functional>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kStyleLocked = static_cast<HRESULT>(0x80040420);
constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80040422);
constexpr HRESULT kRange = static_cast<HRESULT>(0x80040423);
constexpr HRESULT kNotOrphan = static_cast<HRESULT>(0x800405D7);

const std::wstring kDuplicateText = L"Cannot add duplicate name to the collection: ";
const std::wstring kNotFoundText = L"Name not found in collection: ";
const std::wstring kRangeText = L"Item number must be from 1 to the number of objects in the collection.";


// The public order, read through _MemberEnum.
// The public order read by position through Item, which must agree with the enumerator.
std::vector<std::wstring> NamesByItem(INamedValues2* nv) {
  LONG count = 0;
  EXPECT_EQ(S_OK, nv->get_Count(&count));
  std::vector<std::wstring> names;
  for (LONG i = 1; i <= count; ++i) {
    auto index = VarI4(i);
    ComPtr<NamedValue> member;
    EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), member.Put()));
    names.push_back(NameOf(member.Get()));
  }
  return names;
}
std::vector<std::wstring> InsertionNames(INamedValues2* nv) {
  VARIANT_BOOL sorted = 0;
  EXPECT_EQ(S_OK, nv->get_Sorted(&sorted));
  EXPECT_EQ(S_OK, nv->put_Sorted(VARIANT_FALSE));
  auto names = Names(nv);
  EXPECT_EQ(names, NamesByItem(nv));
  EXPECT_EQ(S_OK, nv->put_Sorted(sorted));
  return names;
}
std::vector<std::wstring> SortedNames(INamedValues2* nv) {
  EXPECT_EQ(S_OK, nv->put_Sorted(VARIANT_TRUE));
  auto names = Names(nv);
  EXPECT_EQ(names, NamesByItem(nv));
  return names;
}

ComPtr<NamedValue> Add(INamedValues2* nv, const std::wstring& name, LONG value = 0) {
  auto bstr = Bstr(name);
  auto v = VarI4(value);
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, nv->Add(bstr.Get(), v.AddressOf(), item.Put())) << testing::PrintToString(name);
  return item;
}
ComPtr<INamedValues2> Make(std::initializer_list<std::wstring> names, LONG style = 0) {
  auto nv = NewNamedValues();
  EXPECT_EQ(S_OK, nv->put_Style(static_cast<qxnvStyleConstants>(style)));
  for (const auto& name : names) Add(nv.Get(), name);
  return nv;
}

// A NamedValue of someone else's making, to check that a collection adopts only its own members.
// It lives on the stack; `refs` shows whether the library released what it took.
class ForeignValue final : public NoTypeInfoDispatch<NamedValue> {
 public:
  LONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != __uuidof(NamedValue)) return E_NOINTERFACE;
    *out = static_cast<NamedValue*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override { return *pVal = SysAllocString(L"foreign"), S_OK; }
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pVal) override { return VariantInit(pVal), S_OK; }
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_Parent(_NamedValues** pVal) override { return *pVal = nullptr, S_OK; }
};

// What an IDispatch::Invoke call gave back.
struct Outcome {
  HRESULT hr = E_UNEXPECTED;
  UniqueVariant result;
  HRESULT scode = S_OK;
  std::wstring description;
  std::wstring source;
};
Outcome Invoke(IDispatch* object, DISPID id, WORD flags, std::initializer_list<VARIANT> args = {}) {
  Outcome outcome;
  DispatchFailure failure;
  outcome.hr = InvokeId(object, id, flags, args, outcome.result.Put(), &failure);
  outcome.scode = failure.scode;
  outcome.description = failure.description;
  outcome.source = failure.source;
  return outcome;
}
DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  auto* names = const_cast<LPOLESTR>(name);
  EXPECT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id)) << name;
  return id;
}

using NamedValuesTest = LeakCheckedTest;

TEST_F(NamedValuesTest, NewCollectionDefaults) {
  auto nv = NewNamedValues();
  qxnvStyleConstants style = static_cast<qxnvStyleConstants>(-1);
  VARIANT_BOOL sorted = 0, readOnly = 1;
  EXPECT_EQ(S_OK, nv->get_Style(&style));
  EXPECT_EQ(S_OK, nv->get_Sorted(&sorted));
  EXPECT_EQ(S_OK, nv->get_ReadOnly(&readOnly));
  EXPECT_EQ(0, style);
  EXPECT_EQ(VARIANT_TRUE, sorted);
  EXPECT_EQ(VARIANT_FALSE, readOnly);
  EXPECT_EQ(0, CountOf(nv.Get()));
}

TEST_F(NamedValuesTest, SortedSwitchesBetweenNameAndInsertionOrder) {
  auto nv = Make({L"b", L"A", L"c", L"_x", L"B1"});
  EXPECT_EQ((std::vector<std::wstring>{L"_x", L"A", L"b", L"B1", L"c"}), SortedNames(nv.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"b", L"A", L"c", L"_x", L"B1"}), InsertionNames(nv.Get()));
  // Any non-zero value switches sorting on, and reads back as VARIANT_TRUE.
  VARIANT_BOOL sorted = 0;
  EXPECT_EQ(S_OK, nv->put_Sorted(VARIANT_FALSE));
  EXPECT_EQ(S_OK, nv->get_Sorted(&sorted));
  EXPECT_EQ(VARIANT_FALSE, sorted);
  EXPECT_EQ(S_OK, nv->put_Sorted(1));
  EXPECT_EQ(S_OK, nv->get_Sorted(&sorted));
  EXPECT_EQ(VARIANT_TRUE, sorted);
  // Switching while empty, then adding, keeps both orders up to date.
  auto empty = NewNamedValues();
  EXPECT_EQ(S_OK, empty->put_Sorted(VARIANT_FALSE));
  for (const wchar_t* name : {L"z", L"m", L"a"}) Add(empty.Get(), name);
  EXPECT_EQ((std::vector<std::wstring>{L"z", L"m", L"a"}), Names(empty.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"m", L"z"}), SortedNames(empty.Get()));
}

TEST_F(NamedValuesTest, OrderingByStyle) {
  const struct {
    LONG style;
    std::vector<std::wstring> added, sorted;
  } cases[] = {
      {0, {L"b", L"_x", L"A"}, {L"_x", L"A", L"b"}},  // '_' sorts before the folded letters
      {1, {L"a", L"_x", L"A"}, {L"A", L"_x", L"a"}},  // ordinal: 'A' < '_' < 'a'
      {1, {L"x", L"X"}, {L"X", L"x"}},
      {0, {L"ab", L"a", L"", L"abc"}, {L"", L"a", L"ab", L"abc"}},  // a prefix sorts first
      {0, {L"b", L"a\u00E9", L"A\u00C8"}, {L"A\u00C8", L"a\u00E9", L"b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style << ", first " << testing::PrintToString(c.added[0]));
    auto nv = NewNamedValues();
    ASSERT_EQ(S_OK, nv->put_Style(static_cast<qxnvStyleConstants>(c.style)));
    for (const auto& name : c.added) Add(nv.Get(), name);
    EXPECT_EQ(c.sorted, SortedNames(nv.Get()));
    EXPECT_EQ(c.added, InsertionNames(nv.Get()));
  }
}

TEST_F(NamedValuesTest, DuplicateNamesByStyle) {
  using namespace std::string_literals;
  const struct {
    LONG style;
    std::wstring first, second;
    const wchar_t* reported;  // the key the duplicate message names, or null when both are kept
  } cases[] = {
      {0, L"x", L"X", L"X"},
      {1, L"x", L"X", nullptr},
      {2, L"x", L"X", L"X"},
      {3, L"x", L"X", nullptr},
      {0, L"i", L"\u0131", L"\u0131"},       // dotless i folds to i
      {0, L"\u00FF", L"\u0178", L"\u0178"},  // y with diaeresis and its capital
      {0, L"\u00B5", L"\u039C", nullptr},    // micro sign folds to itself, not to mu
      {0, L"ab", L"ab\0c"s, nullptr},        // ordinal modes see embedded NULs
      {1, L"ab", L"ab\0c"s, nullptr},
      {0, L"ab\0c"s, L"ab\0C"s, L"ab"},
      {2, L"ab", L"ab\0c"s, L"ab"},  // the locale modes stop at the first NUL
      {0, L"a", L" a ", L"a"},       // trimmed before the comparison
      {4, L"a", L" a", nullptr},
      {8, L"a", L"a ", nullptr},
      {0, L"a", L"\ta", nullptr},  // only U+0020 is trimmed
      {0, L"a", L"a\u00A0", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style << ": " << testing::PrintToString(c.first) << " then "
                                    << testing::PrintToString(c.second));
    auto nv = Make({c.first}, c.style);
    auto second = Bstr(c.second);
    auto value = VarI4(2);
    ComPtr<NamedValue> item;
    const HRESULT hr = nv->Add(second.Get(), value.AddressOf(), item.Put());
    if (c.reported) {
      // The message names the new key (less any trimmed blanks), not the member it met.
      EXPECT_TRUE(Fails(kDuplicate, hr, kDuplicateText + c.reported));
      EXPECT_FALSE(item);
      EXPECT_EQ(1, CountOf(nv.Get()));
    } else {
      EXPECT_EQ(S_OK, hr);
      EXPECT_EQ(2, CountOf(nv.Get()));
      // Each is found by its own exact name.
      for (const auto& name : {c.first, c.second}) {
        auto index = VarText(name);
        ComPtr<NamedValue> found;
        EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), found.Put()));
        EXPECT_EQ(name, NameOf(found.Get()));
      }
    }
  }
}

TEST_F(NamedValuesTest, DuplicateReportsExactTextAndSource) {
  auto nv = Make({L"Timeout"});
  auto name = Bstr(L"TIMEOUT");
  auto value = VarI4(1);
  EXPECT_TRUE(Fails(kDuplicate, nv->Add(name.Get(), value.AddressOf(), nullptr), kDuplicateText + L"TIMEOUT"));
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(kDuplicate, nv->Add(name.Get(), value.AddressOf(), nullptr));
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.Put()));
  UniqueBstr helpFile;
  EXPECT_EQ(S_OK, info->GetHelpFile(helpFile.Put()));
  EXPECT_EQ(L"qxsdk.chm", Text(helpFile.Get()));
  GUID guid{};
  EXPECT_EQ(S_OK, info->GetGUID(&guid));
  EXPECT_NE(__uuidof(INamedValues2), guid);
  EXPECT_NE(__uuidof(_NamedValues), guid);
}

TEST_F(NamedValuesTest, NamesAreTrimmedByStyle) {
  const struct {
    LONG style;
    std::wstring given, stored;
  } cases[] = {
      {0, L" x ", L"x"},  {0, L"   ", L""},   {0, L"a b", L"a b"},  {0, L"\tx\t", L"\tx\t"},
      {4, L" a ", L" a"}, {8, L" a ", L"a "}, {12, L" a ", L" a "}, {12, L"  ", L"  "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style << ", " << testing::PrintToString(c.given));
    auto nv = Make({}, c.style);
    auto item = Add(nv.Get(), c.given);
    UniqueBstr name;
    ASSERT_EQ(S_OK, item->get_Name(name.Put()));
    ASSERT_FALSE(name.IsNull());  // a name of blanks becomes empty, never null
    EXPECT_EQ(c.stored, Text(name.Get()));
    // Lookup takes the string as given: the stored form finds the member.
    auto index = VarText(c.stored);
    ComPtr<NamedValue> found;
    EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), found.Put()));
    EXPECT_EQ(item.Get(), found.Get());
  }
  // With style 0, lookup does not trim: ' x' is neither a name nor a number.
  auto nv = Make({L" x "});
  auto index = VarText(L" x");
  ComPtr<NamedValue> found;
  EXPECT_TRUE(Fails(kNotFound, nv->get_Item(index.AddressOf(), found.Put()), kNotFoundText + L" x"));
  EXPECT_FALSE(found);
}

TEST_F(NamedValuesTest, NullAndEmptyNamesAreDifferentMembers) {
  auto nv = NewNamedValues();
  auto value = VarI4(1);
  auto empty = Bstr(L"");
  ComPtr<NamedValue> nullItem, emptyItem;
  ASSERT_EQ(S_OK, nv->Add(nullptr, value.AddressOf(), nullItem.Put()));
  ASSERT_EQ(S_OK, nv->Add(empty.Get(), value.AddressOf(), emptyItem.Put()));
  Add(nv.Get(), L"a");
  EXPECT_EQ(3, CountOf(nv.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"<null>", L"", L"a"}), SortedNames(nv.Get()));
  EXPECT_TRUE(Fails(kDuplicate, nv->Add(nullptr, value.AddressOf(), nullptr), kDuplicateText));
  EXPECT_TRUE(Fails(kDuplicate, nv->Add(empty.Get(), value.AddressOf(), nullptr), kDuplicateText));
  // An empty string index finds the empty name. (A null string index is copied by the
  // platform's VariantCopyInd first, which under Wine turns it into an empty string.)
  ComPtr<NamedValue> found;
  auto byEmpty = VarText(L"");
  EXPECT_EQ(S_OK, nv->get_Item(byEmpty.AddressOf(), found.Put()));
  EXPECT_EQ(emptyItem.Get(), found.Get());
  EXPECT_EQ(L"<null>", NameOf(nullItem.Get()));
  // Both can be renamed and removed by their own key.
  EXPECT_EQ(S_OK, nv->Remove(nullptr));
  EXPECT_EQ(S_OK, nv->Remove(empty.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"a"}), Names(nv.Get()));
}

TEST_F(NamedValuesTest, StyleBitsAndWhenStyleMayChange) {
  auto nv = NewNamedValues();
  qxnvStyleConstants style{};
  for (const auto& [given, kept] : {std::pair{15, 15}, {0xFF, 15}, {0x10, 0}, {5, 5}, {-1, 15}, {0, 0}}) {
    EXPECT_EQ(S_OK, nv->put_Style(static_cast<qxnvStyleConstants>(given)));
    EXPECT_EQ(S_OK, nv->get_Style(&style));
    EXPECT_EQ(kept, style) << given;
  }
  Add(nv.Get(), L"a");
  const std::wstring lockedText = L"Property cannot be set while there are values in the collection.";
  EXPECT_TRUE(Fails(kStyleLocked, nv->put_Style(static_cast<qxnvStyleConstants>(0)), lockedText));
  EXPECT_TRUE(Fails(kStyleLocked, nv->put_Style(qxnvCaseSensitive), lockedText));
  // Emptied again, the style may change.
  EXPECT_EQ(S_OK, nv->Clear());
  EXPECT_EQ(S_OK, nv->put_Style(qxnvCaseSensitive));
  Add(nv.Get(), L"x");
  Add(nv.Get(), L"X");
  // An empty frozen collection refuses too, with the access code.
  auto frozen = NewNamedValues();
  EXPECT_EQ(S_OK, frozen->Freeze());
  EXPECT_TRUE(Fails(E_ACCESSDENIED, frozen->put_Style(qxnvCaseSensitive)));
  EXPECT_EQ(S_OK, frozen->get_Style(&style));
  EXPECT_EQ(0, style);
}

TEST_F(NamedValuesTest, ItemByNameOrPosition) {
  auto letters = Make({L"c", L"a", L"b"});  // public order a, b, c
  auto digits = Make({L"5", L"2", L"x"});   // public order 2, 5, x
  ForeignValue object;
  LONG byRefNumber = 2;
  auto byRefText = VarText(L"c");
  struct Case {
    const char* label;
    INamedValues2* nv;
    UniqueVariant index;
    const wchar_t* name;  // the member expected, or null for a failure
    HRESULT hr;
    std::wstring description;
  } cases[] = {
      {"name", letters.Get(), VarText(L"b"), L"b"},
      {"name in other case", letters.Get(), VarText(L"B"), L"b"},
      {"numeric string", letters.Get(), VarText(L"2"), L"b"},
      {"I2", letters.Get(), VarOf(VT_I2, [](VARIANT& v) { V_I2(&v) = 2; }), L"b"},
      {"I4", letters.Get(), VarI4(3), L"c"},
      {"R8 rounds up", letters.Get(), VarR8(2.6), L"c"},
      {"R4 rounds down", letters.Get(), VarOf(VT_R4, [](VARIANT& v) { V_R4(&v) = 1.4f; }), L"a"},
      {"INT", letters.Get(), VarOf(VT_INT, [](VARIANT& v) { V_INT(&v) = 1; }), L"a"},
      {"I8 through its text", letters.Get(), VarOf(VT_I8, [](VARIANT& v) { V_I8(&v) = 2; }), L"b"},
      {"byref I4", letters.Get(), VarOf(VT_BYREF | VT_I4, [&](VARIANT& v) { V_I4REF(&v) = &byRefNumber; }), L"b"},
      {"byref variant", letters.Get(),
       VarOf(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { V_VARIANTREF(&v) = byRefText.AddressOf(); }), L"c"},
      {"zero", letters.Get(), VarI4(0), nullptr, kRange, kRangeText},
      {"count + 1", letters.Get(), VarI4(4), nullptr, kRange, kRangeText},
      {"negative", letters.Get(), VarI4(-1), nullptr, kRange, kRangeText},
      {"R8 rounding past the end", letters.Get(), VarR8(3.6), nullptr, kRange, kRangeText},
      {"numeric string out of range", letters.Get(), VarText(L"7"), nullptr, kRange, kRangeText},
      {"empty", letters.Get(), UniqueVariant(), nullptr, kRange, kRangeText},
      {"bool", letters.Get(), VarOf(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_TRUE; }), nullptr, kRange,
       kRangeText},
      {"unknown string", letters.Get(), VarText(L"zzz"), nullptr, kNotFound, kNotFoundText + L"zzz"},
      {"null", letters.Get(), VarOf(VT_NULL, [](VARIANT&) {}), nullptr, E_INVALIDARG, L""},
      {"object", letters.Get(), VarOf(VT_DISPATCH, [&](VARIANT& v) { V_DISPATCH(&v) = &object, object.AddRef(); }),
       nullptr, E_INVALIDARG, L""},
      {"string naming a member wins", digits.Get(), VarText(L"2"), L"2"},
      {"number selects by position first", digits.Get(), VarI4(2), L"5"},
      {"number out of range finds its name", digits.Get(), VarI4(5), L"5"},
      {"real out of range finds its name", digits.Get(), VarR8(5.0), L"5"},
      {"string naming no member", digits.Get(), VarText(L"3"), L"x"},
      {"zero with digit names", digits.Get(), VarI4(0), nullptr, kRange, kRangeText},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.label);
    ComPtr<NamedValue> item;
    const HRESULT hr = c.nv->get_Item(c.index.AddressOf(), item.Put());
    if (c.name) {
      EXPECT_EQ(S_OK, hr);
      EXPECT_EQ(c.name, NameOf(item.Get()));
    } else {
      EXPECT_TRUE(Fails(c.hr, hr, c.description));
      EXPECT_FALSE(item);
    }
  }
  // Unsorted, positions follow insertion order; names are still found.
  ASSERT_EQ(S_OK, letters->put_Sorted(VARIANT_FALSE));
  auto first = VarI4(1);
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, letters->get_Item(first.AddressOf(), item.Put()));
  EXPECT_EQ(L"c", NameOf(item.Get()));
  // The caller's index is not changed by the conversions.
  auto text = VarText(L"2");
  EXPECT_EQ(S_OK, letters->get_Item(text.AddressOf(), item.Put()));
  EXPECT_EQ(VT_BSTR, text.Type());
  for (auto& c : cases) c.index.Reset();
  EXPECT_EQ(1, object.refs);
}

TEST_F(NamedValuesTest, AddStoresDereferencedCopies) {
  auto nv = NewNamedValues();
  LONG number = 7;
  auto byRef = VarOf(VT_BYREF | VT_I4, [&](VARIANT& v) { V_I4REF(&v) = &number; });
  auto name = Bstr(L"n");
  ComPtr<NamedValue> item;
  ASSERT_EQ(S_OK, nv->Add(name.Get(), byRef.AddressOf(), item.Put()));
  number = 8;
  UniqueVariant value;
  ASSERT_EQ(S_OK, item->get_Value(value.Put()));
  EXPECT_EQ(VT_I4, value.Type());
  EXPECT_EQ(7, V_I4(value.AddressOf()));
  // A string value is a copy, not the caller's BSTR.
  auto text = VarText(L"hello");
  auto other = Bstr(L"s");
  ASSERT_EQ(S_OK, nv->Add(other.Get(), text.AddressOf(), item.Put()));
  ASSERT_EQ(S_OK, item->get_Value(value.Put()));
  EXPECT_NE(V_BSTR(text.AddressOf()), V_BSTR(value.AddressOf()));
  EXPECT_EQ(L"hello", Text(V_BSTR(value.AddressOf())));
  // The out-pointer is optional.
  auto third = Bstr(L"t");
  EXPECT_EQ(S_OK, nv->Add(third.Get(), text.AddressOf(), nullptr));
  EXPECT_EQ(3, CountOf(nv.Get()));
}

TEST_F(NamedValuesTest, SetSize) {
  auto nv = Make({L"a", L"b", L"c"});
  EXPECT_TRUE(Fails(E_INVALIDARG, nv->SetSize(2)));
  EXPECT_EQ(S_OK, nv->SetSize(3));
  // Full to exact size, the store grows again on the next add; both orders survive.
  EXPECT_EQ(S_OK, nv->put_Sorted(VARIANT_FALSE));
  Add(nv.Get(), L"0");
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"c", L"0"}), InsertionNames(nv.Get()));
  EXPECT_EQ(S_OK, nv->SetSize(1000));
  for (int i = 0; i < 40; ++i) Add(nv.Get(), L"n" + std::to_wstring(i));
  EXPECT_EQ(44, CountOf(nv.Get()));
  auto empty = NewNamedValues();
  EXPECT_TRUE(Fails(E_INVALIDARG, empty->SetSize(-1)));
  EXPECT_EQ(S_OK, empty->SetSize(0));
  Add(empty.Get(), L"a");
  EXPECT_EQ(1, CountOf(empty.Get()));
}

TEST_F(NamedValuesTest, FrozenCollectionRefusesEveryChange) {
  auto nv = Make({L"a", L"b"});
  auto member = Add(nv.Get(), L"m", 1);
  ComPtr<INamedValue2> member2 = member.TryQuery<INamedValue2>();
  EXPECT_EQ(S_OK, nv->Freeze());
  EXPECT_EQ(S_OK, nv->Freeze());
  VARIANT_BOOL readOnly = 0;
  EXPECT_EQ(S_OK, nv->get_ReadOnly(&readOnly));
  EXPECT_EQ(VARIANT_TRUE, readOnly);
  auto name = Bstr(L"c");
  auto a = Bstr(L"a");
  auto value = VarI4(5);
  ComPtr<NamedValue> added;
  const std::pair<const char*, std::function<HRESULT()>> mutators[] = {
      {"Add", [&] { return nv->Add(name.Get(), value.AddressOf(), added.Put()); }},
      {"SetSize", [&] { return nv->SetSize(100); }},
      {"put_Style", [&] { return nv->put_Style(static_cast<qxnvStyleConstants>(0)); }},
      {"put_Sorted", [&] { return nv->put_Sorted(VARIANT_FALSE); }},
      {"Rename", [&] { return nv->Rename(a.Get(), name.Get()); }},
      {"Rename to the same name", [&] { return nv->Rename(a.Get(), a.Get()); }},
      {"Remove", [&] { return nv->Remove(a.Get()); }},
      {"Remove a missing name", [&] { return nv->Remove(name.Get()); }},
      {"Clear", [&] { return nv->Clear(); }},
      {"member put_Value", [&] { return member->put_Value(value.Get()); }},
      {"member Rename", [&] { return member2->Rename(name.Get()); }},
      {"member Detach", [&] { return member2->Detach(); }},
  };
  for (const auto& [label, call] : mutators) {
    SCOPED_TRACE(label);
    EXPECT_TRUE(Fails(E_ACCESSDENIED, call()));
  }
  EXPECT_FALSE(added);
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"m"}), Names(nv.Get()));
  UniqueVariant current;
  EXPECT_EQ(S_OK, member->get_Value(current.Put()));
  EXPECT_EQ(1, V_I4(current.AddressOf()));
  ComPtr<_NamedValues> parent;
  EXPECT_EQ(S_OK, member->get_Parent(parent.Put()));
  EXPECT_TRUE(parent);

  // An orphan may still be adopted, after which it is frozen with its new collection.
  auto source = Make({L"orphan"});
  auto orphanName = Bstr(L"orphan");
  auto index = VarText(L"orphan");
  ComPtr<NamedValue> orphan;
  ASSERT_EQ(S_OK, source->get_Item(index.AddressOf(), orphan.Put()));
  ASSERT_EQ(S_OK, source->Remove(orphanName.Get()));
  EXPECT_EQ(S_OK, orphan->put_Value(value.Get()));
  EXPECT_EQ(S_OK, nv->Insert(orphan.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"m", L"orphan"}), Names(nv.Get()));
  EXPECT_TRUE(Fails(E_ACCESSDENIED, orphan->put_Value(value.Get())));
}

TEST_F(NamedValuesTest, Rename) {
  auto nv = Make({L"a", L"c", L"e"});
  auto item = [&](const wchar_t* name) {
    auto index = VarText(name);
    ComPtr<NamedValue> found;
    EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), found.Put())) << name;
    return found;
  };
  auto a = item(L"a");
  // Case only: same position, new spelling.
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"A").Get(), Bstr(L"A").Get()));
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"a").Get(), Bstr(L"A").Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"A", L"c", L"e"}), SortedNames(nv.Get()));
  EXPECT_EQ(a.Get(), item(L"a").Get());
  // Moving up and down in name order; insertion order stays.
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"A").Get(), Bstr(L"d").Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"c", L"d", L"e"}), SortedNames(nv.Get()));
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"e").Get(), Bstr(L"b").Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"b", L"c", L"d"}), SortedNames(nv.Get()));
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"b").Get(), Bstr(L"z").Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"c", L"d", L"z"}), SortedNames(nv.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"d", L"c", L"z"}), InsertionNames(nv.Get()));
  EXPECT_EQ(a.Get(), item(L"d").Get());
  // Refusals leave everything as it was.
  EXPECT_TRUE(Fails(kDuplicate, nv->Rename(Bstr(L"d").Get(), Bstr(L"C").Get()), kDuplicateText + L"C"));
  EXPECT_TRUE(Fails(kNotFound, nv->Rename(Bstr(L"q").Get(), Bstr(L"r").Get()), kNotFoundText + L"q"));
  EXPECT_TRUE(Fails(kNotFound, nv->Rename(Bstr(L" d").Get(), Bstr(L"r").Get()), kNotFoundText + L" d"));
  EXPECT_EQ((std::vector<std::wstring>{L"c", L"d", L"z"}), SortedNames(nv.Get()));
  EXPECT_EQ(L"d", NameOf(a.Get()));
  // The new name is taken as given, blanks included.
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"d").Get(), Bstr(L" d ").Get()));
  EXPECT_EQ(L" d ", NameOf(a.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L" d ", L"c", L"z"}), SortedNames(nv.Get()));
  // To and from the null name.
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"z").Get(), nullptr));
  EXPECT_EQ((std::vector<std::wstring>{L"<null>", L" d ", L"c"}), SortedNames(nv.Get()));
  EXPECT_EQ(S_OK, nv->Rename(nullptr, Bstr(L"y").Get()));
  EXPECT_EQ((std::vector<std::wstring>{L" d ", L"c", L"y"}), SortedNames(nv.Get()));
}

TEST_F(NamedValuesTest, RenameAcrossManyMembersKeepsLookupWorking) {
  auto nv = NewNamedValues();
  for (int i = 0; i < 50; ++i) Add(nv.Get(), L"k" + std::to_wstring(100 + i), i);
  for (int i = 0; i < 50; i += 3) {
    EXPECT_EQ(S_OK, nv->Rename(Bstr(L"k" + std::to_wstring(100 + i)).Get(), Bstr(L"j" + std::to_wstring(i)).Get()));
  }
  auto names = SortedNames(nv.Get());
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  for (const auto& name : names) {
    auto index = VarText(name);
    ComPtr<NamedValue> found;
    EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), found.Put())) << testing::PrintToString(name);
  }
}

TEST_F(NamedValuesTest, RemoveKeepsBothOrdersConsistent) {
  auto nv = Make({L"d", L"b", L"e", L"a", L"c"});
  auto index = VarText(L"c");
  ComPtr<NamedValue> last;
  ASSERT_EQ(S_OK, nv->get_Item(index.AddressOf(), last.Put()));
  EXPECT_EQ(S_OK, nv->Remove(Bstr(L"C").Get()));  // last in insertion order
  ComPtr<_NamedValues> parent;
  EXPECT_EQ(S_OK, last->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  EXPECT_EQ(S_OK, nv->Remove(Bstr(L"e").Get()));  // in the middle of both
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"d"}), SortedNames(nv.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"d", L"b", L"a"}), InsertionNames(nv.Get()));
  EXPECT_TRUE(Fails(kNotFound, nv->Remove(Bstr(L"e").Get()), kNotFoundText + L"e"));
  EXPECT_TRUE(Fails(kNotFound, nv->Remove(Bstr(L" a").Get()), kNotFoundText + L" a"));
  EXPECT_EQ(3, CountOf(nv.Get()));
  for (const wchar_t* name : {L"a", L"d", L"b"}) EXPECT_EQ(S_OK, nv->Remove(Bstr(name).Get()));
  EXPECT_EQ(0, CountOf(nv.Get()));
  Add(nv.Get(), L"again");
  EXPECT_EQ((std::vector<std::wstring>{L"again"}), InsertionNames(nv.Get()));
}

TEST_F(NamedValuesTest, ClearReleasesMembersButNotEnumerators) {
  auto nv = Make({L"b", L"a"});
  auto index = VarText(L"a");
  ComPtr<NamedValue> held;
  ASSERT_EQ(S_OK, nv->get_Item(index.AddressOf(), held.Put()));
  ComPtr<_EnumNamedValue> members;
  ComPtr<IUnknown> variants;
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  ASSERT_EQ(S_OK, nv->get__NewEnum(variants.Put()));
  EXPECT_EQ(S_OK, nv->Clear());
  EXPECT_EQ(0, CountOf(nv.Get()));
  ComPtr<_NamedValues> parent;
  EXPECT_EQ(S_OK, held->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  EXPECT_EQ(L"a", NameOf(held.Get()));
  // Both enumerators still give the old members.
  ComPtr<NamedValue> member;
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(held.Get(), member.Get());
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(L"b", NameOf(member.Get()));
  auto enumVariant = variants.TryQuery<IEnumVARIANT>();
  ASSERT_TRUE(enumVariant);
  UniqueVariant first[2];
  ULONG fetched = 0;
  VARIANT raw[2];
  EXPECT_EQ(S_OK, enumVariant->Next(2, raw, &fetched));
  ASSERT_EQ(2u, fetched);
  first[0].Attach(raw[0]);
  first[1].Attach(raw[1]);
  EXPECT_EQ(L"a", NameOf(V_DISPATCH(first[0].AddressOf())));
  EXPECT_EQ(L"b", NameOf(V_DISPATCH(first[1].AddressOf())));
  // The cleared member is an orphan that another collection (or this one) may adopt.
  EXPECT_EQ(S_OK, nv->Insert(held.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"a"}), Names(nv.Get()));
}

TEST_F(NamedValuesTest, Insert) {
  auto from = Make({L"x", L"y"});
  auto to = Make({L"a", L"z"});
  auto index = VarText(L"x");
  ComPtr<NamedValue> member;
  ASSERT_EQ(S_OK, from->get_Item(index.AddressOf(), member.Put()));
  auto member2 = member.TryQuery<INamedValue2>();
  ASSERT_TRUE(member2);
  const std::wstring notOrphanText = L"Cannot insert NamedValue because it already has a parent";
  EXPECT_TRUE(Fails(kNotOrphan, to->Insert(member.Get()), notOrphanText));
  ASSERT_EQ(S_OK, member2->Detach());
  EXPECT_EQ(S_OK, to->Insert(member.Get()));
  EXPECT_TRUE(Fails(kNotOrphan, to->Insert(member.Get()), notOrphanText));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"x", L"z"}), SortedNames(to.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"z", L"x"}), InsertionNames(to.Get()));
  ComPtr<_NamedValues> parent;
  ASSERT_EQ(S_OK, member->get_Parent(parent.Put()));
  EXPECT_EQ(to.TryQuery<IUnknown>().Get(), parent.TryQuery<IUnknown>().Get());
  EXPECT_EQ((std::vector<std::wstring>{L"y"}), Names(from.Get()));

  // An orphan's blanks are trimmed by the adopting collection's style.
  ASSERT_EQ(S_OK, member2->Detach());
  ASSERT_EQ(S_OK, member2->Rename(Bstr(L"  spaced ").Get()));
  EXPECT_EQ(L"  spaced ", NameOf(member.Get()));
  EXPECT_EQ(S_OK, to->Insert(member.Get()));
  EXPECT_EQ(L"spaced", NameOf(member.Get()));
  // A name already present is refused (after the trimming).
  ASSERT_EQ(S_OK, member2->Detach());
  ASSERT_EQ(S_OK, member2->Rename(Bstr(L" A").Get()));
  EXPECT_TRUE(Fails(kDuplicate, to->Insert(member.Get()), kDuplicateText + L"A"));
  EXPECT_EQ(S_OK, member->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  EXPECT_EQ(L"A", NameOf(member.Get()));  // trimmed before the duplicate was found
  // A collection that allows blanks keeps them.
  ASSERT_EQ(S_OK, member2->Rename(Bstr(L" A").Get()));
  auto spaced = Make({}, qxnvAllowLeadingSpace);
  EXPECT_EQ(S_OK, spaced->Insert(member.Get()));
  EXPECT_EQ(L" A", NameOf(member.Get()));

  EXPECT_TRUE(Fails(E_POINTER, to->Insert(nullptr)));
  ForeignValue foreign;
  EXPECT_TRUE(Fails(E_FAIL, to->Insert(&foreign)));
  EXPECT_EQ(1, foreign.refs);
  EXPECT_EQ(2, CountOf(to.Get()));
}

TEST_F(NamedValuesTest, NewEnumIsASnapshotEnumVariant) {
  auto nv = Make({L"e", L"d", L"c", L"b", L"a"});
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, nv->get__NewEnum(unknown.Put()));
  auto items = unknown.TryQuery<IEnumVARIANT>();
  ASSERT_TRUE(items);
  // Later changes do not reach the snapshot.
  EXPECT_EQ(S_OK, nv->Remove(Bstr(L"a").Get()));
  Add(nv.Get(), L"0");
  auto take = [](IEnumVARIANT* e, ULONG n, HRESULT expected) {
    std::vector<VARIANT> raw(n);
    ULONG fetched = 99;
    EXPECT_EQ(expected, e->Next(n, raw.data(), &fetched));
    std::vector<std::wstring> names;
    for (ULONG i = 0; i < fetched && i < n; ++i) {
      EXPECT_EQ(VT_DISPATCH, V_VT(&raw[i]));
      names.push_back(NameOf(V_DISPATCH(&raw[i])));
      VariantClear(&raw[i]);
    }
    return names;
  };
  using List = std::vector<std::wstring>;
  EXPECT_EQ((List{L"a", L"b"}), take(items.Get(), 2, S_OK));
  ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(S_OK, items->Clone(clone.Put()));
  EXPECT_EQ(S_OK, items->Skip(1));
  EXPECT_EQ((List{L"d", L"e"}), take(items.Get(), 3, S_FALSE));
  EXPECT_EQ((List{}), take(items.Get(), 1, S_FALSE));
  EXPECT_EQ((List{L"c", L"d", L"e"}), take(clone.Get(), 5, S_FALSE));
  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_FALSE, items->Skip(9));
  EXPECT_EQ((List{}), take(items.Get(), 1, S_FALSE));
  EXPECT_EQ(S_OK, items->Reset());
  VARIANT one;
  EXPECT_EQ(S_OK, items->Next(1, &one, nullptr));  // a single item needs no count
  EXPECT_EQ(L"a", NameOf(V_DISPATCH(&one)));
  VariantClear(&one);
  EXPECT_EQ((List{L"b", L"c", L"d", L"e"}), take(items.Get(), 4, S_OK));
  // The snapshot follows the public order at the time it was made.
  ASSERT_EQ(S_OK, nv->put_Sorted(VARIANT_FALSE));
  ASSERT_EQ(S_OK, nv->get__NewEnum(unknown.Put()));
  items = unknown.TryQuery<IEnumVARIANT>();
  EXPECT_EQ((List{L"e", L"d", L"c", L"b", L"0"}), take(items.Get(), 9, S_FALSE));
  // An empty collection gives an enumerator that is done at once.
  auto empty = NewNamedValues();
  ASSERT_EQ(S_OK, empty->get__NewEnum(unknown.Put()));
  EXPECT_EQ((List{}), take(unknown.TryQuery<IEnumVARIANT>().Get(), 1, S_FALSE));
}

TEST_F(NamedValuesTest, NullOutPointers) {
  auto nv = Make({L"a"});
  auto index = VarI4(1);
  const std::pair<const char*, std::function<HRESULT()>> calls[] = {
      {"Item", [&] { return nv->get_Item(index.AddressOf(), nullptr); }},
      {"Item without index",
       [&] {
         ComPtr<NamedValue> item;
         return nv->get_Item(nullptr, item.Put());
       }},
      {"Count", [&] { return nv->get_Count(nullptr); }},
      {"ReadOnly", [&] { return nv->get_ReadOnly(nullptr); }},
      {"Style", [&] { return nv->get_Style(nullptr); }},
      {"Sorted", [&] { return nv->get_Sorted(nullptr); }},
      {"_NewEnum", [&] { return nv->get__NewEnum(nullptr); }},
      {"_MemberEnum", [&] { return nv->get__MemberEnum(nullptr); }},
      {"Insert", [&] { return nv->Insert(nullptr); }},
  };
  for (const auto& [label, call] : calls) {
    SCOPED_TRACE(label);
    EXPECT_TRUE(Fails(E_POINTER, call()));
  }
}

TEST_F(NamedValuesTest, VeryLongNames) {
  auto nv = NewNamedValues();
  const std::wstring name = L"Long" + std::wstring(1000000, L'n');
  Add(nv.Get(), name, 1);
  Add(nv.Get(), name + L"!", 2);
  std::wstring upper = name;
  for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
  auto index = VarText(upper);
  ComPtr<NamedValue> found;
  ASSERT_EQ(S_OK, nv->get_Item(index.AddressOf(), found.Put()));
  EXPECT_EQ(name, NameOf(found.Get()));
  auto value = VarI4(3);
  EXPECT_TRUE(Fails(kDuplicate, nv->Add(Bstr(upper).Get(), value.AddressOf(), nullptr), kDuplicateText + upper));
  EXPECT_EQ(2, CountOf(nv.Get()));
}

TEST_F(NamedValuesTest, SuccessfulCallsLeaveTheThreadErrorObjectAlone) {
  // These methods neither clear on entry nor close with a report of their own.
  auto nv = Make({L"a"});
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Put()));
  create->SetDescription(const_cast<LPOLESTR>(L"earlier"));
  create->SetSource(const_cast<LPOLESTR>(L"QXSDK"));
  SetErrorInfo(0, create.TryQuery<IErrorInfo>().Get());
  auto index = VarText(L"a");
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), item.Put()));
  Add(nv.Get(), L"b");
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"b").Get(), Bstr(L"c").Get()));
  EXPECT_EQ(S_OK, nv->Remove(Bstr(L"c").Get()));
  EXPECT_EQ(1, CountOf(nv.Get()));
  EXPECT_TRUE(TakeError(L"earlier"));
}

TEST_F(NamedValuesTest, InterfacesAndErrorInfoSupport) {
  auto nv = NewNamedValues();
  auto unknown = nv.TryQuery<IUnknown>();
  ASSERT_TRUE(unknown);
  const IID answered[] = {__uuidof(_NamedValues), __uuidof(INamedValues2), __uuidof(ISlimFast), __uuidof(IRefresh),
                          __uuidof(ITraverse),    __uuidof(INameResolver), IID_IDispatch,       IID_ISupportErrorInfo};
  for (const IID& iid : answered) {
    ComPtr<IUnknown> asked;
    ASSERT_EQ(S_OK, nv->QueryInterface(iid, asked.PutVoid()));
    // Every interface leads back to the same identity and to every other interface.
    EXPECT_EQ(unknown.Get(), asked.TryQuery<IUnknown>().Get());
    EXPECT_TRUE(asked.TryQuery<INamedValues2>());
    EXPECT_TRUE(asked.TryQuery<ITraverse>());
  }
  for (const IID& iid :
       {__uuidof(NamedValue), __uuidof(IEnumVARIANT), __uuidof(_EnumNamedValue), __uuidof(IRefresh2), IID_IPersist}) {
    ComPtr<IUnknown> asked;
    EXPECT_EQ(E_NOINTERFACE, nv->QueryInterface(iid, asked.PutVoid()));
    EXPECT_FALSE(asked);
  }
  EXPECT_EQ(E_POINTER, nv->QueryInterface(IID_IUnknown, nullptr));

  auto support = nv.TryQuery<ISupportErrorInfo>();
  ASSERT_TRUE(support);
  for (const IID& iid : answered) {
    const bool described = iid != IID_IDispatch && iid != IID_ISupportErrorInfo;
    EXPECT_EQ(described ? S_OK : S_FALSE, support->InterfaceSupportsErrorInfo(iid));
  }
  for (const IID& iid : {IID_IUnknown, __uuidof(NamedValue), __uuidof(INamedValue2), IID_NULL}) {
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(iid));
  }
}

TEST_F(NamedValuesTest, DispatchIsTheSecondVersionDual) {
  auto nv = NewNamedValues();
  auto dispatch = nv.TryQuery<IDispatch>();
  ASSERT_TRUE(dispatch);
  UINT count = 0;
  EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()));
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
  EXPECT_EQ(__uuidof(INamedValues2), attributes->guid);
  info->ReleaseTypeAttr(attributes);
  const std::pair<const wchar_t*, DISPID> ids[] = {{L"Item", 0},
                                                   {L"Count", 1},
                                                   {L"Add", 2},
                                                   {L"Rename", 100},
                                                   {L"Remove", 101},
                                                   {L"Insert", 104},
                                                   {L"_NewEnum", DISPID_NEWENUM},
                                                   {L"Sorted", 17}};
  for (const auto& [name, id] : ids) EXPECT_EQ(id, IdOf(dispatch.Get(), name)) << name;
  auto* unknownName = const_cast<LPOLESTR>(L"NoSuchMember");
  DISPID id = 0;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, &unknownName, 1, LOCALE_USER_DEFAULT, &id));
}

TEST_F(NamedValuesTest, CallsThroughDispatch) {
  auto nv = NewNamedValues();
  auto dispatch = nv.TryQuery<IDispatch>();
  ASSERT_TRUE(dispatch);
  auto name = VarText(L"Timeout");
  auto thirty = VarI4(30);
  Outcome added = Invoke(dispatch.Get(), IdOf(dispatch.Get(), L"Add"), DISPATCH_METHOD, {name.Get(), thirty.Get()});
  ASSERT_EQ(S_OK, added.hr);
  ASSERT_EQ(VT_DISPATCH, added.result.Type());
  EXPECT_EQ(L"Timeout", NameOf(V_DISPATCH(added.result.AddressOf())));
  auto other = VarText(L"b");
  EXPECT_EQ(S_OK, Invoke(dispatch.Get(), 2, DISPATCH_METHOD, {other.Get(), thirty.Get()}).hr);

  Outcome counted = Invoke(dispatch.Get(), 1, DISPATCH_PROPERTYGET);
  ASSERT_EQ(S_OK, counted.hr);
  EXPECT_EQ(VT_I4, counted.result.Type());
  EXPECT_EQ(2, V_I4(counted.result.AddressOf()));

  // Item is the default member; by name and by position.
  auto lower = VarText(L"timeout");
  Outcome item = Invoke(dispatch.Get(), DISPID_VALUE, DISPATCH_PROPERTYGET, {lower.Get()});
  ASSERT_EQ(S_OK, item.hr);
  EXPECT_EQ(L"Timeout", NameOf(V_DISPATCH(item.result.AddressOf())));
  auto two = VarI4(2);
  item = Invoke(dispatch.Get(), DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {two.Get()});
  ASSERT_EQ(S_OK, item.hr);
  EXPECT_EQ(L"Timeout", NameOf(V_DISPATCH(item.result.AddressOf())));

  // A failure comes back as an exception carrying the library's text and code.
  auto missing = VarText(L"zzz");
  Outcome failed = Invoke(dispatch.Get(), DISPID_VALUE, DISPATCH_PROPERTYGET, {missing.Get()});
  EXPECT_EQ(DISP_E_EXCEPTION, failed.hr);
  EXPECT_EQ(kNotFound, failed.scode);
  EXPECT_EQ(kNotFoundText + L"zzz", failed.description);
  EXPECT_EQ(L"QXSDK", failed.source);
  failed = Invoke(dispatch.Get(), 2, DISPATCH_METHOD, {lower.Get(), thirty.Get()});
  EXPECT_EQ(DISP_E_EXCEPTION, failed.hr);
  EXPECT_EQ(kDuplicate, failed.scode);
  EXPECT_EQ(kDuplicateText + L"timeout", failed.description);

  auto newName = VarText(L"a");
  EXPECT_EQ(S_OK, Invoke(dispatch.Get(), 100, DISPATCH_METHOD, {lower.Get(), newName.Get()}).hr);
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), Names(nv.Get()));
  EXPECT_EQ(S_OK, Invoke(dispatch.Get(), 101, DISPATCH_METHOD, {other.Get()}).hr);
  failed = Invoke(dispatch.Get(), 101, DISPATCH_METHOD, {other.Get()});
  EXPECT_EQ(DISP_E_EXCEPTION, failed.hr);
  EXPECT_EQ(kNotFoundText + L"b", failed.description);

  // Properties set through dispatch.
  auto falseValue = VarOf(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_FALSE; });
  EXPECT_EQ(S_OK, Invoke(dispatch.Get(), 17, DISPATCH_PROPERTYPUT, {falseValue.Get()}).hr);
  VARIANT_BOOL sorted = VARIANT_TRUE;
  EXPECT_EQ(S_OK, nv->get_Sorted(&sorted));
  EXPECT_EQ(VARIANT_FALSE, sorted);
  failed = Invoke(dispatch.Get(), 16, DISPATCH_PROPERTYPUT, {thirty.Get()});
  EXPECT_EQ(DISP_E_EXCEPTION, failed.hr);
  EXPECT_EQ(kStyleLocked, failed.scode);

  // _NewEnum as a property and, for script engines, as a method.
  for (WORD flags : {WORD{DISPATCH_PROPERTYGET}, WORD{DISPATCH_METHOD}}) {
    Outcome enumerated = Invoke(dispatch.Get(), DISPID_NEWENUM, flags);
    ASSERT_EQ(S_OK, enumerated.hr) << flags;
    ASSERT_TRUE(enumerated.result.Type() == VT_UNKNOWN || enumerated.result.Type() == VT_DISPATCH);
    ComPtr<IEnumVARIANT> items;
    EXPECT_EQ(S_OK, V_UNKNOWN(enumerated.result.AddressOf())->QueryInterface(IID_IEnumVARIANT, items.PutVoid()));
    VARIANT first;
    ASSERT_EQ(S_OK, items->Next(1, &first, nullptr));
    EXPECT_EQ(L"a", NameOf(V_DISPATCH(&first)));
    VariantClear(&first);
  }

  // Arguments: a missing required one is refused by dispatch; an omitted optional one reaches
  // the method with its default.
  EXPECT_TRUE(FAILED(Invoke(dispatch.Get(), 2, DISPATCH_METHOD, {name.Get()}).hr));
  // (Copy of a member onto itself, replacing by default; or the method's not-implemented answer.)
  Outcome copied = Invoke(dispatch.Get(), 3, DISPATCH_METHOD, {added.result.Get()});
  EXPECT_TRUE(copied.hr == S_OK || (copied.hr == DISP_E_EXCEPTION && copied.scode == E_NOTIMPL))
      << std::hex << copied.hr << " " << copied.scode;
  EXPECT_EQ(1, CountOf(nv.Get()));
}

}  // namespace
}  // namespace qx::test
