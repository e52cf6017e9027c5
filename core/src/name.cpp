// Name style flags, comparison and trimming of member names.
#include "qx/core/name.h"

#include <algorithm>
#include <climits>

namespace qx {

NameStyle NameStyle::FromBits(std::int32_t bits) {
  NameStyle style;
  style.caseSensitive = (bits & kCaseSensitive) != 0;
  style.localeSensitive = (bits & kLocaleSensitive) != 0;
  style.allowLeadingSpace = (bits & kAllowLeadingSpace) != 0;
  style.allowTrailingSpace = (bits & kAllowTrailingSpace) != 0;
  return style;
}

std::int32_t NameStyle::Bits() const {
  return (caseSensitive ? kCaseSensitive : 0) | (localeSensitive ? kLocaleSensitive : 0) |
         (allowLeadingSpace ? kAllowLeadingSpace : 0) | (allowTrailingSpace ? kAllowTrailingSpace : 0);
}

int OrdinalCollate(const char16_t* a, const char16_t* b, bool ignoreCase) {
  for (;; ++a, ++b) {
    const char16_t x = ignoreCase ? FoldCase(*a) : *a;
    const char16_t y = ignoreCase ? FoldCase(*b) : *b;
    // Only NUL folds to NUL, so x == 0 means a ended (and b too if equal).
    if (x != y) return static_cast<int>(x) - static_cast<int>(y);
    if (x == 0) return 0;
  }
}

namespace {

// Lengths of BSTRs stay far below INT_MAX, but the type allows more.
int LengthDifference(std::uint32_t a, std::uint32_t b) {
  const std::int64_t diff = static_cast<std::int64_t>(a) - static_cast<std::int64_t>(b);
  return static_cast<int>(std::clamp<std::int64_t>(diff, INT_MIN, INT_MAX));
}

int CompareOrdinal(NameRef a, NameRef b) {
  const std::uint32_t n = std::min(a.length, b.length);
  for (std::uint32_t i = 0; i < n; ++i) {
    if (a.data[i] != b.data[i]) {
      return static_cast<int>(a.data[i]) - static_cast<int>(b.data[i]);
    }
  }
  return LengthDifference(a.length, b.length);
}

int CompareFolded(NameRef a, NameRef b) {
  const std::uint32_t n = std::min(a.length, b.length);
  for (std::uint32_t i = 0; i < n; ++i) {
    const char16_t x = a.data[i];
    const char16_t y = b.data[i];
    // Most pairs are identical; fold only where the raw units differ.
    if (x != y) {
      const char16_t fx = FoldCase(x);
      const char16_t fy = FoldCase(y);
      if (fx != fy) return static_cast<int>(fx) - static_cast<int>(fy);
    }
  }
  return LengthDifference(a.length, b.length);
}

}  // namespace

NameComparer::NameComparer(NameStyle style, CollateFn collate)
    : style_(style), collate_(collate ? collate : &OrdinalCollate) {
  if (style.localeSensitive) {
    mode_ = style.caseSensitive ? Mode::kLocale : Mode::kLocaleIgnoreCase;
  } else {
    mode_ = style.caseSensitive ? Mode::kOrdinal : Mode::kFolded;
  }
}

int NameComparer::Compare(NameRef member, NameRef key) const {
  if (key.IsNull()) return member.IsNull() ? 0 : 1;
  if (member.IsNull()) return -1;
  switch (mode_) {
    case Mode::kFolded:
      return CompareFolded(member, key);
    case Mode::kOrdinal:
      return CompareOrdinal(member, key);
    case Mode::kLocaleIgnoreCase:
      return collate_(member.data, key.data, true);
    case Mode::kLocale:
      return collate_(member.data, key.data, false);
  }
  return 0;
}

NameRef NormalizeName(const NameStyle& style, NameRef name) {
  if (name.IsNull()) return name;
  const char16_t* begin = name.data;
  const char16_t* end = name.data + name.length;
  if (!style.allowLeadingSpace) {
    while (begin != end && *begin == u' ') ++begin;
  }
  if (!style.allowTrailingSpace) {
    while (end != begin && end[-1] == u' ') --end;
  }
  return {begin, static_cast<std::uint32_t>(end - begin)};
}

}  // namespace qx
