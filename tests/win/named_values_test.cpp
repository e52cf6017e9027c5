// NamedValues, NamedValue and the member enumerator through the vtable (the script suites check
// late binding): name rules, the two orders, lookup, refusals with their codes and texts,
// snapshots, Copy, Merge, Clone, Traverse, Resolve, SlimFast and Refresh, the string form, and
// hostile sizes.
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

using namespace std::string_literals;
using List = std::vector<std::wstring>;

constexpr HRESULT kStyleLocked = static_cast<HRESULT>(0x80040420);
constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80040422);
constexpr HRESULT kRange = static_cast<HRESULT>(0x80040423);
constexpr HRESULT kInvalidOptions = static_cast<HRESULT>(0x800404A1);
constexpr HRESULT kNotOrphan = static_cast<HRESULT>(0x800405D7);
const std::wstring kDuplicateText = L"Cannot add duplicate name to the collection: ";
const std::wstring kNotFoundText = L"Name not found in collection: ";
const std::wstring kRangeText = L"Item number must be from 1 to the number of objects in the collection.";

ComPtr<NamedValue> Add(INamedValues2* nv, const std::wstring& name, LONG value = 0) {
  auto v = VarI4(value);
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, nv->Add(Bstr(name).Get(), v.AddressOf(), item.Put())) << testing::PrintToString(name);
  return item;
}
// A collection of `names` added in that order, each valued by its position (1, 2, ...).
ComPtr<INamedValues2> Make(std::initializer_list<std::wstring> names, LONG style = 0) {
  auto nv = NewNamedValues();
  EXPECT_EQ(S_OK, nv->put_Style(static_cast<qxnvStyleConstants>(style)));
  LONG value = 0;
  for (const auto& name : names) Add(nv.Get(), name, ++value);
  return nv;
}
ComPtr<NamedValue> Item(INamedValues2* nv, const std::wstring& name) {
  auto index = VarText(name);
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), item.Put())) << testing::PrintToString(name);
  return item;
}
ComPtr<INamedValue2> Member(INamedValues2* nv, const std::wstring& name) {
  return Item(nv, name).TryQuery<INamedValue2>();
}
LONG ValueOf(IUnknown* item) {
  ComPtr<NamedValue> member = As<NamedValue>(item);
  UniqueVariant value;
  EXPECT_EQ(S_OK, member->get_Value(value.Put()));
  EXPECT_EQ(VT_I4, value.Type());
  return V_I4(value.AddressOf());
}
// The public order with Sorted set as given, read through the enumerator and checked against
// Item by position.
List Ordered(INamedValues2* nv, VARIANT_BOOL sorted) {
  EXPECT_EQ(S_OK, nv->put_Sorted(sorted));
  const List names = Names(nv);
  List byPosition;
  for (LONG i = 1; i <= static_cast<LONG>(names.size()); ++i) {
    auto index = VarI4(i);
    ComPtr<NamedValue> item;
    EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), item.Put()));
    byPosition.push_back(NameOf(item.Get()));
  }
  EXPECT_EQ(names, byPosition);
  return names;
}
using NamedValuesTest = LeakCheckedTest;

// ---- name rules ---------------------------------------------------------------------------

TEST_F(NamedValuesTest, OrderingByStyle) {
  const struct {
    LONG style;
    List added, sorted;
  } cases[] = {
      {0, {L"b", L"A", L"c", L"_x", L"B1"}, {L"_x", L"A", L"b", L"B1", L"c"}},  // '_' before folded letters
      {1, {L"a", L"_x", L"A"}, {L"A", L"_x", L"a"}},                           // ordinal: 'A' < '_' < 'a'
      {0, {L"ab", L"a", L"", L"abc"}, {L"", L"a", L"ab", L"abc"}},              // a prefix sorts first
      {0, {L"b", L"a\u00E9", L"A\u00C8"}, {L"A\u00C8", L"a\u00E9", L"b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style << ", first " << testing::PrintToString(c.added[0]));
    auto nv = NewNamedValues();
    ASSERT_EQ(S_OK, nv->put_Style(static_cast<qxnvStyleConstants>(c.style)));
    // Unsorted while filled: both orders stay up to date whichever is public.
    ASSERT_EQ(S_OK, nv->put_Sorted(VARIANT_FALSE));
    for (const auto& name : c.added) Add(nv.Get(), name);
    EXPECT_EQ(c.sorted, Ordered(nv.Get(), 1));  // any non-zero value sorts
    VARIANT_BOOL sorted = 0;
    EXPECT_EQ(S_OK, nv->get_Sorted(&sorted));
    EXPECT_EQ(VARIANT_TRUE, sorted);
    EXPECT_EQ(c.added, Ordered(nv.Get(), VARIANT_FALSE));
  }
}

TEST_F(NamedValuesTest, DuplicateNamesByStyle) {
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
    auto value = VarI4(2);
    ComPtr<NamedValue> item;
    const HRESULT hr = nv->Add(Bstr(c.second).Get(), value.AddressOf(), item.Put());
    if (c.reported) {
      // The message names the new key (less any trimmed blanks), not the member it met.
      EXPECT_TRUE(Fails(kDuplicate, hr, kDuplicateText + c.reported));
      EXPECT_FALSE(item);
      EXPECT_EQ(1, CountOf(nv.Get()));
    } else {
      EXPECT_EQ(S_OK, hr);
      for (const auto& name : {c.first, c.second}) EXPECT_EQ(name, NameOf(Item(nv.Get(), name).Get()));
    }
  }
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
    EXPECT_EQ(item.Get(), Item(nv.Get(), c.stored).Get());
  }
}

