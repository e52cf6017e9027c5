// MTNVS and MTNV on one thread: the members' failures (one table), and the rules that differ from
// NamedValues or that only the free-threaded collection has.
#include "mtnvs_support.h"

namespace qx::test {
namespace {

using MTNVSTest = LeakCheckedTest;

const std::wstring kOwnTag = L"MTNVS error.  CMTNVS::";
const std::wstring kItemTag = L"MTNV error.  CMTNV::";
const std::wstring kDuplicateText = L"Cannot add duplicate name to the collection: ";
const wchar_t kKey[] = L"Software\\QXSDKCommonTests\\MTNVS";
constexpr auto kHkcu = qxnvHKEY_CURRENT_USER;
constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);

HRESULT AddNested(_MTNVS* m) { return AddTo(m, L"nested", VarObject(NewMTNVS({L"x"}).Get())).hr; }

// Each row runs on a new collection holding a and b, frozen first when `setup` is 1; a failure
// leaves the names as they were unless `setup` is 2.
TEST_F(MTNVSTest, FailuresCarryTheirCodeAndDescription) {
  RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
  const BYTE bytes[] = {1, 2};
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"bin", REG_BINARY, bytes, sizeof bytes));
  const Refusal<_MTNVS> rows[] = {
      {"MTItem object", 0, [](auto m) { return ItemOf(m, VarObject(m)).hr; }, E_INVALIDARG, kOwnTag + L"get_MTItem"},
      {"MTAdd duplicate", 0, [](auto m) { return AddTo(m, L"A", VarI4(3)).hr; }, kDuplicate, kDuplicateText + L"A"},
      {"MTSetSize below count", 0, [](auto m) { return m->MTSetSize(1); }, E_INVALIDARG, kOwnTag + L"MTSetSize"},
      {"MTStyle with items", 0, [](auto m) { return m->put_MTStyle(qxnvCaseSensitive); },
       static_cast<HRESULT>(0x80040420), L"Property cannot be set while there are values in the collection."},
      {"MTRename onto another", 0, [](auto m) { return m->MTRename(Bstr(L"a").Get(), Bstr(L"B").Get()); },
       kDuplicate, kDuplicateText + L"B"},
      {"MTInsert attached", 0, [](auto m) { return m->MTInsert(ItemOf(m, VarText(L"a")).item.Get()); },
       static_cast<HRESULT>(0x800405D7), L"Cannot insert NamedValue because it already has a parent"},
      {"Insert foreign", 0,
       [](auto m) {
         ComPtr<NamedValue> item;
         NewNamedValues()->Add(Bstr(L"x").Get(), VarI4(1).AddressOf(), item.Put());
         return ViewOf(m)->Insert(item.Get());
       },
       static_cast<HRESULT>(0x800407BF), L"NAMEDVALUES error CMTNVS::Insert> Not a MTNV object"},
      {"item rename onto another", 0, [](auto m) { return ItemOf(m, VarText(L"a")).item->MTRename(Bstr(L"b").Get()); },
       kDuplicate, kDuplicateText + L"b"},
      {"frozen MTAdd", 1, [](auto m) { return AddTo(m, L"c", VarI4(3)).hr; }, E_ACCESSDENIED, kOwnTag + L"Add"},
      {"frozen item value", 1, [](auto m) { return ItemOf(m, VarI4(1)).item->put_MTValue(VarI4(5).Get()); },
       E_ACCESSDENIED, kItemTag + L"put_MTValue"},
      {"frozen item detach", 1, [](auto m) { return ItemOf(m, VarI4(1)).item->MTDetach(); }, E_ACCESSDENIED,
       kItemTag + L"MTDetach"},
      // Copy refuses a frozen collection plainly, without the closing report.
      {"frozen MTCopy", 1,
       [](auto m) {
         ComPtr<_MTNV> copy;
         return m->MTCopy(ItemOf(NewMTNVS({L"c"}).Get(), VarI4(1)).item.Get(), VARIANT_TRUE, copy.Put());
       },
       E_ACCESSDENIED, L""},
      {"frozen string load", 1, [](auto m) { return m->MTLoadFromString(Bstr(L"c=3").Get()); }, E_ACCESSDENIED,
       kOwnTag + L"MTLoadFromString"},
      {"frozen refresh", 1, [](auto m) { return As<IRefresh>(m)->Refresh(); }, E_ACCESSDENIED,
       L"NAMEDVALUES error CMTNVS::Refresh"},
      {"registry load options", 0,
       [](auto m) { return m->MTLoadFromRegistry(kHkcu, Bstr(kKey).Get(), static_cast<qxnvRegistryOptions>(3)); },
       static_cast<HRESULT>(0x800404A1), L"Invalid option, or combination of options, for this operation."},
      // The registry load is lenient about a type it cannot read; the dumps skip a value without a
      // form and return its failure.
      {"registry load of REG_BINARY", 2,
       [](auto m) { return m->MTLoadFromRegistry(kHkcu, Bstr(kKey).Get(), qxnvNoOptions); }, S_OK,
       L"NamedValues cannot load this type of data from the Registry.3 (0x3)"},
      {"dump of a nested collection", 2,
       [](auto m) {
         AddNested(m);
         UniqueBstr text;
         const HRESULT hr = m->MTDumpToString(text.Put());
         return text.IsNull() ? hr : E_UNEXPECTED;
       },
       DISP_E_TYPEMISMATCH, kOwnTag + L"MTDumpToString"},
      {"registry dump of a nested collection", 2,
       [](auto m) { return AddNested(m), m->MTDumpToRegistry(kHkcu, Bstr(kKey).Get(), qxnvNoOptions); },
       DISP_E_TYPEMISMATCH, kOwnTag + L"MTDumpToRegistry"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto m = NewMTNVS({L"a", L"b"});
    if (row.setup == 1) {
      ASSERT_EQ(S_OK, m->MTFreeze());
    }
    EXPECT_TRUE(Fails(row.hr, row.call(m.Get()), row.description));
    if (row.setup != 2) {
      EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), MTNames(m.Get()));
    }
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
}

