#include "test_support.h"

namespace qx::test {
namespace {

TEST(Smoke, AddAndReadBack) {
  auto nv = NewNamedValues();
  ASSERT_TRUE(nv);
  auto name = Bstr(L"Timeout");
  auto value = VarI4(30);
  ComPtr<NamedValue> item;
  ASSERT_EQ(S_OK, nv->Add(name.Get(), value.AddressOf(), item.Put()));
  LONG count = 0;
  EXPECT_EQ(S_OK, nv->get_Count(&count));
  EXPECT_EQ(1, count);
  auto lower = Bstr(L"timeout");
  EXPECT_EQ(static_cast<HRESULT>(0x80040421), nv->Add(lower.Get(), value.AddressOf(), nullptr));
  const ErrorState error = PeekError();
  EXPECT_EQ(L"Cannot add duplicate name to the collection: timeout", error.description);
  EXPECT_EQ(L"QXSDK", error.source);
}

}  // namespace
}  // namespace qx::test
