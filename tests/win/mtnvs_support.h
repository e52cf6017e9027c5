// Helpers of the MTNVS tests: creation, and short readers of the _MTNVS / _MTNV members.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {

// One row of a failure table: a call on a collection holding a and b (`open`) or on a frozen
// one, and the result and description it must leave.
struct ErrorRow {
  const char* what;
  std::function<HRESULT(_MTNVS* open, _MTNVS* frozen)> call;
  HRESULT expected;
  std::wstring description;
};

// A new MTNVS through COM holding `names` in that order, with the values 1, 2, ...
inline ComPtr<_MTNVS> NewMTNVS(std::initializer_list<const wchar_t*> names) {
  ComPtr<_MTNVS> m;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_MTNVS, nullptr, CLSCTX_INPROC_SERVER, __uuidof(_MTNVS), m.PutVoid()))
      << "is the DLL registered?";
  LONG value = 0;
  for (const wchar_t* name : names) {
    ComPtr<_MTNV> item;
    EXPECT_EQ(S_OK, m->MTAdd(Bstr(name).Get(), VarI4(++value).AddressOf(), item.Put()));
  }
  return m;
}

struct ItemResult {
  HRESULT hr;
  ComPtr<_MTNV> item;
};
inline ItemResult ItemOf(_MTNVS* m, const UniqueVariant& index) {
  ItemResult r;
  r.hr = m->get_MTItem(const_cast<VARIANT*>(&index.Get()), r.item.Put());
  return r;
}
inline ItemResult AddTo(_MTNVS* m, const std::wstring& name, const UniqueVariant& value) {
  ItemResult r;
  r.hr = m->MTAdd(Bstr(name).Get(), const_cast<VARIANT*>(&value.Get()), r.item.Put());
  return r;
}

inline std::wstring NameOf(_MTNV* item) {
  UniqueBstr name;
  EXPECT_EQ(S_OK, item->get_MTName(name.Put()));
  return Text(name.Get());
}
inline UniqueVariant ValueOf(_MTNV* item) {
  UniqueVariant value;
  EXPECT_EQ(S_OK, item->get_MTValue(value.Put()));
  return value;
}
inline ComPtr<_MTNVS> ParentOf(_MTNV* item) {
  ComPtr<_MTNVS> parent;
  EXPECT_EQ(S_OK, item->get_MTParent(parent.Put()));
  return parent;
}
inline LONG CountOf(_MTNVS* m) {
  LONG count = -1;
  EXPECT_EQ(S_OK, m->get_MTCount(&count));
  return count;
}
inline ComPtr<INamedValues2> ViewOf(_MTNVS* m) {
  ComPtr<INamedValues2> view;
  EXPECT_EQ(S_OK, m->get_INVS2(view.Put()));
  return view;
}
inline bool SameObject(IUnknown* a, IUnknown* b) {
  return a && b && ComPtr<IUnknown>(a).TryQuery<IUnknown>().Get() == ComPtr<IUnknown>(b).TryQuery<IUnknown>().Get();
}
// The names in the public order, read through _MTMemberEnum.
inline std::vector<std::wstring> MTNames(_MTNVS* m) {
  std::vector<std::wstring> names;
  ComPtr<_EnumMTNV> members;
  EXPECT_EQ(S_OK, m->get__MTMemberEnum(members.Put()));
  for (ComPtr<_MTNV> item; members && members->MTNext(item.Put()) == S_OK && item;) names.push_back(NameOf(item.Get()));
  return names;
}

// Runs each row on new collections; `unchanged`: a failed call leaves both as they were.
inline void CheckRows(std::initializer_list<ErrorRow> rows, bool unchanged) {
  for (const ErrorRow& row : rows) {
    SCOPED_TRACE(row.what);
    auto open = NewMTNVS({L"a", L"b"});
    auto frozen = NewMTNVS({L"a", L"b"});
    ASSERT_EQ(S_OK, frozen->MTFreeze());
    EXPECT_TRUE(Fails(row.expected, row.call(open.Get(), frozen.Get()), row.description));
    if (unchanged) {
      EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), MTNames(open.Get()));
    }
  }
}

}  // namespace qx::test
