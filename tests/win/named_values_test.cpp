// NamedValues through the vtable (the script suites check late binding): name rules, the two
// orders, lookup, refusals, snapshots, Copy, Merge, Clone, Traverse, the string form, and hostile
// sizes.
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

using namespace std::string_literals;
using List = std::vector<std::wstring>;

constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80040422);
constexpr HRESULT kRange = static_cast<HRESULT>(0x80040423);
const std::wstring kDuplicateText = L"Cannot add duplicate name to the collection: ";
const std::wstring kNotFoundText = L"Name not found in collection: ";
const std::wstring kRangeText = L"Item number must be from 1 to the number of objects in the collection.";

ComPtr<NamedValue> Add(INamedValues2* nv, const std::wstring& name, LONG value = 0) {
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, nv->Add(Bstr(name).Get(), VarI4(value).AddressOf(), item.Put())) << testing::PrintToString(name);
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
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, nv->get_Item(VarText(name).AddressOf(), item.Put())) << testing::PrintToString(name);
  return item;
}
ComPtr<INamedValue2> Member(INamedValues2* nv, const std::wstring& name) {
  return Item(nv, name).TryQuery<INamedValue2>();
}
LONG ValueOf(IUnknown* item) {
  UniqueVariant value;
  EXPECT_EQ(S_OK, As<NamedValue>(item)->get_Value(value.Put()));
  return V_VT(value.AddressOf()) == VT_I4 ? V_I4(value.AddressOf()) : -999;
}
// The public order with Sorted set as given, read through the enumerator and checked against
// Item by position.
List Ordered(INamedValues2* nv, VARIANT_BOOL sorted) {
  EXPECT_EQ(S_OK, nv->put_Sorted(sorted));
  const List names = Names(nv);
  for (LONG i = 1; i <= static_cast<LONG>(names.size()); ++i) {
    ComPtr<NamedValue> item;
    EXPECT_EQ(S_OK, nv->get_Item(VarI4(i).AddressOf(), item.Put()));
    EXPECT_EQ(names[i - 1], NameOf(item.Get()));
  }
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
    EXPECT_EQ(c.added, Ordered(nv.Get(), VARIANT_FALSE));
  }
}