TEST_F(NamedValuesTest, NullAndEmptyNamesAreDifferentMembers) {
  auto nv = NewNamedValues();
  auto value = VarI4(1);
  ComPtr<NamedValue> nullItem;
  ASSERT_EQ(S_OK, nv->Add(nullptr, value.AddressOf(), nullItem.Put()));
  BSTR raw = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(S_OK, nullItem->get_Name(&raw));
  EXPECT_EQ(nullptr, raw);
  auto emptyItem = Add(nv.Get(), L"");
  Add(nv.Get(), L"a\0b\0"s);
  EXPECT_EQ((List{L"<null>", L"", L"a\0b\0"s}), Ordered(nv.Get(), VARIANT_TRUE));
  EXPECT_TRUE(Fails(kDuplicate, nv->Add(nullptr, value.AddressOf(), nullptr), kDuplicateText));
  EXPECT_TRUE(Fails(kDuplicate, nv->Add(Bstr(L"").Get(), value.AddressOf(), nullptr), kDuplicateText));
  // An empty string index finds the empty name (a null string index reaches the method as an
  // empty one: the platform's VariantCopyInd makes it so under Wine).
  EXPECT_EQ(emptyItem.Get(), Item(nv.Get(), L"").Get());
  EXPECT_EQ(S_OK, nv->Remove(nullptr));
  EXPECT_EQ(S_OK, nv->Remove(Bstr(L"").Get()));
  EXPECT_EQ((List{L"a\0b\0"s}), Names(nv.Get()));
}

TEST_F(NamedValuesTest, ItemByNameOrPosition) {
  auto letters = Make({L"c", L"a", L"b"});  // public order a, b, c
  auto digits = Make({L"5", L"2", L"x"});   // public order 2, 5, x
  ForeignMember object(L"o", 0);
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
      {"lookup does not trim", letters.Get(), VarText(L" a"), nullptr, kNotFound, kNotFoundText + L" a"},
      {"null", letters.Get(), VarOf(VT_NULL, [](VARIANT&) {}), nullptr, E_INVALIDARG, L""},
      {"object", letters.Get(), VarObject(static_cast<NamedValue*>(&object)), nullptr, E_INVALIDARG, L""},
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
    const VARTYPE type = c.index.Type();
    const HRESULT hr = c.nv->get_Item(c.index.AddressOf(), item.Put());
    EXPECT_EQ(type, c.index.Type()) << "the caller's index is left as it was";
    if (c.name) {
      EXPECT_EQ(S_OK, hr);
      EXPECT_EQ(c.name, NameOf(item.Get()));
    } else {
      EXPECT_TRUE(Fails(c.hr, hr, c.description));
      EXPECT_FALSE(item);
    }
  }
  for (auto& c : cases) c.index.Reset();
  EXPECT_EQ(0, object.refs);
}

// ---- refusals: code, text, and nothing changed ---------------------------------------------

