// Member names of the named-value collections: the name type, the style
// flags, case folding, the comparison that orders a collection, and the
// trimming applied to names on the way in.
//
// Everything here is portable: names are UTF-16 code units held as char16_t
// (a BSTR's OLECHAR on Windows), never wchar_t, which is 32-bit on Linux.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qx {

// A borrowed name: a pointer and an explicit length in UTF-16 code units, as a
// BSTR carries them. data == nullptr is the null name, which is a different
// key from the empty name (non-null data, length 0). Code units between 0 and
// length may include NULs; the ordinal comparisons see them.
//
// Contract for the locale comparisons: data[length] is a NUL (every BSTR has
// one), because the host's collation functions stop at the first NUL.
struct NameRef {
  const char16_t* data = nullptr;
  std::uint32_t length = 0;

  bool IsNull() const { return data == nullptr; }

  // Views a string as a name. Only a view of a whole literal or of a whole
  // std::u16string also has the NUL at data[length] that the locale
  // comparisons rely on. A default-constructed view (null data) gives the
  // null name.
  static NameRef From(std::u16string_view text) { return {text.data(), static_cast<std::uint32_t>(text.size())}; }
};

// The naming rules of a collection, the four low bits of its Style property.
struct NameStyle {
  static constexpr std::int32_t kCaseSensitive = 1;
  static constexpr std::int32_t kLocaleSensitive = 2;
  static constexpr std::int32_t kAllowLeadingSpace = 4;
  static constexpr std::int32_t kAllowTrailingSpace = 8;

  bool caseSensitive = false;
  bool localeSensitive = false;
  bool allowLeadingSpace = false;
  bool allowTrailingSpace = false;

  // Takes bits 0 to 3; every other bit is ignored.
  static NameStyle FromBits(std::int32_t bits);
  // The inverse: caseSensitive*1 + localeSensitive*2 + allowLeadingSpace*4
  // + allowTrailingSpace*8.
  std::int32_t Bits() const;

  friend bool operator==(const NameStyle&, const NameStyle&) = default;
};

namespace detail {
// lower(upper(c)) for every UTF-16 code unit, built at compile time.
extern const std::array<char16_t, 65536> kFoldTable;
}  // namespace detail

// The case fold of the case-insensitive ordinal comparison: the lower-case
// form of the upper-case form of c. It changes 716 code units (ASCII,
// Latin-1, Latin Extended, Greek, Cyrillic, Armenian, Georgian, Latin and
// Greek extended, Roman numerals, circled and full-width letters); all others,
// surrogates included, fold to themselves. Because the key is the lower-case
// form, U+005B..U+0060 ('_' among them) sort before every letter.
inline char16_t FoldCase(char16_t c) { return detail::kFoldTable[c]; }

// The host's locale collation: negative, zero or positive as a sorts before,
// equal to or after b. Both strings end at their first NUL. ignoreCase selects
// the case-insensitive collation. The Windows build passes wrappers of the C
// runtime's wcscoll and _wcsicoll, which use the process's current C locale.
using CollateFn = int (*)(const char16_t* a, const char16_t* b, bool ignoreCase);

// The portable stand-in for the locale collation, used where no C runtime
// collation of UTF-16 exists (the native Linux build): an ordinal comparison
// of code units up to the first NUL, of folded code units when ignoreCase.
int OrdinalCollate(const char16_t* a, const char16_t* b, bool ignoreCase);

// Orders members by name under a style. Compare(member, key) is negative,
// zero or positive as the member's name sorts before, equal to or after key:
//  - a null key equals a null member name and sorts below every non-null one;
//  - a null member name sorts below every non-null key;
//  - otherwise, by the style:
//      case-insensitive, ordinal: code units mapped through FoldCase;
//      case-sensitive, ordinal:   raw code units;
//      locale-sensitive:          collate(member, key, !caseSensitive).
//    The ordinal modes run over the explicit lengths (embedded NULs count):
//    the first unequal pair gives the difference of the two (folded) code
//    units as unsigned 16-bit values; if the shorter name is a prefix of the
//    longer one the result is the length difference (clamped to int). The
//    locale modes stop at the first NUL.
class NameComparer {
 public:
  // A null collate selects OrdinalCollate.
  explicit NameComparer(NameStyle style = {}, CollateFn collate = &OrdinalCollate);

  int Compare(NameRef member, NameRef key) const;
  bool Equal(NameRef a, NameRef b) const { return Compare(a, b) == 0; }

  const NameStyle& Style() const { return style_; }
  CollateFn Collate() const { return collate_; }

 private:
  enum class Mode : std::uint8_t { kFolded, kOrdinal, kLocaleIgnoreCase, kLocale };

  NameStyle style_;
  CollateFn collate_;
  Mode mode_;
};

// Trims a name for storage: removes leading U+0020 unless allowLeadingSpace,
// trailing U+0020 unless allowTrailingSpace. Only U+0020 counts, not tabs or
// other white space. A name of spaces only becomes the empty, non-null name;
// the null name stays null. The result is a subrange of the input (the caller
// copies it); when nothing is removed it is the input itself. A result with
// trailing spaces removed has no NUL at data[length]: copy it into a BSTR
// before handing it to a locale-sensitive comparison.
NameRef NormalizeName(const NameStyle& style, NameRef name);

}  // namespace qx
