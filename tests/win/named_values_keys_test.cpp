// Keys trimmed out of longer text under the locale comparison, and Clone where a member cannot
// be copied straight across (it must then fail as a Merge of the collection does).
#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);

class NamedValuesKeysTest : public LeakCheckedTest {};

TEST_F(NamedValuesKeysTest, TrimmedKeysCompareWithoutTheirSpacesUnderEveryStyle) {
  for (const LONG style : {0, 1, 2, 3}) {
    ComPtr<INamedValues2> nv = NewNamedValues();
    ASSERT_EQ(S_OK, nv->put_Style(static_cast<qxnvStyleConstants>(style)));
    UniqueVariant one = VarI4(1);
    ASSERT_EQ(S_OK, nv->Add(Bstr(L"a").Get(), one.AddressOf(), nullptr));
    EXPECT_TRUE(Fails(kDuplicate, nv->Add(Bstr(L" a  ").Get(), one.AddressOf(), nullptr),
                      L"Cannot add duplicate name to the collection: a"))
        << style;
    ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(L" a =2;b =3; b=4").Get())) << style;
    UniqueBstr dump;
    ASSERT_EQ(S_OK, nv->DumpToString(dump.Put()));
    EXPECT_EQ(L"a=2;b=4", Text(dump.Get())) << style;
  }
}

TEST_F(NamedValuesKeysTest, CloneThatCannotCopyAMemberFailsAsMergeDoes) {
  // Rename keeps spaces that Add would trim: the copy's " x" becomes "x", a duplicate.
  ComPtr<INamedValues2> nv = NewNamedValues();
  UniqueVariant one = VarI4(1);
  for (const wchar_t* name : {L"x", L"y"}) ASSERT_EQ(S_OK, nv->Add(Bstr(name).Get(), one.AddressOf(), nullptr));
  ASSERT_EQ(S_OK, nv->Rename(Bstr(L"y").Get(), Bstr(L" x").Get()));

  ComPtr<INamedValues2> merged = NewNamedValues();
  const HRESULT mergeResult = merged->Merge(nv.Get(), VARIANT_FALSE);
  const ErrorState mergeError = PeekError();
  SetErrorInfo(0, nullptr);

  ComPtr<INamedValues2> clone;
  EXPECT_EQ(mergeResult, nv->Clone(clone.Put()));
  EXPECT_FALSE(clone);
  EXPECT_TRUE(FAILED(mergeResult));
  EXPECT_EQ(mergeError.description, PeekError().description);
}

}  // namespace
}  // namespace qx::test