TEST_F(NamedValuesTest, RefusalsReportAndChangeNothing) {
  const std::wstring copyReport = L"NAMEDVALUES error CNamedValues::Copy";
  const std::wstring mergeReport = L"NAMEDVALUES error CNamedValues::Merge";
  ForeignMember foreign(L"f", 1);
  auto mergeSource = Make({L"c"});
  auto index = VarI4(1);
  auto value = VarI4(5);
  auto traverse = [](INamedValues2* nv, int style) {
    auto noVisit = +[](IUnknown*, void*) -> HRESULT { return S_OK; };
    return As<ITraverse>(nv)->Traverse(reinterpret_cast<void*>(noVisit), nullptr, static_cast<qxtrStyleFlags>(style));
  };
  enum { kFrozen = 1, kStale = 2 };  // frozen first; a stale error object of another source on the thread
  const Refusal<INamedValues2> rows[] = {
      {"Style with members", 0, [](auto nv) { return nv->put_Style(qxnvCaseSensitive); }, kStyleLocked,
       L"Property cannot be set while there are values in the collection."},
      {"SetSize below Count", 0, [](auto nv) { return nv->SetSize(1); }, E_INVALIDARG, L""},
      {"Rename to a taken name", 0,
       [](auto nv) { return nv->Rename(Bstr(L"a").Get(), Bstr(L"B").Get()); }, kDuplicate, kDuplicateText + L"B"},
      {"Rename of a missing name", 0,
       [](auto nv) { return nv->Rename(Bstr(L"q").Get(), Bstr(L"r").Get()); }, kNotFound, kNotFoundText + L"q"},
      {"Rename does not trim", 0,
       [](auto nv) { return nv->Rename(Bstr(L" a").Get(), Bstr(L"r").Get()); }, kNotFound, kNotFoundText + L" a"},
      {"Remove of a missing name", 0, [](auto nv) { return nv->Remove(Bstr(L"zz").Get()); }, kNotFound,
       kNotFoundText + L"zz"},
      {"member Rename to a taken name", 0,
       [](auto nv) { return Member(nv, L"a")->Rename(Bstr(L"B").Get()); }, kDuplicate, kDuplicateText + L"B"},
      {"Insert of a member", 0, [](auto nv) { return nv->Insert(Item(nv, L"a").Get()); }, kNotOrphan,
       L"Cannot insert NamedValue because it already has a parent"},
      {"Insert of a foreign member", 0, [&](auto nv) { return nv->Insert(&foreign); }, E_FAIL, L""},
      {"Copy refusing a duplicate", 0,
       [](auto nv) { return nv->Copy(Item(nv, L"a").Get(), VARIANT_FALSE, nullptr); }, kDuplicate,
       kDuplicateText + L"a"},
      {"Copy of nothing", kStale, [](auto nv) { return nv->Copy(nullptr, VARIANT_TRUE, nullptr); }, E_POINTER,
       copyReport},
      {"Merge of nothing", kStale, [](auto nv) { return nv->Merge(nullptr, VARIANT_TRUE); }, E_POINTER,
       mergeReport},
      {"Merge into itself refusing", 0, [](auto nv) { return nv->Merge(nv, VARIANT_FALSE); }, kDuplicate,
       kDuplicateText + L"b"},
      {"Traverse with both orders", 0, [&](auto nv) { return traverse(nv, 3); }, kInvalidOptions,
       L"Invalid option, or combination of options, for this operation."},
      {"Resolve of a missing name", 0,
       [](auto nv) {
         UniqueVariant out;
         return As<INameResolver>(nv)->Resolve(Bstr(L"zz").Get(), out.Put());
       },
       kNotFound, kNotFoundText + L"zz"},
      {"Item out", 0, [&](auto nv) { return nv->get_Item(index.AddressOf(), nullptr); }, E_POINTER, L""},
      {"Count out", 0, [](auto nv) { return nv->get_Count(nullptr); }, E_POINTER, L""},
      {"ReadOnly out", 0, [](auto nv) { return nv->get_ReadOnly(nullptr); }, E_POINTER, L""},
      {"Style out", 0, [](auto nv) { return nv->get_Style(nullptr); }, E_POINTER, L""},
      {"Sorted out", 0, [](auto nv) { return nv->get_Sorted(nullptr); }, E_POINTER, L""},
      {"_NewEnum out", 0, [](auto nv) { return nv->get__NewEnum(nullptr); }, E_POINTER, L""},
      {"_MemberEnum out", 0, [](auto nv) { return nv->get__MemberEnum(nullptr); }, E_POINTER, L""},
      {"Insert of nothing", 0, [](auto nv) { return nv->Insert(nullptr); }, E_POINTER, L""},
      {"member Name out", 0, [](auto nv) { return Item(nv, L"a")->get_Name(nullptr); }, E_POINTER, L""},
      {"member Value out", 0, [](auto nv) { return Item(nv, L"a")->get_Value(nullptr); }, E_POINTER, L""},
      {"member Parent out", 0, [](auto nv) { return Item(nv, L"a")->get_Parent(nullptr); }, E_POINTER,
       L""},
      {"frozen Add", kFrozen, [&](auto nv) { return nv->Add(Bstr(L"c").Get(), value.AddressOf(), nullptr); },
       E_ACCESSDENIED, L""},
      {"frozen SetSize", kFrozen, [](auto nv) { return nv->SetSize(100); }, E_ACCESSDENIED, L""},
      {"frozen Style", kFrozen, [](auto nv) { return nv->put_Style(qxnvStyleConstants(0)); }, E_ACCESSDENIED,
       L""},
      {"frozen Sorted", kFrozen, [](auto nv) { return nv->put_Sorted(VARIANT_FALSE); }, E_ACCESSDENIED, L""},
      {"frozen Rename to itself", kFrozen, [](auto nv) { return nv->Rename(Bstr(L"a").Get(), Bstr(L"a").Get()); },
       E_ACCESSDENIED, L""},
      {"frozen Remove of a missing name", kFrozen, [](auto nv) { return nv->Remove(Bstr(L"zz").Get()); },
       E_ACCESSDENIED, L""},
      {"frozen Clear", kFrozen, [](auto nv) { return nv->Clear(); }, E_ACCESSDENIED, L""},
      {"frozen LoadFromString", kFrozen, [](auto nv) { return nv->LoadFromString(Bstr(L"c=1").Get()); },
       E_ACCESSDENIED, L""},
      {"frozen Copy", kFrozen | kStale, [&](auto nv) { return nv->Copy(&foreign, VARIANT_TRUE, nullptr); },
       E_ACCESSDENIED, L""},
      {"frozen Merge", kFrozen | kStale,
       [&](auto nv) { return nv->Merge(mergeSource.Get(), VARIANT_TRUE); },
       E_ACCESSDENIED, L""},
      {"frozen Refresh", kFrozen, [](auto nv) { return As<IRefresh>(nv)->Refresh(); },
       E_ACCESSDENIED, L""},
      {"frozen SlimFast", kFrozen, [](auto nv) { return As<ISlimFast>(nv)->SlimFast(0); },
       E_ACCESSDENIED, L""},
      {"frozen member Value", kFrozen, [&](auto nv) { return Item(nv, L"a")->put_Value(value.Get()); },
       E_ACCESSDENIED, L""},
      {"frozen member Rename", kFrozen, [](auto nv) { return Member(nv, L"a")->Rename(Bstr(L"c").Get()); },
       E_ACCESSDENIED, L""},
      {"frozen member Detach", kFrozen, [](auto nv) { return Member(nv, L"a")->Detach(); }, E_ACCESSDENIED, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto nv = Make({L"b", L"a"});
    if (row.setup & kFrozen) {
      ASSERT_EQ(S_OK, nv->Freeze());
    }
    if (row.setup & kStale) PutThreadError(L"stale");
    EXPECT_TRUE(Fails(row.hr, row.call(nv.Get()), row.description));
    EXPECT_EQ((List{L"a", L"b"}), Names(nv.Get()));
    EXPECT_EQ(1, ValueOf(Item(nv.Get(), L"b").Get()));
  }
  EXPECT_EQ(0, foreign.refs);
  // An empty frozen collection refuses a style too.
  auto frozen = NewNamedValues();
  ASSERT_EQ(S_OK, frozen->Freeze());
  EXPECT_TRUE(Fails(E_ACCESSDENIED, frozen->put_Style(qxnvCaseSensitive)));
}

TEST_F(NamedValuesTest, SuccessfulCallsLeaveTheThreadErrorObjectAlone) {
  auto nv = Make({L"a"});
  PutThreadError(L"earlier");
  Item(nv.Get(), L"a");
  Add(nv.Get(), L"b");
  EXPECT_EQ(S_OK, nv->Rename(Bstr(L"b").Get(), Bstr(L"c").Get()));
  EXPECT_EQ(S_OK, nv->Remove(Bstr(L"c").Get()));
  EXPECT_EQ(L"earlier", PeekError().description);
  SetErrorInfo(0, nullptr);
}

// ---- mutations keep both orders ---------------------------------------------------------

TEST_F(NamedValuesTest, MutationsKeepBothOrders) {
  auto nv = Make({L"a", L"c", L"e"});
  auto first = Item(nv.Get(), L"a");
  auto other = Make({L"x", L"y"});
  auto moved = Member(other.Get(), L"x");
  auto spaced = Make({}, qxnvAllowLeadingSpace);
  using Step = std::function<HRESULT()>;
  const struct {
    const char* label;
    Step step;
    List sorted, inserted;
  } steps[] = {
      {"case only", [&] { return nv->Rename(Bstr(L"a").Get(), Bstr(L"A").Get()); }, {L"A", L"c", L"e"},
       {L"A", L"c", L"e"}},
      {"rename up", [&] { return nv->Rename(Bstr(L"A").Get(), Bstr(L"d").Get()); }, {L"c", L"d", L"e"},
       {L"d", L"c", L"e"}},
      {"rename down", [&] { return nv->Rename(Bstr(L"e").Get(), Bstr(L"b").Get()); }, {L"b", L"c", L"d"},
       {L"d", L"c", L"b"}},
      {"new name as given", [&] { return nv->Rename(Bstr(L"d").Get(), Bstr(L" d ").Get()); }, {L" d ", L"b", L"c"},
       {L" d ", L"c", L"b"}},
      {"to the null name", [&] { return nv->Rename(Bstr(L"b").Get(), nullptr); }, {L"<null>", L" d ", L"c"},
       {L" d ", L"c", L"<null>"}},
      {"from the null name", [&] { return nv->Rename(nullptr, Bstr(L"z").Get()); }, {L" d ", L"c", L"z"},
       {L" d ", L"c", L"z"}},
      {"remove the last inserted", [&] { return nv->Remove(Bstr(L"Z").Get()); }, {L" d ", L"c"}, {L" d ", L"c"}},
      {"detach, insert trims",
       [&] {
         return Chain({moved->Detach(), moved->Rename(Bstr(L"  x").Get()), nv->Insert(As<NamedValue>(moved.Get()).Get())});
       },
       {L" d ", L"c", L"x"}, {L" d ", L"c", L"x"}},
      {"member rename", [&] { return moved->Rename(Bstr(L"a").Get()); }, {L" d ", L"a", L"c"}, {L" d ", L"c", L"a"}},
      {"remove in the middle", [&] { return nv->Remove(Bstr(L"c").Get()); }, {L" d ", L"a"}, {L" d ", L"a"}},
      {"clear and add", [&] { return Chain({nv->Clear(), nv->Add(Bstr(L"q").Get(), VarI4(1).AddressOf(), nullptr)}); },
       {L"q"}, {L"q"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.label);
    ASSERT_EQ(S_OK, s.step());
    EXPECT_EQ(s.inserted, Ordered(nv.Get(), VARIANT_FALSE));
    EXPECT_EQ(s.sorted, Ordered(nv.Get(), VARIANT_TRUE));
  }
  EXPECT_EQ(L" d ", NameOf(first.Get())) << "members keep their identity through renames";
  EXPECT_EQ((List{L"y"}), Names(other.Get()));
  // A name already present is refused after trimming; the orphan keeps the trimmed name. A
  // collection that allows blanks keeps them.
  ASSERT_EQ(S_OK, moved->Detach());
  ASSERT_EQ(S_OK, moved->Rename(Bstr(L" Q").Get()));
  EXPECT_TRUE(Fails(kDuplicate, nv->Insert(moved.TryQuery<NamedValue>().Get()), kDuplicateText + L"Q"));
  EXPECT_EQ(L"Q", NameOf(moved.Get()));
  ASSERT_EQ(S_OK, moved->Rename(Bstr(L" Q").Get()));
  EXPECT_EQ(S_OK, spaced->Insert(moved.TryQuery<NamedValue>().Get()));
  EXPECT_EQ(L" Q", NameOf(moved.Get()));
}

TEST_F(NamedValuesTest, SetSizeStyleBitsAndGrowth) {
  auto nv = Make({L"a", L"b", L"c"});
  EXPECT_EQ(S_OK, nv->SetSize(3));  // full to exact size: the next adds grow the store again
  for (int i = 0; i < 40; ++i) Add(nv.Get(), L"n" + std::to_wstring(i));
  EXPECT_EQ(43, CountOf(nv.Get()));
  EXPECT_EQ(S_OK, nv->Clear());
  EXPECT_EQ(S_OK, nv->put_Style(qxnvCaseSensitive)) << "emptied, the style may change";
  EXPECT_TRUE(Fails(E_INVALIDARG, nv->SetSize(-1)));
  qxnvStyleConstants style{};
  for (const auto& [given, kept] : {std::pair{0xFF, 15}, {0x10, 0}, {-1, 15}}) {
    EXPECT_EQ(S_OK, nv->put_Style(static_cast<qxnvStyleConstants>(given)));
    EXPECT_EQ(S_OK, nv->get_Style(&style));
    EXPECT_EQ(kept, style) << given;
  }
}

// ---- snapshots and lifetimes ----------------------------------------------------------------

TEST_F(NamedValuesTest, EnumeratorsAreSnapshots) {
  auto nv = Make({L"e", L"d", L"c", L"b", L"a"});
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, nv->get__NewEnum(unknown.Put()));
  auto items = unknown.TryQuery<IEnumVARIANT>();
  ASSERT_TRUE(items);
  ComPtr<_EnumNamedValue> members;
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  EXPECT_EQ(S_OK, nv->Remove(Bstr(L"a").Get()));
  Add(nv.Get(), L"0");
  auto take = [](IEnumVARIANT* e, ULONG n, HRESULT expected) {
    std::vector<VARIANT> raw(n);
    ULONG fetched = 99;
    EXPECT_EQ(expected, e->Next(n, raw.data(), &fetched));
    List names;
    for (ULONG i = 0; i < fetched && i < n; ++i) {
      EXPECT_EQ(VT_DISPATCH, V_VT(&raw[i]));
      names.push_back(NameOf(V_DISPATCH(&raw[i])));
      VariantClear(&raw[i]);
    }
    return names;
  };
  EXPECT_EQ((List{L"a", L"b"}), take(items.Get(), 2, S_OK));
  ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(S_OK, items->Clone(clone.Put()));
  EXPECT_EQ(S_OK, items->Skip(1));
  EXPECT_EQ((List{L"d", L"e"}), take(items.Get(), 3, S_FALSE));
  EXPECT_EQ((List{}), take(items.Get(), 1, S_FALSE));
  EXPECT_EQ((List{L"c", L"d", L"e"}), take(clone.Get(), 5, S_FALSE)) << "the clone keeps its position";
  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_FALSE, items->Skip(9));
  EXPECT_EQ(S_OK, items->Reset());
  VARIANT one;
  EXPECT_EQ(S_OK, items->Next(1, &one, nullptr));  // a single item needs no count
  EXPECT_EQ(L"a", NameOf(V_DISPATCH(&one)));
  VariantClear(&one);

  // The member enumerator: Next(nullptr) skips; past the end it says S_FALSE and gives null.
  ComPtr<NamedValue> member;
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(L"a", NameOf(member.Get()));
  EXPECT_EQ(S_OK, members->Next(nullptr));
  for (const wchar_t* name : {L"c", L"d", L"e"}) {
    ASSERT_EQ(S_OK, members->Next(member.Put()));
    EXPECT_EQ(name, NameOf(member.Get()));
  }
  NamedValue* past = reinterpret_cast<NamedValue*>(1);
  EXPECT_EQ(S_FALSE, members->Next(&past));
  EXPECT_EQ(nullptr, past);
  EXPECT_EQ(S_FALSE, members->Next(nullptr));

  // Clear: members become orphans that keep name and value; enumerators keep them.
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  auto held = Item(nv.Get(), L"b");
  EXPECT_EQ(S_OK, nv->Clear());
  ComPtr<_NamedValues> parent;
  EXPECT_EQ(S_OK, held->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(L"0", NameOf(member.Get()));
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(held.Get(), member.Get());
  EXPECT_EQ(4, ValueOf(held.Get()));
  EXPECT_EQ(S_OK, nv->Insert(held.Get())) << "a cleared member may be adopted again";

  // Members outlive their collection as orphans, which keep the module loaded.
  items.Reset();
  clone.Reset();
  members.Reset();
  member.Reset();
  nv.Reset();
  EXPECT_EQ(S_OK, held->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  EXPECT_EQ(S_OK, held.TryQuery<INamedValue2>()->Rename(Bstr(L"free").Get()));
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
}

TEST_F(NamedValuesTest, ValuesAreCopiedInAndOut) {
  auto nv = NewNamedValues();
  // By reference: the referenced value is stored, not the reference (arrays are copied too, as
  // the script suites check).
  LONG number = 7;
  auto byRef = VarOf(VT_BYREF | VT_I4, [&](VARIANT& v) { V_I4REF(&v) = &number; });
  auto item = Add(nv.Get(), L"n");
  ASSERT_EQ(S_OK, item->put_Value(byRef.Get()));
  number = 8;
  EXPECT_EQ(7, ValueOf(item.Get()));
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"r").Get(), byRef.AddressOf(), nullptr));
  EXPECT_EQ(8, ValueOf(Item(nv.Get(), L"r").Get()));
  UniqueVariant read = VarText(L"old");  // get_Value frees what the out-variant held
  ASSERT_EQ(S_OK, item->get_Value(read.AddressOf()));
  EXPECT_EQ(VT_I4, read.Type());
  // Objects keep their identity and are held until the member lets the value go.
  ValueProbe probe;
  ASSERT_EQ(S_OK, item->put_Value(VarObject(static_cast<IDispatch*>(&probe)).Get()));
  ASSERT_EQ(S_OK, item->get_Value(read.Put()));
  EXPECT_EQ(static_cast<IDispatch*>(&probe), V_DISPATCH(read.AddressOf()));
  read.Reset();
  EXPECT_EQ(1, probe.refs);
  ASSERT_EQ(S_OK, item->put_Value(VarI4(3).Get()));
  EXPECT_EQ(0, probe.refs);
}