TEST_F(NamedValuesTest, DuplicateNamesByStyle) {
  const struct {
    LONG style;
    std::wstring first, second;
    const wchar_t* reported;  // the key the duplicate message names, or null when both are kept
  } cases[] = {
      {0, L"x", L"X", L"X"}, {1, L"x", L"X", nullptr}, {2, L"x", L"X", L"X"}, {3, L"x", L"X", nullptr},
      {0, L"i", L"\u0131", L"\u0131"},       // dotless i folds to i
      {0, L"\u00FF", L"\u0178", L"\u0178"},  // y with diaeresis and its capital
      {0, L"\u00B5", L"\u039C", nullptr},    // micro sign folds to itself, not to mu
      {1, L"ab", L"ab\0c"s, nullptr},        // ordinal modes see embedded NULs
      {0, L"ab\0c"s, L"ab\0C"s, L"ab"},
      {2, L"ab", L"ab\0c"s, L"ab"},  // the locale modes stop at the first NUL
      {0, L"a", L" a ", L"a"},       // trimmed before the comparison
      {4, L"a", L" a", nullptr},     {8, L"a", L"a ", nullptr},
      {0, L"a", L"\ta", nullptr},  // only U+0020 is trimmed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style << ": " << testing::PrintToString(c.first) << " then "
                                    << testing::PrintToString(c.second));
    auto nv = Make({c.first}, c.style);
    ComPtr<NamedValue> item;
    const HRESULT hr = nv->Add(Bstr(c.second).Get(), VarI4(2).AddressOf(), item.Put());
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

TEST_F(NamedValuesTest, ItemByNameOrPosition) {
  auto letters = Make({L"c", L"a", L"b"});  // public order a, b, c
  auto digits = Make({L"5", L"2", L"x"});   // public order 2, 5, x
  auto object = NewNamedValues();
  auto byRefText = VarText(L"c");
  struct Case {
    const char* label;
    INamedValues2* nv;
    UniqueVariant index;
    const wchar_t* name;  // the member expected, or null for a failure
    HRESULT hr;
    std::wstring description;
  } cases[] = {
      {"name in other case", letters.Get(), VarText(L"B"), L"b"},
      {"numeric string", letters.Get(), VarText(L"2"), L"b"},
      {"R8 rounds up", letters.Get(), VarR8(2.6), L"c"},
      {"R4 rounds down", letters.Get(), VarOf(VT_R4, [](VARIANT& v) { V_R4(&v) = 1.4f; }), L"a"},
      {"I8 through its text", letters.Get(), VarOf(VT_I8, [](VARIANT& v) { V_I8(&v) = 2; }), L"b"},
      {"byref variant", letters.Get(),
       VarOf(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { V_VARIANTREF(&v) = byRefText.AddressOf(); }), L"c"},
      {"zero", letters.Get(), VarI4(0), nullptr, kRange, kRangeText},
      {"count + 1", letters.Get(), VarI4(4), nullptr, kRange, kRangeText},
      {"R8 rounding past the end", letters.Get(), VarR8(3.6), nullptr, kRange, kRangeText},
      {"empty", letters.Get(), UniqueVariant(), nullptr, kRange, kRangeText},
      {"lookup does not trim", letters.Get(), VarText(L" a"), nullptr, kNotFound, kNotFoundText + L" a"},
      {"null", letters.Get(), VarOf(VT_NULL, [](VARIANT&) {}), nullptr, E_INVALIDARG, L""},
      {"object", letters.Get(), VarObject(object.Get()), nullptr, E_INVALIDARG, L""},
      {"string naming a member wins", digits.Get(), VarText(L"2"), L"2"},
      {"number selects by position first", digits.Get(), VarI4(2), L"5"},
      {"number out of range finds its name", digits.Get(), VarI4(5), L"5"},
      {"string naming no member", digits.Get(), VarText(L"3"), L"x"},
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
}

// Refusals leave their code and text, and change nothing.
TEST_F(NamedValuesTest, RefusalsReportAndChangeNothing) {
  auto mergeSource = Make({L"c"});
  enum { kFrozen = 1, kStale = 2 };  // frozen first; a stale error object of another source on the thread
  const Refusal<INamedValues2> rows[] = {
      {"Style with members", 0, [](auto nv) { return nv->put_Style(qxnvCaseSensitive); },
       static_cast<HRESULT>(0x80040420), L"Property cannot be set while there are values in the collection."},
      {"SetSize below Count", 0, [](auto nv) { return nv->SetSize(1); }, E_INVALIDARG, L""},
      {"Rename to a taken name", 0,
       [](auto nv) { return nv->Rename(Bstr(L"a").Get(), Bstr(L"B").Get()); }, kDuplicate, kDuplicateText + L"B"},
      {"Rename does not trim", 0,
       [](auto nv) { return nv->Rename(Bstr(L" a").Get(), Bstr(L"r").Get()); }, kNotFound, kNotFoundText + L" a"},
      {"member Rename to a taken name", 0,
       [](auto nv) { return Member(nv, L"a")->Rename(Bstr(L"B").Get()); }, kDuplicate, kDuplicateText + L"B"},
      {"Insert of a member", 0, [](auto nv) { return nv->Insert(Item(nv, L"a").Get()); },
       static_cast<HRESULT>(0x800405D7), L"Cannot insert NamedValue because it already has a parent"},
      {"Copy of nothing", kStale, [](auto nv) { return nv->Copy(nullptr, VARIANT_TRUE, nullptr); }, E_POINTER,
       L"NAMEDVALUES error CNamedValues::Copy"},
      {"Merge into itself refusing", 0, [](auto nv) { return nv->Merge(nv, VARIANT_FALSE); }, kDuplicate,
       kDuplicateText + L"b"},
      {"Traverse with both orders", 0,
       [](auto nv) {
         auto noVisit = +[](IUnknown*, void*) -> HRESULT { return S_OK; };
         return As<ITraverse>(nv)->Traverse(reinterpret_cast<void*>(noVisit), nullptr, qxtrStyleFlags(3));
       },
       static_cast<HRESULT>(0x800404A1), L"Invalid option, or combination of options, for this operation."},
      {"frozen Rename to itself", kFrozen, [](auto nv) { return nv->Rename(Bstr(L"a").Get(), Bstr(L"a").Get()); },
       E_ACCESSDENIED, L""},
      {"frozen Remove of a missing name", kFrozen, [](auto nv) { return nv->Remove(Bstr(L"zz").Get()); },
       E_ACCESSDENIED, L""},
      {"frozen Merge", kFrozen | kStale, [&](auto nv) { return nv->Merge(mergeSource.Get(), VARIANT_TRUE); },
       E_ACCESSDENIED, L""},
      {"frozen Refresh", kFrozen, [](auto nv) { return As<IRefresh>(nv)->Refresh(); }, E_ACCESSDENIED, L""},
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
}

// ---- mutations keep both orders ---------------------------------------------------------

TEST_F(NamedValuesTest, MutationsKeepBothOrders) {
  auto nv = Make({L"a", L"c", L"e"});
  auto first = Item(nv.Get(), L"a");
  auto other = Make({L"x", L"y"});
  auto moved = Member(other.Get(), L"x");
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
      {"new name as given", [&] { return nv->Rename(Bstr(L"d").Get(), Bstr(L" d ").Get()); }, {L" d ", L"c", L"e"},
       {L" d ", L"c", L"e"}},
      {"to the null name", [&] { return nv->Rename(Bstr(L"e").Get(), nullptr); }, {L"<null>", L" d ", L"c"},
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
}

// ---- snapshots and lifetimes ----------------------------------------------------------------

TEST_F(NamedValuesTest, EnumeratorsAreSnapshots) {
  auto nv = Make({L"e", L"d", L"c", L"b", L"a"});
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, nv->get__NewEnum(unknown.Put()));
  auto items = unknown.TryQuery<IEnumVARIANT>();
  ComPtr<_EnumNamedValue> members;
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  EXPECT_EQ(S_OK, nv->Remove(Bstr(L"a").Get()));
  Add(nv.Get(), L"0");
  // Both enumerators walk the members as they were when made.
  VARIANT first[2];
  ULONG fetched = 0;
  ASSERT_EQ(S_OK, items->Next(2, first, &fetched));
  EXPECT_EQ(L"a", NameOf(V_DISPATCH(&first[0])));
  EXPECT_EQ(L"b", NameOf(V_DISPATCH(&first[1])));
  for (auto& v : first) VariantClear(&v);
  EXPECT_EQ(S_FALSE, items->Skip(9));
  // The member enumerator: Next(nullptr) skips; past the end it says S_FALSE and gives null.
  ComPtr<NamedValue> member;
  EXPECT_EQ(S_OK, members->Next(nullptr));
  for (const wchar_t* name : {L"b", L"c", L"d", L"e"}) {
    ASSERT_EQ(S_OK, members->Next(member.Put()));
    EXPECT_EQ(name, NameOf(member.Get()));
  }
  NamedValue* past = reinterpret_cast<NamedValue*>(1);
  EXPECT_EQ(S_FALSE, members->Next(&past));
  EXPECT_EQ(nullptr, past);

  // Clear makes orphans that keep name and value, and that an enumerator still holds; members
  // outlive their collection as orphans, which keep the module loaded.
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  auto held = Item(nv.Get(), L"b");
  EXPECT_EQ(S_OK, nv->Clear());
  ComPtr<_NamedValues> parent;
  EXPECT_EQ(S_OK, held->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  ASSERT_EQ(S_OK, members->Next(nullptr));
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(held.Get(), member.Get());
  EXPECT_EQ(4, ValueOf(held.Get()));
  EXPECT_EQ(S_OK, nv->Insert(held.Get())) << "a cleared member may be adopted again";
  items.Reset();
  members.Reset();
  member.Reset();
  nv.Reset();
  EXPECT_EQ(S_OK, held->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
}

TEST_F(NamedValuesTest, CopyMergeAndClone) {
  // A copy is trimmed by the target's style; a replaced duplicate keeps its identity.
  auto source = Make({L" a"}, qxnvAllowLeadingSpace);
  auto target = NewNamedValues();
  ComPtr<NamedValue> copy, again;
  ASSERT_EQ(S_OK, target->Copy(Item(source.Get(), L" a").Get(), VARIANT_FALSE, copy.Put()));
  EXPECT_EQ(L"a", NameOf(copy.Get()));
  ASSERT_EQ(S_OK, Item(source.Get(), L" a")->put_Value(VarI4(7).Get()));
  ASSERT_EQ(S_OK, target->Copy(Item(source.Get(), L" a").Get(), VARIANT_TRUE, again.Put()));
  EXPECT_EQ(static_cast<void*>(copy.Get()), static_cast<void*>(again.Get()));
  EXPECT_EQ(7, ValueOf(copy.Get()));

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
  EXPECT_EQ(S_OK, into->Merge(into.Get(), VARIANT_TRUE)) << "a merge into itself ends";

  // A clone has the style, order flag and members of its source, but not its frozen state; a
  // sorted source is stored in name order.
  for (const VARIANT_BOOL sorted : {VARIANT_FALSE, VARIANT_TRUE}) {
    auto original = Make({L"b", L"B", L"a"}, qxnvCaseSensitive);
    ASSERT_EQ(S_OK, original->put_Sorted(sorted));
    ASSERT_EQ(S_OK, original->Freeze());
    ComPtr<INamedValues2> clone;
    ASSERT_EQ(S_OK, original->Clone(clone.Put()));
    VARIANT_BOOL frozen = -1;
    EXPECT_EQ(S_OK, clone->get_ReadOnly(&frozen));
    EXPECT_EQ(VARIANT_FALSE, frozen);
    EXPECT_EQ(S_OK, clone->Add(Bstr(L"A").Get(), VarI4(0).AddressOf(), nullptr)) << "still case-sensitive";
    ASSERT_EQ(S_OK, clone->Remove(Bstr(L"A").Get()));
    const List stored = sorted ? List{L"B", L"a", L"b"} : List{L"b", L"B", L"a"};
    EXPECT_EQ(stored, Ordered(clone.Get(), VARIANT_FALSE));
    ASSERT_EQ(S_OK, Item(clone.Get(), L"B")->put_Value(VarI4(20).Get()));
    EXPECT_EQ(2, ValueOf(Item(original.Get(), L"B").Get())) << "members are independent";
  }
}

// Traverse visits in the order asked for, with the collection's own flag in place during every
// call, and stops at the first failure.
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
  visits->sortedDuring.push_back(-2);
  visits->collection->get_Sorted(&visits->sortedDuring.back());
  return call < visits->answers.size() ? visits->answers[call] : S_OK;
}

TEST_F(NamedValuesTest, TraverseOrdersAndStops) {
  auto nv = Make({L"c", L"a", L"b"});
  const List byName{L"a", L"b", L"c"}, byInsertion{L"c", L"a", L"b"};
  const struct {
    VARIANT_BOOL sorted;
    qxtrStyleFlags style;
    std::vector<HRESULT> answers;
    HRESULT hr;
    List visited;
  } rows[] = {
      {VARIANT_FALSE, qxtrNoOptions, {}, S_OK, byInsertion},
      {VARIANT_TRUE, qxtrUnsorted, {}, S_OK, byInsertion},
      {VARIANT_FALSE, qxtrSorted, {}, S_OK, byName},
      {VARIANT_TRUE, qxtrNoOptions, {S_FALSE, 2, S_FALSE}, S_FALSE, byName},  // only a failure stops
      {VARIANT_FALSE, qxtrSorted, {kNotFound}, kNotFound, {L"a"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "sorted " << row.sorted << ", style " << row.style);
    ASSERT_EQ(S_OK, nv->put_Sorted(row.sorted));
    Visits visits{nv.Get(), row.answers};
    const HRESULT hr = As<ITraverse>(nv.Get())->Traverse(reinterpret_cast<void*>(&Visit), &visits, row.style);
    EXPECT_TRUE(FAILED(hr) ? Fails(row.hr, hr, kNotFoundText) : testing::AssertionResult(hr == row.hr));
    EXPECT_EQ(row.visited, visits.names);
    visits.sortedDuring.push_back(-2);
    EXPECT_EQ(S_OK, nv->get_Sorted(&visits.sortedDuring.back()));
    EXPECT_EQ(std::vector<VARIANT_BOOL>(visits.names.size() + 1, row.sorted), visits.sortedDuring);
  }
}

HRESULT __stdcall ClearWhileVisiting(IUnknown* member, void* passThru) {
  NameOf(member);  // the member stays valid although the collection lets it go
  return static_cast<INamedValues2*>(passThru)->Clear();
}

TEST_F(NamedValuesTest, TraverseSurvivesACallbackThatEmptiesTheCollection) {
  auto nv = Make({L"a", L"b", L"c"});
  auto traverse = As<ITraverse>(nv.Get());
  EXPECT_EQ(S_OK, traverse->Traverse(reinterpret_cast<void*>(&ClearWhileVisiting), nv.Get(), qxtrNoOptions));
  EXPECT_EQ(0, CountOf(nv.Get()));
}

TEST_F(NamedValuesTest, StringForm) {
  const struct {
    std::wstring text;  // "<null>" for a null BSTR
    VARIANT_BOOL sorted;
    const wchar_t* dump;  // null for a null result
  } rows[] = {
      {L" b = 1 ; a=x=y ;k;a=2;", VARIANT_TRUE, L"a=2;b=1;k="},  // a later entry replaces an earlier one
      {L" b = 1 ; a=x=y ;k;a=2;", VARIANT_FALSE, L"b=1;a=2;k="},  // in the order of first adding
      {L"<null>", VARIANT_TRUE, nullptr},                          // an empty collection dumps to null
      {L" \t ", VARIANT_TRUE, nullptr},
      {L";x=1", VARIANT_TRUE, L"=;x=1"},     // a leading ';' adds a member with a null name
      {L"y=1\0z=2"s, VARIANT_TRUE, L"y=1"},  // text after an embedded NUL is not read
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.text));
    auto nv = NewNamedValues();
    ASSERT_EQ(S_OK, nv->put_Sorted(row.sorted));
    ASSERT_EQ(S_OK, nv->LoadFromString(row.text == L"<null>" ? nullptr : Bstr(row.text).Get()));
    UniqueBstr dump;
    ASSERT_EQ(S_OK, nv->DumpToString(dump.Put()));
    EXPECT_EQ(row.dump == nullptr, dump.IsNull());
    EXPECT_EQ(row.dump ? row.dump : L"", Text(dump.Get()));
  }
  // An object fails the dump, which then returns no text.
  auto nv = Make({L"n"});
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"o").Get(), VarObject(NewNamedValues().Get()).AddressOf(), nullptr));
  UniqueBstr dump;
  EXPECT_TRUE(FAILED(nv->DumpToString(dump.Put())));
  EXPECT_TRUE(dump.IsNull());
  SetErrorInfo(0, nullptr);
}

