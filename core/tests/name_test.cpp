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

TEST(NameComparer, NullAndEmptyNamesInEveryMode) {
  const NameRef null{};
  for (const NameStyle& style : kStyles) {
    const NameComparer cmp(style);
    EXPECT_EQ(cmp.Compare(null, null), 0);
    EXPECT_EQ(cmp.Compare(N(u"a"), null), 1);
    EXPECT_EQ(cmp.Compare(N(u""), null), 1);
    EXPECT_EQ(cmp.Compare(null, N(u"")), -1);
    EXPECT_EQ(cmp.Compare(null, N(u"a")), -1);
    EXPECT_EQ(cmp.Compare(N(u""), N(u"")), 0);
    EXPECT_LT(cmp.Compare(N(u""), N(u"a")), 0);
  }
}

TEST(NameComparer, OrdinalModesReturnUnitOrLengthDifference) {
  const NameComparer folded(NameStyle::FromBits(0));
  const NameComparer exact(NameStyle::FromBits(NameStyle::kCaseSensitive));

  EXPECT_EQ(folded.Compare(N(u"Timeout"), N(u"tIMEOUT")), 0);
  EXPECT_EQ(folded.Compare(N(u"aB"), N(u"Ac")), -1);
  EXPECT_EQ(folded.Compare(N(u"ab"), N(u"abc")), -1);
  EXPECT_EQ(folded.Compare(N(u"abcd"), N(u"AB")), 2);
  EXPECT_EQ(folded.Compare(N(u"\u0130\u017F"), N(u"IS")), 0);
  EXPECT_EQ(folded.Compare(N(u"\u03C2"), N(u"\u03A3")), 0);
  // Code units compare unsigned: U+FFFF sorts after everything.
  EXPECT_EQ(folded.Compare(N(u"\xFFFF"), N(u"a")), 0xFFFF - 'a');
  EXPECT_EQ(exact.Compare(N(u"\xFFFF"), N(u"\x8000")), 0x7FFF);

  EXPECT_EQ(exact.Compare(N(u"X"), N(u"x")), 'X' - 'x');
  EXPECT_EQ(exact.Compare(N(u"abc"), N(u"ab")), 1);
  EXPECT_EQ(exact.Compare(N(u"same"), N(u"same")), 0);

  // '_' lies between the ASCII upper- and lower-case letters: folded to
  // lower case it sorts before every letter, case-sensitively between.
  EXPECT_LT(folded.Compare(N(u"_x"), N(u"A")), 0);
  EXPECT_LT(folded.Compare(N(u"_x"), N(u"a")), 0);
  EXPECT_GT(exact.Compare(N(u"_x"), N(u"A")), 0);
  EXPECT_LT(exact.Compare(N(u"_x"), N(u"a")), 0);
}

TEST(NameComparer, EmbeddedNulsCountInOrdinalModesOnly) {
  const std::u16string ab(u"a\0b", 3), ac(u"a\0c", 3), a(u"a");
  for (const NameStyle& style : kStyles) {
    const NameComparer cmp(style);
    if (style.localeSensitive) {
      EXPECT_EQ(cmp.Compare(N(ab), N(ac)), 0);
      EXPECT_EQ(cmp.Compare(N(ab), N(a)), 0);
    } else {
      EXPECT_EQ(cmp.Compare(N(ab), N(ac)), -1);
      EXPECT_EQ(cmp.Compare(N(ab), N(a)), 2);
      EXPECT_EQ(cmp.Compare(N(a), N(ab)), -2);
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
