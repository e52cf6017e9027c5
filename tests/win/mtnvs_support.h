// Helpers of the MTNVS tests: creation, and short readers of the _MTNVS / _MTNV members.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {

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
inline ItemResult ItemOf(_MTNVS* m, UniqueVariant index) {
  ItemResult r{};
  r.hr = m->get_MTItem(index.AddressOf(), r.item.Put());
  return r;
}
inline ItemResult AddTo(_MTNVS* m, const std::wstring& name, UniqueVariant value) {
  ItemResult r{};
  r.hr = m->MTAdd(Bstr(name).Get(), value.AddressOf(), r.item.Put());
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

}  // namespace qx::test