// ---- interfaces --------------------------------------------------------------------------

TEST_F(NamedValuesTest, InterfacesAndErrorInfoSupport) {
  auto nv = Make({L"a"});
  ComPtr<_EnumNamedValue> members;
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  const ComPtr<IUnknown> objects[] = {nv.TryQuery<IUnknown>(), Item(nv.Get(), L"a").TryQuery<IUnknown>(),
                                      members.TryQuery<IUnknown>()};
  enum Answer { kNo, kYes, kDescribed };  // kDescribed: answered, and supports error info
  const struct {
    const IID* iid;
    Answer answers[3];  // collection, member, member enumerator
  } rows[] = {
      {&__uuidof(_NamedValues), {kDescribed, kNo, kNo}},   {&__uuidof(INamedValues2), {kDescribed, kNo, kNo}},
      {&__uuidof(ITraverse), {kDescribed, kNo, kNo}},      {&__uuidof(INameResolver), {kDescribed, kNo, kNo}},
      {&__uuidof(ISlimFast), {kDescribed, kDescribed, kNo}}, {&__uuidof(IRefresh), {kDescribed, kDescribed, kNo}},
      {&__uuidof(NamedValue), {kNo, kDescribed, kNo}},     {&__uuidof(INamedValue2), {kNo, kDescribed, kNo}},
      {&__uuidof(_EnumNamedValue), {kNo, kNo, kDescribed}}, {&IID_IDispatch, {kYes, kYes, kNo}},
      {&IID_ISupportErrorInfo, {kYes, kYes, kYes}},         {&IID_IEnumVARIANT, {kNo, kNo, kNo}},
      {&__uuidof(IRefresh2), {kNo, kNo, kNo}},              {&IID_IPersist, {kNo, kNo, kNo}},
  };
  for (const auto& row : rows) {
    for (int o = 0; o < 3; ++o) {
      SCOPED_TRACE(testing::Message() << "object " << o << ", " << testing::PrintToString(GuidText(*row.iid)));
      ComPtr<IUnknown> asked;
      const Answer answer = row.answers[o];
      ASSERT_EQ(answer == kNo ? E_NOINTERFACE : S_OK, objects[o]->QueryInterface(*row.iid, asked.PutVoid()));
      if (asked) {
        EXPECT_EQ(objects[o].Get(), asked.TryQuery<IUnknown>().Get()) << "one identity";
      }
      EXPECT_EQ(answer == kDescribed ? S_OK : S_FALSE,
                objects[o].TryQuery<ISupportErrorInfo>()->InterfaceSupportsErrorInfo(*row.iid));
    }
  }
  EXPECT_EQ(E_POINTER, nv->QueryInterface(IID_IUnknown, nullptr));
}

