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

// The key a member is searched and stored under: `name` trimmed by the style, borrowed from
// `name`. The locale comparisons read up to a NUL, so for them a name trimmed out of a longer
// text is copied (into `holder`).
inline NameRef TrimmedKey(const NameStyle& style, NameRef name, com::UniqueBstr& holder) {
  const NameRef trimmed = NormalizeName(style, name);
  if (!style.localeSensitive || trimmed.IsNull() || trimmed.data[trimmed.length] == u'\0') return trimmed;
  holder = CopyName(trimmed);
  return NameOf(holder.Get());
}

}  // namespace qx