TEST_F(NamedValuesTest, HostileSizesAndNames) {
  // A name of a million characters, found case-insensitively and refused as a duplicate.
  auto nv = NewNamedValues();
  const std::wstring name = L"Long" + std::wstring(1000000, L'n');
  const std::wstring upper = L"LONG" + std::wstring(1000000, L'N');
  Add(nv.Get(), name, 1);
  EXPECT_EQ(name, NameOf(Item(nv.Get(), upper).Get()));
  EXPECT_TRUE(Fails(kDuplicate, nv->Add(Bstr(upper).Get(), VarI4(3).AddressOf(), nullptr), kDuplicateText + upper));

  // A text of a million entries loads and dumps back; so does one name of ten million characters.
  std::wstring text;
  for (int i = 0; i < 1'000'000; ++i) text += L"n" + std::to_wstring(1'000'000 + i) + L"=v;";
  auto big = NewNamedValues();
  ASSERT_EQ(S_OK, big->LoadFromString(Bstr(text).Get()));
  EXPECT_EQ(1'000'000, CountOf(big.Get()));
  UniqueBstr dumped;
  ASSERT_EQ(S_OK, big->DumpToString(dumped.Put()));
  text.pop_back();  // the dump has no trailing separator
  EXPECT_TRUE(Text(dumped.Get()) == text);
  big.Reset();
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(std::wstring(10'000'000, L'x')).Get()));
  EXPECT_EQ(2, CountOf(nv.Get()));

  // Separators and lone surrogates in names: stored, found, dumped as they are.
  auto odd = NewNamedValues();
  const std::wstring names[] = {L"a=b", L"c;d", std::wstring(1, wchar_t(0xD800)), std::wstring(1, wchar_t(0xDC00))};
  for (const auto& n : names) Add(odd.Get(), n);
  for (const auto& n : names) EXPECT_EQ(n, NameOf(Item(odd.Get(), n).Get()));
  ASSERT_EQ(S_OK, odd->DumpToString(dumped.Put()));
  EXPECT_EQ(S_OK, NewNamedValues()->LoadFromString(dumped.Get()));
}

}  // namespace
}  // namespace qx::test