// ---- Copy, Merge, Clone ---------------------------------------------------------------------

TEST_F(NamedValuesTest, CopyMergeAndClone) {
  auto source = Make({L" a"}, qxnvAllowLeadingSpace);
  auto target = NewNamedValues();
  ComPtr<NamedValue> copy, again;
  ASSERT_EQ(S_OK, target->Copy(Item(source.Get(), L" a").Get(), VARIANT_FALSE, copy.Put()));
  EXPECT_EQ(L"a", NameOf(copy.Get())) << "the copy is trimmed by the target's style";
  EXPECT_NE(static_cast<void*>(Item(source.Get(), L" a").Get()), static_cast<void*>(copy.Get()));
  ASSERT_EQ(S_OK, Item(source.Get(), L" a")->put_Value(VarI4(7).Get()));
  ASSERT_EQ(S_OK, target->Copy(Item(source.Get(), L" a").Get(), VARIANT_TRUE, again.Put()));
  EXPECT_EQ(static_cast<void*>(copy.Get()), static_cast<void*>(again.Get())) << "a replaced duplicate is kept";
  EXPECT_EQ(7, ValueOf(copy.Get()));
  ForeignMember foreign(L"foreign", 42);
  ASSERT_EQ(S_OK, target->Copy(&foreign, VARIANT_TRUE, nullptr));
  EXPECT_EQ(42, ValueOf(Item(target.Get(), L"foreign").Get()));
  EXPECT_EQ(0, foreign.refs);

  // Merge copies in the source's public order and goes on past duplicates. With the collision
  // in the middle the last copy succeeds, so the merge closes with the class report; with the
  // collision last, its own description stands.
  auto from = Make({L"c", L"a", L"b"});
  ASSERT_EQ(S_OK, from->put_Sorted(VARIANT_FALSE));
  auto into = Make({L"a"});
  ASSERT_EQ(S_OK, into->put_Sorted(VARIANT_FALSE));
  EXPECT_TRUE(Fails(kDuplicate, into->Merge(from.Get(), VARIANT_FALSE), L"NAMEDVALUES error CNamedValues::Merge"));
  EXPECT_EQ((List{L"a", L"c", L"b"}), Names(into.Get()));
  EXPECT_EQ(1, ValueOf(Item(into.Get(), L"a").Get()));
  auto later = Make({L"z", L"c"});
  ASSERT_EQ(S_OK, later->put_Sorted(VARIANT_FALSE));
  EXPECT_TRUE(Fails(kDuplicate, into->Merge(later.Get(), VARIANT_FALSE), kDuplicateText + L"c"));
  EXPECT_EQ(S_OK, into->Merge(later.Get(), VARIANT_TRUE));
  EXPECT_EQ(2, ValueOf(Item(into.Get(), L"c").Get()));
  EXPECT_EQ(S_OK, into->Merge(into.Get(), VARIANT_TRUE)) << "a merge into itself ends";
  ForeignMember one(L"one", 1), two(L"two", 2);
  ForeignCollection foreignSource;
  foreignSource.enumerator.items = {&two, &one};
  ASSERT_EQ(S_OK, into->Merge(&foreignSource, VARIANT_TRUE));
  EXPECT_EQ((List{L"a", L"c", L"b", L"z", L"two", L"one"}), Names(into.Get()));
  EXPECT_EQ(0, foreignSource.refs + foreignSource.enumerator.refs + one.refs + two.refs);
  foreignSource.enumResult = E_FAIL;
  EXPECT_TRUE(Fails(E_FAIL, into->Merge(&foreignSource, VARIANT_TRUE), L"NAMEDVALUES error CNamedValues::Merge"));

  // A clone has the style, order flag and members of its source, but not its frozen state.
  for (const VARIANT_BOOL sorted : {VARIANT_FALSE, VARIANT_TRUE}) {
    auto original = Make({L"b", L"B", L"a"}, qxnvCaseSensitive);
    ASSERT_EQ(S_OK, original->put_Sorted(sorted));
    ASSERT_EQ(S_OK, original->Freeze());
    ComPtr<INamedValues2> clone;
    ASSERT_EQ(S_OK, original->Clone(clone.Put()));
    VARIANT_BOOL flag = -1;
    EXPECT_EQ(S_OK, clone->get_ReadOnly(&flag));
    EXPECT_EQ(VARIANT_FALSE, flag);
    EXPECT_EQ(S_OK, clone->get_Sorted(&flag));
    EXPECT_EQ(sorted, flag);
    qxnvStyleConstants style{};
    EXPECT_EQ(S_OK, clone->get_Style(&style));
    EXPECT_EQ(qxnvCaseSensitive, style);
    // A sorted source is stored in name order.
    const List stored = sorted ? List{L"B", L"a", L"b"} : List{L"b", L"B", L"a"};
    EXPECT_EQ(stored, Ordered(clone.Get(), VARIANT_FALSE));
    ASSERT_EQ(S_OK, Item(clone.Get(), L"B")->put_Value(VarI4(20).Get()));
    EXPECT_EQ(2, ValueOf(Item(original.Get(), L"B").Get())) << "members are independent";
  }
}

