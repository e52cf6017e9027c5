#include "namedvalues/name_rules.h"

#include <cwchar>

namespace qx {

int RuntimeCollate(const char16_t* a, const char16_t* b, bool ignoreCase) {
  const auto* left = reinterpret_cast<const wchar_t*>(a);
  const auto* right = reinterpret_cast<const wchar_t*>(b);
  return ignoreCase ? _wcsicoll(left, right) : wcscoll(left, right);
}

}  // namespace qx
