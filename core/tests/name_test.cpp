// Name style bits, the four comparison modes and name trimming.
#include <gtest/gtest.h>

#include <string>

#include "qx/core/name.h"

namespace {

using qx::NameComparer;
using qx::NameRef;
using qx::NameStyle;

NameRef N(std::u16string_view s) { return NameRef::From(s); }
int Sign(int v) { return (v > 0) - (v < 0); }

const NameStyle kStyles[] = {NameStyle::FromBits(0), NameStyle::FromBits(1), NameStyle::FromBits(2),
                             NameStyle::FromBits(3)};

TEST(NameStyle, BitsRoundTripAndOtherBitsAreIgnored) {
  for (std::int32_t bits = 0; bits < 16; ++bits) {
    EXPECT_EQ(NameStyle::FromBits(bits).Bits(), bits);
    EXPECT_EQ(NameStyle::FromBits(bits | 0x7FF0), NameStyle::FromBits(bits));
  }
  EXPECT_EQ(NameStyle::FromBits(-1).Bits(), 15);
  const NameStyle s = NameStyle::FromBits(4);
  EXPECT_TRUE(s.allowLeadingSpace && !s.allowTrailingSpace && !s.caseSensitive && !s.localeSensitive);
}

// One row per comparison, with the result in each of the four modes (style bits 0 to 3). The
// ordinal modes return the difference of units or lengths exactly; kNeg and kPos stand for any
// negative or positive result, kAny for a result left to the collation (here the portable one).
constexpr int kNeg = -(1 << 20), kPos = 1 << 20, kAny = 1 << 21;
TEST(NameComparer, ComparisonsInEveryMode) {
  const std::u16string ab(u"a\0b", 3), ac(u"a\0c", 3);
  const NameRef null{};
  const struct {
    NameRef a, b;
    int results[4];
  } rows[] = {
      {null, null, {0, 0, 0, 0}},
      {N(u"a"), null, {1, 1, 1, 1}},
      {N(u""), null, {1, 1, 1, 1}},
      {null, N(u""), {-1, -1, -1, -1}},
      {null, N(u"a"), {-1, -1, -1, -1}},
      {N(u""), N(u""), {0, 0, 0, 0}},
      {N(u""), N(u"a"), {-1, -1, kNeg, kNeg}},
      {N(u"Timeout"), N(u"tIMEOUT"), {0, 'T' - 't', 0, kNeg}},
      {N(u"aB"), N(u"Ac"), {-1, 'a' - 'A', kNeg, kPos}},
      {N(u"ab"), N(u"abc"), {-1, -1, kNeg, kNeg}},
      {N(u"abcd"), N(u"AB"), {2, 'a' - 'A', kPos, kPos}},
      {N(u"\u0130\u017F"), N(u"IS"), {0, 0x130 - 'I', kAny, kPos}},
      {N(u"\u03C2"), N(u"\u03A3"), {0, 0x3C2 - 0x3A3, kAny, kPos}},
      {N(u"\xFFFF"), N(u"a"), {0xFFFF - 'a', 0xFFFF - 'a', kPos, kPos}},  // units compare unsigned
      {N(u"\xFFFF"), N(u"\x8000"), {0x7FFF, 0x7FFF, kPos, kPos}},
      {N(u"_x"), N(u"A"), {kNeg, kPos, kAny, kPos}},  // '_' before the letters folded, between them exact
      {N(u"_x"), N(u"a"), {kNeg, kNeg, kAny, kNeg}},
      {N(ab), N(ac), {-1, -1, 0, 0}},  // embedded NULs count in the ordinal modes only
      {N(ab), N(u"a"), {2, 2, 0, 0}},
      {N(u"a"), N(ab), {-2, -2, 0, 0}},
  };
  for (const auto& row : rows) {
    for (int bits = 0; bits < 4; ++bits) {
      const int expected = row.results[bits];
      const int actual = NameComparer(NameStyle::FromBits(bits)).Compare(row.a, row.b);
      if (expected == kAny) continue;
      if (expected == kNeg || expected == kPos) {
        EXPECT_EQ(Sign(expected), Sign(actual)) << "mode " << bits << ", row " << (&row - rows);
      } else {
        EXPECT_EQ(expected, actual) << "mode " << bits << ", row " << (&row - rows);
      }
    }
  }
}

TEST(NameComparer, MillionUnitNames) {
  const std::u16string lower(1'000'000, u'x');
  const std::u16string upper(1'000'000, u'X');
  std::u16string lastDiffers = lower;
  lastDiffers.back() = u'y';
  const std::u16string longer = lower + u'x';
  for (const NameStyle& style : kStyles) {
    const NameComparer cmp(style);
    EXPECT_EQ(cmp.Compare(N(lower), N(lower)), 0);
    EXPECT_LT(cmp.Compare(N(lower), N(lastDiffers)), 0);
    EXPECT_LT(cmp.Compare(N(lower), N(longer)), 0);
    EXPECT_GT(cmp.Compare(N(longer), N(lower)), 0);
    EXPECT_EQ(cmp.Compare(N(lower), N(upper)) == 0, !style.caseSensitive);
  }
}

// Records the last call of the locale collation.
struct CollateCall {
  std::u16string a, b;
  bool ignoreCase = false;
  int calls = 0;
} g_collate;

int RecordingCollate(const char16_t* a, const char16_t* b, bool ignoreCase) {
  g_collate = {a, b, ignoreCase, g_collate.calls + 1};
  return -7;
}

TEST(NameComparer, LocaleModesCallTheCollationAfterTheNullRules) {
  for (const bool caseSensitive : {false, true}) {
    NameStyle style;
    style.localeSensitive = true;
    style.caseSensitive = caseSensitive;
    const NameComparer cmp(style, &RecordingCollate);
    g_collate = {};
    EXPECT_EQ(cmp.Compare(N(u"member"), N(u"key")), -7);
    EXPECT_EQ(g_collate.a, u"member");
    EXPECT_EQ(g_collate.b, u"key");
    EXPECT_EQ(g_collate.ignoreCase, !caseSensitive);
    EXPECT_EQ(cmp.Compare(NameRef{}, N(u"key")), -1);
    EXPECT_EQ(cmp.Compare(N(u"member"), NameRef{}), 1);
    EXPECT_EQ(g_collate.calls, 1);
  }
}

TEST(NameComparer, PortableCollationIsOrdinalToTheFirstNul) {
  EXPECT_EQ(qx::OrdinalCollate(u"abc", u"abd", false), -1);
  EXPECT_EQ(Sign(qx::OrdinalCollate(u"ab", u"abc", false)), -1);
  EXPECT_EQ(Sign(qx::OrdinalCollate(u"B", u"a", false)), -1);
  EXPECT_EQ(Sign(qx::OrdinalCollate(u"B", u"a", true)), 1);
  EXPECT_EQ(qx::OrdinalCollate(u"ABC\0x", u"abc\0y", true), 0);
}

std::u16string Str(NameRef n) { return {n.data, n.length}; }

TEST(NormalizeName, TrimsOnlyU0020AsTheStyleAllows) {
  const std::u16string padded(u"  a b  ");
  const NameRef in = N(padded);
  EXPECT_EQ(Str(qx::NormalizeName(NameStyle::FromBits(0), in)), u"a b");
  EXPECT_EQ(Str(qx::NormalizeName(NameStyle::FromBits(4), in)), u"  a b");
  EXPECT_EQ(Str(qx::NormalizeName(NameStyle::FromBits(8), in)), u"a b  ");
  const NameRef kept = qx::NormalizeName(NameStyle::FromBits(12), in);
  EXPECT_EQ(kept.data, in.data);
  EXPECT_EQ(kept.length, in.length);

  EXPECT_EQ(Str(qx::NormalizeName({}, N(u"\tx\u00A0"))), u"\tx\u00A0");

  const NameRef spaces = qx::NormalizeName({}, N(u"   "));
  EXPECT_FALSE(spaces.IsNull());
  EXPECT_EQ(spaces.length, 0u);
  EXPECT_FALSE(qx::NormalizeName({}, N(u"")).IsNull());
  EXPECT_TRUE(qx::NormalizeName({}, NameRef{}).IsNull());
}

}  // namespace
