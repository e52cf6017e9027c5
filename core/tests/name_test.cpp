// The four comparison modes of member names, and trimming by style.
#include <gtest/gtest.h>

#include <string>

#include "qx/core/name.h"

namespace {

using qx::NameComparer;
using qx::NameRef;
using qx::NameStyle;

NameRef N(std::u16string_view s) { return NameRef::From(s); }
int Sign(int v) { return (v > 0) - (v < 0); }

// One row per comparison, with the result in each of the four modes (style bits 0 to 3). The
// ordinal modes return the difference of units or lengths exactly; kNeg and kPos stand for any
// negative or positive result, kAny for a result left to the collation (here the portable one).
constexpr int kNeg = -(1 << 20), kPos = 1 << 20, kAny = 1 << 21;
TEST(NameComparer, ComparisonsInEveryMode) {
  const std::u16string ab(u"a\0b", 3), ac(u"a\0c", 3);
  const NameRef null{};
  // Names of a million units: compared in one pass, with the exact length difference.
  const std::u16string lower(1'000'000, u'x'), upper(1'000'000, u'X'), longer = lower + u'x';
  std::u16string lastDiffers = lower;
  lastDiffers.back() = u'y';
  const struct {
    NameRef a, b;
    int results[4];
  } rows[] = {
      {null, null, {0, 0, 0, 0}},
      {N(u""), null, {1, 1, 1, 1}},  // null below even the empty name, in every mode
      {null, N(u""), {-1, -1, -1, -1}},
      {N(u""), N(u""), {0, 0, 0, 0}},
      {N(u""), N(u"a"), {-1, -1, kNeg, kNeg}},
      {N(u"Timeout"), N(u"tIMEOUT"), {0, 'T' - 't', 0, kNeg}},
      {N(u"aB"), N(u"Ac"), {-1, 'a' - 'A', kNeg, kPos}},
      {N(u"ab"), N(u"abc"), {-1, -1, kNeg, kNeg}},
      {N(u"abcd"), N(u"AB"), {2, 'a' - 'A', kPos, kPos}},
      {N(u"\u0130\u017F"), N(u"IS"), {0, 0x130 - 'I', kAny, kPos}},  // folds beyond ASCII
      {N(u"\u03C2"), N(u"\u03A3"), {0, 0x3C2 - 0x3A3, kAny, kPos}},
      {N(u"\xFFFF"), N(u"a"), {0xFFFF - 'a', 0xFFFF - 'a', kPos, kPos}},  // units compare unsigned
      {N(u"\xFFFF"), N(u"\x8000"), {0x7FFF, 0x7FFF, kPos, kPos}},
      {N(u"_x"), N(u"A"), {kNeg, kPos, kAny, kPos}},  // '_' before the letters folded, between them exact
      {N(u"_x"), N(u"a"), {kNeg, kNeg, kAny, kNeg}},
      {N(ab), N(ac), {-1, -1, 0, 0}},  // embedded NULs count in the ordinal modes only
      {N(ab), N(u"a"), {2, 2, 0, 0}},
      {N(u"a"), N(ab), {-2, -2, 0, 0}},
      {N(lower), N(lastDiffers), {'x' - 'y', 'x' - 'y', kNeg, kNeg}},
      {N(longer), N(lower), {1, 1, kPos, kPos}},
      {N(lower), N(upper), {0, 'x' - 'X', 0, kPos}},
  };
  for (const auto& row : rows) {
    for (int bits = 0; bits < 4; ++bits) {
      const int expected = row.results[bits];
      const int actual = NameComparer(NameStyle::FromBits(bits)).Compare(row.a, row.b);
      if (expected == kAny) continue;
      const bool signOnly = expected == kNeg || expected == kPos;
      EXPECT_EQ(signOnly ? Sign(expected) : expected, signOnly ? Sign(actual) : actual)
          << "mode " << bits << ", row " << (&row - rows);
    }
  }
}

// Only U+0020 is trimmed, at each end unless the style allows spaces there; a name of spaces
// becomes the empty name, while the null name stays null.
TEST(NormalizeName, TrimsOnlyU0020AsTheStyleAllows) {
  const struct {
    unsigned bits;
    std::u16string_view in, out;
  } rows[] = {
      {0, u"  a b  ", u"a b"},      {4, u"  a b  ", u"  a b"},       {8, u"  a b  ", u"a b  "},
      {12, u"  a b  ", u"  a b  "}, {0, u"\tx\u00A0", u"\tx\u00A0"}, {0, u"   ", u""},
  };
  for (const auto& row : rows) {
    const NameRef out = qx::NormalizeName(NameStyle::FromBits(row.bits), N(row.in));
    EXPECT_FALSE(out.IsNull()) << "row " << (&row - rows);
    EXPECT_EQ(row.out, std::u16string_view(out.data, out.length)) << "row " << (&row - rows);
  }
  EXPECT_TRUE(qx::NormalizeName({}, NameRef{}).IsNull());
}

}  // namespace