// ---- Traverse, Resolve, SlimFast and Refresh ------------------------------------------------

struct Visits {
  INamedValues2* collection = nullptr;
  std::vector<HRESULT> answers;  // by call; S_OK past the end
  List names;
  std::vector<VARIANT_BOOL> sortedDuring;
};
HRESULT __stdcall Visit(IUnknown* member, void* passThru) {
  auto* visits = static_cast<Visits*>(passThru);
  const size_t call = visits->names.size();
  visits->names.push_back(NameOf(member));
  VARIANT_BOOL sorted = 0;
  visits->collection->get_Sorted(&sorted);
  visits->sortedDuring.push_back(sorted);
  return call < visits->answers.size() ? visits->answers[call] : S_OK;
}

TEST_F(NamedValuesTest, TraverseOrdersAndStops) {
  auto nv = Make({L"c", L"a", L"b"});
  auto traverse = nv.TryQuery<ITraverse>();
  const List byName{L"a", L"b", L"c"}, byInsertion{L"c", L"a", L"b"};
  const struct {
    VARIANT_BOOL sorted;
    qxtrStyleFlags style;
    std::vector<HRESULT> answers;
    HRESULT hr;
    List visited;
    std::wstring description;
  } rows[] = {
      {VARIANT_TRUE, qxtrNoOptions, {}, S_OK, byName},
      {VARIANT_FALSE, qxtrNoOptions, {}, S_OK, byInsertion},
      {VARIANT_TRUE, qxtrUnsorted, {}, S_OK, byInsertion},
      {VARIANT_FALSE, qxtrSorted, {}, S_OK, byName},
      {VARIANT_TRUE, qxtrNoOptions, {S_FALSE, 2, S_FALSE}, S_FALSE, byName},  // only a failure stops
      {VARIANT_TRUE, qxtrNoOptions, {S_OK, E_FAIL}, E_FAIL, {L"a", L"b"}, L""},
      {VARIANT_FALSE, qxtrSorted, {kNotFound}, kNotFound, {L"a"}, kNotFoundText},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "sorted " << row.sorted << ", style " << row.style << ", answers "
                                    << row.answers.size());
    ASSERT_EQ(S_OK, nv->put_Sorted(row.sorted));
    Visits visits{nv.Get(), row.answers};
    const HRESULT hr = traverse->Traverse(reinterpret_cast<void*>(&Visit), &visits, row.style);
    if (FAILED(row.hr)) {
      EXPECT_TRUE(Fails(row.hr, hr, row.description));
    } else {
      EXPECT_EQ(row.hr, hr);
    }
    EXPECT_EQ(row.visited, visits.names);
    // The collection's own flag is in place during every call and after the last.
    EXPECT_EQ(std::vector<VARIANT_BOOL>(visits.names.size(), row.sorted), visits.sortedDuring);
    VARIANT_BOOL after = 0;
    EXPECT_EQ(S_OK, nv->get_Sorted(&after));
    EXPECT_EQ(row.sorted, after);
  }
}

