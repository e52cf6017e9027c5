// The name rules of the named-value collections on Windows: BSTRs seen as core names, and the
// C runtime's collation for the locale-sensitive styles.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "framework/owners.h"
#include "qx/core/name.h"

namespace qx {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "BSTR code units are UTF-16");

// A BSTR as a name: its full length, embedded NULs included; null stays null.
inline NameRef NameOf(BSTR name) noexcept { return {reinterpret_cast<const char16_t*>(name), SysStringLen(name)}; }

// wcscoll / _wcsicoll under the process's current C locale (stops at the first NUL).
int RuntimeCollate(const char16_t* a, const char16_t* b, bool ignoreCase);

inline NameComparer ComparerFor(const NameStyle& style) { return NameComparer(style, &RuntimeCollate); }

// A BSTR copy of a name's text (for names trimmed out of a longer string); null stays null.
inline com::UniqueBstr CopyName(NameRef name) {
  return com::UniqueBstr::Copy(reinterpret_cast<const OLECHAR*>(name.data), name.length);
}

// The key a new member is stored under: `name` trimmed by the style, as a BSTR of its own.
inline com::UniqueBstr NormalizedKey(const NameStyle& style, BSTR name) {
  if (!name) return {};
  const NameRef trimmed = NormalizeName(style, NameOf(name));
  return trimmed.length == SysStringLen(name) ? com::UniqueBstr::Copy(name) : CopyName(trimmed);
}

}  // namespace qx
