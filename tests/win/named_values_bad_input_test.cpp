// NamedValues under hostile input: very long texts, separators and lone surrogates in names,
// and a traversal callback that empties the collection it walks.
#include "test_support.h"

namespace qx::test {
namespace {

using NamedValuesBadInputTest = LeakCheckedTest;

TEST_F(NamedValuesBadInputTest, TenMillionCharacterTextLoadsAndDumpsBack) {
  auto nv = NewNamedValues();
  // 1,000,000 entries "nXXXXXX=v;" make a text of about 10,000,000 characters.
  std::wstring text;
  text.reserve(10'500'000);
  for (int i = 0; i < 1'000'000; ++i) {
    wchar_t entry[24];
    swprintf(entry, 24, L"n%06d=v;", i);
    text += entry;
  }
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(text).Get()));
  EXPECT_EQ(1'000'000, CountOf(nv.Get()));
  UniqueBstr dumped;
  ASSERT_EQ(S_OK, nv->DumpToString(dumped.Put()));
  text.pop_back();  // the dump has no trailing separator
  EXPECT_TRUE(Text(dumped.Get()) == text);

  // One name of 10,000,000 characters with no separator at all.
  auto single = NewNamedValues();
  ASSERT_EQ(S_OK, single->LoadFromString(Bstr(std::wstring(10'000'000, L'x')).Get()));
  EXPECT_EQ(1, CountOf(single.Get()));
}

TEST_F(NamedValuesBadInputTest, SeparatorsAndLoneSurrogatesInNames) {
  auto nv = NewNamedValues();
  const std::wstring names[] = {L"a=b", L"c;d", std::wstring(1, wchar_t(0xD800)), std::wstring(1, wchar_t(0xDC00)) + L"z"};
  for (const auto& name : names) ASSERT_EQ(S_OK, nv->Add(Bstr(name).Get(), VarI4(1).AddressOf(), nullptr));
  EXPECT_EQ(4, CountOf(nv.Get()));
  for (const auto& name : names) {
    auto key = VarText(name);
    ComPtr<NamedValue> item;
    EXPECT_EQ(S_OK, nv->get_Item(key.AddressOf(), item.Put()));
  }
  // Names with separators dump as they are; reading that text back splits them differently.
  UniqueBstr dumped;
  ASSERT_EQ(S_OK, nv->DumpToString(dumped.Put()));
  auto reread = NewNamedValues();
  EXPECT_EQ(S_OK, reread->LoadFromString(dumped.Get()));
}

HRESULT __stdcall ClearWhileVisiting(IUnknown* member, void* passThru) {
  auto* nv = static_cast<INamedValues2*>(passThru);
  ComPtr<NamedValue> item;
  if (FAILED(member->QueryInterface(__uuidof(NamedValue), item.PutVoid()))) return E_FAIL;
  UniqueBstr name;
  item->get_Name(name.Put());  // the member stays valid although the collection lets it go
  return nv->Clear();
}

TEST_F(NamedValuesBadInputTest, TraverseSurvivesACallbackThatEmptiesTheCollection) {
  auto nv = NewNamedValues();
  ASSERT_EQ(S_OK, nv->LoadFromString(Bstr(L"a=1;b=2;c=3").Get()));
  auto traverse = nv.TryQuery<ITraverse>();
  ASSERT_TRUE(traverse);
  EXPECT_EQ(S_OK, traverse->Traverse(reinterpret_cast<void*>(&ClearWhileVisiting), nv.Get(), qxtrNoOptions));
  EXPECT_EQ(0, CountOf(nv.Get()));
}

}  // namespace
}  // namespace qx::test