TEST_F(NamedValuesTest, ResolveFindsByNameThenByPosition) {
  auto nv = Make({L"b", L"a", L"5"});  // sorted: 5, a, b; valued 3, 2, 1
  ASSERT_EQ(S_OK, nv->Freeze());
  auto resolver = nv.TryQuery<INameResolver>();
  for (const auto& [name, expected] : {std::pair{L"a", 2}, {L"A", 2}, {L"5", 3}, {L"2", 2}, {L"3", 1}}) {
    UniqueVariant value;
    ASSERT_EQ(S_OK, resolver->Resolve(Bstr(name).Get(), value.Put())) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(expected, V_I4(value.AddressOf())) << testing::PrintToString(std::wstring(name));
  }
}

TEST_F(NamedValuesTest, SlimFastAndRefreshReachObjectValues) {
  ValueProbe probe;
  auto nv = Make({L"n"});
  {
    std::vector<ComPtr<NamedValue>> members;
    for (VARTYPE type : {VARTYPE{VT_DISPATCH}, VARTYPE{VT_UNKNOWN}}) {
      auto value = VarObject(static_cast<IDispatch*>(&probe), type);
      members.emplace_back();
      ASSERT_EQ(S_OK, nv->Add(Bstr(L"p" + std::to_wstring(type)).Get(), value.AddressOf(), members.back().Put()));
    }
    for (const auto& value : {UniqueVariant(), VarObject(nullptr)}) {
      ASSERT_EQ(S_OK, nv->Add(Bstr(L"x" + std::to_wstring(CountOf(nv.Get()))).Get(),
                              const_cast<VARIANT*>(&value.Get()), nullptr));
    }
    // Through a member: each reaches its value; the value's failure is not the member's.
    probe.answer = E_FAIL;
    EXPECT_EQ(S_OK, members[0].TryQuery<ISlimFast>()->SlimFast(17));
    EXPECT_EQ(S_OK, members[1].TryQuery<IRefresh>()->Refresh());
    EXPECT_EQ(std::vector<LONG>{17}, probe.slimReserved);
    EXPECT_EQ(1, probe.refreshes);
    probe.answer = S_OK;
  }
  // Through the collection: every member's value.
  EXPECT_EQ(S_OK, nv.TryQuery<IRefresh>()->Refresh());
  EXPECT_EQ(S_OK, nv.TryQuery<ISlimFast>()->SlimFast(9));
  EXPECT_EQ(3, probe.refreshes);
  EXPECT_EQ((std::vector<LONG>{17, 9, 9}), probe.slimReserved);
  Add(nv.Get(), L"z");  // still usable after shrinking
  // An object that answers neither is left alone.
  probe.slimFast = probe.refresh = false;
  EXPECT_EQ(S_OK, nv.TryQuery<IRefresh>()->Refresh());
  EXPECT_EQ(3, probe.refreshes);
  nv.Reset();
  EXPECT_EQ(0, probe.refs) << "the values are released with the collection";
  auto empty = NewNamedValues();
  EXPECT_EQ(S_OK, empty.TryQuery<ISlimFast>()->SlimFast(0));
  Add(empty.Get(), L"a");
}

