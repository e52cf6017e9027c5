// Checks FoldCase over all 65,536 code units against the list of folds as
// published for the name comparison, kept here as text and parsed, so the
// table in the library is checked against an independent transcription.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <string_view>

#include "qx/core/name.h"

namespace {

// Composite fold lower(upper(c)) as non-zero differences; "every second" means the
// first, third, fifth ... code unit of the range.
constexpr std::string_view kFoldList = R"(
U+0041–U+005A +32; U+00C0–U+00D6 +32; U+00D8–U+00DE +32;
every second code unit from U+0100 to U+012E +1; U+0130 −199; U+0131 −200;
every second code unit from U+0132 to U+0136 +1;
every second code unit from U+0139 to U+0147 +1;
every second code unit from U+014A to U+0176 +1; U+0178 −121;
every second code unit from U+0179 to U+017D +1; U+017F −268; U+0181 +210;
every second code unit from U+0182 to U+0184 +1; U+0186 +206; U+0187 +1;
U+0189–U+018A +205; U+018B +1; U+018E +79; U+018F +202; U+0190 +203; U+0191 +1;
U+0193 +205; U+0194 +207; U+0196 +211; U+0197 +209; U+0198 +1; U+019C +211; U+019D +213;
U+019F +214; every second code unit from U+01A0 to U+01A4 +1; U+01A7 +1; U+01A9 +218;
U+01AC +1; U+01AE +218; U+01AF +1; U+01B1–U+01B2 +217;
every second code unit from U+01B3 to U+01B5 +1; U+01B7 +219; U+01B8 +1; U+01BC +1;
U+01C4 +2; U+01C5 +1; U+01C7 +2; U+01C8 +1; U+01CA +2;
every second code unit from U+01CB to U+01DB +1;
every second code unit from U+01DE to U+01EE +1; U+01F1 +2;
every second code unit from U+01F2 to U+01F4 +1;
every second code unit from U+01FA to U+0216 +1; U+0386 +38; U+0388–U+038A +37; U+038C +64;
U+038E–U+038F +63; U+0391–U+03A1 +32; U+03A3–U+03AB +32; U+03C2 +1; U+03D0 −30; U+03D1 −25;
U+03D5 −15; U+03D6 −22; every second code unit from U+03E2 to U+03EE +1; U+03F0 −54;
U+03F1 −48; U+03F2 −47; U+0401–U+040C +80; U+040E–U+040F +80; U+0410–U+042F +32;
every second code unit from U+0460 to U+0480 +1;
every second code unit from U+0490 to U+04BE +1;
every second code unit from U+04C1 to U+04C3 +1; U+04C7 +1; U+04CB +1;
every second code unit from U+04D0 to U+04EA +1;
every second code unit from U+04EE to U+04F4 +1; U+04F8 +1; U+0531–U+0556 +48;
U+10A0–U+10C5 +48; every second code unit from U+1E00 to U+1E94 +1; U+1E9B −58;
every second code unit from U+1EA0 to U+1EF8 +1; U+1F08–U+1F0F −8; U+1F18–U+1F1D −8;
U+1F28–U+1F2F −8; U+1F38–U+1F3F −8; U+1F48–U+1F4D −8;
every second code unit from U+1F59 to U+1F5F −8; U+1F68–U+1F6F −8; U+1F88–U+1F8F −8;
U+1F98–U+1F9F −8; U+1FA8–U+1FAF −8; U+1FB8–U+1FB9 −8; U+1FBA–U+1FBB −74; U+1FBC −9;
U+1FC8–U+1FCB −86; U+1FCC −9; U+1FD8–U+1FD9 −8; U+1FDA–U+1FDB −100; U+1FE8–U+1FE9 −8;
U+1FEA–U+1FEB −112; U+1FEC −7; U+1FF8–U+1FF9 −128; U+1FFA–U+1FFB −126; U+1FFC −9;
U+2160–U+216F +16; U+24B6–U+24CF +26; U+FF21–U+FF3A +32)";

TEST(FoldCase, ChangesExactlyTheListedCodeUnits) {
  static const std::regex entry(
      "(every second code unit from )?U\\+([0-9A-F]{4})(?:(?: to |\u2013)U\\+([0-9A-F]{4}))? "
      "(\\+|\u2212)([1-9][0-9]*)(;|$)");
  const std::string text(kFoldList);
  std::map<std::uint32_t, std::uint32_t> folds;  // code unit -> folded code unit, for those listed
  std::string gaps;                              // the text between entries: white space only
  std::size_t end = 0, entries = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), entry); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    ++entries;
    gaps += text.substr(end, static_cast<std::size_t>(m.position()) - end);
    end = static_cast<std::size_t>(m.position() + m.length());
    const std::uint32_t first = std::stoul(m[2], nullptr, 16);
    const std::uint32_t last = m[3].matched ? std::stoul(m[3], nullptr, 16) : first;
    const int delta = (m[4] == "+" ? 1 : -1) * std::stoi(m[5]);
    for (std::uint32_t c = first; c <= last; c += m[1].matched ? 2 : 1) {
      EXPECT_TRUE(folds.emplace(c, c + delta).second) << "listed twice: " << c;
    }
  }
  gaps += text.substr(end);
  EXPECT_EQ(gaps.find_first_not_of(" \n"), std::string::npos) << gaps;
  EXPECT_EQ(entries, 108u);
  EXPECT_EQ(folds.size(), 716u);

  for (std::uint32_t c = 0; c <= 0xFFFF; ++c) {
    const auto listed = folds.find(c);
    ASSERT_EQ(qx::FoldCase(static_cast<char16_t>(c)), listed == folds.end() ? c : listed->second)
        << std::hex << "U+" << c;
  }
}

}  // namespace
