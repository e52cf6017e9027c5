// MTNVS and MTNV on one thread: the members' failures (one table), and the rules that differ from
// NamedValues or that only the free-threaded collection has.
#include "mtnvs_support.h"

namespace qx::test {
namespace {

using MTNVSTest = LeakCheckedTest;

const std::wstring kOwnTag = L"MTNVS error. ";
const std::wstring kItemTag = L"MTNV error. ";

TEST_F(MTNVSTest, FailuresCarryTheirCodeAndDescription) {
  CheckRows(
      {
          {"MTItem null out", [](_MTNVS* m, _MTNVS*) { return m->get_MTItem(VarI4(1).AddressOf(), nullptr); },
           E_POINTER, kOwnTag + L" CMTNVS::get_MTItem"},
          {"MTItem object", [](_MTNVS* m, _MTNVS*) { return ItemOf(m, VarObject(m)).hr; }, E_INVALIDARG,
           kOwnTag + L" CMTNVS::get_MTItem"},
          {"MTAdd duplicate", [](_MTNVS* m, _MTNVS*) { return AddTo(m, L"A", VarI4(3)).hr; },
           static_cast<HRESULT>(0x80040421), L"Cannot add duplicate name to the collection: A"},
          {"MTSetSize below count", [](_MTNVS* m, _MTNVS*) { return m->MTSetSize(1); }, E_INVALIDARG,
           kOwnTag + L" CMTNVS::MTSetSize"},
          {"MTStyle with items", [](_MTNVS* m, _MTNVS*) { return m->put_MTStyle(qxnvCaseSensitive); },
           static_cast<HRESULT>(0x80040420), L"Property cannot be set while there are values in the collection."},
          {"MTRename onto another", [](_MTNVS* m, _MTNVS*) { return m->MTRename(Bstr(L"a").Get(), Bstr(L"B").Get()); },
           static_cast<HRESULT>(0x80040421), L"Cannot add duplicate name to the collection: B"},
          {"MTInsert null", [](_MTNVS* m, _MTNVS*) { return m->MTInsert(nullptr); }, E_POINTER,
           kOwnTag + L" CMTNVS::MTInsert"},
          {"MTInsert attached", [](_MTNVS* m, _MTNVS*) { return m->MTInsert(ItemOf(m, VarText(L"a")).item.Get()); },
           static_cast<HRESULT>(0x800405D7), L"Cannot insert NamedValue because it already has a parent"},
          {"Insert foreign",
           [](_MTNVS* m, _MTNVS*) {
             auto nv = NewNamedValues();
             ComPtr<NamedValue> item;
             nv->Add(Bstr(L"x").Get(), VarI4(1).AddressOf(), item.Put());
             return ViewOf(m)->Insert(item.Get());
           },
           static_cast<HRESULT>(0x800407BF), L"NAMEDVALUES error CMTNVS::Insert> Not a MTNV object"},
          {"item rename onto another",
           [](_MTNVS* m, _MTNVS*) { return ItemOf(m, VarText(L"a")).item->MTRename(Bstr(L"b").Get()); },
           static_cast<HRESULT>(0x80040421), L"Cannot add duplicate name to the collection: b"},
          {"item name null out", [](_MTNVS* m, _MTNVS*) { return ItemOf(m, VarI4(1)).item->get_MTName(nullptr); },
           E_POINTER, kItemTag + L" CMTNV::get_MTName"},
          {"enumerator null out",
           [](_MTNVS* m, _MTNVS*) {
             ComPtr<_EnumMTNV> members;
             m->get__MTMemberEnum(members.Put());
             return members->MTNext(nullptr);
           },
           E_POINTER, kOwnTag + L" C_EnumMTNV::Next"},
          {"frozen MTAdd", [](_MTNVS*, _MTNVS* f) { return AddTo(f, L"c", VarI4(3)).hr; }, E_ACCESSDENIED,
           kOwnTag + L" CMTNVS::Add"},
          {"frozen MTClear", [](_MTNVS*, _MTNVS* f) { return f->MTClear(); }, E_ACCESSDENIED,
           kOwnTag + L" CMTNVS::MTClear"},
          {"frozen item value",
           [](_MTNVS*, _MTNVS* f) { return ItemOf(f, VarI4(1)).item->put_MTValue(VarI4(5).Get()); }, E_ACCESSDENIED,
           kItemTag + L" CMTNV::put_MTValue"},
          {"frozen item detach", [](_MTNVS*, _MTNVS* f) { return ItemOf(f, VarI4(1)).item->MTDetach(); },
           E_ACCESSDENIED, kItemTag + L" CMTNV::MTDetach"},
          // Copy and Merge refuse a frozen collection plainly, without the closing report.
          {"frozen MTCopy",
           [](_MTNVS* m, _MTNVS* f) {
             ComPtr<_MTNV> copy;
             return f->MTCopy(ItemOf(m, VarI4(1)).item.Get(), VARIANT_TRUE, copy.Put());
           },
           E_ACCESSDENIED, L""},
      },
      true);
}

TEST_F(MTNVSTest, NestedCollectionsBecomeOrStayMTNVS) {
  auto m = NewMTNVS({});
  auto nv = NewNamedValues();
  ComPtr<NamedValue> unused;
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"k").Get(), VarI4(7).AddressOf(), unused.Put()));
  ASSERT_EQ(S_OK, AddTo(m.Get(), L"nv", VarObject(nv.Get())).hr);
  auto shared = NewMTNVS({L"s"});
  ASSERT_EQ(S_OK, AddTo(m.Get(), L"mt", VarObject(shared.Get())).hr);

  const auto nested = ValueOf(ItemOf(m.Get(), VarText(L"nv")).item.Get());
  ASSERT_EQ(VT_DISPATCH, nested.Type());
  auto copy = ComPtr<IDispatch>(V_DISPATCH(&nested.Get())).TryQuery<_MTNVS>();
  ASSERT_TRUE(copy);
  VARIANT_BOOL sorted = VARIANT_TRUE;
  EXPECT_EQ(S_OK, copy->get_MTSorted(&sorted));
  EXPECT_EQ(VARIANT_FALSE, sorted);
  EXPECT_EQ((std::vector<std::wstring>{L"k"}), MTNames(copy.Get()));
  const auto same = ValueOf(ItemOf(m.Get(), VarText(L"mt")).item.Get());
  EXPECT_TRUE(SameObject(V_DISPATCH(&same.Get()), shared.Get()));
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
  EXPECT_EQ(L"  c", NameOf(kept.Get()));
  ASSERT_EQ(S_OK, m->MTFreeze());
  ASSERT_EQ(S_OK, m->MTInsert(kept.Get()));
  EXPECT_EQ(L"c", NameOf(kept.Get()));
  EXPECT_TRUE(SameObject(ParentOf(kept.Get()).Get(), m.Get()));
  m.Reset();
  EXPECT_FALSE(ParentOf(kept.Get()));
}

}  // namespace
}  // namespace qx::test