// ---- the string form ------------------------------------------------------------------------

TEST_F(NamedValuesTest, StringForm) {
  const struct {
    const wchar_t* text;  // null for a null BSTR
    VARIANT_BOOL sorted;
    LONG count;
    const wchar_t* dump;  // null for a null result
  } rows[] = {
      {L" b = 1 ; a=x=y ;k;a=2;", VARIANT_TRUE, 3, L"a=2;b=1;k="},  // a later entry replaces an earlier one
      {L" b = 1 ; a=x=y ;k;a=2;", VARIANT_FALSE, 3, L"b=1;a=2;k="},  // in the order of first adding
      {nullptr, VARIANT_TRUE, 0, nullptr},                           // an empty collection dumps to null
      {L" \t ", VARIANT_TRUE, 0, nullptr},
      {L";x=1", VARIANT_TRUE, 2, L"=;x=1"},  // a leading ';' adds a member with a null name
      {L"a=b;c;d=e", VARIANT_TRUE, 3, L"a=b;c=;d=e"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.text ? row.text : L"<null>")));
    auto nv = NewNamedValues();
    ASSERT_EQ(S_OK, nv->put_Sorted(row.sorted));
    ASSERT_EQ(S_OK, nv->LoadFromString(row.text ? Bstr(row.text).Get() : nullptr));
    EXPECT_EQ(row.count, CountOf(nv.Get()));
    UniqueBstr dump;
    ASSERT_EQ(S_OK, nv->DumpToString(dump.Put()));
    EXPECT_EQ(row.dump == nullptr, dump.IsNull());
    if (row.dump) {
      EXPECT_EQ(row.dump, Text(dump.Get()));
    }
  }
  // Text after an embedded NUL is not read; numbers dump as text; an object fails the dump.
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(L"y=1\0z=2"s).Get()));
  Add(nv.Get(), L"n", 30);
  UniqueBstr dump;
  ASSERT_EQ(S_OK, nv->DumpToString(dump.Put()));
  EXPECT_EQ(L"n=30;y=1", Text(dump.Get()));
  auto inner = NewNamedValues();
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"o").Get(), VarObject(inner.Get()).AddressOf(), nullptr));
  EXPECT_TRUE(FAILED(nv->DumpToString(dump.Put())));
  EXPECT_TRUE(dump.IsNull()) << "a failed dump returns no text";
  SetErrorInfo(0, nullptr);
}

// ---- hostile input ----------------------------------------------------------------------------

TEST_F(NamedValuesTest, HostileSizesAndNames) {
  // A name of a million characters, found case-insensitively and refused as a duplicate.
  auto nv = NewNamedValues();
  const std::wstring name = L"Long" + std::wstring(1000000, L'n');
  std::wstring upper = name;
  for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
  Add(nv.Get(), name, 1);
  Add(nv.Get(), name + L"!", 2);
  EXPECT_EQ(name, NameOf(Item(nv.Get(), upper).Get()));
  EXPECT_TRUE(Fails(kDuplicate, nv->Add(Bstr(upper).Get(), VarI4(3).AddressOf(), nullptr), kDuplicateText + upper));

  // A text of ten million characters loads and dumps back; so does one name that long.
  std::wstring text;
  text.reserve(10'500'000);
  for (int i = 0; i < 1'000'000; ++i) {
    wchar_t entry[24];
    swprintf(entry, 24, L"n%06d=v;", i);
    text += entry;
  }
  auto big = NewNamedValues();
  ASSERT_EQ(S_OK, big->LoadFromString(Bstr(text).Get()));
  EXPECT_EQ(1'000'000, CountOf(big.Get()));
  UniqueBstr dumped;
  ASSERT_EQ(S_OK, big->DumpToString(dumped.Put()));
  text.pop_back();  // the dump has no trailing separator
  EXPECT_TRUE(Text(dumped.Get()) == text);
  big.Reset();
  auto single = NewNamedValues();
  ASSERT_EQ(S_OK, single->LoadFromString(Bstr(std::wstring(10'000'000, L'x')).Get()));
  EXPECT_EQ(1, CountOf(single.Get()));

  // Separators and lone surrogates in names: stored, found, dumped as they are.
  auto odd = NewNamedValues();
  const std::wstring names[] = {L"a=b", L"c;d", std::wstring(1, wchar_t(0xD800)), std::wstring(1, wchar_t(0xDC00))};
  for (const auto& n : names) Add(odd.Get(), n);
  for (const auto& n : names) EXPECT_EQ(n, NameOf(Item(odd.Get(), n).Get()));
  ASSERT_EQ(S_OK, odd->DumpToString(dumped.Put()));
  EXPECT_EQ(S_OK, NewNamedValues()->LoadFromString(dumped.Get()));
}

HRESULT __stdcall ClearWhileVisiting(IUnknown* member, void* passThru) {
  NameOf(member);  // the member stays valid although the collection lets it go
  return static_cast<INamedValues2*>(passThru)->Clear();
}

TEST_F(NamedValuesTest, TraverseSurvivesACallbackThatEmptiesTheCollection) {
  auto nv = Make({L"a", L"b", L"c"});
  EXPECT_EQ(S_OK, nv.TryQuery<ITraverse>()->Traverse(reinterpret_cast<void*>(&ClearWhileVisiting), nv.Get(),
                                                      qxtrNoOptions));
  EXPECT_EQ(0, CountOf(nv.Get()));
}

}  // namespace
}  // namespace qx::test
