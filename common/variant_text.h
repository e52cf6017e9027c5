// The string form of a VARIANT, as the collections' dumps write it.
//
// The platform's VariantChangeType turns an object into text by reading its default value and
// converting that, following default values that are objects again without any limit: an object
// whose default value is itself (a member whose value is the member) recurses until the stack
// overflows. VariantToText reads the default values itself, at most kDefaultValueDepth deep, and
// only hands values that are no longer objects to the platform, so such a value fails cleanly
// with DISP_E_TYPEMISMATCH.
//
// Reading a default value runs the object's own code, which may change whatever the caller is
// iterating: call it only on values the caller holds on its own (a copy, or a member held by a
// counted snapshot), never while a store is mid-change.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "framework/owners.h"

namespace qx {

// How many object default values VariantToText follows before it gives up.
inline constexpr int kDefaultValueDepth = 8;

// Puts in `plain` a copy of `value` that is not an object: by-reference values dereferenced,
// an object replaced by its default value, read at most kDefaultValueDepth deep; a null object
// and an IUnknown without IDispatch stay as they are (the platform refuses to convert those).
// DISP_E_TYPEMISMATCH for an object without a usable default value or one nested too deep.
[[nodiscard]] HRESULT ResolveDefaultValue(const VARIANT& value, com::UniqueVariant& plain) noexcept;

// Puts the string form of `value` in `text` (VT_BSTR, possibly a null BSTR): a string as it is,
// by-reference values dereferenced, an object by its default value (resolved as above), anything
// else by VariantChangeType with no flags. On failure `text` is left empty and the HRESULT says
// why: DISP_E_TYPEMISMATCH for an object without a usable default value or one nested too deep,
// otherwise the platform's conversion result.
[[nodiscard]] HRESULT VariantToText(const VARIANT& value, com::UniqueVariant& text) noexcept;

}  // namespace qx
