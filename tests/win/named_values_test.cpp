// NamedValues through the vtable (the script suites check late binding): name rules, index
// resolution, refusals, both orders, orphans, Merge, Clone, loaded keys, hostile sizes.
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
std::wstring Dump(INamedValues2* nv) {
  UniqueBstr dump;
  EXPECT_EQ(S_OK, nv->DumpToString(dump.Put()));
  return Text(dump.Get());
}
using NamedValuesTest = LeakCheckedTest;

// Guards the style reaching the comparison, the trimming of keys (the locale modes read a key cut
// out of longer text up to a NUL, so it must be copied), and embedded NULs.
TEST_F(NamedValuesTest, DuplicateNamesByStyle) {
  const struct {
    LONG style;
    std::wstring first, second;
    const wchar_t* reported;  // the key the duplicate message names, or null when both are kept
  } cases[] = {
      {0, L"x", L"X", L"X"},        {1, L"x", L"X", nullptr},       {2, L"x", L"X", L"X"},
      {3, L"x", L"X", nullptr},     {1, L"ab", L"ab\0c"s, nullptr},  // ordinal modes see embedded NULs
      {2, L"ab", L"ab\0c"s, L"ab"},                                  // the locale modes stop at the first NUL
      {0, L"a", L" a ", L"a"},      {1, L"a", L" a  ", L"a"},        // trimmed before the comparison
      {2, L"a", L" a  ", L"a"},     {3, L"a", L" a  ", L"a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style << ", then " << testing::PrintToString(c.second));
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

// Guards the precedence of names and positions, the rounding of reals and the caller's index.
TEST_F(NamedValuesTest, ItemByNameOrPosition) {
  auto nv = Make({L"b", L"2", L"a", L"5"});  // public order 2, 5, a, b
  auto byRefText = VarText(L"a");
  struct {
    const char* label;
    UniqueVariant index;
    const wchar_t* name;  // the member expected, or null for a failure
    HRESULT hr;
    std::wstring description;
  } cases[] = {
      {"string naming a member wins", VarText(L"2"), L"2"},
      {"string naming no member is a position", VarText(L"3"), L"a"},
      {"number selects by position first", VarI4(2), L"5"},
      {"number out of range finds its name", VarI4(5), L"5"},
      {"R8 rounds", VarR8(1.6), L"5"},
      {"I8 through its text", VarOf(VT_I8, [](VARIANT& v) { V_I8(&v) = 2; }), L"2"},
      {"byref variant", VarOf(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { V_VARIANTREF(&v) = byRefText.AddressOf(); }),
       L"a"},
      {"empty", UniqueVariant(), nullptr, kRange, kRangeText},
      {"lookup does not trim", VarText(L" a"), nullptr, kNotFound, kNotFoundText + L" a"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.label);
    ComPtr<NamedValue> item;
    const VARTYPE type = c.index.Type();
    const HRESULT hr = nv->get_Item(c.index.AddressOf(), item.Put());
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

// Guards refusals changing nothing, the frozen check coming before every other, and the texts
// composed over a stale error object of another source.
TEST_F(NamedValuesTest, RefusalsReportAndChangeNothing) {
  auto mergeSource = Make({L"c"});
  enum { kFrozen = 1, kStale = 2 };  // frozen first; a stale error object of another source on the thread
  const auto member = [](INamedValues2* nv) { return As<INamedValue2>(Item(nv, L"a").Get()); };
  const Refusal<INamedValues2> rows[] = {
      {"Rename does not trim", 0, [](auto nv) { return nv->Rename(Bstr(L" a").Get(), Bstr(L"r").Get()); }, kNotFound,
       kNotFoundText + L" a"},
      {"member Rename to a taken name", 0, [&](auto nv) { return member(nv)->Rename(Bstr(L"B").Get()); }, kDuplicate,
       kDuplicateText + L"B"},
      {"Copy of nothing", kStale, [](auto nv) { return nv->Copy(nullptr, VARIANT_TRUE, nullptr); }, E_POINTER,
       L"NAMEDVALUES error CNamedValues::Copy"},
      {"Merge into itself refusing", 0, [](auto nv) { return nv->Merge(nv, VARIANT_FALSE); }, kDuplicate,
       kDuplicateText + L"b"},
      {"frozen Rename to itself", kFrozen, [](auto nv) { return nv->Rename(Bstr(L"a").Get(), Bstr(L"a").Get()); },
       E_ACCESSDENIED, L""},
      {"frozen Remove of a missing name", kFrozen, [](auto nv) { return nv->Remove(Bstr(L"zz").Get()); },
       E_ACCESSDENIED, L""},
      {"frozen Merge", kFrozen | kStale, [&](auto nv) { return nv->Merge(mergeSource.Get(), VARIANT_TRUE); },
       E_ACCESSDENIED, L""},
      {"frozen member Detach", kFrozen, [&](auto nv) { return member(nv)->Detach(); }, E_ACCESSDENIED, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto nv = Make({L"b", L"a"});
    if (row.setup & kFrozen) {
      ASSERT_EQ(S_OK, nv->Freeze());
    }
    if (row.setup & kStale) PutThreadError(L"stale");
    EXPECT_TRUE(Fails(row.hr, row.call(nv.Get()), row.description));
    EXPECT_EQ(L"a=2;b=1", Dump(nv.Get()));
  }
}

// Guards both orders (and member identity) through renames by either path, null names, Detach
// and Insert.
TEST_F(NamedValuesTest, RenamesKeepBothOrders) {
  auto nv = Make({L"a", L"c", L"e"});
  auto first = Item(nv.Get(), L"a");
  auto other = Make({L"x", L"y"});
  auto moved = Item(other.Get(), L"x").TryQuery<INamedValue2>();
  const auto rename = [&](const wchar_t* from, const wchar_t* to) {
    return [&nv, from, to] { return nv->Rename(Bstr(from).Get(), Bstr(to).Get()); };
  };
  const struct {
    const char* label;
    std::function<HRESULT()> step;
    List sorted, inserted;
  } steps[] = {
      {"case only", rename(L"a", L"A"), {L"A", L"c", L"e"}, {L"A", L"c", L"e"}},
      {"rename up", rename(L"A", L"d"), {L"c", L"d", L"e"}, {L"d", L"c", L"e"}},
      {"new name as given", rename(L"d", L" d "), {L" d ", L"c", L"e"}, {L" d ", L"c", L"e"}},
      {"to the null name", rename(L"e", nullptr), {L"<null>", L" d ", L"c"}, {L" d ", L"c", L"<null>"}},
      {"from the null name", rename(nullptr, L"z"), {L" d ", L"c", L"z"}, {L" d ", L"c", L"z"}},
      {"detach, insert trims",
       [&] {
         return Chain(
             {moved->Detach(), moved->Rename(Bstr(L"  x").Get()), nv->Insert(As<NamedValue>(moved.Get()).Get())});
       },
       {L" d ", L"c", L"x", L"z"},
       {L" d ", L"c", L"z", L"x"}},
      {"member rename",
       [&] { return moved->Rename(Bstr(L"a").Get()); },
       {L" d ", L"a", L"c", L"z"},
       {L" d ", L"c", L"z", L"a"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.label);
    ASSERT_EQ(S_OK, s.step());
    EXPECT_EQ(s.inserted, Ordered(nv.Get(), VARIANT_FALSE));
    EXPECT_EQ(s.sorted, Ordered(nv.Get(), VARIANT_TRUE));
  }
  EXPECT_EQ(L" d ", NameOf(first.Get()));
  EXPECT_EQ((List{L"y"}), Names(other.Get()));
}

// Guards orphans: Clear keeps their name and value, an enumerator made before still yields them,
// and they keep the module loaded after their collection is gone.
TEST_F(NamedValuesTest, MembersOutliveTheirCollection) {
  auto nv = Make({L"a", L"b"});
  ComPtr<_EnumNamedValue> members;
  ASSERT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  auto held = Item(nv.Get(), L"b");
  EXPECT_EQ(S_OK, nv->Clear());
  ComPtr<_NamedValues> parent;
  EXPECT_EQ(S_OK, held->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  ComPtr<NamedValue> member;
  ASSERT_EQ(S_OK, members->Next(nullptr));  // skips "a"
  ASSERT_EQ(S_OK, members->Next(member.Put()));
  EXPECT_EQ(held.Get(), member.Get());
  NamedValue* past = reinterpret_cast<NamedValue*>(1);
  EXPECT_EQ(S_FALSE, members->Next(&past));
  EXPECT_EQ(nullptr, past);
  EXPECT_EQ(S_OK, nv->Insert(held.Get())) << "a cleared member may be adopted again";
  EXPECT_EQ(L"b=2", Dump(nv.Get()));
  members.Reset();
  member.Reset();
  nv.Reset();
  EXPECT_EQ(S_OK, held->get_Parent(parent.Put()));
  EXPECT_FALSE(parent);
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
}

// Guards the description a Merge ends with, and Clone's fall-back to a Merge.
TEST_F(NamedValuesTest, MergeAndClone) {
  // Merge copies in the source's public order and goes on past duplicates. With the collision
  // in the middle the last copy succeeds, so the merge closes with the class report; with the
  // collision last, its own description stands.
  auto from = Make({L"c", L"a", L"b"});
  ASSERT_EQ(S_OK, from->put_Sorted(VARIANT_FALSE));
  auto into = Make({L"a"});
  ASSERT_EQ(S_OK, into->put_Sorted(VARIANT_FALSE));
  EXPECT_TRUE(Fails(kDuplicate, into->Merge(from.Get(), VARIANT_FALSE), L"NAMEDVALUES error CNamedValues::Merge"));
  EXPECT_EQ(L"a=1;c=1;b=3", Dump(into.Get()));
  auto later = Make({L"z", L"c"});
  ASSERT_EQ(S_OK, later->put_Sorted(VARIANT_FALSE));
  EXPECT_TRUE(Fails(kDuplicate, into->Merge(later.Get(), VARIANT_FALSE), kDuplicateText + L"c"));
  EXPECT_EQ(S_OK, into->Merge(into.Get(), VARIANT_TRUE)) << "a merge into itself ends";

  // A member that cannot be copied straight across (Rename kept the blank that Add trims, so the
  // copy collides) fails the clone as a Merge of the collection fails.
  auto blank = Make({L"x", L"y"});
  ASSERT_EQ(S_OK, blank->Rename(Bstr(L"y").Get(), Bstr(L" x").Get()));
  const HRESULT merged = NewNamedValues()->Merge(blank.Get(), VARIANT_FALSE);
  const std::wstring mergeText = PeekError().description;
  SetErrorInfo(0, nullptr);
  ComPtr<INamedValues2> clone;
  EXPECT_TRUE(FAILED(merged));
  EXPECT_TRUE(Fails(merged, blank->Clone(clone.Put()), mergeText));
  EXPECT_FALSE(clone);
}

// Guards keys cut out of the text under the locale modes (compared up to a NUL, so copied).
TEST_F(NamedValuesTest, LoadedKeysUnderTheLocaleModes) {
  for (const LONG style : {2, 3}) {
    auto nv = Make({}, style);
    ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(L" a =2;b =3; b=4").Get()));
    EXPECT_EQ(L"a=2;b=4", Dump(nv.Get())) << style;
  }
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
  text.pop_back();  // the dump has no trailing separator
  EXPECT_TRUE(Dump(big.Get()) == text);
  big.Reset();
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(std::wstring(10'000'000, L'x')).Get()));
  EXPECT_EQ(2, CountOf(nv.Get()));
}

}  // namespace
}  // namespace qx::test
