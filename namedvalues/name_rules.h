// The name rules of the named-value collections on Windows: BSTRs seen as core names, and the
// C runtime's collation for the locale-sensitive styles.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "qx/core/name.h"

namespace qx {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "BSTR code units are UTF-16");

// A BSTR as a name: its full length, embedded NULs included; null stays null.
inline NameRef NameOf(BSTR name) noexcept { return {reinterpret_cast<const char16_t*>(name), SysStringLen(name)}; }

// wcscoll / _wcsicoll under the process's current C locale (stops at the first NUL).
int RuntimeCollate(const char16_t* a, const char16_t* b, bool ignoreCase);

inline NameComparer ComparerFor(const NameStyle& style) { return NameComparer(style, &RuntimeCollate); }

}  // namespace qx