// A NamedValues added as a value becomes an MTNVS copy; an MTNVS stays itself. A registry round
// trip keeps names, values and subkeys.
TEST_F(MTNVSTest, NestedCollectionsAndTheRegistry) {
  auto m = NewMTNVS({L"b", L"a"});
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"k").Get(), VarI4(7).AddressOf(), nullptr));
  ASSERT_EQ(S_OK, AddTo(m.Get(), L"nv", VarObject(nv.Get())).hr);
  auto shared = NewMTNVS({L"s"});
  ASSERT_EQ(S_OK, AddTo(m.Get(), L"mt", VarObject(shared.Get())).hr);
  const auto nested = ValueOf(ItemOf(m.Get(), VarText(L"nv")).item.Get());
  auto copy = As<_MTNVS>(V_DISPATCH(&nested.Get()));
  ASSERT_TRUE(copy);
  EXPECT_EQ((std::vector<std::wstring>{L"k"}), MTNames(copy.Get()));
  const auto same = ValueOf(ItemOf(m.Get(), VarText(L"mt")).item.Get());
  EXPECT_TRUE(SameObject(V_DISPATCH(&same.Get()), shared.Get()));

  const std::wstring key = kKey;
  RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
  ASSERT_EQ(S_OK, m->MTRemove(Bstr(L"nv").Get()));
  ASSERT_EQ(S_OK, m->MTRemove(Bstr(L"mt").Get()));
  ASSERT_EQ(S_OK, m->MTLoadFromString(Bstr(L"text=hello").Get()));
  ASSERT_EQ(S_OK, AddTo(m.Get(), L"d", VarR8(2.6)).hr);
  ASSERT_EQ(S_OK, m->MTDumpToRegistry(kHkcu, Bstr(key).Get(), qxnvNoOptions));
  ASSERT_EQ(S_OK, NewMTNVS({L"x"})->MTDumpToRegistry(kHkcu, Bstr(key + L"\\sub").Get(), qxnvNoOptions));
  auto back = NewMTNVS({});
  ASSERT_EQ(S_OK, back->MTLoadFromRegistry(kHkcu, Bstr(key).Get(), qxnvIncludeSubkeys));
  RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
  const auto sub = ValueOf(ItemOf(back.Get(), VarText(L"sub")).item.Get());
  UniqueBstr text;
  ASSERT_EQ(S_OK, As<_MTNVS>(V_DISPATCH(&sub.Get()))->MTDumpToString(text.Put()));
  EXPECT_EQ(L"x=1", Text(text.Get()));
  ASSERT_EQ(S_OK, back->MTRemove(Bstr(L"sub").Get()));
  ASSERT_EQ(S_OK, back->MTDumpToString(text.Put()));
  EXPECT_EQ(L"a=2;b=1;d=3;text=hello", Text(text.Get()));
}

// Items leave as orphans (MTClear, the collection's end) and keep their name; an orphan takes any
// name, and inserting it trims the name, even into a frozen collection.
TEST_F(MTNVSTest, ItemsOutliveTheirCollectionAsOrphans) {
  auto m = NewMTNVS({L"a", L"b"});
  ComPtr<_EnumMTNV> members;
  ASSERT_EQ(S_OK, m->get__MTMemberEnum(members.Put()));
  auto kept = ItemOf(m.Get(), VarText(L"b")).item;
  EXPECT_TRUE(m.TryQuery<IMarshal>() && kept.TryQuery<IMarshal>());  // the free-threaded marshaler
  ASSERT_EQ(S_OK, m->MTClear());
  EXPECT_EQ(0, CountOf(m.Get()));
  int seen = 0;
  for (ComPtr<_MTNV> item; members->MTNext(item.Put()) == S_OK; ++seen) EXPECT_FALSE(ParentOf(item.Get()));
  EXPECT_EQ(2, seen);
  ASSERT_EQ(S_OK, kept->MTRename(Bstr(L"  c").Get()));
  ASSERT_EQ(S_OK, m->MTFreeze());
  ASSERT_EQ(S_OK, m->MTInsert(kept.Get()));
  EXPECT_EQ(L"c", NameOf(kept.Get()));
  EXPECT_TRUE(SameObject(ParentOf(kept.Get()).Get(), m.Get()));
  m.Reset();
  EXPECT_FALSE(ParentOf(kept.Get()));
}

}  // namespace
}  // namespace qx::test
