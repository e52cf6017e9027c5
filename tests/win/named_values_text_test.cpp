// The structured-string form of NamedValues through COM: DumpToString and LoadFromString.
#include "test_support.h"

namespace qx::test {
namespace {

using NamedValuesTextTest = LeakCheckedTest;

std::wstring Dump(INamedValues2* nv) {
  UniqueBstr text;
  EXPECT_EQ(S_OK, nv->DumpToString(text.Put()));
  return text.IsNull() ? L"<null>" : Text(text.Get());
}

UniqueVariant ValueOf(INamedValues2* nv, const wchar_t* name) {
  auto key = VarText(name);
  ComPtr<NamedValue> item;
  EXPECT_EQ(S_OK, nv->get_Item(key.AddressOf(), item.Put())) << testing::PrintToString(std::wstring(name));
  UniqueVariant value;
  if (item) {
    EXPECT_EQ(S_OK, item->get_Value(value.Put()));
  }
  return value;
}

TEST_F(NamedValuesTextTest, LoadReadsEntriesAndDumpWritesThemBack) {
  auto nv = NewNamedValues();
  EXPECT_EQ(L"<null>", Dump(nv.Get())) << "an empty collection dumps to a null string";
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(L" b = 1 ; a=x=y ;k;a=2;").Get()));
  EXPECT_EQ(3, CountOf(nv.Get()));
  const UniqueVariant a = ValueOf(nv.Get(), L"a");
  EXPECT_EQ(VT_BSTR, a.Type());
  EXPECT_EQ(L"2", Text(V_BSTR(&a.Get()))) << "a later entry replaces an earlier one";
  const UniqueVariant k = ValueOf(nv.Get(), L"k");
  EXPECT_EQ(VT_BSTR, k.Type());
  // A missing value is stored as a null string; the platform's VariantCopy may hand it back
  // as an empty one (Wine does).
  EXPECT_EQ(0u, SysStringLen(V_BSTR(&k.Get())));
  EXPECT_EQ(L"a=2;b=1;k=", Dump(nv.Get()));
  ASSERT_EQ(S_OK, nv->put_Sorted(VARIANT_FALSE));
  EXPECT_EQ(L"b=1;a=2;k=", Dump(nv.Get())) << "unsorted dumps keep the order of first adding";
}

TEST_F(NamedValuesTextTest, EdgeTexts) {
  auto nv = NewNamedValues();
  EXPECT_EQ(S_OK, nv->LoadFromString(nullptr));
  EXPECT_EQ(S_OK, nv->LoadFromString(Bstr(L"").Get()));
  EXPECT_EQ(S_OK, nv->LoadFromString(Bstr(L" \t ").Get()));
  EXPECT_EQ(0, CountOf(nv.Get()));
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(L";x=1").Get()));
  EXPECT_EQ(2, CountOf(nv.Get())) << "a leading ';' adds a member with a null name";
  // Text after an embedded NUL is not read.
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(std::wstring(L"y=1\0z=2", 7)).Get()));
  EXPECT_EQ(3, CountOf(nv.Get()));
}

TEST_F(NamedValuesTextTest, NumbersDumpAsTextAndObjectsFailTheWholeDump) {
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"n").Get(), VarI4(30).AddressOf(), nullptr));
  EXPECT_EQ(L"n=30", Dump(nv.Get()));

  auto inner = NewNamedValues();
  UniqueVariant object;
  V_VT(object.AddressOf()) = VT_DISPATCH;
  V_DISPATCH(object.AddressOf()) = inner.Get();
  inner->AddRef();
  ASSERT_EQ(S_OK, nv->Add(Bstr(L"o").Get(), object.AddressOf(), nullptr));
  UniqueBstr text;
  EXPECT_TRUE(FAILED(nv->DumpToString(text.Put())));
  EXPECT_TRUE(text.IsNull()) << "a failed dump returns no text";
  EXPECT_EQ(E_POINTER, nv->DumpToString(nullptr));
}

TEST_F(NamedValuesTextTest, FrozenCollectionsDumpButDoNotLoad) {
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(L"a=1").Get()));
  ASSERT_EQ(S_OK, nv->Freeze());
  EXPECT_TRUE(Fails(E_ACCESSDENIED, nv->LoadFromString(Bstr(L"b=2").Get())));
  EXPECT_EQ(L"a=1", Dump(nv.Get()));
}

}  // namespace
}  // namespace qx::test
