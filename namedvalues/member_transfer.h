// Reading members out of any named-value collection, through its public interfaces only: the
// source of Copy and Merge may be a NamedValues, an MTNVS, or another implementation of their
// interfaces. The overloads pair each collection interface with its member and enumerator
// interfaces: _NamedValues / NamedValue / _EnumNamedValue and _MTNVS / _MTNV / _EnumMTNV.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/error_reporter.h"
#include "framework/owners.h"
#include "module/qxsdk_idl.h"

namespace qx {

inline HRESULT ReadName(NamedValue* member, BSTR* name) { return member->get_Name(name); }
inline HRESULT ReadName(_MTNV* member, BSTR* name) { return member->get_MTName(name); }
inline HRESULT ReadValue(NamedValue* member, VARIANT* value) { return member->get_Value(value); }
inline HRESULT ReadValue(_MTNV* member, VARIANT* value) { return member->get_MTValue(value); }
inline HRESULT MembersOf(_NamedValues* collection, _EnumNamedValue** members) {
  return collection->get__MemberEnum(members);
}
inline HRESULT MembersOf(_MTNVS* collection, _EnumMTNV** members) { return collection->get__MTMemberEnum(members); }
inline HRESULT NextMember(_EnumNamedValue* members, NamedValue** member) { return members->Next(member); }
inline HRESULT NextMember(_EnumMTNV* members, _MTNV** member) { return members->MTNext(member); }

template <class Collection>
struct MembersOfTraits;
template <>
struct MembersOfTraits<_NamedValues> {
  using Enum = _EnumNamedValue;
  using Member = NamedValue;
};
template <>
struct MembersOfTraits<_MTNVS> {
  using Enum = _EnumMTNV;
  using Member = _MTNV;
};

// A frozen collection refuses Copy and Merge plainly: E_ACCESSDENIED, described without the
// closing report of the method.
inline HRESULT RefuseFrozen() noexcept {
  ClearErrorInfo();
  return ReportSystemError(E_ACCESSDENIED);
}

// The name and the value of a source member; failures are passed on as the member reported them.
template <class Member>
HRESULT ReadMember(Member* source, com::UniqueBstr& name, com::UniqueVariant& value) {
  HRESULT hr = ReadName(source, name.Put());
  if (FAILED(hr)) return PropagateHResult(hr);
  hr = ReadValue(source, value.Put());
  return FAILED(hr) ? PropagateHResult(hr) : S_OK;
}

// Calls copy(Member*) for every member of `source`, in its public order, over the snapshot its
// member enumerator takes (so merging a collection into itself ends). A failing member does not
// stop the others; the result is the last failure.
template <class Collection, class Copy>
HRESULT MergeMembers(Collection* source, Copy&& copy) {
  using Traits = MembersOfTraits<Collection>;
  com::ComPtr<typename Traits::Enum> members;
  HRESULT hr = MembersOf(source, members.Put());
  if (FAILED(hr)) return PropagateHResult(hr);
  if (!members) return ReportSystemError(E_POINTER);
  HRESULT outcome = S_OK;
  com::ComPtr<typename Traits::Member> member;
  while (NextMember(members.Get(), member.Put()) == S_OK && member) {
    hr = copy(member.Get());
    if (FAILED(hr)) outcome = hr;
  }
  return outcome;
}

}  // namespace qx
