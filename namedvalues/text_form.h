// The structured-string form ("name=value;name=value") as both named-value collections load and
// dump it; the reader and the writer themselves are in the core.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cwctype>
#include <string_view>
#include <vector>

#include "common/variant_text.h"
#include "framework/owners.h"
#include "namedvalues/name_rules.h"
#include "qx/core/structured_string.h"

namespace qx {

inline bool RuntimeIsSpace(char16_t c) { return iswspace(static_cast<wint_t>(c)) != 0; }

// Calls add(NameRef name, NameRef value) for every entry of `text` (a null text has none). A
// failing entry does not stop the others; the result is the last failure.
template <class Add>
HRESULT LoadStructuredString(BSTR text, Add&& add) {
  if (!text) return S_OK;
  HRESULT failure = S_OK;
  const std::u16string_view view(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
  ReadStructuredString(view, &RuntimeIsSpace, [&](NameRef name, NameRef value) {
    const HRESULT hr = add(name, value);
    if (FAILED(hr)) failure = hr;
  });
  return failure;
}

// The guard under which a member's name and value are read: the member's own lock where it has
// one (a free-threaded member that left its collection during a call-out may be changed by
// another thread), none otherwise.
template <class Item>
auto MemberReadGuard(Item& member) {
  if constexpr (requires { member.OwnLock(); }) {
    return member.OwnLock().Lock();
  } else {
    return 0;
  }
}

// The text of `members` (a counted snapshot, in the order to write) into *out; an empty
// collection gives a null string. A value that is not a string is converted to its text form;
// converting an object value runs its code, which may change the collection: the snapshot holds
// the members, the conversion works on a copy of the value, and each name is read only after its
// value is converted. The first failed conversion ends the dump with its HRESULT, *out untouched.
template <class Item>
HRESULT DumpStructuredString(const std::vector<com::ComPtr<Item>>& members, BSTR* out) {
  StructuredStringWriter writer;
  for (const auto& member : members) {
    com::UniqueVariant value;
    {
      [[maybe_unused]] const auto held = MemberReadGuard(*member);
      const VARIANT& current = member->Value();
      if (V_VT(&current) == VT_BSTR) {
        writer.Add(member->Name(), NameOf(V_BSTR(&current)));
        continue;
      }
      const HRESULT hr = VariantCopy(value.AddressOf(), const_cast<VARIANT*>(&current));
      if (FAILED(hr)) return hr;
    }
    com::UniqueVariant text;
    const HRESULT hr = VariantToText(value.Get(), text);
    if (FAILED(hr)) return hr;
    [[maybe_unused]] const auto held = MemberReadGuard(*member);
    writer.Add(member->Name(), NameOf(V_BSTR(&text.Get())));
  }
  if (!writer.Empty()) {
    const std::u16string& text = writer.Text();
    *out =
        com::UniqueBstr::Copy(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())).Detach();
  }
  return S_OK;
}

}  // namespace qx
